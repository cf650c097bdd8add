// libFuzzer target over the host's candump input: any bytes as a trace,
// read line by line by the line reader from a memory stream, each line
// parsed and, when it is a frame, laid out as a CAN record; and the whole
// input parsed as one line. Each line is parsed from a copy of exactly its
// length, and the record is built into a buffer of exactly kMaxCanRecord
// bytes, so AddressSanitizer sees any read past the line or write past the
// record. Traps when a parsed frame breaks what the replay relies on.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <cstdint>
#include <memory>

#include "candump.h"
#include "line_source.h"

namespace {

using namespace buslog_host;

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

void ParseAndBuild(const char* text, size_t length) {
  // A copy of exactly the line's bytes: nothing behind it to read.
  std::unique_ptr<char[]> line(new char[length > 0 ? length : 1]);
  if (length > 0) memcpy(line.get(), text, length);
  CandumpFrame frame;
  const char* why = ParseCandumpLine(line.get(), length, &frame);
  if (why != nullptr) {
    Check(why[0] != '\0');
    return;
  }
  // The interface name lies within the line.
  Check(frame.interfaceName >= line.get() && frame.interfaceLength <= length &&
        frame.interfaceName + frame.interfaceLength <= line.get() + length);
  Check(frame.micros < 1000000);
  Check(frame.length <= kMaxCanData);
  Check(frame.dlc <= 15);
  Check(frame.id <= (frame.extended ? 0x1FFFFFFFu : 0x7FFu));
  if (frame.kind != CanFrameKind::kFd) Check(frame.kind == CanFrameKind::kRemote || frame.length <= 8);
  std::unique_ptr<uint8_t[]> record(new uint8_t[kMaxCanRecord]);
  uint32_t size = BuildCanRecord(frame, record.get());
  Check(size <= kMaxCanRecord);
  Check(size >= (frame.extended ? 5u : 3u));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  const char* text = reinterpret_cast<const char*>(bytes);
  ParseAndBuild(text, size);
  if (size == 0) return 0;

  FILE* stream = fmemopen(const_cast<char*>(text), size, "rb");
  if (stream == nullptr) return 0;
  buslog_reader::LineSource reader;
  if (buslog_reader::OpenLineSource(&reader, stream)) {
    const char* line;
    size_t length;
    bool tooLong;
    uint64_t lines = 0;
    size_t consumed = 0;
    while (buslog_reader::NextWholeLine(&reader, &line, &length, &tooLong)) {
      ++lines;
      Check(reader.lineNumber == lines);
      Check(length <= buslog_reader::kMaxLineLength);
      Check(!tooLong || length == 0);
      consumed += length;
      Check(consumed <= size);
      if (!tooLong) ParseAndBuild(line, length);
    }
    Check(!reader.readError);
    buslog_reader::CloseLineSource(&reader);
  }
  fclose(stream);
  return 0;
}
