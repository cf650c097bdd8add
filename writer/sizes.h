// Sizes as users write them, for rotation and the ring: the one reading of
// "500k", "10M", "2G" for every face (buslog-host's command line, the
// python writer's keyword arguments, C hosts).
#pragma once

#include <cstdint>

namespace buslog_writer {

// Parses a size above 0: bytes (500), or a number with a fraction or not
// and a unit k, M or G, powers of 1024, in any case, with or without B or
// iB after it (64k, 1.5M, 10MB, 10MiB, 2gb). Fractions of a unit are
// rounded down to whole bytes. False when the text is not such a size or
// is beyond 2^64 - 1 bytes.
bool ParseSize(const char* text, uint64_t* bytes);

}  // namespace buslog_writer
