#include "wal_reference.h"

#include "document/index_keys.h"
#include "util/utf8_lossy.h"

namespace quorvane::testing {

namespace {

constexpr size_t kHeader = 9;

uint32_t le32(const char* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(p[i]);
  return v;
}

std::vector<std::string> keys_of(document::IndexWalkBuffers& buffers, std::string_view doc) {
  std::vector<std::string> keys;
  document::collect_index_keys(doc, buffers, keys);
  return keys;
}

}  // namespace

ReferenceLog read_reference_log(std::string_view log) {
  ReferenceLog out;
  size_t at = 0;
  for (;;) {
    const size_t left = log.size() - at;
    if (left == 0) return out;
    if (left < kHeader) {
      out.end = ReferenceEnd::IncompleteHeader;
      return out;
    }
    const uint64_t id_length = le32(log.data() + at + 1);
    const uint64_t payload_length = le32(log.data() + at + 5);
    if (id_length + payload_length > left - kHeader) {
      out.end = ReferenceEnd::MissingData;
      return out;
    }
    out.frames.push_back({static_cast<uint8_t>(log[at]), log.substr(at + kHeader, id_length),
                          log.substr(at + kHeader + id_length, payload_length)});
    at += kHeader + id_length + payload_length;
  }
}

std::vector<std::string> expected_replay_lines(const ReferenceLog& log) {
  std::vector<std::string> lines;
  for (const ReferenceFrame& f : log.frames) {
    if (f.op < 1 || f.op > 3) {
      lines.push_back("Op type is different, skipping this operation " + std::to_string(f.op));
    }
  }
  if (log.end == ReferenceEnd::IncompleteHeader) {
    lines.emplace_back("WAL Recovery: Found incomplete frame at EOF. Discarding partial write");
  } else if (log.end == ReferenceEnd::MissingData) {
    lines.emplace_back("WAL Recovery: Missing data for frame, discarding write!");
  }
  lines.emplace_back("WAL Recover: Successfully written all records to database!");
  return lines;
}

ReferenceStore expected_store(const ReferenceLog& log) {
  ReferenceStore out;
  document::IndexWalkBuffers buffers;
  auto remove = [&](const std::string& id) {
    auto it = out.documents.find(id);
    if (it == out.documents.end()) return;
    for (const std::string& key : keys_of(buffers, it->second)) out.index.erase({key, id});
    out.documents.erase(it);
  };
  auto store = [&](const std::string& id, std::string_view doc) {
    out.documents[id] = std::string(doc);
    for (const std::string& key : keys_of(buffers, doc)) out.index.insert({key, id});
  };
  for (const ReferenceFrame& f : log.frames) {
    const std::string id = utf8_lossy(f.id);
    switch (f.op) {
      case 1:
      case 3:
        remove(id);
        store(id, f.payload);
        break;
      case 2:
        remove(id);
        break;
      default:
        break;
    }
  }
  return out;
}

std::string wal_header_bytes(uint8_t op, uint32_t id_length, uint32_t payload_length) {
  std::string header(1, static_cast<char>(op));
  for (uint32_t n : {id_length, payload_length}) {
    for (int i = 0; i < 4; ++i) header += static_cast<char>((n >> (8 * i)) & 0xFF);
  }
  return header;
}

std::string wal_frame_bytes(uint8_t op, std::string_view id, std::string_view payload) {
  std::string frame =
      wal_header_bytes(op, static_cast<uint32_t>(id.size()), static_cast<uint32_t>(payload.size()));
  frame.append(id);
  frame.append(payload);
  return frame;
}

}  // namespace quorvane::testing
