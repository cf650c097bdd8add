// Helper of the round-trip tests: writes a candump trace with every form the
// replay accepts, and compares a trace with what `buslog-host convert --to
// candump` gave back after the replay, frame by frame.
//   round_trip_tool generate OUT
//   round_trip_tool compare TRACE CONVERTED
// compare: identifier, extended flag, length code, data, remote length, FD
// flags, error class, interface, direction and the time to the microsecond
// must be equal (the writers keep every time whole). Exit 0 if so.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "candump.h"
#include "line_source.h"

using buslog_host::CandumpFrame;
using buslog_host::CanFrameKind;

namespace {

struct Frame {
  CandumpFrame frame;
  std::string interfaceName;
  uint64_t lineNumber;
};

bool ReadFrames(const char* path, std::vector<Frame>* frames, uint64_t* unparsed) {
  FILE* file = fopen(path, "rb");
  if (file == nullptr) {
    perror(path);
    return false;
  }
  buslog_reader::LineSource reader;
  if (!buslog_reader::OpenLineSource(&reader, file)) return false;
  const char* line;
  size_t length;
  bool tooLong;
  *unparsed = 0;
  while (buslog_reader::NextWholeLine(&reader, &line, &length, &tooLong)) {
    Frame f;
    if (tooLong || length == 0 || buslog_host::ParseCandumpLine(line, length, &f.frame) != nullptr) {
      if (!tooLong && length != 0) ++*unparsed;
      continue;
    }
    f.interfaceName.assign(f.frame.interfaceName, f.frame.interfaceLength);
    f.frame.interfaceName = nullptr;
    f.lineNumber = reader.lineNumber;
    frames->push_back(f);
  }
  buslog_reader::CloseLineSource(&reader);
  fclose(file);
  return true;
}

// ------------------------------------------------------------- generate

uint64_t g_state = 0x2545F4914F6CDD1Dull;
uint32_t Next() {
  g_state = g_state * 6364136223846793005ull + 1442695040888963407ull;
  return static_cast<uint32_t>(g_state >> 33);
}

const uint8_t kFdLengths[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};

struct Writer {
  FILE* out;
  uint64_t micros;  // since the epoch
  int count;
  void Line(const char* iface, const std::string& frame) {
    const char* marks[] = {"", " R", " T"};
    fprintf(out, "(%llu.%06llu) %s %s%s\n", static_cast<unsigned long long>(micros / 1000000),
            static_cast<unsigned long long>(micros % 1000000), iface, frame.c_str(), marks[count % 3]);
    ++count;
    micros += 1000 + Next() % 1000;
  }
};

std::string Id(bool extended, uint32_t id) {
  char text[16];
  snprintf(text, sizeof text, extended ? "%08X" : "%03X", id);
  return text;
}

std::string Bytes(size_t count) {
  std::string text;
  char pair[3];
  for (size_t i = 0; i < count; ++i) {
    snprintf(pair, sizeof pair, "%02X", Next() & 0xFF);
    text += pair;
  }
  return text;
}

int Generate(const char* path) {
  FILE* out = fopen(path, "wb");
  if (out == nullptr) {
    perror(path);
    return 1;
  }
  Writer w = {out, 1700000000ull * 1000000ull, 0};
  const char* ifaces[] = {"can0", "can1", "vcan2"};
  for (int ext = 0; ext < 2; ++ext) {
    uint32_t maxId = ext ? 0x1FFFFFFFu : 0x7FFu;
    for (size_t length = 0; length <= 8; ++length) {
      w.Line(ifaces[length % 3], Id(ext, length == 0 ? 0 : Next() % maxId) + "#" + Bytes(length));
    }
    w.Line("can0", Id(ext, maxId) + "#" + Bytes(8));
    w.Line("can1", Id(ext, 0x123) + "#R");
    for (int length = 0; length <= 8; ++length) {
      w.Line(ifaces[length % 3], Id(ext, Next() % maxId) + "#R" + std::to_string(length));
    }
    for (int code = 0; code < 16; ++code) {
      char flags[2] = {"0123456789ABCDEF"[(code + ext) % 16], 0};
      w.Line(ifaces[code % 3], Id(ext, Next() % maxId) + "##" + flags + Bytes(kFdLengths[code]));
    }
    for (int code = 9; code < 16; ++code) {
      char suffix[3] = {'_', "0123456789ABCDEF"[code], 0};
      w.Line(ifaces[code % 3], Id(ext, Next() % maxId) + "#" + Bytes(8) + suffix);
    }
  }
  const uint32_t classes[] = {0x4, 0x80, 0x1, 0x1FFFFFFF};
  for (uint32_t errorClass : classes) w.Line("can1", Id(true, 0x20000000 | errorClass) + "#" + Bytes(8));
  w.Line("vcan2", Id(true, 0x20000010) + "#" + Bytes(4));
  // Random frames of every form.
  for (int i = 0; i < 600; ++i) {
    bool ext = Next() % 3 == 0;
    uint32_t id = Next() % (ext ? 0x20000000u : 0x800u);
    const char* iface = ifaces[Next() % 3];
    switch (Next() % 6) {
      case 0:
        w.Line(iface, Id(ext, id) + "#R" + (Next() % 2 ? std::to_string(Next() % 9) : ""));
        break;
      case 1: {
        char flags[2] = {"0123456789ABCDEF"[Next() % 16], 0};
        w.Line(iface, Id(ext, id) + "##" + flags + Bytes(kFdLengths[Next() % 16]));
        break;
      }
      case 2:
        w.Line(iface, Id(true, 0x20000000 | (Next() & 0x1FFFFFFF)) + "#" + Bytes(8));
        break;
      case 3: {
        char suffix[3] = {'_', "9ABCDEF"[Next() % 7], 0};
        w.Line(iface, Id(ext, id) + "#" + Bytes(8) + suffix);
        break;
      }
      default:
        w.Line(iface, Id(ext, id) + "#" + Bytes(Next() % 9));
        break;
    }
  }
  // Later frames, for which the log keeps fewer fractional digits.
  const uint64_t later[] = {12345678ull, 123456789ull, 12345678901ull, 123456789012ull, 1234567890123ull};
  for (uint64_t offset : later) {
    w.micros = 1700000000ull * 1000000ull + offset;
    w.Line("can1", Id(false, 0x42) + "#" + Bytes(2));
  }
  return fclose(out) == 0 ? 0 : 1;
}

// -------------------------------------------------------------- compare

int Compare(const char* tracePath, const char* convertedPath) {
  std::vector<Frame> trace, converted;
  uint64_t traceUnparsed, convertedUnparsed;
  if (!ReadFrames(tracePath, &trace, &traceUnparsed) || !ReadFrames(convertedPath, &converted, &convertedUnparsed)) {
    return 1;
  }
  if (convertedUnparsed != 0) {
    fprintf(stderr, "%s: %llu lines are not candump frames\n", convertedPath,
            static_cast<unsigned long long>(convertedUnparsed));
    return 1;
  }
  if (trace.size() != converted.size()) {
    fprintf(stderr, "%llu frames in %s, %llu in %s\n", static_cast<unsigned long long>(trace.size()), tracePath,
            static_cast<unsigned long long>(converted.size()), convertedPath);
    return 1;
  }
  for (size_t i = 0; i < trace.size(); ++i) {
    const CandumpFrame& a = trace[i].frame;
    const CandumpFrame& b = converted[i].frame;
    const char* what = nullptr;
    if (trace[i].interfaceName != converted[i].interfaceName) what = "interface";
    else if (a.kind != b.kind) what = "kind (data, remote, FD, error)";
    else if (a.extended != b.extended) what = "extended flag";
    else if (a.id != b.id) what = a.kind == CanFrameKind::kError ? "error class" : "identifier";
    else if (a.length != b.length) what = a.kind == CanFrameKind::kRemote ? "remote length" : "data length";
    else if (a.dlc != b.dlc) what = "length code";
    else if (a.kind != CanFrameKind::kRemote && memcmp(a.data, b.data, a.length) != 0) what = "data";
    else if (a.kind == CanFrameKind::kFd && a.fdFlags != b.fdFlags) what = "FD flags";
    else if (a.transmitted != b.transmitted) what = "direction";
    else if (a.seconds != b.seconds || a.micros != b.micros) what = "time";
    if (what != nullptr) {
      fprintf(stderr, "frame %llu differs in its %s: %s:%llu against %s:%llu\n",
              static_cast<unsigned long long>(i + 1), what, tracePath,
              static_cast<unsigned long long>(trace[i].lineNumber), convertedPath,
              static_cast<unsigned long long>(converted[i].lineNumber));
      return 1;
    }
  }
  printf("%llu frames equal (%llu lines of the trace are not frames)\n",
         static_cast<unsigned long long>(trace.size()),
         static_cast<unsigned long long>(traceUnparsed));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "generate") == 0) return Generate(argv[2]);
  if (argc == 4 && strcmp(argv[1], "compare") == 0) return Compare(argv[2], argv[3]);
  fprintf(stderr, "usage: round_trip_tool generate OUT | compare TRACE CONVERTED\n");
  return 2;
}
