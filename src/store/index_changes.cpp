#include "store/index_changes.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace quorvane::store {

namespace {

// Longer texts than this are beyond what the store holds in one value.
constexpr size_t kMaxStoredText = std::numeric_limits<int32_t>::max();
// Offsets are 32-bit.
constexpr size_t kMaxHeldText = std::numeric_limits<uint32_t>::max();

// Bytes [from, from + 8) of `text` as a big-endian number, zero-filled past the end: the
// numbers of two texts compare as their bytes do, except that a text and the same text
// followed by zero bytes tie.
uint64_t head_at(std::string_view text, size_t from) {
  unsigned char bytes[8] = {};
  if (from < text.size()) {
    std::memcpy(bytes, text.data() + from, std::min<size_t>(8, text.size() - from));
  }
  uint64_t v = 0;
  for (unsigned char b : bytes) v = (v << 8) | b;
  return v;
}

uint32_t hash_text(std::string_view text) {
  uint64_t h = 0x9E3779B97F4A7C15ull ^ text.size();
  size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t w;
    std::memcpy(&w, text.data() + i, 8);
    h = (h ^ w) * 0xFF51AFD7ED558CCDull;
    h ^= h >> 32;
  }
  uint64_t tail = 0;
  if (i < text.size()) std::memcpy(&tail, text.data() + i, text.size() - i);
  h = (h ^ tail) * 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 29;
  return static_cast<uint32_t>(h);
}

}  // namespace

bool IndexChangeSet::set_id(std::string_view id) {
  if (!ids_.empty() && id_text(ids_.back()) == id) return true;
  if (id.size() > kMaxStoredText || text_.size() + id.size() > kMaxHeldText) return false;
  ids_.push_back(Id{static_cast<uint32_t>(text_.size()), static_cast<uint32_t>(id.size())});
  text_.append(id.data(), id.size());
  return true;
}

bool IndexChangeSet::record(std::string_view key, bool adding) {
  if (key.size() > kMaxStoredText) return true;
  const uint32_t k = find_or_add_key(key);
  if (k == kNone) return false;
  const auto index = static_cast<uint32_t>(changes_.size());
  changes_.push_back(Change{static_cast<uint32_t>(ids_.size() - 1), kNone, adding});
  Key& entry = keys_[k];
  if (entry.last_change == kNone) {
    entry.first_change = index;
  } else {
    changes_[entry.last_change].next = index;
  }
  entry.last_change = index;
  return true;
}

uint32_t IndexChangeSet::find_or_add_key(std::string_view key) {
  if (slots_.empty() || 2 * (keys_.size() + 1) > slots_.size()) grow_slots();
  const uint32_t hash = hash_text(key);
  const size_t mask = slots_.size() - 1;
  size_t slot = hash & mask;
  for (; slots_[slot] != 0; slot = (slot + 1) & mask) {
    const Key& k = keys_[slots_[slot] - 1];
    if (k.hash == hash && key_text(k) == key) return slots_[slot] - 1;
  }
  if (text_.size() + key.size() > kMaxHeldText) return kNone;
  const auto index = static_cast<uint32_t>(keys_.size());
  keys_.push_back(Key{head_at(key, 0), head_at(key, 8), static_cast<uint32_t>(text_.size()),
                      static_cast<uint32_t>(key.size()), hash, kNone, kNone});
  text_.append(key.data(), key.size());
  slots_[slot] = index + 1;
  return index;
}

void IndexChangeSet::grow_slots() {
  const size_t size = std::max<size_t>(1024, slots_.size() * 2);
  slots_.assign(size, 0);
  const size_t mask = size - 1;
  for (uint32_t i = 0; i < keys_.size(); ++i) {
    size_t slot = keys_[i].hash & mask;
    while (slots_[slot] != 0) slot = (slot + 1) & mask;
    slots_[slot] = i + 1;
  }
}

void IndexChangeSet::rank_keys_and_ids() {
  key_order_.resize(keys_.size());
  for (uint32_t i = 0; i < keys_.size(); ++i) key_order_[i] = i;
  std::sort(key_order_.begin(), key_order_.end(), [this](uint32_t a, uint32_t b) {
    const Key& ka = keys_[a];
    const Key& kb = keys_[b];
    if (ka.head0 != kb.head0) return ka.head0 < kb.head0;
    if (ka.head1 != kb.head1) return ka.head1 < kb.head1;
    return key_text(ka) < key_text(kb);
  });

  id_order_.resize(ids_.size());
  for (uint32_t i = 0; i < ids_.size(); ++i) id_order_[i] = i;
  std::sort(id_order_.begin(), id_order_.end(),
            [this](uint32_t a, uint32_t b) { return id_text(ids_[a]) < id_text(ids_[b]); });
  id_rank_.resize(ids_.size());
  uint32_t rank = 0;
  for (size_t i = 0; i < id_order_.size(); ++i) {
    if (i > 0 && id_text(ids_[id_order_[i]]) != id_text(ids_[id_order_[i - 1]])) ++rank;
    id_rank_[id_order_[i]] = rank;
  }
}

void IndexChangeSet::gather_changes(const Key& key) {
  scratch_.clear();
  bool ordered = true;
  for (uint32_t c = key.first_change; c != kNone; c = changes_[c].next) {
    // Change indices grow in the order of recording, which orders the changes of one id.
    const uint64_t entry = uint64_t{id_rank_[changes_[c].id]} << 32 | c;
    if (!scratch_.empty() && entry < scratch_.back()) ordered = false;
    scratch_.push_back(entry);
  }
  if (!ordered) std::sort(scratch_.begin(), scratch_.end());
}

void IndexChangeSet::clear() {
  text_.clear();
  keys_.clear();
  ids_.clear();
  changes_.clear();
  std::fill(slots_.begin(), slots_.end(), 0u);
}

}  // namespace quorvane::store
