// One line source for every text file the project reads: candump traces
// and call scripts (buslog-host) and logs (the log reader). It reads a file,
// or bytes a caller's function hands it, in large blocks into one buffer
// and hands out lines without their line end, allocating nothing per line.
// CR LF and LF line ends, a missing final newline and NUL bytes are
// handled; a line longer than kMaxLineLength is either skipped (whole
// lines) or handed out cut (cut lines).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace buslog_reader {

// Longest line handed out whole.
constexpr size_t kMaxLineLength = 64 * 1024;

// A caller's source of bytes: reads up to `size` bytes into `buffer` and
// returns how many, 0 at the end; sets *failed when the reading failed.
typedef size_t (*ReadBytes)(void* context, char* buffer, size_t size, bool* failed);

struct LineSource {
  FILE* file;          // read with fread, unless `read` is set
  ReadBytes read;
  void* context;       // handed to `read`
  char* buffer;        // owned; a block and kMaxLineLength bytes
  size_t begin;        // first unread byte in buffer
  size_t end;          // one past the last byte read into buffer
  bool atEnd;          // the file has no more bytes
  bool readError;      // a read failed
  bool skipping;       // the rest of a cut line is still to be skipped
  uint64_t lineNumber;
  bool unended;        // the line last handed out ended at the end of the
                       // file, without an LF
  uint64_t bytesRead;  // bytes read from the file so far
};

// Prepares `source` for `file` (opened in binary mode), with a buffer that
// stays owned by the source until CloseLineSource. False when the buffer
// cannot be had.
bool OpenLineSource(LineSource* source, FILE* file);
// The same over a caller's reading function.
bool OpenLineSourceFrom(LineSource* source, ReadBytes read, void* context);
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
