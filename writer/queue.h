// QUEUED: the caller's Add copies the frame into a bounded queue and
// returns (a frame the filter leaves out is not queued); a thread of the
// writer takes the frames at hand, numbers them (stage.h) and logs them,
// writing the batch as soon as the queue is empty (nothing waits for a
// batch to fill, and there is no timer), so a frame waits for at most the
// Write in progress and its own. While the log falls behind, the queue
// grows up to its bound, then Add waits for room: nothing is dropped. While
// the storage fails and the queue is full, the oldest frame is given up
// (storage.cpp) and Add goes on.
//
// The queue is a ring of frames that doubles when full, up to its bound:
// no allocation per frame.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "engine.h"
#include "frame.h"

namespace buslog_writer {

struct Queue {
  std::mutex mutex;
  std::condition_variable work;   // the writer's thread waits for frames
  std::condition_variable room;   // Add waits for room
  std::condition_variable done;   // Flush and Wait wait for the thread
  std::thread thread;
  uint64_t capacity;              // frames at most, queued and in hand
  // Guarded by `mutex`.
  std::vector<Frame> ring;
  size_t head;                    // the oldest
  size_t count;
  uint64_t inHand;                // taken by the thread, not yet done
  bool ended;                     // no more frames will come
  bool finished;                  // the thread logged everything and ended
  uint64_t doneUpTo;              // every frame of the Adds up to this sequence is written or lost
  uint64_t deepest;
  double waited;                  // seconds Add waited for room
  uint32_t addersWaiting;
  CountsSnapshot snapshot;        // the counts after the last round
};

// The storage's side of the backlog, asked by the core while a frame
// waits (storage.cpp); for the direct modes they answer as the mode says.
//   CanWait      the frame may wait for the storage without a frame behind
//                it being held up: REPLAY always (the input waits); QUEUED
//                while the queue has room; WRITE_THROUGH never
//   NoMoreInput  no frame will come after those at hand: REPLAY always,
//                QUEUED once the input ended
//   Abandoned    give up now (BuslogWriterAbandon, the caller's interrupted)
//   Nap          waits `milliseconds`, woken early when the queue fills
bool CanWait(Core* core);
bool NoMoreInput(Core* core);
bool Abandoned(Core* core);
void Nap(Core* core, int milliseconds);

// Starts the thread of `core` on `queue` (capacity set). False when the
// thread or the ring's first memory cannot be had.
bool StartQueue(Queue* queue, Core* core);

// Queues a frame that `fill(Frame*)` writes in place (under the queue's
// lock, so that sequences follow the queue's order) and returns true for;
// false from it queues nothing. Waits while the queue is full. False when
// no more frames are taken.
template <typename Fill>
bool QueueFrame(Queue* queue, Fill fill);

// Waits until every frame of the Adds up to `sequence` is written or lost
// (or held for a trigger, or outside every window), at most `milliseconds`
// (negative: without a limit). True when they are.
bool WaitUntilDone(Queue* queue, uint64_t sequence, int64_t milliseconds);

// No more frames: the thread logs what is queued and ends; JoinQueue waits
// for it.
void EndQueue(Queue* queue);
void JoinQueue(Queue* queue);

// Wakes everything that waits (an abandon).
void WakeQueue(Queue* queue);

// Frames queued and in hand.
uint64_t QueueDepth(Queue* queue);

// ---- the template

// Makes room for one more frame (the ring doubles up to its bound). False
// while the queue is full.
bool RoomForOne(Queue* queue);

template <typename Fill>
bool QueueFrame(Queue* queue, Fill fill) {
  std::unique_lock<std::mutex> lock(queue->mutex);
  if (queue->ended) return false;
  if (!RoomForOne(queue)) {
    auto started = std::chrono::steady_clock::now();
    ++queue->addersWaiting;
    queue->room.wait(lock, [queue] { return queue->ended || RoomForOne(queue); });
    --queue->addersWaiting;
    queue->waited += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (queue->ended) return false;
  }
  size_t at = (queue->head + queue->count) % queue->ring.size();
  if (!fill(&queue->ring[at])) return true;
  ++queue->count;
  uint64_t depth = queue->count + queue->inHand;
  if (depth > queue->deepest) queue->deepest = depth;
  // The thread waits for a first frame, or, while the storage fails, for
  // the queue to fill.
  if (queue->count == 1 || depth >= queue->capacity) queue->work.notify_one();
  return true;
}

}  // namespace buslog_writer
