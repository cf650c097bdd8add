// The summary and the exit status.
#include "logger/summary.h"

#include <cstdio>
#include <string>

#include "log_reader.h"
#include "platform/message.h"

namespace buslog_host {
namespace {

typedef unsigned long long Count;

// "2015-07-10T08:17:32.249713Z", "12.345678 s on the source's clock (no
// date)".
void FormatStart(const BuslogWriterFile& file, char* out, size_t size) {
  char utc[buslog_reader::kUtcTextLength + 1];
  if (file.relative) {
    snprintf(out, size, "%llu.%06u s on the source's clock (no date)", static_cast<Count>(file.startSeconds),
             file.startMicros);
  } else if (buslog_reader::FormatUtc(file.startSeconds, file.startMicros, utc)) {
    snprintf(out, size, "%s", utc);
  } else {
    snprintf(out, size, "(%llu.%06u)", static_cast<Count>(file.startSeconds), file.startMicros);
  }
}

const char* FateText(int32_t fate) {
  switch (fate) {
    case BUSLOG_FILE_DELETED: return "; deleted under the logger";
    case BUSLOG_FILE_UNREACHABLE: return "; no longer reached under this name";
    default: return "";
  }
}

// Lost frames by what lost them: storage, too many interfaces, a stop, logs gone.
struct LossKinds {
  uint64_t storage, interfaces, stop, gone;
};

LossKinds KindsOfLoss(BuslogWriter* writer, const BuslogWriterCounts& counts) {
  LossKinds kinds = {};
  for (uint32_t i = 0; i < counts.losses; ++i) {
    BuslogWriterLoss loss;
    BuslogWriterGetLoss(writer, i, &loss);
    uint64_t frames = static_cast<uint64_t>(loss.lastFrame) - loss.firstFrame + 1;
    switch (loss.kind) {
      case BUSLOG_LOSS_INTERFACES: kinds.interfaces += frames; break;
      case BUSLOG_LOSS_STOP: kinds.stop += frames; break;
      case BUSLOG_LOSS_GONE: kinds.gone += frames; break;
      default: kinds.storage += frames; break;
    }
  }
  return kinds;
}

void PrintMissing(BuslogWriter* writer, const BuslogWriterCounts& counts) {
  const uint32_t kLimit = 20;
  uint64_t shown = 0;
  for (uint32_t i = 0; i < counts.losses; ++i) {
    if (i == kLimit) {
      Message("  missing         %llu more frames in %u more ranges\n", static_cast<Count>(counts.framesLost - shown),
              counts.losses - i);
      break;
    }
    BuslogWriterLoss loss;
    BuslogWriterGetLoss(writer, i, &loss);
    if (loss.firstFrame == loss.lastFrame) {
      Message("  missing         frame %u (%s)\n", loss.firstFrame, loss.reason);
    } else {
      Message("  missing         frames %u-%u (%s)\n", loss.firstFrame, loss.lastFrame, loss.reason);
    }
    shown += static_cast<uint64_t>(loss.lastFrame) - loss.firstFrame + 1;
  }
}

void PrintFiles(BuslogWriter* writer, const BuslogWriterCounts& counts) {
  uint32_t listed = 0;
  for (uint32_t i = 0; i < counts.files; ++i) {
    BuslogWriterFile file;
    BuslogWriterGetFile(writer, i, &file);
    if (file.fate == BUSLOG_FILE_REMOVED) continue;
    ++listed;
    char start[96] = "";
    if (file.haveStart) FormatStart(file, start, sizeof start);
    Message("  log             %s (%llu lines, first frame %s%s%s)\n", file.path, static_cast<Count>(file.lines),
            start, FateText(file.fate), file.cutEnd ? "; ends in a cut line" : "");
  }
  if (listed == 0) Message("  log             none: no line was written\n");
  for (uint32_t i = 0; i < counts.channels; ++i) {
    BuslogWriterChannel channel;
    BuslogWriterGetChannel(writer, i, &channel);
    Message("  %.*s -> channel %u\n", static_cast<int>(channel.nameLength), channel.name, i + 1);
  }
}

// "  removed         frames 1-4120 (by the ring, which keeps this run's
// newest files)", runs of files joined.
void PrintRemoved(BuslogWriter* writer, const BuslogWriterCounts& counts) {
  if (counts.filesRemoved == 0) return;
  Message("  files removed   %u (the ring keeps this run's newest files)\n", counts.filesRemoved);
  uint32_t first = 0, last = 0;
  for (uint32_t i = 0; i <= counts.files; ++i) {
    BuslogWriterFile file = {};
    bool removed = i < counts.files && BuslogWriterGetFile(writer, i, &file) == BUSLOG_WRITER_OK &&
                   file.fate == BUSLOG_FILE_REMOVED && file.firstFrame != 0;
    if (removed && first != 0 && file.firstFrame == last + 1) {
      last = file.lastFrame;
      continue;
    }
    if (first != 0) Message("  removed         frames %u-%u (by the ring, as asked)\n", first, last);
    first = removed ? file.firstFrame : 0;
    last = removed ? file.lastFrame : 0;
  }
}

// Frames read that were meant to be left out: by the filter, or outside
// every trigger window.
uint64_t LeftOut(BuslogWriter* writer) {
  BuslogWriterSelectionCounts selection;
  BuslogWriterGetSelectionCounts(writer, &selection);
  return selection.framesFiltered + selection.framesOutside;
}

// "  left out        120 (by the filter 100, outside the trigger windows 20)"
// and the windows with their pre-trigger buffer.
void PrintSelection(BuslogWriter* writer, const LoggerRequest& request) {
  BuslogWriterSelectionCounts s;
  BuslogWriterGetSelectionCounts(writer, &s);
  Message("  left out        %llu (by the filter %llu, outside the trigger windows %llu)\n",
          static_cast<Count>(s.framesFiltered + s.framesOutside), static_cast<Count>(s.framesFiltered),
          static_cast<Count>(s.framesOutside));
  const SelectionOptions& selection = request.selection;
  if (selection.trigger == nullptr && selection.startTrigger == nullptr && selection.stopTrigger == nullptr) return;
  Message("  windows         %llu\n", static_cast<Count>(s.windows));
  if (s.preBytes == 0) return;
  Message("  pre-trigger     at most %llu of %llu bytes held; %llu frames given up (%llu of them in a window)\n",
          static_cast<Count>(s.preMostUsed), static_cast<Count>(s.preBytes), static_cast<Count>(s.framesGivenUp),
          static_cast<Count>(s.framesGivenUpLost));
}

void PrintCounts(const RunOutcome& outcome, const BuslogWriterCounts& counts, const LossKinds& lost) {
  const ReadTotals& read = outcome.loop->totals;
  const uint64_t* by = counts.loggedByType;
  uint64_t notLogged = counts.framesLost + read.notTaken;
  Message("buslog-host: %s %s\n", outcome.request->recording ? "record from" : "replay of", outcome.traceName);
  Message("  frames read     %llu (data %llu, remote %llu, CAN FD %llu, error %llu)\n", static_cast<Count>(read.frames),
          static_cast<Count>(read.byKind[0]), static_cast<Count>(read.byKind[1]), static_cast<Count>(read.byKind[2]),
          static_cast<Count>(read.byKind[3]));
  Message("  frames logged   %llu (data %llu, remote %llu, CAN FD %llu, error %llu)\n",
          static_cast<Count>(counts.framesLogged), static_cast<Count>(by[0]), static_cast<Count>(by[1]),
          static_cast<Count>(by[2]), static_cast<Count>(by[3]));
  Message("  not logged      %llu (write failed %llu, logs gone %llu, too many interfaces %llu, left at the stop %llu)\n",
          static_cast<Count>(notLogged), static_cast<Count>(lost.storage), static_cast<Count>(lost.gone),
          static_cast<Count>(lost.interfaces), static_cast<Count>(lost.stop + read.notTaken));
  if (read.dropReports > 0) {
    Message("  dropped         %llu frames by the kernel, before candump read them (%llu report%s; %s)\n",
            static_cast<Count>(read.dropped), static_cast<Count>(read.dropReports), read.dropReports == 1 ? "" : "s",
            outcome.request->markers ? "recorded in the log" : "not in the log: marker lines are off");
  }
  Message("  lines skipped   %llu (malformed %llu, of them too long %llu)\n  write failures  %llu\n",
          static_cast<Count>(read.malformed), static_cast<Count>(read.malformed), static_cast<Count>(read.tooLong),
          static_cast<Count>(counts.writeFailures));
  Message("  seconds         %.3f\n  frames/s        %.0f\n", outcome.seconds,
          outcome.seconds > 0 ? static_cast<double>(counts.framesLogged) / outcome.seconds : 0.0);
}

}  // namespace

void PrintSummary(BuslogWriter* writer, const RunOutcome& outcome) {
  BuslogWriterCounts counts;
  BuslogWriterGetCounts(writer, &counts);
  LossKinds lost = KindsOfLoss(writer, counts);
  PrintCounts(outcome, counts, lost);
  if (Selecting(outcome.request->selection)) PrintSelection(writer, *outcome.request);
  if (counts.markerLines > 0) {
    Message("  marker lines    %llu (the files' start, writer and interfaces; not frames)\n",
            static_cast<Count>(counts.markerLines));
  }
  if (outcome.live) {
    Message("  queue           deepest %llu frames; the reader waited %.3f s for room\n",
            static_cast<Count>(counts.queueDeepest), counts.queueWaited);
  }
  if (outcome.stops > 0) Message("  stopped         on request (%d)\n", outcome.stops);
  PrintRemoved(writer, counts);
  PrintMissing(writer, counts);
  PrintFiles(writer, counts);
  if (counts.timeJumps > 0) {
    Message("  time jumps      %llu (each began a new time base)\n", static_cast<Count>(counts.timeJumps));
  }
  if (counts.clamped > 0) {
    Message("  note: %llu frame%s earlier than %s time base, stamped +0.000000\n", static_cast<Count>(counts.clamped),
            counts.clamped == 1 ? " was" : "s were", counts.clamped == 1 ? "its" : "their");
  }
}

int ExitStatus(BuslogWriter* writer, const RunOutcome& outcome) {
  BuslogWriterCounts counts;
  BuslogWriterGetCounts(writer, &counts);
  const ReadLoop& loop = *outcome.loop;
  const ReadTotals& read = loop.totals;
  bool complete = !loop.stoppedEarly && !loop.gaveUp && !outcome.readError && outcome.stops < 2;
  int status = complete && counts.framesLost == 0 && read.notTaken == 0 && read.dropped == 0 ? 0 : 1;
  if (outcome.readError) Message("buslog-host: %s: read error; the replay stopped early\n", outcome.traceName);
  if (loop.gaveUp) {
    Message("buslog-host: %s: writing gave up; the input was not read past line %llu\n", outcome.traceName,
            static_cast<Count>(read.lines));
  }
  if (read.dropped > 0) {
    Message("buslog-host: the kernel dropped %llu frames before candump read them; they are in no log\n",
            static_cast<Count>(read.dropped));
  }
  if (outcome.stops >= 2) {
    uint64_t logged = counts.framesLogged;
    uint64_t leftOut = LeftOut(writer);
    uint64_t notLogged = read.frames > logged + leftOut ? read.frames - logged - leftOut : 0;
    Message("buslog-host: stopped at a second request: of %llu frames read, %llu were logged and %llu not\n",
            static_cast<Count>(read.frames), static_cast<Count>(logged), static_cast<Count>(notLogged));
    status = 1;
  } else if (read.lines == 0 && !outcome.readError && outcome.stops == 0) {
    Message("buslog-host: %s held no lines; nothing was logged\n", outcome.traceName);
    status = 1;
  } else if (read.lines > 0 && read.frames == 0 && !loop.screenFormatSaid && outcome.stops == 0) {
    Message("buslog-host: %s: no candump frames in %llu line%s\n", outcome.traceName, static_cast<Count>(read.lines),
            read.lines == 1 ? "" : "s");
    status = 1;
  }
  return status;
}

}  // namespace buslog_host
