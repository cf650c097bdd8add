// convert --to candump: CAN records as candump log lines.
#include <cstring>
#include <string>

#include "candump.h"
#include "platform/message.h"
#include "tools/convert.h"

namespace buslog_host {
namespace {

using buslog_reader::CanType;
using buslog_reader::LineForm;
using buslog_reader::LogLine;
using buslog_reader::LogReader;
using buslog_reader::LogRecord;
using buslog_reader::RecordType;
using buslog_reader::Text;

typedef unsigned long long Count;

// "  name N" lines for the counts that are not 0.
void PrintReasons(const char* title, const char* const* names, const uint64_t* counts, size_t n) {
  uint64_t sum = 0;
  for (size_t i = 0; i < n; ++i) sum += counts[i];
  Message("  %-16s%llu\n", title, static_cast<Count>(sum));
  for (size_t i = 0; i < n; ++i) {
    if (counts[i] != 0) Message("    %-44s %llu\n", names[i], static_cast<Count>(counts[i]));
  }
}

// A name candump can show as an interface: 1 to kMaxInterfaceName
// printable bytes without blanks or '#'.
bool CandumpCanShow(const std::string& name) {
  if (name.empty() || name.size() > kMaxInterfaceName) return false;
  for (char c : name) {
    if (c <= ' ' || c > '~' || c == '#') return false;
  }
  return true;
}

// Moves an absolute time by --start's shift from the logs' first time base.
void ShiftToStart(const buslog_reader::LogContext& context, const ConvertOptions& options, CandumpTotals* t,
                  uint64_t* seconds, uint32_t* micros) {
  if (!t->shiftKnown) {
    t->shiftKnown = true;
    t->shiftMicros = (static_cast<int64_t>(options.startSeconds) - static_cast<int64_t>(context.startSeconds)) * 1000000 +
                     (static_cast<int64_t>(options.startMicros) - static_cast<int64_t>(context.startMicros));
  }
  int64_t moved = static_cast<int64_t>(*seconds) * 1000000 + *micros + t->shiftMicros;
  if (moved < 0) moved = 0;
  *seconds = static_cast<uint64_t>(moved / 1000000);
  *micros = static_cast<uint32_t>(moved % 1000000);
}

}  // namespace

void WriteCandumpLine(const LogLine& line, const buslog_reader::LogContext& context, const ConvertOptions& options,
                      Output* output, CandumpTotals* t) {
  const LogRecord& r = line.record;
  const buslog_reader::CanRecord& can = r.can;
  if (!can.complete) {
    ++t->incomplete;
    return;
  }
  if (!line.hasTime) {
    ++t->noTime;
    return;
  }
  if (!r.hasChannel || r.channel < 1) {
    ++t->badChannel;
    return;
  }
  uint32_t index = static_cast<uint32_t>(r.channel - 1);
  if (options.interfaceCount > 0 && index >= options.interfaceCount) {
    ++t->noInterface;
    return;
  }
  uint32_t dataCount = r.dataCount;
  if ((can.type == CanType::kData || can.type == CanType::kError) && dataCount > 8) {
    ++t->tooManyBytes;
    return;
  }
  if (can.type == CanType::kRemote && can.dlc > 8) {
    ++t->remoteAbove8;
    return;
  }
  if (can.type == CanType::kError && can.errorClass > 0x1FFFFFFFu) {
    ++t->errorClassTooWide;
    return;
  }

  if (line.time.wholeMayBeCut) ++t->timeMayBeCut;
  CandumpFrame frame;
  if (!context.AbsoluteTime(line.time, &frame.seconds, &frame.micros)) {
    if (!options.haveStart) ++t->noStart;
    frame.seconds = line.time.seconds + options.startSeconds;
    frame.micros = buslog_reader::MicrosOf(line.time) + options.startMicros;
    if (frame.micros >= 1000000) {
      frame.micros -= 1000000;
      ++frame.seconds;
    }
  } else {
    ++t->timedByStart;
    if (options.haveStart) ShiftToStart(context, options, t, &frame.seconds, &frame.micros);
  }
  char defaultName[16];
  const std::string* named = options.interfaceCount > 0 ? nullptr : context.InterfaceName(r.channel);
  if (named != nullptr && !CandumpCanShow(*named)) {
    ++t->badName;
    named = nullptr;
  }
  if (options.interfaceCount > 0) {
    frame.interfaceName = options.interfaces[index].text;
    frame.interfaceLength = options.interfaces[index].length;
  } else if (named != nullptr) {
    frame.interfaceName = named->data();
    frame.interfaceLength = named->size();
  } else {
    memcpy(defaultName, "can", 3);
    frame.interfaceName = defaultName;
    frame.interfaceLength = static_cast<size_t>(WriteUnsigned(defaultName + 3, index) - defaultName);
  }
  frame.extended = can.extended;
  frame.id = can.type == CanType::kError ? can.errorClass : can.id;
  frame.dlc = can.dlc;
  frame.fdFlags = can.fdFlags;
  frame.length = static_cast<uint8_t>(dataCount);
  memcpy(frame.data, r.data, dataCount);
  switch (can.type) {
    case CanType::kRemote:
      frame.kind = CanFrameKind::kRemote;
      frame.length = can.dlc;
      ++t->remote;
      break;
    case CanType::kFd:
      frame.kind = CanFrameKind::kFd;
      ++t->fd;
      break;
    case CanType::kData:
    case CanType::kError:
      frame.kind = can.type == CanType::kData ? CanFrameKind::kData : CanFrameKind::kError;
      if (!(dataCount == 8 && can.dlc > 8) && can.dlc != dataCount) ++t->lengthDiffers;
      ++(can.type == CanType::kData ? t->data : t->error);
      break;
  }
  char mark = 0;
  if (options.direction && (r.kind == 'O' || r.kind == 'I')) mark = r.kind == 'O' ? 'T' : 'R';
  Commit(output, FormatCandumpLine(Reserve(output, kMaxCandumpLine), frame, mark));
}

void CountOther(const LogLine& line, CandumpTotals* t) {
  switch (line.form) {
    case LineForm::kEmpty:
      ++t->empty;
      return;
    case LineForm::kError:
      ++t->errorOnly;
      return;
    case LineForm::kText:
      ++(line.unended ? t->unended : t->text);
      return;
    case LineForm::kRecord:
      break;
  }
  switch (line.record.type) {
    case RecordType::kLin: ++t->lin; break;
    case RecordType::kCxpi: ++t->cxpi; break;
    case RecordType::kPort: ++t->port; break;
    case RecordType::kEnv: ++t->env; break;
    case RecordType::kMarker: ++(line.marker != buslog_reader::BuslogMarker::kNone ? t->buslogMarkers : t->marker); break;
    case RecordType::kGeneric: ++t->generic; break;
    default: break;
  }
}

void PrintCandumpSummary(const CandumpTotals& t, bool outputFailed) {
  // After a write error the frames were converted, not all written.
  Message("  %-16s%llu (data %llu, remote %llu, CAN FD %llu, error %llu)\n", outputFailed ? "converted" : "written",
          static_cast<Count>(t.data + t.remote + t.fd + t.error), static_cast<Count>(t.data),
          static_cast<Count>(t.remote), static_cast<Count>(t.fd), static_cast<Count>(t.error));
  const char* const notShown[] = {"LIN records", "CXPI records", "port records", "environment records",
                                  "marker records", "generic records"};
  const uint64_t notShownCounts[] = {t.lin, t.cxpi, t.port, t.env, t.marker, t.generic};
  PrintReasons("not written", notShown, notShownCounts, 6);
  const char* const skipped[] = {"empty lines",
                                 "error fields without a record",
                                 "text (not a record)",
                                 "last line cut (no line end)",
                                 "CAN records without identifier or length",
                                 "CAN records without a time stamp",
                                 "CAN records on channel \"-\" or below 1",
                                 "CAN records on a channel --interfaces lacks",
                                 "classic CAN records with more than 8 bytes",
                                 "remote frames with a length code above 8",
                                 "error frames whose class is above 1FFFFFFF"};
  const uint64_t skippedCounts[] = {t.empty, t.errorOnly, t.text, t.unended, t.incomplete, t.noTime,
                                    t.badChannel, t.noInterface, t.tooManyBytes, t.remoteAbove8,
                                    t.errorClassTooWide};
  PrintReasons("skipped", skipped, skippedCounts, 11);
  if (t.lengthDiffers != 0) {
    Message("  note: %llu frames had a length code other than their data's; written with the data\n",
            static_cast<Count>(t.lengthDiffers));
  }
  if (t.buslogMarkers != 0) {
    Message("  markers read    %llu (the log's start, writer and interfaces)\n", static_cast<Count>(t.buslogMarkers));
  }
  if (t.timedByStart != 0 && t.noStart != 0) {
    Message("  note: %llu frames had no start marker before them and keep the log's own times (from 0)\n",
            static_cast<Count>(t.noStart));
  }
  if (t.badName != 0) {
    Message("  note: %llu frames are on a channel whose marker names what candump cannot show; written as canN\n",
            static_cast<Count>(t.badName));
  }
  if (t.timeMayBeCut != 0) {
    Message("  note: %llu frames had a time of 8 whole digits and no point, which the log may have cut\n",
            static_cast<Count>(t.timeMayBeCut));
  }
}

}  // namespace buslog_host
