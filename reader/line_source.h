// One line source for every text file the project reads: candump traces
// and call scripts (buslog-host) and logs (the log reader). It reads a file
// in large blocks into one buffer and hands out lines without their line
// end, allocating nothing per line. CR LF and LF line ends, a missing final
// newline and NUL bytes are handled; a line longer than kMaxLineLength is
// either skipped (whole lines) or handed out cut (cut lines).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace buslog_reader {

// Longest line handed out whole.
constexpr size_t kMaxLineLength = 64 * 1024;

// Reads up to `size` bytes of a stream as they arrive, waiting for the
// first: how many, 0 at its end, -1 when reading failed.
typedef long (*ReadSome)(void* context, char* bytes, size_t size);

struct LineSource {
  FILE* file;
  ReadSome readSome;   // a stream's reader instead of `file`, or null
  void* readContext;
  char* buffer;        // owned; a block and kMaxLineLength bytes
  size_t begin;        // first unread byte in buffer
  size_t end;          // one past the last byte read into buffer
  bool atEnd;          // the file has no more bytes
  bool readError;      // a read failed
  bool skipping;       // the rest of a cut line is still to be skipped
  uint64_t lineNumber;
  uint64_t bytesRead;  // bytes read from the file so far
  bool endedMidLine;   // the last line handed out had no line end
};

// Prepares `source` for `file` (opened in binary mode), with a buffer that
// stays owned by the source until CloseLineSource. False when the buffer
// cannot be had.
bool OpenLineSource(LineSource* source, FILE* file);
// The same for a stream (a pipe, a FIFO, a terminal) read through
// `readSome`: lines are handed out as soon as they are whole.
bool OpenStreamLineSource(LineSource* source, ReadSome readSome, void* context);
void CloseLineSource(LineSource* source);

// Bytes of the file handed out or skipped so far.
inline uint64_t LineSourceConsumed(const LineSource& source) {
  return source.bytesRead - (source.end - source.begin);
}

// Hands out the next line whole. Returns false at the end of the file.
// `tooLong` is set for a line of more than kMaxLineLength bytes: `length`
// is then 0 and the line has been skipped. The text stays valid until the
// next call.
bool NextWholeLine(LineSource* source, const char** line, size_t* length, bool* tooLong);

// Hands out the next line, a longer one than kMaxLineLength cut to its
// first kMaxLineLength bytes with `cut` set (the next call skips its rest).
// Returns false at the end of the file.
bool NextCutLine(LineSource* source, const char** line, size_t* length, bool* cut);

}  // namespace buslog_reader
