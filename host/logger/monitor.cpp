// The progress line and the writer's messages.
#include "logger/monitor.h"

#include <cstdio>
#include <cstring>

#include "platform/message.h"

namespace buslog_host {
namespace {

void ShowProgress(Monitor* monitor, const BuslogWriterCounts& counts, double sinceLast) {
  auto now = std::chrono::steady_clock::now();
  uint64_t frames = counts.framesLogged + counts.framesRemoved;
  double rate = sinceLast > 0 ? static_cast<double>(frames - monitor->lastFrames) / sinceLast : 0.0;
  monitor->lastShown = now;
  monitor->lastFrames = frames;
  char text[160];
  unsigned long long shown = static_cast<unsigned long long>(frames);
  if (monitor->source == nullptr) {
    snprintf(text, sizeof text, "%llu frames, %.0f frames/s, queue %llu", shown, rate,
             static_cast<unsigned long long>(counts.framesPending));
  } else if (monitor->inputSize > 0) {
    uint64_t consumed = buslog_reader::LineSourceConsumed(*monitor->source);
    double share = static_cast<double>(consumed) / static_cast<double>(monitor->inputSize);
    double elapsed = std::chrono::duration<double>(now - monitor->started).count();
    double left = share > 0 ? elapsed * (1.0 - share) / share : 0.0;
    unsigned long seconds = static_cast<unsigned long>(left + 0.5);
    snprintf(text, sizeof text, "%llu frames, %.0f frames/s, %.1f %%, %lu:%02lu:%02lu left", shown, rate,
             100.0 * share, seconds / 3600, seconds / 60 % 60, seconds % 60);
  } else {
    snprintf(text, sizeof text, "%llu frames, %.0f frames/s", shown, rate);
  }
  if (counts.filesRemoved > 0) {
    size_t used = strlen(text);
    snprintf(text + used, sizeof text - used, ", %u files removed", counts.filesRemoved);
  }
  if (monitor->inPlace) {
    Message("\r%-72s", text);
  } else {
    Message("progress: %s\n", text);
  }
  monitor->shown = true;
}

}  // namespace

void RelayMessages(BuslogWriter* writer) {
  char text[4096 + 512];
  while (BuslogWriterNextMessage(writer, text, sizeof text) != 0) Message("buslog-host: %s\n", text);
}

void StartMonitor(Monitor* monitor) {
  monitor->started = monitor->lastShown = std::chrono::steady_clock::now();
  monitor->lastFrames = 0;
  monitor->reported = 0;
  monitor->shown = false;
}

void Look(Monitor* monitor, bool force) {
  RelayMessages(monitor->writer);
  BuslogWriterCounts counts;
  BuslogWriterGetCounts(monitor->writer, &counts);
  uint64_t every = monitor->reportEvery;
  if (every != 0) {
    while (monitor->reported + every <= counts.lines) {
      monitor->reported += every;
      Message("written %llu\n", static_cast<unsigned long long>(monitor->reported));
    }
  }
  if (!monitor->progress) return;
  double sinceLast = std::chrono::duration<double>(std::chrono::steady_clock::now() - monitor->lastShown).count();
  if (force || sinceLast >= 1.0) ShowProgress(monitor, counts, sinceLast);
}

void EndMonitor(Monitor* monitor) {
  if (monitor->shown && monitor->inPlace) Message("\r%72s\r", "");
}

}  // namespace buslog_host
