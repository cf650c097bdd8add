// buslog-host's command line: the command, its input and the options.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "file_names.h"
#include "logger/channels.h"

namespace buslog_host {


struct Options {
  const char* command;
  const char* input;
  char module[kPathSize];    // empty: the one beside the program
  const char* name;          // --name: log relative to the module's folder
  const char* output;        // --output: log relative to the current directory
  bool overwrite;
  bool share;
  bool strict;
  bool quiet;
  bool progress;             // --progress: also when not on a terminal
  uint64_t reportEvery;
  bool syncEveryFrame;       // --sync-every-frame: one Write a frame, no batches
  uint64_t rotateBytes;
  double rotateSeconds;
  uint64_t queueFrames;
  bool noMarkers;            // --no-markers: frames only, no marker lines
};

enum class ParseResult {
  kRun,
  kHelp,   // --help or -h: the usage is printed on standard output
  kWrong,  // one line saying what is wrong and the usage went to standard error
};

// Parses the command line of replay, record, run and demo.
ParseResult ParseOptions(int argc, char** argv, Options* options);

// ---- convert LOG... --to candump|jsonl [...]

struct InterfaceName {
  const char* text;
  size_t length;
};

// Names --interfaces can give: one per channel.
constexpr size_t kMaxInterfaces = kMaxChannels;

struct ConvertOptions {
  std::vector<const char*> logs;  // read in order as one; "-" is standard input
  const char* to;
  const char* output;
  bool overwrite;
  bool direction;
  bool haveStart;
  uint64_t startSeconds;
  uint32_t startMicros;
  size_t interfaceCount;
  InterfaceName interfaces[kMaxInterfaces];
};


// Parses convert's command line (argv[1] is "convert").
ParseResult ParseConvertOptions(int argc, char** argv, ConvertOptions* options);

// ---- stats LOG... [--csv]

struct StatsOptions {
  std::vector<const char*> logs;
  bool csv;
};

ParseResult ParseStatsOptions(int argc, char** argv, StatsOptions* options);

// ---- values

// Parses a size such as 500, 64k, 10M or 2G (powers of 1024); false when
// the text is not one.
bool ParseSize(const char* text, uint64_t* bytes);

// The usage text, on `out`.
void PrintUsage(FILE* out);

// Says what is wrong with the command line, then the usage, on standard
// error.
void UsageError(const char* format, const char* what);

}  // namespace buslog_host
