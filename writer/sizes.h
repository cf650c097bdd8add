// Sizes as users write them, for rotation and the ring: the one reading of
// "500k", "10M", "2G" for every face (buslog-host's command line, the
// python writer's keyword arguments, C hosts).
#pragma once

#include <cstdint>

namespace buslog_writer {

// Parses a size such as 500, 64k, 10M or 2G (k, M and G are powers of
// 1024; a B after them is allowed); false when the text is not one.
bool ParseSize(const char* text, uint64_t* bytes);

}  // namespace buslog_writer
