// The manager's ordered record lists with case-insensitive lookup indexes: a folder by
// path, a file by folder and name. The lists keep insertion order; a lookup gives the first
// record that matches, as a linear search would, in constant time. The index holds a hash
// of the case-folded key and the record's position, and a lookup compares the records that
// share the hash, so no key text is stored twice.
//
// The records sit in a deque and the index in one flat table, so that a list of many
// records grows without copying them, without an allocation per record, and without
// holding twice their room.
//
// Records may be changed in place through operator[]; a change of a key field (a folder's
// path, a file's folder or name) must be followed by Reindex().
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <algorithm>
#include <cstdint>
#include <deque>
#include <vector>

#include "filemanager/records.hpp"
#include "platform/text.hpp"

namespace kiv {

// Open-addressing table from key hashes to record positions: 8 bytes a slot, at most half
// of the slots in use, linear probing. The records of one hash lie in one run of slots, so a
// lookup walks from the hash's home slot to the first empty one.
class PositionIndex {
 public:
  void clear() {
    slots_.clear();
    used_ = 0;
  }
  void reserve(std::size_t count) {
    if (2 * count > slots_.size()) Resize(2 * count);
  }
  void insert(uint64_t hash, std::size_t position) {
    if (2 * (used_ + 1) > slots_.size()) Resize(std::max<std::size_t>(16, 2 * slots_.size()));
    Place({Fold(hash), static_cast<uint32_t>(position + 1)});
    ++used_;
  }
  // Calls visit(position) for each record of this hash (and the rare others that share its
  // 32-bit fold), in no particular order.
  template <typename Visit>
  void ForEach(uint64_t hash, Visit&& visit) const {
    if (slots_.empty()) return;
    const uint32_t fold = Fold(hash);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = fold & mask; slots_[i].position != 0; i = (i + 1) & mask)
      if (slots_[i].hash == fold) visit(std::size_t{slots_[i].position} - 1);
  }

 private:
  struct Slot {
    uint32_t hash = 0;
    uint32_t position = 0;  // the record's position + 1; 0 marks an empty slot
  };
  static uint32_t Fold(uint64_t hash) { return static_cast<uint32_t>((hash * 0x9E3779B97F4A7C15ull) >> 32); }
  void Place(Slot slot) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = slot.hash & mask;
    while (slots_[i].position != 0) i = (i + 1) & mask;
    slots_[i] = slot;
  }
  // To the power of two at least count slots, placing the used slots again.
  void Resize(std::size_t count) {
    std::size_t size = 16;
    while (size < count) size *= 2;
    const std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(size));
    for (const Slot& slot : old)
      if (slot.position != 0) Place(slot);
  }

  std::vector<Slot> slots_;
  std::size_t used_ = 0;
};

template <typename Record>
class RecordList {
 public:
  using iterator = typename std::deque<Record>::iterator;
  using const_iterator = typename std::deque<Record>::const_iterator;

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
    if (!dirty_) index_.insert(Hash(items_.back()), items_.size() - 1);
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
  // Removes, in one pass, the records whose mark is nonzero (marks[i] for record i; records
  // past the marks stay); the order of the others is kept.
  void erase_marked(const std::vector<char>& marks) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < items_.size(); ++i) {
      if (i < marks.size() && marks[i]) continue;
      if (kept != i) items_[kept] = std::move(items_[i]);
      ++kept;
    }
    if (kept == items_.size()) return;
    items_.erase(items_.begin() + static_cast<long>(kept), items_.end());
    dirty_ = true;
  }

 protected:
  // FNV-1a over the case-folded units of the key's parts, a separator between parts.
  static uint64_t HashPart(uint64_t hash, std::u16string_view text) {
    for (char16_t c : text) {
      hash = (hash ^ FoldCaseChar(c)) * 0x100000001B3ull;
    }
    return (hash ^ 0xFFFFu) * 0x100000001B3ull;
  }
  static constexpr uint64_t kHashStart = 0xCBF29CE484222325ull;

  // The first record with this key hash that matches.
  template <typename Match>
  std::optional<std::size_t> FindHashed(uint64_t hash, Match&& match) const {
    if (dirty_) Rebuild();
    std::optional<std::size_t> first;
    index_.ForEach(hash, [&](std::size_t i) {
      if ((!first || i < *first) && match(items_[i])) first = i;
    });
    return first;
  }

  static uint64_t KeyHash(std::u16string_view path) { return HashPart(kHashStart, path); }
  static uint64_t KeyHash(std::u16string_view folder, std::u16string_view name) {
    return HashPart(HashPart(kHashStart, folder), name);
  }

 private:
  static uint64_t Hash(const PhoneFolderInfo& r) { return KeyHash(r.m_sFolderName); }
  static uint64_t Hash(const PhoneFileInfo& r) { return KeyHash(r.m_strFolder, r.m_strName); }

  void Rebuild() const {
    index_.clear();
    index_.reserve(items_.size());
    for (std::size_t i = 0; i < items_.size(); ++i) index_.insert(Hash(items_[i]), i);
    dirty_ = false;
  }

  std::deque<Record> items_;
  mutable PositionIndex index_;
  mutable bool dirty_ = false;
};

class FolderList : public RecordList<PhoneFolderInfo> {
 public:
  // The first folder whose path equals path, ignoring case.
  PhoneFolderInfo* Find(std::u16string_view path) {
    auto i = IndexOf(path);
    return i ? &(*this)[*i] : nullptr;
  }
  const PhoneFolderInfo* Find(std::u16string_view path) const {
    auto i = IndexOf(path);
    return i ? &(*this)[*i] : nullptr;
  }
  std::optional<std::size_t> IndexOf(std::u16string_view path) const {
    return FindHashed(KeyHash(path), [&](const PhoneFolderInfo& r) { return EqualsNoCase(r.m_sFolderName, path); });
  }
};

class FileList : public RecordList<PhoneFileInfo> {
 public:
  // The first file of folder called name, both ignoring case.
  PhoneFileInfo* Find(std::u16string_view folder, std::u16string_view name) {
    auto i = IndexOf(folder, name);
    return i ? &(*this)[*i] : nullptr;
  }
  const PhoneFileInfo* Find(std::u16string_view folder, std::u16string_view name) const {
    auto i = IndexOf(folder, name);
    return i ? &(*this)[*i] : nullptr;
  }
  std::optional<std::size_t> IndexOf(std::u16string_view folder, std::u16string_view name) const {
    return FindHashed(KeyHash(folder, name), [&](const PhoneFileInfo& r) {
      return EqualsNoCase(r.m_strName, name) && EqualsNoCase(r.m_strFolder, folder);
    });
  }
};

}  // namespace kiv
