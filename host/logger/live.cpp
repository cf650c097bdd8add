// The live input's reader thread and the main thread's watch.
#include "logger/live.h"

#include <atomic>
#include <thread>

#include "platform/message.h"

namespace buslog_host {
namespace {

// How often the main thread looks at the stops and the writer.
constexpr int kLookMilliseconds = 50;
// How long a reader woken at a stop may take to leave a read.
constexpr int kStopWaitMilliseconds = 500;

struct Reading {
  const InputFile* input;
  ReadLoop* loop;
  buslog_reader::LineSource source;
  std::atomic<bool> done;
};

size_t ReadStream(void* context, char* bytes, size_t size, bool* failed) {
  const InputFile* input = static_cast<const InputFile*>(context);
  long got = ReadInput(*input, bytes, size);
  // A stop request ends the input.
  *failed = got == -1;
  return got > 0 ? static_cast<size_t>(got) : 0;
}

void RunReader(Reading* reading) {
  ReadLines(reading->loop, &reading->source);
  reading->done.store(true);
}

// Said once, at the first stop request, while reading or after.
void SayStopping(Monitor* monitor, bool quiet) {
  if (monitor->stoppingSaid || quiet) return;
  monitor->stoppingSaid = true;
  BuslogWriterCounts counts;
  BuslogWriterGetCounts(monitor->writer, &counts);
  unsigned long long queued = counts.framesPending;
  Message("buslog-host: stopping: logging %llu queued frame%s; Ctrl+C again to give them up\n", queued,
          queued == 1 ? "" : "s");
}

}  // namespace

bool ReadLive(ReadLoop* loop, const InputFile& input, Monitor* monitor, bool quiet) {
  Reading* reading = new Reading();
  reading->input = &input;
  reading->loop = loop;
  reading->done.store(false);
  if (!buslog_reader::OpenLineSourceFrom(&reading->source, ReadStream, const_cast<InputFile*>(&input))) {
    Message("buslog-host: out of memory\n");
    delete reading;
    return true;
  }
  std::thread reader(RunReader, reading);
  // After a stop the reader gets this long to leave its read.
  int stopWait = -1;
  while (!reading->done.load() && stopWait != 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kLookMilliseconds));
    Look(monitor, false);
    if (stopWait > 0) {
      stopWait -= kLookMilliseconds;
      if (stopWait < 0) stopWait = 0;
    } else if (StopRequests() > 0 && stopWait < 0) {
      stopWait = WakeInputReader(input) ? kStopWaitMilliseconds : 0;
    }
  }
  if (!reading->done.load()) {
    // The reader waits in a read the system cannot interrupt: it is left
    // to the program's end, with its memory and the input.
    loop->stopped = true;
    reader.detach();
    SayStopping(monitor, quiet);
    return false;
  }
  reader.join();
  if (loop->stopped) SayStopping(monitor, quiet);
  buslog_reader::CloseLineSource(&reading->source);
  delete reading;
  return true;
}

void WaitForWriter(BuslogWriter* writer, Monitor* monitor, bool quiet) {
  BuslogWriterEndInput(writer);
  bool abandoned = false;
  while (BuslogWriterWait(writer, kLookMilliseconds) == 0) {
    Look(monitor, false);
    if (StopRequests() > 0) SayStopping(monitor, quiet);
    if (StopRequests() >= 2 && !abandoned) {
      abandoned = true;
      BuslogWriterAbandon(writer);
    }
  }
}

}  // namespace buslog_host
