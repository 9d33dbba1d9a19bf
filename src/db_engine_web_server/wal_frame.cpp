#include "db_engine_web_server/wal_frame.h"

namespace quorvane::db_engine_web_server {

std::optional<uint8_t> wal_op_byte(WriteOp::Kind kind) {
  switch (kind) {
    case WriteOp::Kind::Insert:
      return kWalInsert;
    case WriteOp::Kind::Delete:
      return kWalDelete;
    case WriteOp::Kind::Upsert:
      return kWalUpsert;
    case WriteOp::Kind::Backup:
    case WriteOp::Kind::Shutdown:
      break;
  }
  return std::nullopt;
}

void encode_u32_le(uint32_t value, char out[4]) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

uint32_t decode_u32_le(const char in[4]) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i)
    value |= static_cast<uint32_t>(static_cast<uint8_t>(in[i])) << (8 * i);
  return value;
}

WalHeader decode_wal_header(const char in[kWalHeaderSize]) {
  WalHeader header;
  header.op = static_cast<uint8_t>(in[0]);
  header.id_length = decode_u32_le(in + 1);
  header.payload_length = decode_u32_le(in + 5);
  return header;
}

}  // namespace quorvane::db_engine_web_server
