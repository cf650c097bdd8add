// Verifying a run's logs: the frames present, the gaps and what explains
// them.
#include "verify.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "log_reader.h"
#include "open_file.h"

namespace buslog_reader {
namespace {

struct Run {
  uint32_t first;
  uint32_t last;
};

// What a record says of frames first..last.
struct Cover {
  uint32_t first;
  uint32_t last;
  GapCause cause;
  std::string why;
};

struct Scan {
  VerifiedFile file;
  std::vector<Run> runs;  // its frames, as runs of numbers in the order read
};

bool IsFrameLine(const LogLine& line) {
  return line.hasFrameNumber && line.frameNumber != 0 && (line.form == LineForm::kRecord || line.form == LineForm::kError);
}

void TakeRecord(const LogLine& line, const std::string& path, std::vector<Cover>* covers, std::vector<Drops>* drops) {
  std::string value(line.markerValue.text, line.markerValue.length);
  switch (line.marker) {
    case BuslogMarker::kLost: covers->push_back({line.markerFirst, line.markerLast, GapCause::kLost, value}); break;
    case BuslogMarker::kGone: covers->push_back({line.markerFirst, line.markerLast, GapCause::kGone, value}); break;
    case BuslogMarker::kRemoved: covers->push_back({line.markerFirst, line.markerLast, GapCause::kRemoved, ""}); break;
    case BuslogMarker::kDropped: drops->push_back({value, line.markerCount, path, line.number}); break;
    default: break;
  }
}

// Reads one file: its frames as runs, its records.
bool ScanFile(const std::string& path, Scan* scan, std::vector<Cover>* covers, std::vector<Drops>* drops,
              std::string* error) {
  FILE* f = OpenFileForReading(path.c_str());
  if (f == nullptr) {
    *error = "cannot read " + path + ": " + strerror(errno);
    return false;
  }
  std::unique_ptr<LogReader> reader(new LogReader());
  std::unique_ptr<LogLine> line(new LogLine());
  if (!OpenLogReader(reader.get(), f)) {
    fclose(f);
    *error = "out of memory";
    return false;
  }
  VerifiedFile& file = scan->file;
  file.path = path;
  while (NextLogLine(reader.get(), line.get())) {
    ++file.lines;
    if (line->malformed) ++file.malformed;
    if (line->unended) file.cutEnd = true;
    if (line->marker == BuslogMarker::kLost || line->marker == BuslogMarker::kGone ||
        line->marker == BuslogMarker::kRemoved || line->marker == BuslogMarker::kDropped) {
      ++file.records;
      TakeRecord(*line, path, covers, drops);
    }
    if (!IsFrameLine(*line)) continue;
    uint32_t number = line->frameNumber;
    ++file.frames;
    if (file.firstFrame == 0) file.firstFrame = number;
    file.lastFrame = number;
    if (!scan->runs.empty() && scan->runs.back().last + 1 == number) {
      scan->runs.back().last = number;
    } else {
      scan->runs.push_back({number, number});
    }
  }
  bool failed = reader->readError;
  file.noLog = reader->context.NoLog();
  file.writer = reader->context.writer;
  CloseLogReader(reader.get());
  fclose(f);
  if (failed) *error = "cannot read " + path + ": read error";
  return !failed;
}

// The files named: a folder stands for its .buslog files, or for its .csv
// files when it has no .buslog file (logs named by an older convention).
// False with `error` for a folder with neither.
bool Expand(const std::vector<std::string>& paths, std::vector<std::string>* files, std::string* error) {
  for (const std::string& path : paths) {
    std::vector<std::string> inFolder;
    if (!FilesOfFolder(path.c_str(), ".buslog", &inFolder)) {
      files->push_back(path);
      continue;
    }
    if (inFolder.empty()) FilesOfFolder(path.c_str(), ".csv", &inFolder);
    if (inFolder.empty()) {
      *error = "the folder " + path + " holds no log (no .buslog or .csv file)";
      return false;
    }
    files->insert(files->end(), inFolder.begin(), inFolder.end());
  }
  return true;
}

// The frames present (each number once) from every file's runs; counts the
// numbers that stand more than once.
std::vector<Run> Present(std::vector<Run> runs, Verification* out) {
  std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.first < b.first; });
  std::vector<Run> joined;
  for (const Run& run : runs) {
    if (!joined.empty() && run.first <= joined.back().last) {
      uint32_t overlap = std::min(run.last, joined.back().last) - run.first + 1;
      out->twice += overlap;
      joined.back().last = std::max(joined.back().last, run.last);
    } else if (!joined.empty() && run.first == joined.back().last + 1) {
      joined.back().last = run.last;
    } else {
      joined.push_back(run);
    }
  }
  for (const Run& run : joined) out->present += static_cast<uint64_t>(run.last) - run.first + 1;
  return joined;
}

// Which of two records covering a frame says more: a loss or a gone log,
// then the ring's removal.
int Rank(GapCause cause) { return cause == GapCause::kLost ? 0 : cause == GapCause::kGone ? 1 : 2; }

// A gap's frames first..last, split by the records that cover them: a loss
// or a gone log says more than the ring's removal; what no record covers is
// unexplained.
void ExplainGap(uint32_t first, uint32_t last, const std::vector<Cover>& covers, Verification* out) {
  std::vector<uint64_t> points = {first, static_cast<uint64_t>(last) + 1};
  for (const Cover& c : covers) {
    if (c.last < first || c.first > last) continue;
    points.push_back(std::max(c.first, first));
    points.push_back(static_cast<uint64_t>(std::min(c.last, last)) + 1);
  }
  std::sort(points.begin(), points.end());
  points.erase(std::unique(points.begin(), points.end()), points.end());
  for (size_t i = 0; i + 1 < points.size(); ++i) {
    uint32_t from = static_cast<uint32_t>(points[i]);
    uint32_t to = static_cast<uint32_t>(points[i + 1] - 1);
    const Cover* best = nullptr;
    for (const Cover& c : covers) {
      if (c.first > from || c.last < from) continue;
      if (best == nullptr || Rank(c.cause) < Rank(best->cause)) best = &c;
    }
    GapCause cause = best == nullptr ? GapCause::kUnexplained : best->cause;
    std::string why = best == nullptr ? std::string() : best->why;
    if (!out->gaps.empty() && out->gaps.back().last + 1 == from && out->gaps.back().cause == cause &&
        out->gaps.back().why == why) {
      out->gaps.back().last = to;
    } else {
      out->gaps.push_back({from, to, cause, why});
    }
  }
}

void CountGaps(Verification* out) {
  for (const Gap& gap : out->gaps) {
    uint64_t frames = static_cast<uint64_t>(gap.last) - gap.first + 1;
    switch (gap.cause) {
      case GapCause::kRemoved: out->removed += frames; break;
      case GapCause::kLost: out->lost += frames; break;
      case GapCause::kGone: out->gone += frames; break;
      case GapCause::kUnexplained: out->unexplained += frames; break;
    }
  }
  for (const Drops& d : out->drops) out->dropped += d.count;
  bool broken = out->unexplained > 0 || out->twice > 0;
  for (const VerifiedFile& file : out->files) broken = broken || file.cutEnd || file.noLog;
  if (broken) {
    out->verdict = Verdict::kUnexplained;
  } else if (out->lost + out->gone + out->dropped > 0) {
    out->verdict = Verdict::kExplained;
  } else {
    out->verdict = Verdict::kIntact;
  }
}

}  // namespace

bool VerifyLogs(const std::vector<std::string>& paths, Verification* out, std::string* error) {
  *out = Verification{};
  std::vector<Scan> scans;
  std::vector<Cover> covers;
  std::vector<std::string> files;
  if (!Expand(paths, &files, error)) return false;
  for (const std::string& path : files) {
    scans.push_back(Scan{});
    if (!ScanFile(path, &scans.back(), &covers, &out->drops, error)) return false;
  }
  std::stable_sort(scans.begin(), scans.end(), [](const Scan& a, const Scan& b) {
    if ((a.file.firstFrame == 0) != (b.file.firstFrame == 0)) return b.file.firstFrame == 0;
    return a.file.firstFrame != b.file.firstFrame ? a.file.firstFrame < b.file.firstFrame : a.file.path < b.file.path;
  });
  std::vector<Run> runs;
  for (Scan& scan : scans) {
    runs.insert(runs.end(), scan.runs.begin(), scan.runs.end());
    out->files.push_back(scan.file);
  }
  std::vector<Run> present = Present(runs, out);
  uint32_t highest = present.empty() ? 0 : present.back().last;
  for (const Cover& c : covers) highest = std::max(highest, c.last);
  out->highest = highest;
  uint32_t next = 1;
  for (const Run& run : present) {
    if (run.first > next) ExplainGap(next, run.first - 1, covers, out);
    next = run.last + 1;
  }
  if (highest >= next && next != 0) ExplainGap(next, highest, covers, out);
  CountGaps(out);
  return true;
}

}  // namespace buslog_reader
