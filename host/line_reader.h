// Reads a text file line by line in large blocks, without allocating per
// line. Handles CR LF and LF line ends, a missing final newline, NUL bytes
// and lines longer than the block (reported, not split).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace buslog_host {

// Longest line handed out whole; longer ones are reported as too long.
constexpr size_t kMaxLineLength = 64 * 1024;

struct LineReader {
  FILE* file;
  char* buffer;     // kReadBlock + kMaxLineLength bytes
  size_t begin;     // first unread byte in buffer
  size_t end;       // one past the last byte read into buffer
  bool atEnd;       // the file has no more bytes
  bool readError;   // a read failed
  uint64_t lineNumber;
  uint64_t bytesRead;  // bytes read from the file so far
};

// Prepares `reader` for `file` (opened in binary mode), with a buffer that
// stays owned by the reader until CloseLineReader.
bool OpenLineReader(LineReader* reader, FILE* file);
void CloseLineReader(LineReader* reader);

// Hands out the next line without its line end. Returns false at the end of
// the file. `tooLong` is set for a line of more than kMaxLineLength bytes:
// `length` is then 0 and the line has been skipped. The text stays valid
// until the next call.
bool NextLine(LineReader* reader, const char** line, size_t* length, bool* tooLong);

}  // namespace buslog_host
