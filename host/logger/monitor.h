// What the user sees while the logger runs, looked at between lines of a
// trace and every 50 ms of live input: the writer's messages on standard
// error, "written N" (--report-every), and a progress line once a second
// (in place on a terminal): frames, frames/s, and the percentage and time
// left of a file, or the queue's depth of live input.
#pragma once

#include <chrono>
#include <cstdint>

#include "buslog_writer.h"
#include "line_source.h"

namespace buslog_host {

struct Monitor {
  BuslogWriter* writer;
  const buslog_reader::LineSource* source;  // a trace file, for its percentage; null for live input
  uint64_t inputSize;     // bytes of a trace file
  uint64_t reportEvery;   // lines; 0: none
  bool progress;          // show a progress line
  bool inPlace;           // rewrite it in place (standard error is a terminal)
  bool shown;
  std::chrono::steady_clock::time_point started;
  std::chrono::steady_clock::time_point lastShown;
  uint64_t lastFrames;
  uint64_t reported;      // lines "written" was said for
  bool stoppingSaid;      // live input: what a first stop leaves to log
};

void StartMonitor(Monitor* monitor);

// Relays the writer's messages and "written N", and shows progress when a
// second has passed (or `force`).
void Look(Monitor* monitor, bool force);

// Clears a progress line shown in place.
void EndMonitor(Monitor* monitor);

// The writer's messages, each on standard error as "buslog-host: <text>".
void RelayMessages(BuslogWriter* writer);

}  // namespace buslog_host
