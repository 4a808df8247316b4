#include "protocol/type_array.hpp"

#include <algorithm>

namespace kiv {

void TypeArray::Add(std::u16string_view extension, uint32_t maxSize, uint32_t rules) {
  KivTypeEntry entry{};
  std::size_t n = std::min<std::size_t>(extension.size(), std::size(entry.name) - 1);
  std::copy_n(extension.begin(), n, entry.name);
  entry.maxSize = maxSize;
  entry.rules = rules;
  entries_.push_back(entry);
  Sync();
}

void TypeArray::Append(const TypeArray& other) {
  entries_.insert(entries_.end(), other.entries_.begin(), other.entries_.end());
  Sync();
}

void TypeArray::Clear() {
  entries_.clear();
  Sync();
}

void TypeArray::Sync() {
  view_.header = &view_;
  view_.entries = entries_.empty() ? nullptr : entries_.data();
  view_.count = static_cast<int32_t>(entries_.size());
  view_.capacity = static_cast<int32_t>(entries_.capacity());
  view_.growBy = 0;
}

}  // namespace kiv
