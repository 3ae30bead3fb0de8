// The in-memory index of a table on one text column: finds the records with a given key without
// looking at any other record. The keys stay in the records; the index holds a 64-bit hash of
// each key and, per hash, the record numbers in ascending order (the first few right in the
// hash slot). A lookup touches one slot and never a record, so that the caller can fetch all
// candidate records at once. Two keys with the same hash share their list, so callers check
// the key of every record they get (a filter on the key does).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tables {

class KeyIndex {
 public:
  // The records of one key, in ascending record order.
  struct Records {
    const std::uint32_t* data = nullptr;
    std::size_t size = 0;
    const std::uint32_t* begin() const { return data; }
    const std::uint32_t* end() const { return data + size; }
  };

  // Where the keys are: the column at `offset` (`width` bytes) of every `record_length`-byte
  // record in `*records`. A key is the column's bytes without trailing blanks and NULs.
  void Bind(const std::string* records, std::uint32_t record_length, int offset, int width);

  // Forgets every record.
  void Clear();

  // Adds `record` under its current key.
  void Insert(std::uint32_t record);

  // Removes `record`, which was inserted under `key` (its key may have changed since).
  void Remove(std::uint32_t record, std::string_view key);

  // Every record with `key` (and any record whose key shares its hash); valid until the index
  // changes.
  Records Find(std::string_view key) const;

  // Starts loading the slot of `key`, so that a Find for it a little later waits less.
  void Prefetch(std::string_view key) const;

  // The key of `record`.
  std::string_view KeyOf(std::uint32_t record) const;

 private:
  static constexpr std::uint32_t kInline = 5;

  // 32 bytes. An empty slot has count 0. Up to kInline record numbers are held in `ids`;
  // beyond that ids[0] is the position of the key's list in overflow_.
  struct Slot {
    std::uint64_t hash = 0;
    std::uint32_t count = 0;
    std::uint32_t ids[kInline] = {};
  };

  static std::uint64_t Hash(std::string_view key);
  Records RecordsOf(const Slot& slot) const;
  // The slot holding `hash`, or the empty slot where it would go.
  std::size_t SlotFor(std::uint64_t hash) const;
  void Grow();
  void EraseSlot(std::size_t at);

  const std::string* records_ = nullptr;
  std::uint32_t record_length_ = 0;
  int offset_ = 0;
  int width_ = 0;
  std::vector<Slot> slots_;  // open addressing, linear probing; size a power of two
  std::size_t used_ = 0;
  std::vector<std::vector<std::uint32_t>> overflow_;
  std::vector<std::size_t> free_overflow_;
};

}  // namespace tables
