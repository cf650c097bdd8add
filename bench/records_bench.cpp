// In-process benchmarks of one log line per record kind, through the
// exports of the module's own objects linked in: PutFrameId, PutTimeStamp,
// PutFrame and Write into a write-through log on tmpfs, the same into a log
// on the disk, and the same without the write (the pending line is dropped
// by a Close with no log open). One benchmark iteration is one record.
#include <benchmark/benchmark.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "buslog.h"
#include "plugin/module_state.h"

namespace {

struct RecordKind {
  const char* name;
  uint32_t kindCode;
  uint32_t busCode;
  int32_t channel;
  std::vector<uint8_t> data;
};

const std::vector<RecordKind>& RecordKinds() {
  static const std::vector<RecordKind> kinds = {
      {"can_standard", BUSLOG_KIND_IN, BUSLOG_BUS_CAN, 0,
       {0x07, 0xFF, 0x08, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}},
      {"can_extended", BUSLOG_KIND_IN, BUSLOG_BUS_CAN, 1,
       {0xC1, 0x02, 0x03, 0x04, 0x08, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}},
      {"lin", BUSLOG_KIND_OUT, BUSLOG_BUS_LIN, 0,
       {0x0A, 0x3C, 0x08, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}},
      {"cxpi", BUSLOG_KIND_IN, BUSLOG_BUS_CXPI, 2,
       {0x07, 0xC5, 0x87, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}},
      {"port", BUSLOG_KIND_PORT, BUSLOG_BUS_PORT_IN, 0,
       {0x04, 0x0F, 0x00, 0xF0, 0xFF, 0xAA, 0x55, 0x00, 0x01}},
      {"environment", BUSLOG_KIND_ENV, 0, 0,
       {'E', 'n', 'g', 'i', 'n', 'e', 'S', 'p', 'e', 'e', 'd', 0, 0x00, 0x04, '1', '2', '3', '4'}},
      {"marker", BUSLOG_KIND_MARKER, 0, 0,
       {'s', 't', 'a', 'r', 't', ' ', 'o', 'f', ' ', 't', 'e', 's', 't', 0}},
      {"generic", 0x3032, 1, 0, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}},
  };
  return kinds;
}

enum class Output { kTmpfs, kFormatOnly, kDisk };

// A fresh directory for the logs under `parent`, with its separator.
std::string MakeDirectory(const char* parent) {
  std::string pattern = std::string(parent) + "/buslog-bench-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) {
    perror(pattern.c_str());
    exit(1);
  }
  return pattern + "/";
}

void UseDirectory(const std::string& dir) {
  memcpy(buslog::g_module.log.baseDirectory, dir.c_str(), dir.size() + 1);
}

bool OpenLog() {
  const char name[] = "bench.log";
  int32_t resultCount;
  void* cell;
  Open(sizeof name - 1, name, &resultCount, &cell);
  return *static_cast<uint8_t*>(cell) == 0;
}

void CloseLog() {
  int32_t resultCount;
  Close(0, nullptr, &resultCount);
}

// Lines between two truncations of the tmpfs log, so it stays a few MB.
constexpr int64_t kLinesPerTruncation = 1 << 16;

void RecordLine(benchmark::State& state, const RecordKind& kind, Output output, const std::string& dir) {
  UseDirectory(dir);
  CloseLog();
  bool writing = output != Output::kFormatOnly;
  if (writing && !OpenLog()) {
    state.SkipWithError("cannot open the log");
    return;
  }
  const uint8_t* data = kind.data.data();
  const uint32_t dataLength = static_cast<uint32_t>(kind.data.size());
  uint32_t frame = 0;
  uint32_t stamp[2] = {12, 345678};
  int32_t resultCount;
  void* cell;
  for (auto _ : state) {
    PutFrameId(1, &frame, &resultCount);
    PutTimeStamp(2, stamp, &resultCount);
    PutFrame(kind.kindCode, kind.busCode, kind.channel, 0, dataLength, data, &resultCount);
    if (writing) {
      Write(0, nullptr, &resultCount, &cell);
    } else {
      Close(0, nullptr, &resultCount);
    }
    ++frame;
    stamp[1] += 250;
    if (writing && frame % kLinesPerTruncation == 0) {
      state.PauseTiming();
      CloseLog();
      OpenLog();
      state.ResumeTiming();
    }
  }
  if (writing && *static_cast<uint8_t*>(cell) != 0) state.SkipWithError("a write failed");
  CloseLog();
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

int main(int argc, char** argv) {
  // tmpfs at /dev/shm; /tmp is on the disk here (see scripts/bench.sh).
  static const std::string tmpfs = MakeDirectory("/dev/shm");
  static const std::string disk = MakeDirectory("/tmp");
  const struct {
    const char* name;
    Output output;
    const std::string* dir;
  } outputs[] = {{"tmpfs", Output::kTmpfs, &tmpfs}, {"format_only", Output::kFormatOnly, &tmpfs},
                 {"disk", Output::kDisk, &disk}};
  for (const auto& output : outputs) {
    for (const RecordKind& kind : RecordKinds()) {
      std::string name = std::string("record/") + kind.name + "/" + output.name;
      Output mode = output.output;
      const std::string* dir = output.dir;
      benchmark::RegisterBenchmark(name.c_str(), [&kind, mode, dir](benchmark::State& state) {
        RecordLine(state, kind, mode, *dir);
      })->UseRealTime();
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const std::string* dir : {&tmpfs, &disk}) {
    unlink((*dir + "bench.log").c_str());
    rmdir(dir->c_str());
  }
  return 0;
}
