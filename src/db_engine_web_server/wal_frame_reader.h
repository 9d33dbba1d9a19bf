// Reading WAL frames back, one after another, from the start of a write-ahead log.
//
// read_wal_frame() takes its bytes from a source, a type with
// `Result<size_t> read(char* out, size_t size)` that reads up to `size` bytes and gives fewer
// only at the end of the input (the replay's buffered file reader; a byte string in tests).
// It reads the 9-byte header, then the id, then the payload, and tells apart:
//   Frame             a whole frame: `frame` holds its op byte, id bytes and payload;
//   End               the input ended exactly before a header;
//   IncompleteHeader  the input ended inside a header (1 to 8 bytes left);
//   MissingData       the input ended inside the id or the payload;
//   Error             the source failed; `error` holds its text.
// The op byte is not checked here. `remaining` is the number of bytes left in the input; it is
// counted down as frames are read. A header that declares more bytes than remain is a frame cut
// short (MissingData) at once: no memory is ever set aside beyond what the input holds, so a
// damaged header declaring up to 4 GiB costs nothing.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "db_engine_web_server/wal_frame.h"
#include "document/doc_bytes.h"
#include "util/result.h"

namespace quorvane::db_engine_web_server {

struct WalFrame {
  uint8_t op = 0;
  std::string id;  // the raw id bytes, not yet decoded
  document::DocBytes payload;
};

enum class WalRead { Frame, End, IncompleteHeader, MissingData, Error };

namespace detail {

// Reads exactly `length` bytes (no more than `remaining`) into `out`, which keeps `padding`
// spare bytes of capacity; false (with `outcome` set) when the input ends first or the source
// fails.
template <class Source>
bool read_field(Source& source, uint32_t length, uint64_t& remaining, size_t padding,
                std::string& out, WalRead& outcome, std::string& error) {
  out.clear();
  if (length > remaining) {
    outcome = WalRead::MissingData;
    return false;
  }
  out.reserve(size_t{length} + padding);
  out.resize(length);
  Result<size_t> got = source.read(out.data(), length);
  if (!got) {
    error = got.error();
    outcome = WalRead::Error;
    return false;
  }
  remaining -= got.value();
  if (got.value() < length) {
    outcome = WalRead::MissingData;
    return false;
  }
  return true;
}

}  // namespace detail

template <class Source>
WalRead read_wal_frame(Source& source, uint64_t& remaining, WalFrame& frame, std::string& error) {
  char header_bytes[kWalHeaderSize];
  Result<size_t> got = source.read(header_bytes, kWalHeaderSize);
  if (!got) {
    error = got.error();
    return WalRead::Error;
  }
  remaining -= std::min<uint64_t>(remaining, got.value());
  if (got.value() == 0) return WalRead::End;
  if (got.value() < kWalHeaderSize) return WalRead::IncompleteHeader;
  const WalHeader header = decode_wal_header(header_bytes);

  WalRead outcome = WalRead::Frame;
  if (!detail::read_field(source, header.id_length, remaining, 0, frame.id, outcome, error)) {
    return outcome;
  }
  std::string payload;
  if (!detail::read_field(source, header.payload_length, remaining, document::kDocPadding, payload,
                          outcome, error)) {
    return outcome;
  }
  frame.op = header.op;
  frame.payload = document::DocBytes::adopt(std::move(payload));
  return WalRead::Frame;
}

}  // namespace quorvane::db_engine_web_server
