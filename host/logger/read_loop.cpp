// The logger's reading.
#include "logger/read_loop.h"

#include "candump.h"
#include "candump_screen.h"
#include "log_reader.h"
#include "platform/message.h"
#include "platform/system.h"

namespace buslog_host {
namespace {

// Warnings printed before the rest are only counted.
constexpr uint64_t kMaxWarnings = 20;

}  // namespace

BuslogFrame WriterFrame(const CandumpFrame& frame) {
  BuslogFrame out = {};
  out.seconds = frame.seconds;
  out.micros = frame.micros;
  out.id = frame.id;
  uint32_t kind = 0;
  switch (frame.kind) {
    case CanFrameKind::kData: break;
    case CanFrameKind::kRemote: kind = BUSLOG_FRAME_REMOTE; break;
    case CanFrameKind::kFd: kind = BUSLOG_FRAME_FD; break;
    case CanFrameKind::kError: kind = BUSLOG_FRAME_ERROR; break;
  }
  out.flags = static_cast<uint8_t>(kind | (frame.extended ? BUSLOG_FRAME_EXTENDED : 0) |
                                   (frame.transmitted ? BUSLOG_FRAME_SENT : 0));
  out.lengthCode = frame.dlc;
  out.fdFlags = frame.fdFlags;
  out.dataLength = frame.kind == CanFrameKind::kRemote ? 0 : frame.length;
  out.data = frame.data;
  out.interfaceName = frame.interfaceName;
  out.interfaceLength = static_cast<uint32_t>(frame.interfaceLength);
  return out;
}

namespace {

// A blank line (or one of blanks only) is no frame and no fault.
bool Blank(const char* line, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (line[i] != ' ' && line[i] != '\t') return false;
  }
  return true;
}

// An input in another format than candump's log format: said once; with
// no frame read yet the input is all in that format, and the run ends
// rather than go on logging nothing.
bool WrongFormat(ReadLoop* loop, const char* line, size_t length, uint64_t lineNumber) {
  const char* advice = nullptr;
  if (IsCandumpScreenLine(line, length)) {
    advice = kCandumpScreenAdvice;
  } else {
    buslog_reader::LogLine parsed;
    buslog_reader::ParseLogLine(line, length, &parsed);
    if (parsed.logLine) {
      advice = "this is a buslog log, not a candump trace: a log goes to buslog-host convert, stats or verify";
    }
  }
  if (advice == nullptr || loop->screenFormatSaid) return false;
  loop->screenFormatSaid = true;
  Message("buslog-host: %s:%llu: %s\n", loop->traceName, static_cast<unsigned long long>(lineNumber), advice);
  if (loop->totals.frames > 0) return false;
  loop->stoppedEarly = true;
  return true;
}

// Hands a frame to the writer. False when the reading is to end.
bool TakeFrame(ReadLoop* loop, const CandumpFrame& frame) {
  ReadTotals& totals = loop->totals;
  ++totals.frames;
  ++totals.byKind[static_cast<int>(frame.kind)];
  BuslogFrame out = WriterFrame(frame);
  int result = BuslogWriterAdd(loop->writer, &out);
  if (result == BUSLOG_WRITER_OK) return true;
  if (result == BUSLOG_WRITER_GAVE_UP) {
    loop->gaveUp = true;
  } else {
    ++totals.notTaken;
  }
  return false;
}

// candump's report of frames the kernel dropped: into the log, where it
// came; never a fault, --strict or not. False when the reading is to end.
bool TakeDropReport(ReadLoop* loop, const DropReport& report) {
  ++loop->totals.dropReports;
  loop->totals.dropped += report.count;
  if (report.count == 0) return true;
  int result = BuslogWriterAddDrops(loop->writer, report.interfaceName, static_cast<uint32_t>(report.interfaceLength),
                                    report.count, report.total);
  return result != BUSLOG_WRITER_CLOSED;
}

}  // namespace

void Warn(ReadLoop* loop, uint64_t lineNumber, const char* why) {
  if (loop->warnings < kMaxWarnings || loop->strict) {
    Message("%s:%llu: warning: %s; line skipped\n", loop->traceName, static_cast<unsigned long long>(lineNumber), why);
  } else if (loop->warnings == kMaxWarnings) {
    Message("%s: further warnings are only counted\n", loop->traceName);
  }
  ++loop->warnings;
}

void ReadLines(ReadLoop* loop, buslog_reader::LineSource* source) {
  ReadTotals& totals = loop->totals;
  const char* line;
  size_t length;
  bool tooLong;
  CandumpFrame frame;
  while (buslog_reader::NextWholeLine(source, &line, &length, &tooLong)) {
    if (StopRequests() > 0) {
      loop->stopped = true;
      return;
    }
    if ((++totals.lines & 0x3FF) == 0 && loop->tick != nullptr) loop->tick(loop->tickContext);
    if (!tooLong && Blank(line, length)) continue;
    if (source->unended && source->read != nullptr) {
      // The feeder stopped in the middle of a line: not a frame to trust.
      ++totals.malformed;
      Warn(loop, source->lineNumber, "the input ended in the middle of a line");
      return;
    }
    DropReport drops;
    if (!tooLong && IsDropReport(line, length) && ParseDropReport(line, length, &drops) == nullptr) {
      if (!TakeDropReport(loop, drops)) return;
      continue;
    }
    const char* why = tooLong ? "line too long to be a frame" : ParseCandumpLine(line, length, &frame);
    if (why == nullptr) {
      if (!TakeFrame(loop, frame)) return;
      continue;
    }
    ++totals.malformed;
    if (tooLong) ++totals.tooLong;
    if (!tooLong && WrongFormat(loop, line, length, source->lineNumber)) return;
    Warn(loop, source->lineNumber, why);
    if (loop->strict) {
      loop->stoppedEarly = true;
      return;
    }
  }
  loop->readError = source->readError;
}

}  // namespace buslog_host
