// The WAL frame: how one insert, delete or upsert is recorded in the write-ahead log.
//
//   offset 0       1 byte    op: 1 insert, 2 delete, 3 upsert
//   offset 1       4 bytes   id length (unsigned, little-endian)
//   offset 5       4 bytes   payload length (unsigned, little-endian); 0 for a delete
//   offset 9       id        the document id, UTF-8
//   then           payload   the stored document's bytes exactly as the operation carries them
//
// Frames follow one another from the start of the file, with no file header and nothing
// between them. Backup and shutdown operations are never framed.
//
// write_wal_frame() writes one operation's frame into a sink, a type with
// `Status write(std::string_view piece)` (the WAL writer's buffered file writer), in five
// pieces: op byte, id length, payload length, id, payload (a delete writes four zero bytes as
// its payload length and no payload). An id or a payload of 4 GiB or more does not fit the
// 32-bit lengths: such an operation is refused whole (TooLarge), nothing of it is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "db_engine_web_server/write_op.h"
#include "util/result.h"

namespace quorvane::db_engine_web_server {

inline constexpr uint8_t kWalInsert = 1;
inline constexpr uint8_t kWalDelete = 2;
inline constexpr uint8_t kWalUpsert = 3;
inline constexpr size_t kWalHeaderSize = 9;
inline constexpr uint64_t kWalMaxFieldLength = 0xFFFFFFFFu;

struct WalHeader {
  uint8_t op = 0;
  uint32_t id_length = 0;
  uint32_t payload_length = 0;
};

// The op byte of a framed operation; nullopt for Backup and Shutdown.
std::optional<uint8_t> wal_op_byte(WriteOp::Kind kind);

// Whether an id and a payload of these sizes fit one frame's 32-bit lengths.
constexpr bool wal_frame_fits(uint64_t id_size, uint64_t payload_size) {
  return id_size <= kWalMaxFieldLength && payload_size <= kWalMaxFieldLength;
}

void encode_u32_le(uint32_t value, char out[4]);
uint32_t decode_u32_le(const char in[4]);
// The header from its 9 bytes.
WalHeader decode_wal_header(const char in[kWalHeaderSize]);

enum class FrameWrite {
  Framed,     // the frame was written; the frame count grew by one
  NotFramed,  // a Backup or Shutdown: nothing to write
  TooLarge,   // an id or payload beyond the 32-bit lengths: nothing written
  Failed,     // the sink failed; `error` holds its text (part of the frame may be written)
};

template <class Sink>
FrameWrite write_wal_frame(Sink& sink, size_t& frame_count, const WriteOp& op,
                           std::string* error = nullptr) {
  const std::optional<uint8_t> op_byte = wal_op_byte(op.kind);
  if (!op_byte) return FrameWrite::NotFramed;
  const std::string_view payload =
      op.kind == WriteOp::Kind::Delete ? std::string_view() : op.doc.view();
  if (!wal_frame_fits(op.id.size(), payload.size())) return FrameWrite::TooLarge;

  const char op_piece = static_cast<char>(*op_byte);
  char id_length[4];
  char payload_length[4];
  encode_u32_le(static_cast<uint32_t>(op.id.size()), id_length);
  encode_u32_le(static_cast<uint32_t>(payload.size()), payload_length);
  const std::string_view pieces[] = {
      std::string_view(&op_piece, 1),
      std::string_view(id_length, 4),
      std::string_view(payload_length, 4),
      op.id,
      payload,
  };
  for (std::string_view piece : pieces) {
    if (piece.empty()) continue;
    if (Status s = sink.write(piece); !s) {
      if (error) *error = s.error();
      return FrameWrite::Failed;
    }
  }
  ++frame_count;
  return FrameWrite::Framed;
}

}  // namespace quorvane::db_engine_web_server
