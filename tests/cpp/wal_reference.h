// A plain reading of a write-ahead log held in memory, and what replaying it must leave, for
// checking the frame reader and replay against: offsets and lengths only, no buffering, no
// store. Meant for logs whose records the store takes (each well below its record limit).
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvane::testing {

struct ReferenceFrame {
  uint8_t op = 0;
  std::string_view id;
  std::string_view payload;
};

enum class ReferenceEnd { Clean, IncompleteHeader, MissingData };

struct ReferenceLog {
  std::vector<ReferenceFrame> frames;  // the complete frames, in order
  ReferenceEnd end = ReferenceEnd::Clean;
};

// Splits `log` (which must outlive the result) into its complete frames and tells how it ends:
// exactly after a frame, inside a header, or inside an id or payload (a header that declares
// more bytes than are left).
ReferenceLog read_reference_log(std::string_view log);

// The lines replay prints for `log`, the success line last.
std::vector<std::string> expected_replay_lines(const ReferenceLog& log);

struct ReferenceStore {
  std::map<std::string, std::string> documents;
  std::set<std::pair<std::string, std::string>> index;  // (key, id)
};

// The documents and index entries that replaying `log` into an empty store leaves: inserts
// and upserts un-index and replace any stored version, then index the new one; deletes
// un-index and remove; other op bytes are skipped; ids are decoded as lossy UTF-8.
ReferenceStore expected_store(const ReferenceLog& log);

// One frame's bytes: op byte, the two little-endian lengths, id, payload.
std::string wal_frame_bytes(uint8_t op, std::string_view id, std::string_view payload);
// A header alone, declaring whatever lengths it is given.
std::string wal_header_bytes(uint8_t op, uint32_t id_length, uint32_t payload_length);

}  // namespace quorvane::testing
