// Messages on standard error, each one whole and in order. The Windows C
// runtime buffers standard error when it is redirected to a file or a pipe,
// writes perror's text past that buffer, and its unbuffered mode writes a
// formatted message in pieces; so a message is formatted in full first and
// handed to the system in one write, after whatever standard error still
// holds.
#pragma once

#include <cstddef>
#include <cstdio>

#include "printf_like.h"

namespace buslog_host {

// Writes the printf-style message to standard error in one write.
void Message(const char* format, ...) BUSLOG_PRINTF_LIKE(1, 2);

// Writes into `out` (`size` bytes, at least 8) the `length` bytes at `text`
// as a safe excerpt in double quotes: printable ASCII as it is, a quote or
// a backslash escaped by a backslash, every other byte as \xHH, and cut
// after 40 bytes of text with "..." after the closing quote. Always
// zero-terminated; never longer than `size`.
void QuoteExcerpt(char* out, size_t size, const char* text, size_t length);

// Room QuoteExcerpt needs for its longest excerpt.
constexpr size_t kExcerptSize = 2 + 40 * 4 + 3 + 1;

}  // namespace buslog_host
