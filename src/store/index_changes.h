// IndexChangeSet: the index additions and removals of a write transaction, gathered while its
// operations are applied and written to the store in one pass before it commits.
//
// The index is a set of (key, id) pairs, and changes to different pairs commute, so the state
// after a sequence of changes is decided pair by pair by the last change made to it: added
// means present, removed means absent, untouched means as before. The set keeps every change
// in the order it was made and hands back that net change once per pair, in ascending
// (key, id) byte order, which lets the store insert the rows of a batch in key order instead
// of seeking all over the index for each one.
//
// Changes are grouped by key as they come (each distinct key's text is held once), so that
// handing them back sorts the distinct keys and the distinct ids once, then each key's
// changes by id rank, which mostly come in order already.
// Buffers are kept between uses: a writer that reuses one set allocates only while its batches
// grow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::store {

class IndexChangeSet {
 public:
  // Makes `id` the id of the changes recorded from now on (copied once, not per change).
  // Returns false, recording nothing, when the set cannot take more text: the caller then
  // writes the set out, clears it and tries again.
  bool set_id(std::string_view id);
  // Records that (key, current id) is added (`adding`) or removed. Requires set_id() since the
  // last clear(). Returns false, like set_id(). A key longer than any text the store can hold
  // is passed over (true): adding it would fail and removing it finds nothing.
  bool record(std::string_view key, bool adding);

  bool empty() const { return changes_.empty(); }
  // Bytes of keys and ids held, and changes recorded: a writer writes the set out early when
  // either grows large.
  size_t held_bytes() const { return text_.size(); }
  size_t change_count() const { return changes_.size(); }

  // Calls `sink(key, id, adding)` once for every pair recorded since the last clear(), with
  // the pair's last change, in ascending (key, id) byte order. The views stay valid until
  // clear(); `sink` must not change the set.
  template <class Sink>
  void for_each_net_change(Sink&& sink) {
    rank_keys_and_ids();
    for (const uint32_t k : key_order_) {
      const std::string_view key = key_text(keys_[k]);
      gather_changes(keys_[k]);
      const size_t n = scratch_.size();
      for (size_t i = 0; i < n; ++i) {
        // Among one pair's changes, adjacent after the sort, the last decides.
        if (i + 1 < n && (scratch_[i + 1] >> 32) == (scratch_[i] >> 32)) continue;
        const Change& c = changes_[static_cast<uint32_t>(scratch_[i])];
        sink(key, id_text(ids_[c.id]), c.adding);
      }
    }
  }

  // Forgets every change and the current id; keeps the buffers.
  void clear();

 private:
  static constexpr uint32_t kNone = 0xFFFF'FFFFu;

  // One distinct key: its first 16 bytes (big-endian, zero-filled) decide most comparisons
  // without touching the text; its changes form a list in the order they were recorded.
  struct Key {
    uint64_t head0;
    uint64_t head1;
    uint32_t text_offset;
    uint32_t text_size;
    uint32_t hash;
    uint32_t first_change;
    uint32_t last_change;
  };
  // One id as set by set_id(); an id set again later gets another entry, and equal ids get
  // the same rank.
  struct Id {
    uint32_t text_offset;
    uint32_t text_size;
  };
  struct Change {
    uint32_t id;    // index into ids_
    uint32_t next;  // the key's next change, or kNone
    bool adding;
  };

  std::string_view key_text(const Key& k) const {
    return {text_.data() + k.text_offset, k.text_size};
  }
  std::string_view id_text(const Id& i) const {
    return {text_.data() + i.text_offset, i.text_size};
  }
  // The key's entry, added when it is new; kNone when the text cannot be held.
  uint32_t find_or_add_key(std::string_view key);
  void grow_slots();
  // Fills key_order_ with the keys in ascending byte order and id_rank_ with each id's
  // position among the distinct ids in ascending byte order.
  void rank_keys_and_ids();
  // Fills scratch_ with the key's changes as (id rank << 32 | change index), ordered by id
  // rank and, for one id, in the order of recording.
  void gather_changes(const Key& key);

  std::string text_;
  std::vector<Key> keys_;
  std::vector<Id> ids_;
  std::vector<Change> changes_;
  std::vector<uint32_t> slots_;  // open addressing over keys_: index + 1, 0 for an empty slot
  std::vector<uint32_t> key_order_;
  std::vector<uint32_t> id_order_;
  std::vector<uint32_t> id_rank_;
  std::vector<uint64_t> scratch_;
};

}  // namespace quorvane::store
