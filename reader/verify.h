// Verifying a set of logs: does every frame a run numbered stand in its
// logs exactly once, and where one does not, does a record say why? The one
// copy of these rules, for `buslog-host verify`, the python package's
// verify and any reader of the C interface (buslog_reader.h).
//
// A run numbers its frames from 1 without gaps, over all its files (and
// frames a filter or trigger left out get no number). Reading a run's
// files (in any order; a folder stands for its .buslog files, else its
// .csv files), verify finds:
//   - the frames present, per file and for the set, each number once;
//   - every gap in the numbers up to the highest the logs name, split by
//     what explains it (rule 14e's records): removed by the ring (asked
//     for, no loss), lost (the writer gave them up, and why), gone (in a
//     log deleted or moved away since), or nothing: unexplained;
//   - the kernel's drops that candump reported (frames that never got a
//     number), by interface;
//   - what else is wrong: a last line cut short, malformed lines, a frame
//     number twice, a file that is no log.
// Its verdict: kIntact (nothing lost), kExplained (frames lost, a record
// explains every loss) or kUnexplained (anything unexplained).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace buslog_reader {

enum class GapCause : uint8_t { kRemoved, kLost, kGone, kUnexplained };

struct Gap {
  uint32_t first;
  uint32_t last;
  GapCause cause;
  std::string why;  // kLost: the reason; kGone: "deleted run.buslog"; else empty
};

struct Drops {
  std::string interfaceName;
  uint64_t count;
  std::string path;  // the file and line of the record
  uint64_t line;
};

struct VerifiedFile {
  std::string path;
  uint64_t lines;
  uint64_t frames;       // frame lines
  uint32_t firstFrame;   // 0: none
  uint32_t lastFrame;
  uint64_t records;      // loss records and drop reports it carries
  uint64_t malformed;    // malformed lines, a cut last line among them
  bool cutEnd;           // its last line has no line end: cut short
  bool noLog;            // lines, but no log line: not a log
  std::string writer;    // its writer marker, if any
};

enum class Verdict : uint8_t { kIntact = 0, kExplained = 1, kUnexplained = 3 };

struct Verification {
  std::vector<VerifiedFile> files;  // by their first frame, then by name
  uint64_t present;      // frames present (each number once)
  uint32_t highest;      // the highest frame number the logs name
  uint64_t removed;      // frames of gaps by cause
  uint64_t lost;
  uint64_t gone;
  uint64_t unexplained;
  uint64_t twice;        // frame numbers that stand more than once
  uint64_t dropped;      // frames the kernel dropped, all interfaces
  std::vector<Gap> gaps;  // in frame order
  std::vector<Drops> drops;
  Verdict verdict;
};

// Reads the logs and folders at `paths` and verifies them as one run.
// False with one line in `error` when one cannot be read.
bool VerifyLogs(const std::vector<std::string>& paths, Verification* out, std::string* error);

}  // namespace buslog_reader
