// buslog-host's commands that read logs back (convert, stats). They need
// no module: main() hands them the command line before it loads one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace buslog_host {

// Each returns the exit status (0 done, 1 a file could not be read or
// written, 2 a wrong command line); argv[1] is the command's name.
int RunConvert(int argc, char** argv);
int RunStats(int argc, char** argv);

// Output written in large blocks; `failed` remembers a failed write.
constexpr size_t kOutputBlock = 256 * 1024;
struct Output {
  FILE* file;
  size_t used;
  bool failed;
  char data[kOutputBlock];
};
void BeginOutput(Output* output, FILE* file);
inline void Put(Output* output, const char* text, size_t length);
void FlushOutput(Output* output);
// Room for `length` more bytes, flushing first if needed; `length` must be
// at most kOutputBlock. The caller writes there and calls Commit.
inline char* Reserve(Output* output, size_t length) {
  if (kOutputBlock - output->used < length) FlushOutput(output);
  return output->data + output->used;
}
inline void Commit(Output* output, char* end) { output->used = static_cast<size_t>(end - output->data); }
inline void Put(Output* output, const char* text, size_t length) {
  while (length > 0) {
    size_t room = kOutputBlock - output->used;
    if (room == 0) {
      FlushOutput(output);
      room = kOutputBlock;
    }
    size_t part = length < room ? length : room;
    for (size_t i = 0; i < part; ++i) output->data[output->used + i] = text[i];
    output->used += part;
    text += part;
    length -= part;
  }
}

// Writes `value` in decimal at `out`; returns the end.
char* WriteUnsigned(char* out, uint64_t value);

// Opens the log to read, in binary mode; prints why it cannot.
FILE* OpenLogForReading(const char* path);

// Opens where a command's output goes: standard output when `path` is null,
// else a new file. Refuses to write onto `input` (with or without
// `overwrite`) and to replace an existing file without `overwrite`; prints
// why and returns null. Output files and standard output are binary.
FILE* OpenOutput(const char* path, bool overwrite, FILE* input, const char* inputPath);

}  // namespace buslog_host
