// buslog-host's commands that read logs back (convert, stats, verify). They need
// no module: main() hands them the command line before it loads one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace buslog_host {

// Each returns the exit status (0 done, 1 a file could not be read or
// written, 2 a wrong command line); argv[1] is the command's name.
int RunConvert(int argc, char** argv);
int RunStats(int argc, char** argv);
// verify: 0 nothing lost, 1 lost and explained, 3 anything unexplained (a
// log that cannot be read too), 2 a wrong command line.
int RunVerify(int argc, char** argv);

// Output written in large blocks. An output file is created only when its
// first bytes go out (or by FinishOutput), so that a tool that stops on an
// input's fault leaves nothing behind. While `holding`, the blocks are kept
// in memory instead (the tools hold their output back until a stream input
// has shown a log line). A write that fails leaves the file cut back to its
// last whole line, and `error` says why.
constexpr size_t kOutputBlock = 256 * 1024;
// Output held back at most; a stream that gives this much without a log
// line is taken for no log.
constexpr size_t kMaxHeldOutput = 64 * 1024 * 1024;
struct Output {
  FILE* file;             // null until created (a file output)
  const char* path;       // null: standard output
  bool overwrite;
  size_t used;
  bool failed;            // creating or writing failed (said by FinishOutput)
  int error;              // the system's reason: errno for a failed create,
                          // LastSystemError for a failed write
  bool createFailed;
  uint64_t written;       // bytes in the file
  uint64_t wholeLines;    // bytes up to its last line end
  bool cutBack;           // after a failed write: nothing after wholeLines is left
  bool holding;
  std::string held;
  char data[kOutputBlock];
};
// Prepares the output: standard output when `path` is null, else a file
// that CheckOutput has approved.
void BeginOutput(Output* output, const char* path, bool overwrite);
inline void Put(Output* output, const char* text, size_t length);
void FlushOutput(Output* output);
// Writes what was held back and holds no more.
void ReleaseOutput(Output* output);
// Flushes, creates an output file that got no bytes, closes it. False when
// something could not be created or written (the file is cut back to its
// last whole line); SayOutputFailure then says why in one line.
bool FinishOutput(Output* output);
void SayOutputFailure(const Output& output);
// Drops the output: nothing held is written; a file this run created is
// removed.
void DiscardOutput(Output* output);
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

// Checks where a command's output goes before anything is written:
// standard output when `path` is null, else a file that is not one of the
// `inputs` (with or without `overwrite`), not a folder, and replaces an
// existing file only with `overwrite`. Prints why and returns false.
bool CheckOutput(const char* path, bool overwrite, const std::vector<FILE*>& inputs,
                 const std::vector<const char*>& inputPaths);

}  // namespace buslog_host
