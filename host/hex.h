// Hexadecimal digits both ways, for the host: the reader library's one table.
#pragma once

#include "hex_digits.h"

namespace buslog_host {

using buslog_reader::HexValue;
using buslog_reader::kHexDigits;

}  // namespace buslog_host
