// The queue and the writer's thread.
#include "queue.h"

#include <algorithm>

namespace buslog_writer {
namespace {

// Frames the thread takes out of the queue at a time.
constexpr size_t kChunk = 256;
// The ring's first size, in frames.
constexpr size_t kFirstRing = 4096;

// Every frame up to the last one put is written or lost, as far as the
// batch in hand allows.
uint32_t DoneUpTo(const Core& core, uint32_t lastPut) {
  return core.batch.frameCount == 0 ? lastPut : core.batch.frames[0].number - 1;
}

void MarkDone(Queue* queue, const Core& core, uint32_t doneUpTo) {
  CountsSnapshot snapshot;
  SnapshotCounts(core, &snapshot);
  std::lock_guard<std::mutex> lock(queue->mutex);
  queue->doneUpTo = doneUpTo;
  queue->snapshot = snapshot;
  queue->done.notify_all();
}

// Takes up to kChunk frames into `chunk`; waits while none is queued,
// writing the batch in hand first (the input would wait). Returns how many;
// 0 when the input ended and everything is taken.
size_t TakeChunk(Queue* queue, Core* core, Frame* chunk, uint32_t* lastPut) {
  std::unique_lock<std::mutex> lock(queue->mutex);
  while (queue->count == 0 && !queue->ended && !Abandoned(core)) {
    if (core->batch.count > 0) {
      lock.unlock();
      Commit(core);
      MarkDone(queue, *core, DoneUpTo(*core, *lastPut));
      lock.lock();
      continue;
    }
    queue->work.wait_for(lock, std::chrono::milliseconds(50));
  }
  size_t taken = std::min(queue->count, kChunk);
  for (size_t i = 0; i < taken; ++i) chunk[i] = queue->ring[(queue->head + i) % queue->ring.size()];
  queue->head = (queue->head + taken) % queue->ring.size();
  queue->count -= taken;
  queue->inHand = taken;
  return taken;
}

// One frame of the chunk is done: room for a frame behind.
void FrameDone(Queue* queue) {
  std::lock_guard<std::mutex> lock(queue->mutex);
  --queue->inHand;
  if (queue->addersWaiting > 0) queue->room.notify_all();
}

void RunQueue(Queue* queue, Core* core) {
  Frame chunk[kChunk];
  uint32_t lastPut = 0;
  for (;;) {
    size_t taken = TakeChunk(queue, core, chunk, &lastPut);
    if (taken == 0) break;
    for (size_t i = 0; i < taken; ++i) {
      if (Abandoned(core)) {
        LoseFrames(core, chunk[i].number, chunk[taken - 1].number, "left at a second stop", 0, true);
        lastPut = chunk[taken - 1].number;
        break;
      }
      PutFrame(core, chunk[i]);
      lastPut = chunk[i].number;
      FrameDone(queue);
    }
    MarkDone(queue, *core, DoneUpTo(*core, lastPut));
  }
  // The batch in hand, also at a second stop; then what is left is lost,
  // and the records owed are written.
  Commit(core);
  std::unique_lock<std::mutex> lock(queue->mutex);
  if (queue->count > 0) {
    uint32_t first = queue->ring[queue->head].number;
    uint32_t last = queue->ring[(queue->head + queue->count - 1) % queue->ring.size()].number;
    LoseFrames(core, first, last, "left at a second stop", 0, true);
    lastPut = last;
    queue->count = 0;
  }
  lock.unlock();
  WriteOwedRecords(core);
  lock.lock();
  queue->inHand = 0;
  queue->doneUpTo = lastPut;
  SnapshotCounts(*core, &queue->snapshot);
  queue->finished = true;
  queue->done.notify_all();
  queue->room.notify_all();
}

}  // namespace

bool RoomForOne(Queue* queue) {
  if (queue->count + queue->inHand >= queue->capacity) return false;
  if (queue->count < queue->ring.size()) return true;
  // The ring doubles, its frames in order from the start.
  size_t grown = std::min<uint64_t>(queue->ring.size() * 2, queue->capacity);
  std::vector<Frame> larger(grown);
  for (size_t i = 0; i < queue->count; ++i) larger[i] = queue->ring[(queue->head + i) % queue->ring.size()];
  queue->ring.swap(larger);
  queue->head = 0;
  return true;
}

bool StartQueue(Queue* queue, Core* core) {
  queue->ring.resize(std::min<uint64_t>(kFirstRing, queue->capacity));
  queue->head = queue->count = 0;
  queue->inHand = 0;
  queue->ended = queue->finished = false;
  queue->doneUpTo = 0;
  queue->deepest = 0;
  queue->waited = 0;
  queue->addersWaiting = 0;
  core->queue = queue;
  queue->thread = std::thread(RunQueue, queue, core);
  return true;
}

bool WaitUntilDone(Queue* queue, uint32_t number, int64_t milliseconds) {
  std::unique_lock<std::mutex> lock(queue->mutex);
  auto ready = [queue, number] { return queue->finished || queue->doneUpTo >= number; };
  if (milliseconds < 0) {
    queue->done.wait(lock, ready);
    return true;
  }
  return queue->done.wait_for(lock, std::chrono::milliseconds(milliseconds), ready);
}

void EndQueue(Queue* queue) {
  std::lock_guard<std::mutex> lock(queue->mutex);
  queue->ended = true;
  queue->work.notify_all();
  queue->room.notify_all();
}

void JoinQueue(Queue* queue) {
  EndQueue(queue);
  if (queue->thread.joinable()) queue->thread.join();
}

void WakeQueue(Queue* queue) {
  std::lock_guard<std::mutex> lock(queue->mutex);
  queue->work.notify_all();
  queue->room.notify_all();
  queue->done.notify_all();
}

uint64_t QueueDepth(Queue* queue) {
  std::lock_guard<std::mutex> lock(queue->mutex);
  return queue->count + queue->inHand;
}

bool CanWait(Core* core) {
  switch (core->settings.mode) {
    case BUSLOG_WRITER_REPLAY: return true;
    case BUSLOG_WRITER_WRITE_THROUGH: return false;
    default: break;
  }
  std::lock_guard<std::mutex> lock(core->queue->mutex);
  return core->queue->count + core->queue->inHand < core->queue->capacity || core->queue->ended;
}

bool NoMoreInput(Core* core) {
  switch (core->settings.mode) {
    case BUSLOG_WRITER_REPLAY: return true;
    case BUSLOG_WRITER_WRITE_THROUGH: return false;
    default: break;
  }
  std::lock_guard<std::mutex> lock(core->queue->mutex);
  return core->queue->ended;
}

bool Abandoned(Core* core) {
  if (core->abandoned->load(std::memory_order_relaxed)) return true;
  const Settings& settings = core->settings;
  if (settings.interrupted != nullptr && settings.interrupted(settings.interruptedContext) != 0) {
    core->abandoned->store(true);
    return true;
  }
  return false;
}

void Nap(Core* core, int milliseconds) {
  if (core->settings.mode != BUSLOG_WRITER_QUEUED) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return;
  }
  // Woken early when the queue fills: then the oldest frame goes.
  Queue* queue = core->queue;
  std::unique_lock<std::mutex> lock(queue->mutex);
  queue->work.wait_for(lock, std::chrono::milliseconds(milliseconds), [queue, core] {
    return queue->count + queue->inHand >= queue->capacity || queue->ended || core->abandoned->load();
  });
}

}  // namespace buslog_writer
