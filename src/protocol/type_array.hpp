// The phone's file type table as the host sees it (KivTypeArray): a growable array whose
// layout is part of the public interface.
#pragma once

#include <string_view>
#include <vector>

#include "kivmod/kivmod.h"

namespace kiv {

inline constexpr uint32_t kTypeCopyToPc = 0x1;
inline constexpr uint32_t kTypeCopyToPhone = 0x2;

class TypeArray {
 public:
  TypeArray() { Sync(); }
  TypeArray(const TypeArray&) = delete;
  TypeArray& operator=(const TypeArray&) = delete;

  // The extension is cut to 19 characters so that the entry keeps its terminator.
  void Add(std::u16string_view extension, uint32_t maxSize, uint32_t rules);
  void Append(const TypeArray& other);
  void Clear();
  bool Empty() const { return entries_.empty(); }
  const std::vector<KivTypeEntry>& Entries() const { return entries_; }
  const KivTypeArray* View() const { return &view_; }

 private:
  void Sync();
  std::vector<KivTypeEntry> entries_;
  KivTypeArray view_{};
};

}  // namespace kiv
