// Block-wise reading of a text file into lines: one buffer per source, no
// allocation per line.
#include "line_source.h"

#include <cstdlib>
#include <cstring>

#include "log_reader.h"

namespace buslog_reader {
namespace {

constexpr size_t kReadBlock = 1024 * 1024;
constexpr size_t kBufferSize = kReadBlock + kMaxLineLength;

// Moves the unread tail to the front and reads more behind it.
void Refill(LineSource* source) {
  size_t pending = source->end - source->begin;
  memmove(source->buffer, source->buffer + source->begin, pending);
  source->begin = 0;
  source->end = pending;
  size_t room = kBufferSize - pending;
  if (source->read != nullptr) {
    // A caller's function may hand out less than asked before its end.
    bool failed = false;
    size_t got = source->read(source->context, source->buffer + pending, room, &failed);
    if (got > room) {
      got = 0;
      failed = true;
    }
    source->end += got;
    source->bytesRead += got;
    if (got == 0 || failed) {
      source->atEnd = true;
      source->readError = failed;
    }
    return;
  }
  size_t got = fread(source->buffer + pending, 1, room, source->file);
  source->end += got;
  source->bytesRead += got;
  if (got < room) {
    source->atEnd = true;
    source->readError = ferror(source->file) != 0;
  }
}

// Skips up to and past the next LF (or to the end of the file).
void SkipRestOfLine(LineSource* source) {
  for (;;) {
    char* start = source->buffer + source->begin;
    size_t available = source->end - source->begin;
    char* newline = static_cast<char*>(memchr(start, '\n', available));
    if (newline != nullptr) {
      source->begin += static_cast<size_t>(newline - start) + 1;
      return;
    }
    source->begin = source->end;
    if (source->atEnd) return;
    Refill(source);
  }
}

}  // namespace

bool OpenLineSource(LineSource* source, FILE* file) {
  *source = LineSource{};
  source->file = file;
  source->buffer = static_cast<char*>(malloc(kBufferSize));
  return source->buffer != nullptr;
}

bool OpenLineSourceFrom(LineSource* source, ReadBytes read, void* context) {
  bool ok = OpenLineSource(source, nullptr);
  source->read = read;
  source->context = context;
  return ok;
}

void CloseLineSource(LineSource* source) {
  free(source->buffer);
  source->buffer = nullptr;
}

bool NextWholeLine(LineSource* source, const char** line, size_t* length, bool* tooLong) {
  *tooLong = false;
  source->unended = false;
  bool skipping = false;
  for (;;) {
    char* start = source->buffer + source->begin;
    size_t available = source->end - source->begin;
    char* newline = static_cast<char*>(memchr(start, '\n', available));
    if (newline != nullptr) {
      size_t lineLength = static_cast<size_t>(newline - start);
      source->begin += lineLength + 1;
      ++source->lineNumber;
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
    if (source->atEnd) {
      if (available == 0) return false;
      // The last line has no newline.
      source->begin = source->end;
      source->unended = true;
      ++source->lineNumber;
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
      // Far too long for any line handed out: drop what is there and keep
      // skipping up to its newline.
      skipping = true;
      source->begin = source->end;
    }
    Refill(source);
  }
}

bool NextCutLine(LineSource* source, const char** text, size_t* length, bool* cut) {
  *cut = false;
  source->unended = false;
  if (source->skipping) {
    source->skipping = false;
    SkipRestOfLine(source);
  }
  for (;;) {
    char* start = source->buffer + source->begin;
    size_t available = source->end - source->begin;
    size_t lineLength;
    char* newline = static_cast<char*>(memchr(start, '\n', available));
    if (newline != nullptr) {
      lineLength = static_cast<size_t>(newline - start);
      if (lineLength <= kMaxLineLength) {
        source->begin += lineLength + 1;
        if (lineLength > 0 && start[lineLength - 1] == '\r') --lineLength;
      }
    } else if (source->atEnd) {
      if (available == 0) return false;
      lineLength = available;  // the last line has no LF
      source->unended = true;
      if (lineLength <= kMaxLineLength) {
        source->begin = source->end;
        if (start[lineLength - 1] == '\r') --lineLength;
      }
    } else if (available <= kMaxLineLength) {
      Refill(source);
      continue;
    } else {
      lineLength = available;
    }
    ++source->lineNumber;
    if (lineLength > kMaxLineLength) {
      // Hand out the line's start; it stays in the buffer until the next
      // call, which skips the rest of the line first.
      *cut = true;
      *text = start;
      *length = kMaxLineLength;
      source->begin += kMaxLineLength;
      source->skipping = true;
      return true;
    }
    *text = start;
    *length = lineLength;
    return true;
  }
}

// The log reader's lines come from the same source.

bool OpenLogReader(LogReader* reader, FILE* file) {
  ResetLogContext(&reader->context);
  return OpenLineSource(reader, file);
}

void CloseLogReader(LogReader* reader) { CloseLineSource(reader); }

bool NextRawLine(LogReader* reader, const char** text, size_t* length, bool* cut) {
  return NextCutLine(reader, text, length, cut);
}

bool NextLogLine(LogReader* reader, LogLine* line) {
  const char* text;
  size_t length;
  bool cut;
  if (!NextCutLine(reader, &text, &length, &cut)) return false;
  ParseLogLine(text, length, line);
  line->number = reader->lineNumber;
  line->cut = cut;
  if (reader->unended) MarkUnended(line);
  UpdateLogContext(&reader->context, *line);
  return true;
}

}  // namespace buslog_reader
