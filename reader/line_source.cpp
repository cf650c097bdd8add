// Block-wise reading of a log file into lines: one buffer per reader, no
// allocation per line.
#include <cstdlib>
#include <cstring>

#include "log_reader.h"

namespace buslog_reader {
namespace {

constexpr size_t kReadBlock = 1024 * 1024;
constexpr size_t kBufferSize = kReadBlock + kMaxKeptLine;

// Moves the unread tail to the front and reads more behind it.
void Refill(LogReader* reader) {
  size_t pending = reader->end - reader->begin;
  memmove(reader->buffer, reader->buffer + reader->begin, pending);
  reader->begin = 0;
  reader->end = pending;
  size_t room = kBufferSize - pending;
  size_t got = fread(reader->buffer + pending, 1, room, reader->file);
  reader->end += got;
  if (got < room) {
    reader->atEnd = true;
    reader->readError = ferror(reader->file) != 0;
  }
}

// Skips up to and past the next LF (or to the end of the file).
void SkipRestOfLine(LogReader* reader) {
  for (;;) {
    char* start = reader->buffer + reader->begin;
    size_t available = reader->end - reader->begin;
    char* newline = static_cast<char*>(memchr(start, '\n', available));
    if (newline != nullptr) {
      reader->begin += static_cast<size_t>(newline - start) + 1;
      return;
    }
    reader->begin = reader->end;
    if (reader->atEnd) return;
    Refill(reader);
  }
}

}  // namespace

bool OpenLogReader(LogReader* reader, FILE* file) {
  *reader = LogReader{};
  reader->file = file;
  reader->buffer = static_cast<char*>(malloc(kBufferSize));
  return reader->buffer != nullptr;
}

void CloseLogReader(LogReader* reader) {
  free(reader->buffer);
  reader->buffer = nullptr;
}

bool NextRawLine(LogReader* reader, const char** text, size_t* length, bool* cut) {
  *cut = false;
  if (reader->skipping) {
    reader->skipping = false;
    SkipRestOfLine(reader);
  }
  for (;;) {
    char* start = reader->buffer + reader->begin;
    size_t available = reader->end - reader->begin;
    size_t lineLength;
    char* newline = static_cast<char*>(memchr(start, '\n', available));
    if (newline != nullptr) {
      lineLength = static_cast<size_t>(newline - start);
      if (lineLength <= kMaxKeptLine) {
        reader->begin += lineLength + 1;
        if (lineLength > 0 && start[lineLength - 1] == '\r') --lineLength;
      }
    } else if (reader->atEnd) {
      if (available == 0) return false;
      lineLength = available;  // the last line has no LF
      if (lineLength <= kMaxKeptLine) {
        reader->begin = reader->end;
        if (start[lineLength - 1] == '\r') --lineLength;
      }
    } else if (available <= kMaxKeptLine) {
      Refill(reader);
      continue;
    } else {
      lineLength = available;
    }
    ++reader->lineNumber;
    if (lineLength > kMaxKeptLine) {
      // Hand out the line's start; it stays in the buffer until the next
      // call, which skips the rest of the line first.
      *cut = true;
      *text = start;
      *length = kMaxKeptLine;
      reader->begin += kMaxKeptLine;
      reader->skipping = true;
      return true;
    }
    *text = start;
    *length = lineLength;
    return true;
  }
}

bool NextLogLine(LogReader* reader, LogLine* line) {
  const char* text;
  size_t length;
  bool cut;
  if (!NextRawLine(reader, &text, &length, &cut)) return false;
  ParseLogLine(text, length, line);
  line->number = reader->lineNumber;
  line->cut = cut;
  UpdateLogContext(&reader->context, *line);
  return true;
}

}  // namespace buslog_reader
