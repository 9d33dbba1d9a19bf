// The two texts of a 64-bit float the system writes, both from the shortest digit string
// that reads back as the same value:
//  - append_json_float: the notation of stored documents. With E the decimal exponent of the
//    first significant digit, -5 <= E <= 15 is written in plain decimal ("100.0", "0.1",
//    "0.00001", an integral value always with ".0"), any other E as "1e+16", "1.5e-7",
//    "5e-324". Zero is "0.0", negative zero "-0.0". The value must be finite.
//  - append_plain_float: the value text of index keys: the same shortest digits in plain
//    decimal, never an exponent, no fractional part for an integral value ("2", "0.5",
//    "1000000000000000000000", "100000000000000000000000" for 1e23, "0.0000001").
#pragma once

#include <string>

namespace quorvane::document {

void append_json_float(std::string& out, double value);
void append_plain_float(std::string& out, double value);

}  // namespace quorvane::document
