// The manager's ordered record lists with case-insensitive lookup indexes: a folder by
// path, a file by folder and name. The lists keep insertion order; a lookup gives the first
// record that matches, as a linear search would, in constant time.
//
// Records may be changed in place through operator[]; a change of a key field (a folder's
// path, a file's folder or name) must be followed by Reindex().
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "filemanager/records.hpp"
#include "platform/text.hpp"

namespace kiv {

template <typename Record>
class RecordList {
 public:
  using iterator = typename std::vector<Record>::iterator;
  using const_iterator = typename std::vector<Record>::const_iterator;

  std::size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  Record& operator[](std::size_t i) { return items_[i]; }
  const Record& operator[](std::size_t i) const { return items_[i]; }
  Record& back() { return items_.back(); }
  iterator begin() { return items_.begin(); }
  iterator end() { return items_.end(); }
  const_iterator begin() const { return items_.begin(); }
  const_iterator end() const { return items_.end(); }

  void push_back(Record record) {
    items_.push_back(std::move(record));
    if (!dirty_) index_.emplace(Key(items_.back()), items_.size() - 1);
  }
  template <typename... Args>
  Record& emplace_back(Args&&... args) {
    push_back(Record(std::forward<Args>(args)...));
    return items_.back();
  }
  void clear() {
    items_.clear();
    index_.clear();
    dirty_ = false;
  }
  iterator erase(const_iterator first, const_iterator last) {
    dirty_ = true;
    return items_.erase(first, last);
  }
  iterator erase(const_iterator at) { return erase(at, at + 1); }
  // Removes the records from index on (used to undo a failed step's appends).
  void truncate(std::size_t count) {
    if (count < items_.size()) erase(items_.begin() + static_cast<long>(count), items_.end());
  }
  void Reindex() { dirty_ = true; }

 protected:
  std::optional<std::size_t> FindKey(const std::u16string& key) const {
    if (dirty_) Rebuild();
    auto it = index_.find(key);
    if (it == index_.end()) return std::nullopt;
    return it->second;
  }

 private:
  static std::u16string Key(const PhoneFolderInfo& r) { return FoldCase(r.m_sFolderName); }
  static std::u16string Key(const PhoneFileInfo& r) { return FileKey(r.m_strFolder, r.m_strName); }

 protected:
  static std::u16string FileKey(std::u16string_view folder, std::u16string_view name) {
    std::u16string key = FoldCase(folder);
    key.push_back(u'\0');
    key += FoldCase(name);
    return key;
  }

 private:
  void Rebuild() const {
    index_.clear();
    index_.reserve(items_.size());
    for (std::size_t i = 0; i < items_.size(); ++i) index_.emplace(Key(items_[i]), i);  // keeps the first
    dirty_ = false;
  }

  std::vector<Record> items_;
  mutable std::unordered_map<std::u16string, std::size_t> index_;
  mutable bool dirty_ = false;
};

class FolderList : public RecordList<PhoneFolderInfo> {
 public:
  // The first folder whose path equals path, ignoring case.
  PhoneFolderInfo* Find(std::u16string_view path) {
    auto i = FindKey(FoldCase(path));
    return i ? &(*this)[*i] : nullptr;
  }
  const PhoneFolderInfo* Find(std::u16string_view path) const {
    auto i = FindKey(FoldCase(path));
    return i ? &(*this)[*i] : nullptr;
  }
  std::optional<std::size_t> IndexOf(std::u16string_view path) const { return FindKey(FoldCase(path)); }
};

class FileList : public RecordList<PhoneFileInfo> {
 public:
  // The first file of folder called name, both ignoring case.
  PhoneFileInfo* Find(std::u16string_view folder, std::u16string_view name) {
    auto i = FindKey(FileKey(folder, name));
    return i ? &(*this)[*i] : nullptr;
  }
  const PhoneFileInfo* Find(std::u16string_view folder, std::u16string_view name) const {
    auto i = FindKey(FileKey(folder, name));
    return i ? &(*this)[*i] : nullptr;
  }
  std::optional<std::size_t> IndexOf(std::u16string_view folder, std::u16string_view name) const {
    return FindKey(FileKey(folder, name));
  }
};

}  // namespace kiv
