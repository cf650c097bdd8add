// Sizes as users write them.
#include "sizes.h"

#include <cctype>
#include <cstdlib>

namespace buslog_writer {

bool ParseSize(const char* text, uint64_t* bytes) {
  if (!isdigit(static_cast<unsigned char>(text[0]))) return false;
  char* end;
  unsigned long long value = strtoull(text, &end, 10);
  uint64_t unit = 1;
  if (*end == 'k' || *end == 'K') {
    unit = 1024;
    ++end;
  } else if (*end == 'M') {
    unit = 1024 * 1024;
    ++end;
  } else if (*end == 'G') {
    unit = 1024ull * 1024 * 1024;
    ++end;
  }
  if (*end == 'B' || *end == 'b') ++end;
  if (*end != '\0' || value == 0 || value > UINT64_MAX / unit) return false;
  *bytes = value * unit;
  return true;
}

}  // namespace buslog_writer
