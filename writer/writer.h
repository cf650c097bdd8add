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

struct BuslogWriter {
  buslog_writer::ModuleInstance module;
  buslog_writer::Messages messages;
  buslog_writer::ChannelTable channels;
  std::unique_ptr<buslog_writer::Core> core;
  buslog_writer::Queue queue;
  std::mutex direct;            // REPLAY, WRITE_THROUGH: one call into the core at a time
  std::atomic<bool> abandoned;
  uint32_t lastNumber;          // the last frame number given
  uint64_t added;
  bool inputEnded;
  bool closed;
  bool channelsFullSaid;
};

namespace buslog_writer {

// The frame numbered and on its channel (under the lock that orders Adds).
void NumberFrame(BuslogWriter* writer, const BuslogFrame& frame, Frame* out);

// The writer's losses not yet reported, into `report`: OK, or LOST.
int Report(BuslogWriter* writer, BuslogWriterReport* report);

}  // namespace buslog_writer
