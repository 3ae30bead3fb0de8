#include "tables/key_index.h"

#include <algorithm>

#include "platform/os.h"
#include "tables/bytes.h"
#include "tables/field_codec.h"

namespace tables {

void KeyIndex::Bind(const std::string* records, std::uint32_t record_length, int offset,
                    int width) {
  records_ = records;
  record_length_ = record_length;
  offset_ = offset;
  width_ = width;
  Clear();
}

void KeyIndex::Clear() {
  slots_.assign(1024, Slot());
  used_ = 0;
  overflow_.clear();
  free_overflow_.clear();
}

std::string_view KeyIndex::KeyOf(std::uint32_t record) const {
  return TrimTrailing(std::string_view(
      records_->data() + static_cast<std::size_t>(record) * record_length_ + offset_,
      static_cast<std::size_t>(width_)));
}

std::uint64_t KeyIndex::Hash(std::string_view key) {
  // FNV-1a, then a final mix so that the low bits, which pick the slot, depend on every byte.
  std::uint64_t hash = 1469598103934665603ull;
  for (char c : key) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  hash ^= hash >> 32;
  hash *= 0x9E3779B97F4A7C15ull;
  return hash ^ (hash >> 29);
}

KeyIndex::Records KeyIndex::RecordsOf(const Slot& slot) const {
  if (slot.count <= kInline) return Records{slot.ids, slot.count};
  const std::vector<std::uint32_t>& list = overflow_[slot.ids[0]];
  return Records{list.data(), list.size()};
}

std::size_t KeyIndex::SlotFor(std::uint64_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.count == 0 || slot.hash == hash) return i;
  }
}

void KeyIndex::Grow() {
  // The slots of a large table are touched at random on every lookup: large pages spare the
  // address-translation misses.
  std::vector<Slot> old;
  old.reserve(slots_.size() * 2);
  platform::AdviseLargeBuffer(old.data(), old.capacity() * sizeof(Slot));
  old.resize(slots_.size() * 2);
  old.swap(slots_);
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.count == 0) continue;
    std::size_t i = slot.hash & mask;
    while (slots_[i].count != 0) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

void KeyIndex::Insert(std::uint32_t record) {
  if ((used_ + 1) * 2 > slots_.size()) Grow();
  const std::uint64_t hash = Hash(KeyOf(record));
  Slot& slot = slots_[SlotFor(hash)];
  if (slot.count == 0) {
    slot.hash = hash;
    slot.count = 1;
    slot.ids[0] = record;
    ++used_;
    return;
  }
  if (slot.count < kInline) {
    // Appended records come last; a record that got this key by an edit is put in its place.
    std::uint32_t* end = slot.ids + slot.count;
    std::uint32_t* at = std::upper_bound(slot.ids, end, record);
    std::copy_backward(at, end, end + 1);
    *at = record;
    ++slot.count;
    return;
  }
  if (slot.count == kInline) {
    std::size_t position = overflow_.size();
    if (!free_overflow_.empty()) {
      position = free_overflow_.back();
      free_overflow_.pop_back();
    } else {
      overflow_.emplace_back();
    }
    overflow_[position].assign(slot.ids, slot.ids + kInline);
    slot.ids[0] = static_cast<std::uint32_t>(position);
  }
  std::vector<std::uint32_t>& list = overflow_[slot.ids[0]];
  list.insert(std::upper_bound(list.begin(), list.end(), record), record);
  ++slot.count;
}

void KeyIndex::Remove(std::uint32_t record, std::string_view key) {
  // The key is given because the record may carry a new key already.
  const std::size_t at = SlotFor(Hash(key));
  Slot& slot = slots_[at];
  const Records records = RecordsOf(slot);
  if (!std::binary_search(records.begin(), records.end(), record)) return;
  if (slot.count <= kInline) {
    std::uint32_t* end = slot.ids + slot.count;
    std::uint32_t* found = std::lower_bound(slot.ids, end, record);
    std::copy(found + 1, end, found);
  } else {
    const std::size_t position = slot.ids[0];
    std::vector<std::uint32_t>& list = overflow_[position];
    list.erase(std::lower_bound(list.begin(), list.end(), record));
    if (list.size() == kInline) {
      std::copy(list.begin(), list.end(), slot.ids);
      list.clear();
      list.shrink_to_fit();
      free_overflow_.push_back(position);
    }
  }
  if (--slot.count == 0) EraseSlot(at);
}

// Backward-shift deletion keeps every probe sequence unbroken without tombstones.
void KeyIndex::EraseSlot(std::size_t at) {
  const std::size_t mask = slots_.size() - 1;
  slots_[at] = Slot();
  --used_;
  std::size_t hole = at;
  for (std::size_t i = (hole + 1) & mask; slots_[i].count != 0; i = (i + 1) & mask) {
    const std::size_t home = slots_[i].hash & mask;
    if (((i - home) & mask) >= ((i - hole) & mask)) {
      slots_[hole] = slots_[i];
      slots_[i] = Slot();
      hole = i;
    }
  }
}

void KeyIndex::Prefetch(std::string_view key) const {
  tables::Prefetch(&slots_[Hash(key) & (slots_.size() - 1)]);
}

KeyIndex::Records KeyIndex::Find(std::string_view key) const {
  return RecordsOf(slots_[SlotFor(Hash(key))]);
}

}  // namespace tables
