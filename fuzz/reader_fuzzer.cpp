// libFuzzer target over the log reader: any bytes as a log file, read line
// by line through the block reader, and each line parsed on its own too.
// Traps when a parsed line points outside its text or reports counts past
// its arrays; AddressSanitizer and UndefinedBehaviorSanitizer catch the rest.
#include <stdio.h>
#include <stdlib.h>

#include <cstdint>

#include "log_reader.h"

namespace {

using buslog_reader::LogLine;
using buslog_reader::Text;

void Check(bool condition) {
  if (!condition) abort();
}

void CheckInside(const LogLine& line, const Text& text) {
  Check(text.text >= line.text && text.text + text.length <= line.text + line.length);
}

void CheckLine(const LogLine& line) {
  CheckInside(line, line.rest);
  if (line.form == buslog_reader::LineForm::kText) Check(line.why != nullptr);
  if (line.form != buslog_reader::LineForm::kRecord) return;
  const buslog_reader::LogRecord& r = line.record;
  Check(r.dataCount <= buslog_reader::kMaxRecordData);
  Check(r.pinCount <= buslog_reader::kMaxPins);
  Check(line.time.digits <= 6);
  CheckInside(line, r.bus);
  CheckInside(line, r.channelText);
  CheckInside(line, r.name);
  CheckInside(line, r.value);
  CheckInside(line, r.text);
  if (r.type == buslog_reader::RecordType::kCan && r.can.complete) {
    Check(r.can.id <= (r.can.extended ? 0x1FFFFFFFu : 0x7FFu));
    if (r.can.type == buslog_reader::CanType::kFd) Check(r.dataCount == buslog_reader::FdLengthOf(r.can.dlc));
    if (r.can.type == buslog_reader::CanType::kRemote) Check(r.dataCount == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static LogLine line;
  // The whole input as one line.
  buslog_reader::ParseLogLine(reinterpret_cast<const char*>(data), size, &line);
  CheckLine(line);
  // The input as a file.
  FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (file == nullptr) return 0;
  buslog_reader::LogReader reader;
  if (buslog_reader::OpenLogReader(&reader, file)) {
    uint64_t lines = 0;
    while (buslog_reader::NextLogLine(&reader, &line)) {
      CheckLine(line);
      Check(line.number == ++lines);
    }
    buslog_reader::CloseLogReader(&reader);
  }
  fclose(file);
  return 0;
}
