// The replay loop.
#include "replay.h"

#include <chrono>
#include <cstring>

#include "candump.h"
#include "line_reader.h"

namespace buslog_host {
namespace {

constexpr uint32_t kKindIn = BUSLOG_KIND_IN;
constexpr uint32_t kKindOut = BUSLOG_KIND_OUT;
constexpr uint32_t kBusCan = BUSLOG_BUS_CAN;
constexpr uint32_t kMaxChannels = 256;
constexpr size_t kMaxInterfaceName = 64;
// Warnings printed before the rest are only counted.
constexpr uint64_t kMaxWarnings = 20;

struct Channels {
  uint32_t count;
  uint8_t lengths[kMaxChannels];
  uint64_t keys[kMaxChannels];  // NameKey of each name
  char names[kMaxChannels][kMaxInterfaceName];
};

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
    fprintf(stderr, "%s:%llu: warning: %s; line skipped\n", options.traceName,
            static_cast<unsigned long long>(lineNumber), why);
  } else if (*warnings == kMaxWarnings) {
    fprintf(stderr, "%s: further warnings are only counted\n", options.traceName);
  }
  ++*warnings;
}

}  // namespace

bool ReplayTrace(const BuslogApi& api, FILE* trace, const ReplayOptions& options, ReplayTotals* totals) {
  *totals = ReplayTotals{};
  LineReader reader;
  if (!OpenLineReader(&reader, trace)) return false;
  static Channels channels;
  channels.count = 0;

  bool haveFirst = false;
  uint64_t firstSeconds = 0;
  uint32_t firstMicros = 0;
  uint64_t warnings = 0;
  uint64_t writeWarnings = 0;
  uint32_t frameNumber = 0;
  auto started = std::chrono::steady_clock::now();

  const char* line;
  size_t length;
  bool tooLong;
  CandumpFrame frame;
  uint8_t record[kMaxCanRecord];
  while (NextLine(&reader, &line, &length, &tooLong)) {
    ++totals->linesRead;
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
      Warn(options, &warnings, reader.lineNumber, why);
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
      Warn(options, &warnings, reader.lineNumber, "more interfaces than channels, or a name too long");
      if (options.strict) {
        totals->stoppedEarly = true;
        break;
      }
      continue;
    }

    // Time since the first frame, kept as seconds and microseconds: no
    // division on the way, and no overflow for the largest time stamps.
    if (!haveFirst) {
      haveFirst = true;
      firstSeconds = frame.seconds;
      firstMicros = frame.micros;
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
        fprintf(stderr, "written %llu\n", static_cast<unsigned long long>(totals->written));
      }
    } else {
      ++totals->writeFailures;
      if (writeWarnings++ < kMaxWarnings) {
        fprintf(stderr, "%s:%llu: error: the module could not write this frame's line\n", options.traceName,
                static_cast<unsigned long long>(reader.lineNumber));
      }
    }

    if (options.progress && (totals->framesRead & 0xFFFF) == 0) {
      double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      fprintf(stderr, "\r%llu frames, %.0f frames/s ", static_cast<unsigned long long>(totals->framesRead),
              seconds > 0 ? static_cast<double>(totals->framesRead) / seconds : 0.0);
    }
  }
  if (options.progress && totals->framesRead >= 0x10000) fprintf(stderr, "\r%60s\r", "");
  totals->readError = reader.readError;
  CloseLineReader(&reader);
  return !totals->stoppedEarly && !totals->readError;
}

}  // namespace buslog_host
