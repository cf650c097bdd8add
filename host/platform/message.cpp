// Whole messages on standard error, and safe excerpts of input text.
#include "platform/message.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "hex.h"
#include "platform/system.h"

namespace buslog_host {
namespace {

void WriteToStandardError(const char* bytes, size_t count) {
  // Anything still in stdio's buffer was said before this message.
  fflush(stderr);
  WriteStandardError(bytes, count);
}

}  // namespace

void Message(const char* format, ...) {
  char small[1024];
  va_list args;
  va_start(args, format);
  int length = vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (length < 0) return;
  if (static_cast<size_t>(length) < sizeof small) {
    WriteToStandardError(small, static_cast<size_t>(length));
    return;
  }
  std::vector<char> large(static_cast<size_t>(length) + 1);
  va_start(args, format);
  vsnprintf(large.data(), large.size(), format, args);
  va_end(args);
  WriteToStandardError(large.data(), static_cast<size_t>(length));
}

void QuoteExcerpt(char* out, size_t size, const char* text, size_t length) {
  constexpr size_t kMaxText = 40;
  size_t at = 0;
  // Each step needs at most 4 bytes, plus the closing quote, "..." and the
  // terminating zero.
  auto fits = [&](size_t more) { return at + more + 1 + 3 + 1 <= size; };
  if (size < 8) {
    if (size > 0) out[0] = '\0';
    return;
  }
  out[at++] = '"';
  size_t i = 0;
  for (; i < length && i < kMaxText; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      if (!fits(2)) break;
      out[at++] = '\\';
      out[at++] = static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      if (!fits(1)) break;
      out[at++] = static_cast<char>(c);
    } else {
      if (!fits(4)) break;
      out[at++] = '\\';
      out[at++] = 'x';
      out[at++] = kHexDigits[c >> 4];
      out[at++] = kHexDigits[c & 0x0F];
    }
  }
  out[at++] = '"';
  if (i < length) {
    memcpy(out + at, "...", 3);
    at += 3;
  }
  out[at] = '\0';
}

}  // namespace buslog_host
