// Block-wise line reading.
#include "line_reader.h"

#include <cstdlib>
#include <cstring>

namespace buslog_host {
namespace {

constexpr size_t kReadBlock = 1024 * 1024;
constexpr size_t kBufferSize = kReadBlock + kMaxLineLength;

// Moves the unread tail to the front and reads more behind it.
void Refill(LineReader* reader) {
  size_t pending = reader->end - reader->begin;
  memmove(reader->buffer, reader->buffer + reader->begin, pending);
  reader->begin = 0;
  reader->end = pending;
  size_t room = kBufferSize - pending;
  size_t got = fread(reader->buffer + pending, 1, room, reader->file);
  reader->end += got;
  reader->bytesRead += got;
  if (got < room) {
    reader->atEnd = true;
    reader->readError = ferror(reader->file) != 0;
  }
}

}  // namespace

bool OpenLineReader(LineReader* reader, FILE* file) {
  *reader = LineReader{};
  reader->file = file;
  reader->buffer = static_cast<char*>(malloc(kBufferSize));
  return reader->buffer != nullptr;
}

void CloseLineReader(LineReader* reader) {
  free(reader->buffer);
  reader->buffer = nullptr;
}

bool NextLine(LineReader* reader, const char** line, size_t* length, bool* tooLong) {
  *tooLong = false;
  bool skipping = false;
  for (;;) {
    char* start = reader->buffer + reader->begin;
    size_t available = reader->end - reader->begin;
    char* newline = static_cast<char*>(memchr(start, '\n', available));
    if (newline != nullptr) {
      size_t lineLength = static_cast<size_t>(newline - start);
      reader->begin += lineLength + 1;
      ++reader->lineNumber;
      if (skipping || lineLength > kMaxLineLength) {
        *tooLong = true;
        *line = start;
        *length = 0;
        return true;
      }
      if (lineLength > 0 && start[lineLength - 1] == '\r') --lineLength;
      *line = start;
      *length = lineLength;
      return true;
    }
    if (reader->atEnd) {
      if (available == 0) return false;
      // The last line has no newline.
      reader->begin = reader->end;
      ++reader->lineNumber;
      if (skipping || available > kMaxLineLength) {
        *tooLong = true;
        *length = 0;
        *line = start;
        return true;
      }
      if (start[available - 1] == '\r') --available;
      *line = start;
      *length = available;
      return true;
    }
    if (available > kMaxLineLength) {
      // Far too long for any line we read: drop what we have and keep
      // skipping up to its newline.
      skipping = true;
      reader->begin = reader->end;
    }
    Refill(reader);
  }
}

}  // namespace buslog_host
