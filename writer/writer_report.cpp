// The C interface: what a writer did, and what it lost.
#include <cstdio>
#include <cstring>

#include "writer.h"

using namespace buslog_writer;

namespace buslog_writer {

void SnapshotCounts(const Core& core, CountsSnapshot* snapshot) {
  snapshot->tally = core.tally;
  snapshot->stage = core.stage.counts;
  snapshot->files = static_cast<uint32_t>(core.logs.files.size());
  snapshot->removedFiles = core.logs.removed;
  snapshot->framesRemoved = core.logs.framesRemoved;
  Losses& losses = const_cast<Losses&>(core.storage.losses);
  std::lock_guard<std::mutex> lock(losses.mutex);
  snapshot->lost = losses.lost;
  snapshot->losses = static_cast<uint32_t>(losses.ranges.size());
}

void TakeSnapshot(BuslogWriter* writer, CountsSnapshot* snapshot, uint64_t* queued) {
  *queued = 0;
  if (writer->core->settings.mode == BUSLOG_WRITER_QUEUED && !writer->closed) {
    std::lock_guard<std::mutex> lock(writer->queue.mutex);
    *snapshot = writer->queue.snapshot;
    *queued = writer->queue.count;
  } else {
    std::lock_guard<std::mutex> lock(writer->direct);
    SnapshotCounts(*writer->core, snapshot);
  }
}

int Report(BuslogWriter* writer, BuslogWriterReport* report) {
  Core* core = writer->core.get();
  BuslogWriterReport made = {};
  std::string path = core->logs.files.empty() ? core->logs.base : core->logs.files.back().path;
  made.lost = ReportLosses(&core->storage.losses, path, &made.firstLoss, &made.lossCount, &made.error, made.text,
                           sizeof made.text);
  if (report != nullptr) *report = made;
  return made.lost > 0 ? BUSLOG_WRITER_LOST : BUSLOG_WRITER_OK;
}

}  // namespace buslog_writer

extern "C" {

int BuslogWriterGetCounts(BuslogWriter* writer, BuslogWriterCounts* counts) {
  if (writer == nullptr || counts == nullptr) return BUSLOG_WRITER_BAD_ARGUMENT;
  CountsSnapshot snapshot;
  uint64_t queued = 0;
  BuslogWriterCounts made = {};
  TakeSnapshot(writer, &snapshot, &queued);
  {
    std::lock_guard<std::mutex> lock(writer->queue.mutex);
    made.queueDeepest = writer->queue.deepest;
    made.queueWaited = writer->queue.waited;
  }
  const Tally& t = snapshot.tally;
  uint64_t numbered = snapshot.stage.numbered;
  made.framesAdded = numbered;
  made.framesLogged = t.written.frames - t.framesGone;
  made.framesLost = snapshot.lost;
  made.framesRemoved = snapshot.framesRemoved;
  uint64_t done = t.written.frames + snapshot.lost - t.framesGone;
  made.framesPending = (numbered > done ? numbered - done : 0) + queued;
  for (int i = 0; i < 4; ++i) made.loggedByType[i] = t.written.byType[i] - t.goneByType[i];
  made.lines = t.written.lines;
  made.markerLines = t.written.markerLines;
  made.writes = t.writes;
  made.writeFailures = t.writeFailures;
  made.timeBases = t.written.timeBases;
  made.timeJumps = t.written.timeJumps;
  made.clamped = t.written.clamped;
  made.files = snapshot.files;
  made.filesRemoved = snapshot.removedFiles;
  made.losses = snapshot.losses;
  {
    std::lock_guard<std::mutex> lock(writer->queue.mutex);
    made.channels = writer->channels.count;
  }
  *counts = made;
  return BUSLOG_WRITER_OK;
}

int BuslogWriterGetSelectionCounts(BuslogWriter* writer, BuslogWriterSelectionCounts* counts) {
  if (writer == nullptr || counts == nullptr) return BUSLOG_WRITER_BAD_ARGUMENT;
  CountsSnapshot snapshot;
  uint64_t queued;
  TakeSnapshot(writer, &snapshot, &queued);
  BuslogWriterSelectionCounts made = {};
  {
    std::lock_guard<std::mutex> lock(AddsLock(writer));
    made.framesFiltered = writer->selection.filtered;
  }
  const StageCounts& stage = snapshot.stage;
  made.framesOutside = stage.outside;
  made.windows = stage.windows;
  made.framesGivenUp = stage.givenUp;
  made.framesGivenUpLost = stage.givenUpLost;
  made.preBytes = writer->core->stage.settings.preMicros > 0 ? writer->core->stage.settings.preBytes : 0;
  made.preMostUsed = stage.preMostUsed;
  *counts = made;
  return BUSLOG_WRITER_OK;
}

int BuslogWriterGetFile(BuslogWriter* writer, uint32_t index, BuslogWriterFile* file) {
  if (writer == nullptr || file == nullptr) return BUSLOG_WRITER_BAD_ARGUMENT;
  // A queued writer's thread changes the list until it is closed.
  if (writer->core->settings.mode == BUSLOG_WRITER_QUEUED && !writer->closed) return BUSLOG_WRITER_BAD_ARGUMENT;
  if (index >= writer->core->logs.files.size()) return BUSLOG_WRITER_BAD_ARGUMENT;
  const LogFileEntry& entry = writer->core->logs.files[index];
  *file = BuslogWriterFile{};
  snprintf(file->path, sizeof file->path, "%s", entry.path.c_str());
  file->lines = entry.lines;
  file->bytes = entry.bytes;
  file->firstFrame = entry.firstFrame;
  file->lastFrame = entry.lastFrame;
  file->fate = entry.fate;
  file->cutEnd = entry.cutEnd ? 1 : 0;
  file->haveStart = entry.haveStart ? 1 : 0;
  file->relative = entry.haveStart && RelativeTime(entry.start) ? 1 : 0;
  file->startSeconds = entry.start.seconds;
  file->startMicros = entry.start.micros;
  return BUSLOG_WRITER_OK;
}

int BuslogWriterGetLoss(BuslogWriter* writer, uint32_t index, BuslogWriterLoss* loss) {
  if (writer == nullptr || loss == nullptr) return BUSLOG_WRITER_BAD_ARGUMENT;
  Losses& losses = writer->core->storage.losses;
  std::lock_guard<std::mutex> lock(losses.mutex);
  if (index >= losses.ranges.size()) return BUSLOG_WRITER_BAD_ARGUMENT;
  const LossRange& range = losses.ranges[index];
  *loss = BuslogWriterLoss{};
  loss->firstFrame = range.first;
  loss->lastFrame = range.last;
  const LossReason& reason = losses.reasons[range.reason];
  loss->error = reason.error;
  snprintf(loss->reason, sizeof loss->reason, "%s", reason.text.c_str());
  loss->kind = reason.kind;
  return BUSLOG_WRITER_OK;
}

int BuslogWriterGetChannel(BuslogWriter* writer, uint32_t index, BuslogWriterChannel* channel) {
  if (writer == nullptr || channel == nullptr) return BUSLOG_WRITER_BAD_ARGUMENT;
  std::lock_guard<std::mutex> lock(writer->queue.mutex);
  if (index >= writer->channels.count) return BUSLOG_WRITER_BAD_ARGUMENT;
  *channel = BuslogWriterChannel{};
  channel->channel = index;
  channel->nameLength = writer->channels.lengths[index];
  memcpy(channel->name, writer->channels.names[index], channel->nameLength);
  return BUSLOG_WRITER_OK;
}

}  // extern "C"
