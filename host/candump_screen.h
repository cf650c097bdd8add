// candump's screen format, what `candump can0` prints without -l or -L:
//   "  can0  123   [4]  DE AD BE EF"
//   "  can0  12345678   [8]  11 22 33 44 55 66 77 88"
//   "  can0  123   [4]  remote request"
//   " (1436509052.249713)  can0  123   [4]  DE AD BE EF"    with -t a
//   "  can0  TX - -  123   [4]  DE AD BE EF"                with -x
// It has no time stamp a log can take (none at all, or only with -t), so
// the host does not replay it: it recognises it, to say what to do instead
// (candump -L, or -l for a file).
#pragma once

#include <cstddef>

namespace buslog_host {

// True when `line` (without its line end) is a frame in candump's screen
// format: an optional "(time)", an interface, up to three flag words
// (candump -x), a hexadecimal identifier and the length in brackets.
bool IsCandumpScreenLine(const char* line, size_t length);

// What to tell a user whose input is in that format, one line.
extern const char kCandumpScreenAdvice[];

}  // namespace buslog_host
