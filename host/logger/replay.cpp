// The replay loop.
#include "logger/replay.h"

#include <chrono>
#include <cstring>

#include "platform/system.h"

#include "candump.h"
#include "line_reader.h"
#include "platform/message.h"

namespace buslog_host {
namespace {

constexpr uint32_t kKindIn = BUSLOG_KIND_IN;
constexpr uint32_t kKindOut = BUSLOG_KIND_OUT;
constexpr uint32_t kBusCan = BUSLOG_BUS_CAN;
constexpr uint32_t kMaxChannels = 256;
constexpr size_t kMaxInterfaceName = 64;
// Warnings printed before the rest are only counted.
constexpr uint64_t kMaxWarnings = 20;
// The longest line the module writes: its line limit and CR LF. A log
// cannot pass a size limit by more than this without the size being looked
// at again.
constexpr uint64_t kLongestLogLine = 4096 + 2;
// How long the live input is waited for before progress and stops are
// looked at again.
constexpr int kIdleMilliseconds = 50;

struct Channels {
  uint32_t count;
  uint8_t lengths[kMaxChannels];
  uint64_t keys[kMaxChannels];  // NameKey of each name
  char names[kMaxChannels][kMaxInterfaceName];
};

// The interfaces of the last replay, for its summary.
Channels g_channels;

uint64_t NameKey(const char* name, size_t length) {
  uint64_t key = 0;
  for (size_t k = 0; k < length && k < 8; ++k) key = key << 8 | static_cast<unsigned char>(name[k]);
  return key;
}

// The channel of an interface, numbered by first appearance; -1 when the
// table is full.
int32_t ChannelOf(Channels* channels, const char* name, size_t length) {
  // Names are compared by their first 8 bytes taken as one number, and
  // only longer names by the rest of their bytes.
  uint64_t key = NameKey(name, length);
  auto matches = [&](uint32_t i) {
    return channels->keys[i] == key && channels->lengths[i] == length &&
           (length <= 8 || memcmp(channels->names[i] + 8, name + 8, length - 8) == 0);
  };
  for (uint32_t i = 0; i < channels->count; ++i) {
    if (matches(i)) return static_cast<int32_t>(i);
  }
  if (channels->count == kMaxChannels) return -1;
  uint32_t slot = channels->count++;
  memcpy(channels->names[slot], name, length);
  channels->keys[slot] = key;
  channels->lengths[slot] = static_cast<uint8_t>(length);
  return static_cast<int32_t>(slot);
}

void Warn(const ReplayOptions& options, uint64_t* warnings, uint64_t lineNumber, const char* why) {
  if (*warnings < kMaxWarnings || options.strict) {
    Message("%s:%llu: warning: %s; line skipped\n", options.traceName,
            static_cast<unsigned long long>(lineNumber), why);
  } else if (*warnings == kMaxWarnings) {
    Message("%s: further warnings are only counted\n", options.traceName);
  }
  ++*warnings;
}


// Where the lines come from: a file read in large blocks, or the live
// queue. One loop serves both, so that the file's hot path is compiled as
// one piece.
struct Source {
  LineReader* reader;  // null for live input
  LiveQueue* queue;
  bool stopped;
  LiveStatus Next(const char** line, size_t* length, bool* tooLong) {
    if (reader == nullptr) return NextLiveLine(queue, line, length, tooLong, kIdleMilliseconds);
    if (stopped) return LiveStatus::kEnd;
    return NextLine(reader, line, length, tooLong) ? LiveStatus::kLine : LiveStatus::kEnd;
  }
  bool Live() const { return reader == nullptr; }
  uint64_t LineNumber() const { return Live() ? LiveLineNumber(queue) : reader->lineNumber; }
  uint64_t Consumed() const { return Live() ? 0 : reader->bytesRead - (reader->end - reader->begin); }
  uint64_t Depth() { return Live() ? LiveDepth(queue) : 0; }
  // A file's lines are at hand: a stop ends the replay at once. The live
  // queue's lines already read are still logged.
  void Stop() {
    if (Live()) {
      StopLiveReading(queue);
    } else {
      stopped = true;
    }
  }
};

struct Progress {
  std::chrono::steady_clock::time_point started;
  std::chrono::steady_clock::time_point lastShown;
  uint64_t lastFrames;
  bool shown;
};

void ShowProgress(Progress* progress, Source& source, const ReplayOptions& options, uint64_t frames, bool force) {
  auto now = std::chrono::steady_clock::now();
  double sinceLast = std::chrono::duration<double>(now - progress->lastShown).count();
  if (!force && sinceLast < 1.0) return;
  double rate = sinceLast > 0 ? static_cast<double>(frames - progress->lastFrames) / sinceLast : 0.0;
  progress->lastShown = now;
  progress->lastFrames = frames;
  char text[160];
  if (source.Live()) {
    snprintf(text, sizeof text, "%llu frames, %.0f frames/s, queue %llu", static_cast<unsigned long long>(frames),
             rate, static_cast<unsigned long long>(source.Depth()));
  } else if (options.inputSize > 0) {
    uint64_t consumed = source.Consumed();
    double share = static_cast<double>(consumed) / static_cast<double>(options.inputSize);
    double elapsed = std::chrono::duration<double>(now - progress->started).count();
    double left = share > 0 ? elapsed * (1.0 - share) / share : 0.0;
    unsigned long seconds = static_cast<unsigned long>(left + 0.5);
    snprintf(text, sizeof text, "%llu frames, %.0f frames/s, %.1f %%, %lu:%02lu:%02lu left",
             static_cast<unsigned long long>(frames), rate, 100.0 * share, seconds / 3600, seconds / 60 % 60,
             seconds % 60);
  } else {
    snprintf(text, sizeof text, "%llu frames, %.0f frames/s", static_cast<unsigned long long>(frames), rate);
  }
  if (options.progressInPlace) {
    Message("\r%-72s", text);
  } else {
    Message("progress: %s\n", text);
  }
  progress->shown = true;
}

// True once the frame at `seconds`.`micros` is `limit` seconds or more
// after the file's first frame.
bool AgeReached(const LogFileEntry& file, uint64_t seconds, uint32_t micros, double limit) {
  if (seconds < file.firstSeconds) return false;
  uint64_t whole = seconds - file.firstSeconds;
  if (whole > 1000000000ull) return true;
  double age = static_cast<double>(whole) + (static_cast<double>(micros) - static_cast<double>(file.firstMicros)) / 1e6;
  return age >= limit;
}

uint64_t LinesBeforeSizeCheck(uint64_t limit, uint64_t size) {
  if (size >= limit) return 1;
  uint64_t lines = (limit - size) / kLongestLogLine;
  return lines == 0 ? 1 : lines;
}

bool ReplayLines(const BuslogApi& api, Source& source, LogSet* logs, const ReplayOptions& options,
                 ReplayTotals* totals) {
  *totals = ReplayTotals{};
  Channels& channels = g_channels;
  channels.count = 0;

  uint64_t warnings = 0;
  uint64_t writeWarnings = 0;
  uint32_t frameNumber = 0;
  bool stopping = false;
  bool hardStop = false;
  bool rotateNow = false;
  uint64_t linesBeforeSizeCheck = LinesBeforeSizeCheck(options.rotateBytes, 0);
  const bool rotating = options.rotateBytes != 0 || options.rotateSeconds > 0;
  // The open file, and its first frame's time kept at hand.
  LogFileEntry* file = &logs->files.back();
  bool haveFirst = false;
  uint64_t firstSeconds = 0;
  uint32_t firstMicros = 0;
  uint64_t writtenBefore = 0;  // lines written into earlier files
  Progress progress = {std::chrono::steady_clock::now(), std::chrono::steady_clock::now(), 0, false};

  const char* line;
  size_t length;
  bool tooLong;
  CandumpFrame frame;
  uint8_t record[kMaxCanRecord];
  for (;;) {
    // Stops are taken between lines: the first ends the reading, a second
    // ends the replay after the line in hand.
    int stops = StopRequests();
    if (stops != 0) {
      totals->stops = stops;
      if (stops >= 2) {
        hardStop = true;
        break;
      }
      if (!stopping) {
        stopping = true;
        source.Stop();
      }
    }
    LiveStatus next = source.Next(&line, &length, &tooLong);
    if (next == LiveStatus::kEnd) break;
    if (next == LiveStatus::kIdle) {
      if (options.progress) ShowProgress(&progress, source, options, totals->framesRead, false);
      continue;
    }
    if ((++totals->linesRead & 0x3FF) == 0 && options.progress) {
      ShowProgress(&progress, source, options, totals->framesRead, false);
    }
    const char* why = nullptr;
    if (tooLong) {
      why = "line too long to be a frame";
      ++totals->tooLong;
    } else {
      // Blank lines are not frames; a frame's line starts with its time stamp.
      if (length == 0 || line[0] == ' ' || line[0] == '\t') {
        size_t start = 0;
        while (start < length && (line[start] == ' ' || line[start] == '\t')) ++start;
        if (start == length) continue;
      }
      why = ParseCandumpLine(line, length, &frame);
    }
    if (why != nullptr) {
      ++totals->malformed;
      Warn(options, &warnings, source.LineNumber(), why);
      if (options.strict) {
        totals->stoppedEarly = true;
        break;
      }
      continue;
    }
    ++totals->framesRead;

    int32_t channel = frame.interfaceLength <= kMaxInterfaceName
                          ? ChannelOf(&channels, frame.interfaceName, frame.interfaceLength)
                          : -1;
    if (channel < 0) {
      ++totals->tooManyChannels;
      Warn(options, &warnings, source.LineNumber(), "more interfaces than channels, or a name too long");
      if (options.strict) {
        totals->stoppedEarly = true;
        break;
      }
      continue;
    }

    // A new file before the frame that finds the current one full or old
    // enough: never an empty file, and every frame in exactly one.
    if (rotating && haveFirst &&
        (rotateNow || (options.rotateSeconds > 0 && AgeReached(*file, frame.seconds, frame.micros, options.rotateSeconds)))) {
      file->lines = totals->written - writtenBefore;
      if (!OpenNextLog(logs)) {
        totals->logFailed = true;
        ++totals->notLogged;
        break;
      }
      file = &logs->files.back();
      haveFirst = false;
      writtenBefore = totals->written;
      rotateNow = false;
      linesBeforeSizeCheck = LinesBeforeSizeCheck(options.rotateBytes, 0);
    }
    // Time since the file's first frame, kept as seconds and microseconds:
    // no division on the way, and no overflow for the largest time stamps.
    if (!haveFirst) {
      haveFirst = true;
      firstSeconds = frame.seconds;
      firstMicros = frame.micros;
      file->haveFirst = true;
      file->firstSeconds = firstSeconds;
      file->firstMicros = firstMicros;
    }
    uint64_t secondsSince = 0;
    uint32_t microsSince = 0;
    if (frame.seconds > firstSeconds || (frame.seconds == firstSeconds && frame.micros >= firstMicros)) {
      secondsSince = frame.seconds - firstSeconds;
      if (frame.micros >= firstMicros) {
        microsSince = frame.micros - firstMicros;
      } else {
        --secondsSince;
        microsSince = frame.micros + 1000000u - firstMicros;
      }
    } else {
      ++totals->timeWentBack;
    }

    int32_t resultCount;
    void* cell;
    uint32_t values[2] = {++frameNumber, 0};
    api.PutFrameId(1, values, &resultCount);
    values[0] = static_cast<uint32_t>(secondsSince);
    values[1] = microsSince;
    api.PutTimeStamp(2, values, &resultCount);
    uint32_t recordSize = BuildCanRecord(frame, record);
    int32_t status = frame.kind == CanFrameKind::kError ? 1 : 0;
    api.PutFrame(frame.transmitted ? kKindOut : kKindIn, kBusCan, channel, status, recordSize, record, &resultCount);
    switch (frame.kind) {
      case CanFrameKind::kData:
        ++totals->dataFrames;
        break;
      case CanFrameKind::kRemote:
        api.PutString(4, ",RTR", &resultCount);
        ++totals->remoteFrames;
        break;
      case CanFrameKind::kFd: {
        static const char kDigits[] = "0123456789ABCDEF";
        char field[5] = {',', 'F', 'D', ',', kDigits[frame.fdFlags & 0xF]};
        api.PutString(5, field, &resultCount);
        ++totals->fdFrames;
        break;
      }
      case CanFrameKind::kError:
        values[0] = frame.id;
        api.PutError(1, values, &resultCount);
        ++totals->errorFrames;
        break;
    }
    api.Write(0, nullptr, &resultCount, &cell);
    if (*static_cast<uint8_t*>(cell) == 0) {
      ++totals->written;
      if (options.reportEvery != 0 && totals->written % options.reportEvery == 0) {
        Message("written %llu\n", static_cast<unsigned long long>(totals->written));
      }
      if (rotating && options.rotateBytes != 0 && --linesBeforeSizeCheck == 0) {
        uint64_t size = 0;
        SizeOfFile(file->path.c_str(), &size);
        rotateNow = size >= options.rotateBytes;
        linesBeforeSizeCheck = LinesBeforeSizeCheck(options.rotateBytes, size);
      }
    } else {
      ++totals->writeFailures;
      if (writeWarnings++ < kMaxWarnings) {
        Message("%s:%llu: error: the module could not write this frame's line\n", options.traceName,
                static_cast<unsigned long long>(source.LineNumber()));
      }
    }
  }
  if (logs->open) file->lines = totals->written - writtenBefore;
  // A stop that came while the input ended still counts.
  if (StopRequests() > totals->stops) totals->stops = StopRequests();
  if (hardStop) {
    // What was read and is not in the log: the frames still queued.
    source.Stop();
    while (source.Next(&line, &length, &tooLong) == LiveStatus::kLine) {
      if (!tooLong && ParseCandumpLine(line, length, &frame) == nullptr) ++totals->notLogged;
    }
  }
  if (progress.shown && options.progressInPlace) Message("\r%72s\r", "");
  return !totals->stoppedEarly && !hardStop && !totals->logFailed;
}

}  // namespace

bool ReplayTrace(const BuslogApi& api, LineReader* reader, LogSet* logs, const ReplayOptions& options,
                 ReplayTotals* totals) {
  Source source = {reader, nullptr, false};
  bool complete = ReplayLines(api, source, logs, options, totals);
  totals->readError = reader->readError;
  return complete && !totals->readError;
}

bool ReplayTrace(const BuslogApi& api, LiveQueue* queue, LogSet* logs, const ReplayOptions& options,
                 ReplayTotals* totals) {
  Source source = {nullptr, queue, false};
  return ReplayLines(api, source, logs, options, totals);
}

void PrintChannels() {
  for (uint32_t i = 0; i < g_channels.count; ++i) {
    Message("  %.*s -> channel %u\n", static_cast<int>(g_channels.lengths[i]), g_channels.names[i], i + 1);
  }
}

}  // namespace buslog_host
