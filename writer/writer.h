// One writer behind the C interface: its module instance, its messages,
// its interfaces, its core and, in QUEUED mode, its queue and thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "buslog_writer.h"
#include "channels.h"
#include "engine.h"
#include "messages.h"
#include "module_instance.h"
#include "queue.h"
#include "selection.h"

struct BuslogWriter {
  buslog_writer::ModuleInstance module;
  buslog_writer::Messages messages;
  buslog_writer::ChannelTable channels;
  std::unique_ptr<buslog_writer::Core> core;
  buslog_writer::Queue queue;
  std::mutex direct;            // REPLAY, WRITE_THROUGH: one call into the core at a time
  std::atomic<bool> abandoned;
  // Under the lock that orders the Adds (the queue's, or `direct`):
  buslog_writer::Selection selection;
  uint64_t lastSequence;        // the last Add's
  bool inputEnded;
  bool closed;
};

namespace buslog_writer {

// The lock that orders the Adds: the queue's (QUEUED) or `direct`.
inline std::mutex& AddsLock(BuslogWriter* writer) {
  return writer->core->settings.mode == BUSLOG_WRITER_QUEUED ? writer->queue.mutex : writer->direct;
}

// The filter's and the triggers' word on `frame`, then the frame taken in
// with its sequence and channel (under the lock that orders Adds). False
// when it goes no further (the filter left it out).
bool SelectAndTake(BuslogWriter* writer, const BuslogFrame& frame, Frame* out);

// The counts as the writer's thread last left them (QUEUED, while open)
// or as they are; `queued`: frames in the queue not yet taken.
void TakeSnapshot(BuslogWriter* writer, CountsSnapshot* snapshot, uint64_t* queued);

// The writer's losses not yet reported, into `report`: OK, or LOST.
int Report(BuslogWriter* writer, BuslogWriterReport* report);

}  // namespace buslog_writer
