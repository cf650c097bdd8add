// What Open costs: the module's Open and Close of a new log, against the
// system work Open did before it synced the new file's directory (the
// write-through create and the close alone, through the same platform
// layer). Both run in the same program, alternating call by call, on the
// directory given (the disk or tmpfs); each call creates a new file, which
// is removed again outside the timed part. Prints the median, least and
// greatest time of each, in microseconds.
//   buslog_open_bench DIRECTORY [CALLS]      (CALLS default 21)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "buslog.h"
#include "platform/platform.h"
#include "plugin/module_state.h"

namespace {

using Clock = std::chrono::steady_clock;

double MicrosecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// The create and close Open and Close made before the directory sync.
double CreateOnly(const std::string& path) {
  auto start = Clock::now();
  buslog::FileHandle file = buslog::PlatformCreateLogFile(path.c_str(), false);
  if (file == buslog::kNoFile) {
    perror(path.c_str());
    exit(1);
  }
  buslog::PlatformCloseFile(file);
  return MicrosecondsSince(start);
}

// The module's Open and Close as a host calls them.
double OpenAndClose(const std::string& name) {
  int32_t count;
  void* cell;
  auto start = Clock::now();
  Open(static_cast<uint32_t>(name.size()), name.data(), &count, &cell);
  uint8_t result = *static_cast<uint8_t*>(cell);
  Close(0, nullptr, &count);
  double elapsed = MicrosecondsSince(start);
  if (result != 0) {
    fprintf(stderr, "Open result %u for %s\n", result, name.c_str());
    exit(1);
  }
  return elapsed;
}

void Report(const char* what, std::vector<double> times) {
  std::sort(times.begin(), times.end());
  printf("%-34s median %9.1f us   least %9.1f us   greatest %9.1f us\n", what, times[times.size() / 2],
         times.front(), times.back());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: buslog_open_bench DIRECTORY [CALLS]\n");
    return 2;
  }
  int calls = argc > 2 ? atoi(argv[2]) : 21;
  if (calls < 1) calls = 1;
  std::string directory = std::string(argv[1]) + "/";
  if (directory.size() > buslog::kMaxPath - 16) {
    fprintf(stderr, "%s: path too long\n", argv[1]);
    return 2;
  }
  memcpy(buslog::g_module.log.baseDirectory, directory.c_str(), directory.size() + 1);

  std::vector<double> before, after;
  for (int i = 0; i < calls; ++i) {
    std::string name = "open-bench-" + std::to_string(i) + ".log";
    std::string path = directory + name;
    before.push_back(CreateOnly(path));
    unlink(path.c_str());
    after.push_back(OpenAndClose(name));
    unlink(path.c_str());
  }
  printf("%d calls each in %s\n", calls, argv[1]);
  Report("create + close (before)", before);
  Report("Open + Close, directory synced", after);
  return 0;
}
