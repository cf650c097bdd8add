// buslog-host's command line: the command, its input and the options.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "file_names.h"
#include "buslog_writer.h"
#include "candump.h"
#include "sizes.h"
#include "platform/message.h"

namespace buslog_host {

using buslog_files::kPathSize;

// The options of replay, record, run and demo, one bit each: which ones a
// command takes (CommandSpec), which ones a command line gave (Options).
enum OptionBit : uint32_t {
  kOptionOutput = 1u << 0,
  kOptionName = 1u << 1,
  kOptionOverwrite = 1u << 2,
  kOptionRotateSize = 1u << 3,
  kOptionRotateSeconds = 1u << 4,
  kOptionQueue = 1u << 5,
  kOptionModule = 1u << 6,
  kOptionShare = 1u << 7,
  kOptionStrict = 1u << 8,
  kOptionProgress = 1u << 9,
  kOptionQuiet = 1u << 10,
  kOptionReportEvery = 1u << 11,
  kOptionMaxFiles = 1u << 12,
  kOptionMaxTotal = 1u << 13,
  kOptionSyncEveryFrame = 1u << 14,
  kOptionNoMarkers = 1u << 15,
  kOptionTimeBasePerFile = 1u << 16,
  kOptionFilter = 1u << 17,
  kOptionTrigger = 1u << 18,
  kOptionStartTrigger = 1u << 19,
  kOptionStopTrigger = 1u << 20,
  kOptionPre = 1u << 21,
  kOptionPost = 1u << 22,
  kOptionPreBuffer = 1u << 23,
};

// A command of those that load the module, for its help and for what its
// command line may hold.
struct CommandSpec {
  const char* name;
  const char* synopsis;   // "run SCRIPT [options]"
  const char* about;      // what it does, the usage's lines
  const char* input;      // what its one argument is ("a call script"), or null: none
  const char* arguments;  // what it takes, for "unexpected argument": "one call script"
  uint32_t options;       // the OptionBits it takes
};

// The spec of replay, record, run or demo; null for any other name.
const CommandSpec* FindCommandSpec(const char* name);

// The filter, the triggers and their windows, as given: the writer engine
// reads and checks them.
struct SelectionOptions {
  const char* filter;        // --filter, or null
  const char* trigger;       // --trigger
  const char* startTrigger;  // --start-trigger
  const char* stopTrigger;   // --stop-trigger
  double preSeconds;         // --pre
  double postSeconds;        // --post
  uint64_t preBytes;         // --pre-buffer, 0: the engine's default
};

// True when a filter or a trigger is given.
inline bool Selecting(const SelectionOptions& s) {
  return s.filter != nullptr || s.trigger != nullptr || s.startTrigger != nullptr || s.stopTrigger != nullptr;
}

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
  uint64_t rotateBytes;
  double rotateSeconds;
  uint64_t queueFrames;
  uint32_t maxFiles;         // --max-files: 0 no ring by count
  uint64_t maxTotal;         // --max-total: 0 no ring by size
  bool syncEveryFrame;       // one Write (one sync) a frame, no batches
  bool noMarkers;            // --no-markers: frames only, no marker lines
  bool timeBasePerFile;      // --time-base-per-file: one time base a file
  SelectionOptions selection;  // --filter, --trigger, ...
  uint32_t given;            // the OptionBits the command line gave
};

// The filter, the triggers and their windows into the writer engine's
// options.
void ApplySelection(const SelectionOptions& selection, BuslogWriterOptions* writer);

enum class ParseResult {
  kRun,
  kHelp,   // --help or -h: the usage is printed on standard output
  kWrong,  // one line saying what is wrong and the usage went to standard error
};

// Parses the command line of replay, record, run and demo (argv[1] is the
// command). Each command takes only its own options; a wrong command line
// is said in one line, then "see buslog-host --help", on standard error.
ParseResult ParseOptions(int argc, char** argv, Options* options);

// ---- convert LOG... --to candump|jsonl [...]

struct InterfaceName {
  const char* text;
  size_t length;
};

// Names --interfaces can give: one per channel.
constexpr size_t kMaxInterfaces = BUSLOG_WRITER_MAX_CHANNELS;

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

// ---- verify LOG... [--csv|--json]

struct VerifyOptions {
  std::vector<const char*> logs;  // files of one run, in any order, or folders
  bool csv;
  bool json;
};

ParseResult ParseVerifyOptions(int argc, char** argv, VerifyOptions* options);

// ---- values

// Sizes are the writer's reading of them (sizes.h).
using buslog_writer::ParseSize;

// The least --rotate-size taken without a warning. A log line takes up to
// BUSLOG_MAX_LINE + 2 bytes and a classic CAN frame's about 70: smaller
// files hold a few frames each, the common result of a size meant in
// another unit (100 for 100M).
constexpr uint64_t kLeastRotateSize = 4096;

// The usage text of every command, on `out`.
void PrintUsage(FILE* out);

// One command's usage with the options it takes, on `out`.
void PrintCommandUsage(FILE* out, const CommandSpec& spec);

// A wrong command line: "buslog-host: <what, as printf formats it>", then
// "see buslog-host --help", on standard error.
void CommandLineError(const char* format, ...) BUSLOG_PRINTF_LIKE(1, 2);

// "unknown command NAME (the commands: ...)", as CommandLineError says it.
void UnknownCommand(const char* name);

// The same as CommandLineError(format, what).
void UsageError(const char* format, const char* what);

}  // namespace buslog_host
