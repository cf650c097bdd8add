// The live input's reader thread and its queue of whole lines.
#include "logger/live_input.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "line_source.h"

namespace buslog_host {
namespace {

constexpr size_t kBlockSize = 1024 * 1024;
// Below this much room the reader moves on to a fresh block, taking the
// line it is in the middle of along.
constexpr size_t kLeastRead = 64 * 1024;
static_assert(kBlockSize > buslog_reader::kMaxLineLength + 1 + kLeastRead + 1, "a block holds a whole line and a read");
// Memory the queue may take a line on average before the reader waits, as
// well as for the count of lines: a CAN FD line of 64 bytes is some 170.
constexpr uint64_t kBytesPerLine = 256;

struct Block {
  Block* next;
  size_t published;  // bytes of whole lines the taker may read
  bool sealed;       // the reader moved on to `next`
  char bytes[kBlockSize];
};

Block* NewBlock() {
  Block* block = static_cast<Block*>(malloc(sizeof(Block)));
  if (block != nullptr) {
    block->next = nullptr;
    block->published = 0;
    block->sealed = false;
  }
  return block;
}

}  // namespace

struct LiveQueue {
  InputFile input;
  uint64_t capacity;
  uint64_t maxBlocks;
  std::mutex mutex;
  std::condition_variable lineReady;
  std::condition_variable roomReady;
  std::thread reader;

  // Guarded by `mutex`.
  Block* head = nullptr;   // the taker's block
  Block* tail = nullptr;   // the reader's block
  Block* spare = nullptr;  // one block kept for reuse
  uint64_t blocks = 0;     // blocks in the list
  uint64_t queued = 0;     // whole lines published and not yet given back
  uint64_t deepest = 0;
  bool stopAsked = false;
  bool reading = false;     // the reader waits in a read, with every whole line published
  bool readerDone = false;
  bool readError = false;
  bool endedMidLine = false;
  double waited = 0;

  // The taker's own.
  size_t takePos = 0;
  size_t takeEnd = 0;
  uint64_t taken = 0;  // lines handed out and not yet given back
  uint64_t lineNumber = 0;
};

namespace {

bool StopWanted(const LiveQueue* q) { return q->stopAsked || StopRequests() > 0; }

// Waits, holding `lock`, while `full` says so and no stop is wanted; counts
// the time waited.
template <class Full>
void WaitWhileFull(LiveQueue* q, std::unique_lock<std::mutex>& lock, Full full) {
  if (!full() || StopWanted(q)) return;
  auto started = std::chrono::steady_clock::now();
  while (full() && !StopWanted(q)) q->roomReady.wait_for(lock, std::chrono::milliseconds(100));
  q->waited += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

// Where the `count`th line after `from` ends (one past its newline); the
// bytes up to `to` hold at least that many lines.
size_t AfterLines(const char* bytes, size_t from, size_t to, uint64_t count) {
  const char* p = bytes + from;
  const char* end = bytes + to;
  for (uint64_t i = 0; i < count; ++i) p = static_cast<const char*>(memchr(p, '\n', static_cast<size_t>(end - p))) + 1;
  return static_cast<size_t>(p - bytes);
}

// Where the reader stands in its block.
struct ReaderCursor {
  Block* block;
  size_t filled;      // bytes read into `block`
  size_t handedOn;    // bytes of lines published from `block`
  size_t lineStart;   // where the line not yet whole begins
  uint64_t pending;   // whole lines read and not yet published
  bool skipping;      // dropping the rest of a line that is too long
};

// Whole lines go into the queue as far as it has room; on a stop all of
// them go, since they were read. Waits while the queue is full.
void PublishLines(LiveQueue* q, ReaderCursor* c) {
  uint64_t count;
  {
    std::unique_lock<std::mutex> lock(q->mutex);
    WaitWhileFull(q, lock, [q] { return q->queued >= q->capacity; });
    bool stop = StopWanted(q);
    count = stop || q->queued + c->pending <= q->capacity ? c->pending : q->capacity - q->queued;
    c->handedOn = count == c->pending ? c->lineStart : AfterLines(c->block->bytes, c->handedOn, c->lineStart, count);
    c->block->published = c->handedOn;
    q->queued += count;
    if (q->queued > q->deepest) q->deepest = q->queued;
  }
  q->lineReady.notify_one();
  c->pending -= count;
}

// A new block behind the full one, taking along the line not yet whole.
// Waits while the queue holds its most blocks. False without memory.
bool MoveToFreshBlock(LiveQueue* q, ReaderCursor* c) {
  Block* fresh;
  {
    std::unique_lock<std::mutex> lock(q->mutex);
    WaitWhileFull(q, lock, [q] { return q->blocks >= q->maxBlocks; });
    fresh = q->spare;
    q->spare = nullptr;
  }
  if (fresh == nullptr) fresh = NewBlock();
  if (fresh == nullptr) return false;
  fresh->next = nullptr;
  fresh->published = 0;
  fresh->sealed = false;
  size_t partial = c->filled - c->lineStart;
  memcpy(fresh->bytes, c->block->bytes + c->lineStart, partial);
  {
    std::lock_guard<std::mutex> lock(q->mutex);
    c->block->next = fresh;
    c->block->sealed = true;
    q->tail = fresh;
    ++q->blocks;
  }
  q->lineReady.notify_one();
  c->block = fresh;
  c->filled = partial;
  c->handedOn = c->lineStart = 0;
  return true;
}

// Reads what the input has into the block, the taker told that the reader
// waits. Returns ReadInput's count (-2 also when a stop came meanwhile: the
// bytes are then not taken).
long ReadMore(LiveQueue* q, ReaderCursor* c, bool* stopAsked) {
  {
    std::lock_guard<std::mutex> lock(q->mutex);
    q->reading = true;
  }
  q->lineReady.notify_one();
  // One byte of the block stays free.
  long got = ReadInput(q->input, c->block->bytes + c->filled, kBlockSize - c->filled - 1);
  std::lock_guard<std::mutex> lock(q->mutex);
  q->reading = false;
  // Bytes that arrive after a stop are not read any more.
  *stopAsked = q->stopAsked;
  return got;
}

// The end. A last line without its newline is where the feeder died in
// the middle of a frame: it is not handed out, and the taker is told.
void EndOfInput(LiveQueue* q, ReaderCursor* c) {
  if (c->filled > c->lineStart && !c->skipping) {
    std::lock_guard<std::mutex> lock(q->mutex);
    q->endedMidLine = true;
  }
}

// Counts the whole lines among `got` new bytes, and cuts a line that grew
// too long.
void TakeBytes(ReaderCursor* c, long got) {
  char* p = c->block->bytes + c->filled;
  char* end = p + got;
  if (c->skipping) {
    char* newline = static_cast<char*>(memchr(p, '\n', static_cast<size_t>(end - p)));
    if (newline == nullptr) return;
    // The cut line ends here: keep its newline and what follows.
    memmove(p, newline, static_cast<size_t>(end - newline));
    end = p + (end - newline);
    c->skipping = false;
  }
  char* last = nullptr;
  for (char* s = p; s < end; ++s) {
    s = static_cast<char*>(memchr(s, '\n', static_cast<size_t>(end - s)));
    if (s == nullptr) break;
    ++c->pending;
    last = s;
  }
  c->filled = static_cast<size_t>(end - c->block->bytes);
  if (last != nullptr) c->lineStart = static_cast<size_t>(last + 1 - c->block->bytes);
  if (c->filled - c->lineStart > buslog_reader::kMaxLineLength) {
    // Keep one byte more than a line may have, so the taker sees it is
    // too long, and drop the rest up to its newline.
    c->filled = c->lineStart + buslog_reader::kMaxLineLength + 1;
    c->skipping = true;
  }
}

void ReadLoop(LiveQueue* q) {
  ReaderCursor c = {};
  {
    std::lock_guard<std::mutex> lock(q->mutex);
    c.block = q->tail;
  }
  bool failed = false;
  bool ended = false;
  for (;;) {
    if (c.pending > 0) {
      PublishLines(q, &c);
      if (c.pending > 0) continue;
    }
    if (ended || StopWanted(q)) break;
    if (kBlockSize - c.filled < kLeastRead && !MoveToFreshBlock(q, &c)) {
      failed = true;
      break;
    }
    bool stopAsked = false;
    long got = ReadMore(q, &c, &stopAsked);
    if (stopAsked) break;
    if (got == -2) continue;  // woken: the loop looks at the stop
    if (got < 0) {
      failed = true;
      break;
    }
    if (got == 0) {
      ended = true;
      EndOfInput(q, &c);
      continue;
    }
    TakeBytes(&c, got);
  }
  {
    std::lock_guard<std::mutex> lock(q->mutex);
    q->readerDone = true;
    q->readError = failed;
  }
  q->lineReady.notify_all();
}

void FreeBlocks(LiveQueue* q) {
  Block* block = q->head;
  while (block != nullptr) {
    Block* next = block->next;
    free(block);
    block = next;
  }
  free(q->spare);
  q->head = q->tail = q->spare = nullptr;
}

}  // namespace

LiveQueue* StartLiveQueue(const InputFile& input, uint64_t capacity) {
  LiveQueue* q = new (std::nothrow) LiveQueue;
  if (q == nullptr) return nullptr;
  q->input = input;
  q->capacity = capacity == 0 ? 1 : capacity;
  uint64_t budget = q->capacity * kBytesPerLine / kBlockSize;
  q->maxBlocks = budget < 4 ? 4 : budget;
  q->head = q->tail = NewBlock();
  if (q->head == nullptr) {
    delete q;
    return nullptr;
  }
  q->blocks = 1;
  try {
    q->reader = std::thread(ReadLoop, q);
  } catch (...) {
    FreeBlocks(q);
    delete q;
    return nullptr;
  }
  return q;
}

LiveStatus NextLiveLine(LiveQueue* q, const char** line, size_t* length, bool* tooLong, int waitMilliseconds) {
  bool waitedOnce = false;
  for (;;) {
    if (q->takePos < q->takeEnd) {
      char* start = q->head->bytes + q->takePos;
      // Published bytes always end with a newline.
      char* newline = static_cast<char*>(memchr(start, '\n', q->takeEnd - q->takePos));
      size_t lineLength = static_cast<size_t>(newline - start);
      q->takePos += lineLength + 1;
      ++q->lineNumber;
      // Lines are given back in groups, so the reader sees room often
      // enough without a lock per line.
      if (++q->taken >= 1024) {
        std::lock_guard<std::mutex> lock(q->mutex);
        q->queued -= q->taken;
        q->taken = 0;
        q->roomReady.notify_one();
      }
      *line = start;
      *tooLong = lineLength > buslog_reader::kMaxLineLength;
      if (*tooLong) {
        lineLength = 0;
      } else if (lineLength > 0 && start[lineLength - 1] == '\r') {
        --lineLength;
      }
      *length = lineLength;
      return LiveStatus::kLine;
    }
    Block* done = nullptr;
    {
      std::unique_lock<std::mutex> lock(q->mutex);
      if (q->taken > 0) {
        q->queued -= q->taken;
        q->taken = 0;
        q->roomReady.notify_one();
      }
      if (q->head->published > q->takeEnd) {
        q->takeEnd = q->head->published;
        continue;
      }
      if (q->head->sealed) {
        done = q->head;
        q->head = done->next;
        q->takePos = q->takeEnd = 0;
        --q->blocks;
        q->roomReady.notify_one();
        if (q->spare == nullptr) {
          q->spare = done;
          done = nullptr;
        }
      } else if (q->readerDone || (q->stopAsked && q->reading)) {
        return LiveStatus::kEnd;
      } else if (waitedOnce || waitMilliseconds <= 0) {
        return LiveStatus::kIdle;
      } else {
        q->lineReady.wait_for(lock, std::chrono::milliseconds(waitMilliseconds));
        waitedOnce = true;
      }
    }
    free(done);
  }
}

uint64_t LiveLineNumber(const LiveQueue* q) { return q->lineNumber; }

uint64_t LiveDepth(LiveQueue* q) {
  std::lock_guard<std::mutex> lock(q->mutex);
  return q->queued - q->taken;
}

// The lines waiting with the one in hand hold the queue's limit, or one
// short of it: the reader may not yet have filled the room that the last
// frame given up made. Called with the mutex held.
namespace {
bool FullWithLineInHand(const LiveQueue* q) { return (q->queued - q->taken) + 2 >= q->capacity; }
}  // namespace

bool LiveQueueFull(LiveQueue* q) {
  std::lock_guard<std::mutex> lock(q->mutex);
  bool full = FullWithLineInHand(q);
  if (q->taken > 0) {
    q->queued -= q->taken;
    q->taken = 0;
    q->roomReady.notify_one();
  }
  return full;
}

void WaitForFullQueue(LiveQueue* q, int milliseconds) {
  std::unique_lock<std::mutex> lock(q->mutex);
  q->lineReady.wait_for(lock, std::chrono::milliseconds(milliseconds),
                        [q] { return FullWithLineInHand(q) || q->readerDone; });
}

bool LiveInputEnded(LiveQueue* q) {
  std::lock_guard<std::mutex> lock(q->mutex);
  return q->readerDone || q->stopAsked;
}

bool LiveEndedMidLine(LiveQueue* q) {
  std::lock_guard<std::mutex> lock(q->mutex);
  return q->endedMidLine;
}

void StopLiveReading(LiveQueue* q) {
  {
    std::lock_guard<std::mutex> lock(q->mutex);
    if (q->stopAsked) return;
    q->stopAsked = true;
  }
  q->roomReady.notify_all();
  WakeInputReader(q->input);
}

bool FinishLiveQueue(LiveQueue* q, LiveStats* stats) {
  StopLiveReading(q);
  bool done;
  {
    std::unique_lock<std::mutex> lock(q->mutex);
    done = q->lineReady.wait_for(lock, std::chrono::milliseconds(500), [q] { return q->readerDone; });
    stats->deepest = q->deepest;
    stats->readerWaited = q->waited;
    stats->readError = q->readError;
  }
  if (!done) {
    // The reader is stuck in a read the system would not interrupt; it
    // touches nothing but the queue when it returns, and the program ends.
    q->reader.detach();
    return false;
  }
  q->reader.join();
  FreeBlocks(q);
  delete q;
  return true;
}

}  // namespace buslog_host
