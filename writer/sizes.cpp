// Sizes as users write them.
#include "sizes.h"

#include <cctype>
#include <cstdlib>

namespace buslog_writer {

bool ParseSize(const char* text, uint64_t* bytes) {
  const char* p = text;
  uint64_t whole = 0;
  for (; isdigit(static_cast<unsigned char>(*p)); ++p) {
    if (whole > (UINT64_MAX - 9) / 10) return false;
    whole = whole * 10 + static_cast<uint64_t>(*p - '0');
  }
  if (p == text) return false;
  // At most nine fractional digits, so that fraction * unit stays far
  // below 2^64.
  uint64_t fraction = 0;
  uint64_t scale = 1;
  if (*p == '.') {
    const char* first = ++p;
    for (; isdigit(static_cast<unsigned char>(*p)); ++p) {
      if (p - first == 9) return false;
      fraction = fraction * 10 + static_cast<uint64_t>(*p - '0');
      scale *= 10;
    }
    if (p == first) return false;
  }
  uint64_t unit = 1;
  switch (tolower(static_cast<unsigned char>(*p))) {
    case 'k': unit = 1024; break;
    case 'm': unit = 1024 * 1024; break;
    case 'g': unit = 1024ull * 1024 * 1024; break;
    default: break;
  }
  if (unit != 1) {
    ++p;
    // "iB": the i here, the B below.
    if (tolower(static_cast<unsigned char>(p[0])) == 'i' && tolower(static_cast<unsigned char>(p[1])) == 'b') ++p;
  }
  if (tolower(static_cast<unsigned char>(*p)) == 'b') ++p;
  // A fraction of a byte is not a size.
  if (*p != '\0' || (scale != 1 && unit == 1) || whole > UINT64_MAX / unit) return false;
  uint64_t value = whole * unit;
  uint64_t part = fraction * unit / scale;
  if (value > UINT64_MAX - part || value + part == 0) return false;
  *bytes = value + part;
  return true;
}

}  // namespace buslog_writer
