// libFuzzer target over the nine exports: decodes each input into a run of
// export calls, makes them on the module's own objects linked in, and traps
// as soon as a call breaks what every host relies on (bounded line, whole
// writes, result counts and cells).
//
// Input format, one call after another until the input ends (all values
// little-endian; past the end of the input every byte reads as 0):
//   op byte, op % 9:  0 Open  1 Close  2 PutError  3 PutFrame  4 PutFrameId
//                     5 PutString  6 PutTimeStamp  7 ShareMode  8 Write
//   Open          name byte % 8: 0-3 "f0.log".."f3.log", 4 count 0 and no
//                 data, 5 count 0 with data, 6 one byte too long for the
//                 path limit, 7 the longest name that fits
//   Close, Write  count
//   PutError, PutFrameId, PutTimeStamp, ShareMode
//                 count, then min(count, 8) values of 4 bytes when count is
//                 at most 8, else as many values as the export reads
//   PutString     length, data
//   PutFrame      kind byte, bus byte, channel byte, status byte, length,
//                 data, then whatever a port or environment record reads
//                 beyond the data length (taken from the input)
// count:  byte < 0xF0: byte % 9; else the next 4 bytes
// length: byte < 0x80: that many bytes from the input;
//         byte < 0xC0: next 2 bytes % 100001, data from the input, where
//                      it runs out filled with a fixed pattern;
//         else: ((byte & 0x3F) << 16 | next 2 bytes) % 100001, data all
//                      one fill byte (the byte after the length)
// kind, bus, channel, status: byte < 0xF0 picks from a small table of
//         useful values; else the next 4 bytes are the value itself
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "buslog.h"
#include "plugin/module_state.h"

namespace {

constexpr uint32_t kMaxDataLength = 100000;
constexpr int kMaxCallsPerInput = 256;

std::string g_directory;  // the temporary base directory, with separator
void* g_openCell = nullptr;
void* g_shareModeCell = nullptr;
void* g_writeCell = nullptr;

void Check(bool ok, const char* what) {
  if (ok) return;
  fprintf(stderr, "exports_fuzzer: invariant broken: %s\n", what);
  __builtin_trap();
}

// Reads the input front to back; bytes past its end read as 0.
struct Reader {
  const uint8_t* next;
  const uint8_t* end;
};

bool AtEnd(const Reader& in) { return in.next >= in.end; }

uint8_t TakeByte(Reader& in) { return AtEnd(in) ? 0 : *in.next++; }

uint32_t TakeWord(Reader& in) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(TakeByte(in)) << (8 * i);
  return value;
}

uint32_t TakeShort(Reader& in) {
  uint32_t low = TakeByte(in);
  return low | static_cast<uint32_t>(TakeByte(in)) << 8;
}

// Appends `count` bytes from the input; where it runs out, a fixed pattern
// of non-zero bytes, so long texts stay long.
void TakeBytes(Reader& in, uint32_t count, std::vector<uint8_t>& out) {
  size_t available = static_cast<size_t>(in.end - in.next);
  size_t fromInput = count < available ? count : available;
  out.insert(out.end(), in.next, in.next + fromInput);
  in.next += fromInput;
  for (size_t i = fromInput; i < count; ++i) out.push_back(static_cast<uint8_t>('a' + i % 26));
}

uint32_t TakeCount(Reader& in) {
  uint8_t byte = TakeByte(in);
  return byte < 0xF0 ? byte % 9u : TakeWord(in);
}

// A data length and the data it covers.
std::vector<uint8_t> TakeData(Reader& in) {
  uint8_t byte = TakeByte(in);
  std::vector<uint8_t> data;
  if (byte < 0x80) {
    TakeBytes(in, byte, data);
  } else if (byte < 0xC0) {
    TakeBytes(in, TakeShort(in) % (kMaxDataLength + 1), data);
  } else {
    uint32_t length = ((static_cast<uint32_t>(byte & 0x3F) << 16) | TakeShort(in)) % (kMaxDataLength + 1);
    data.assign(length, TakeByte(in));
  }
  return data;
}

uint32_t TakeChoice(Reader& in, const uint32_t* table, uint32_t tableSize) {
  uint8_t byte = TakeByte(in);
  return byte < 0xF0 ? table[byte % tableSize] : TakeWord(in);
}

// Values for a word-taking export: exactly `count` words when count is
// small, else the `reads` words the export reads of a huge count.
std::vector<uint32_t> TakeValues(Reader& in, uint32_t count, uint32_t reads) {
  uint32_t words = count <= 8 ? count : reads;
  std::vector<uint32_t> values;
  for (uint32_t i = 0; i < words; ++i) values.push_back(TakeWord(in));
  return values;
}

constexpr uint32_t kKinds[] = {BUSLOG_KIND_OUT, BUSLOG_KIND_IN, BUSLOG_KIND_PORT, BUSLOG_KIND_ENV,
                               BUSLOG_KIND_MARKER, 0x3032};
constexpr uint32_t kBuses[] = {BUSLOG_BUS_PORT_IN, BUSLOG_BUS_CAN, BUSLOG_BUS_LIN, BUSLOG_BUS_CXPI,
                               BUSLOG_BUS_PORT_OUT, BUSLOG_BUS_NUMBERED, 1};
constexpr uint32_t kChannels[] = {0, 1, 2, 98, 99, 0xFFFFFFFF, 0x7FFFFFFF, 0x80000000};
constexpr uint32_t kStatuses[] = {0, 1, 0xFFFFFFFF};

// Port and environment records read by their own extent, not by the data
// length: grow the data until every byte those rules read is there.
void AddRecordExtent(Reader& in, uint32_t kind, uint32_t bus, std::vector<uint8_t>& data) {
  bool byBus = bus == BUSLOG_BUS_CAN || bus == BUSLOG_BUS_LIN || bus == BUSLOG_BUS_CXPI;
  if (kind == BUSLOG_KIND_PORT && (bus == BUSLOG_BUS_PORT_IN || bus == BUSLOG_BUS_PORT_OUT)) {
    // Byte 0 is the pair count n; the rule reads 1 + 2n bytes.
    if (data.empty()) TakeBytes(in, 1, data);
    size_t needed = 1 + 2 * static_cast<size_t>(data[0]);
    if (data.size() < needed) TakeBytes(in, static_cast<uint32_t>(needed - data.size()), data);
  } else if (kind == BUSLOG_KIND_ENV && !byBus) {
    // The name to its zero byte, two length bytes, then that many value bytes.
    size_t zero = 0;
    while (zero < data.size() && data[zero] != 0) ++zero;
    if (zero == data.size()) data.push_back(0);
    if (data.size() < zero + 3) TakeBytes(in, static_cast<uint32_t>(zero + 3 - data.size()), data);
    size_t valueLength = static_cast<size_t>(data[zero + 1]) << 8 | data[zero + 2];
    size_t needed = zero + 3 + valueLength;
    if (data.size() < needed) TakeBytes(in, static_cast<uint32_t>(needed - data.size()), data);
  }
}

// The cell an export hands out must be the one it handed out first.
void CheckCell(void*& known, void* handed, const char* what) {
  Check(handed != nullptr, what);
  if (known == nullptr) known = handed;
  Check(known == handed, what);
}

// Size of a file by its path, or -1 if it is not there.
long long FileSize(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return -1;
  return static_cast<long long>(info.st_size);
}

// The last `count` bytes of a file.
std::string FileTail(const std::string& path, size_t count) {
  std::string tail(count, '\0');
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  Check(fd >= 0, "log file readable");
  off_t size = lseek(fd, 0, SEEK_END);
  Check(size >= static_cast<off_t>(count), "log file long enough");
  ssize_t got = pread(fd, &tail[0], count, size - static_cast<off_t>(count));
  close(fd);
  Check(got == static_cast<ssize_t>(count), "log file tail read");
  return tail;
}

// What the run knows of the module from outside: which log file it holds.
struct Model {
  bool open;
  std::string path;
};

std::string OpenName(uint8_t selector, size_t baseLength) {
  switch (selector % 8) {
    case 0: return "f0.log";
    case 1: return "f1.log";
    case 2: return "f2.log";
    case 3: return "f3.log";
    case 4:
    case 5: return "";
    case 6: return std::string(buslog::kMaxPath - baseLength, 'L');
    default: return std::string(buslog::kMaxPath - 1 - baseLength, 'L');
  }
}

void CallOpen(Reader& in, Model& model) {
  uint8_t selector = TakeByte(in);
  std::string name = OpenName(selector, g_directory.size());
  // Exactly the name's bytes, in their own allocation; none for selector 4.
  std::vector<uint8_t> bytes(name.begin(), name.end());
  if (selector % 8 == 5) bytes.reserve(1);
  const void* data = selector % 8 == 4 ? nullptr : bytes.data();
  const buslog::FileHandle before = buslog::g_module.log.handle;

  int32_t resultCount = -1;
  void* cell = nullptr;
  Open(static_cast<uint32_t>(name.size()), data, &resultCount, &cell);
  Check(resultCount == 1, "Open result count is 1");
  CheckCell(g_openCell, cell, "Open hands out the same cell");
  uint8_t result = *static_cast<uint8_t*>(cell);

  if (model.open) {
    Check(result == BUSLOG_OPEN_BUSY, "Open with a file open gives 3");
    Check(buslog::g_module.log.handle == before, "Open with a file open keeps the handle");
    return;
  }
  bool tooLong = g_directory.size() + name.size() + 1 > buslog::kMaxPath;
  if (name.empty() || tooLong) {
    Check(result == BUSLOG_OPEN_BAD_NAME, "Open of an empty or too long name gives 1");
    Check(buslog::g_module.log.handle == buslog::kNoFile, "refused Open keeps no handle");
    return;
  }
  Check(result == BUSLOG_OPEN_OK, "Open of a good name in a writable directory gives 0");
  Check(buslog::g_module.log.handle != buslog::kNoFile, "successful Open keeps a handle");
  model.open = true;
  model.path = g_directory + name;
  Check(FileSize(model.path) == 0, "Open creates an empty file");
}

void CallClose(Reader& in, Model& model) {
  int32_t resultCount = -1;
  Close(TakeCount(in), nullptr, &resultCount);
  Check(resultCount == 0, "Close result count is 0");
  Check(buslog::g_module.log.handle == buslog::kNoFile, "Close leaves no handle");
  Check(buslog::g_module.line.length == 0, "Close empties the pending line");
  model.open = false;
}

void CallWrite(Reader& in, Model& model) {
  const uint32_t pending = buslog::g_module.line.length;
  const std::string line(buslog::g_module.line.bytes, pending);
  const long long sizeBefore = model.open ? FileSize(model.path) : -1;

  int32_t resultCount = -1;
  void* cell = nullptr;
  Write(TakeCount(in), nullptr, &resultCount, &cell);
  Check(resultCount == 1, "Write result count is 1");
  CheckCell(g_writeCell, cell, "Write hands out the same cell");
  uint8_t result = *static_cast<uint8_t*>(cell);
  Check(buslog::g_module.line.length == 0, "Write empties the pending line");

  if (!model.open) {
    Check(result == 1, "Write with no file open gives 1");
    return;
  }
  Check(result == 0, "Write to an open file gives 0");
  Check(FileSize(model.path) == sizeBefore + pending + 2, "Write grows the file by line + CR LF");
  Check(FileTail(model.path, pending + 2) == line + "\r\n", "Write writes the pending line and CR LF");
}

void CallShareMode(Reader& in) {
  uint32_t count = TakeCount(in);
  std::vector<uint32_t> values = TakeValues(in, count, 1);
  uint32_t before = buslog::g_module.log.shareModeResult;
  int32_t resultCount = -1;
  void* cell = nullptr;
  ShareMode(count, values.empty() ? nullptr : values.data(), &resultCount, &cell);
  Check(resultCount == 1, "ShareMode result count is 1");
  CheckCell(g_shareModeCell, cell, "ShareMode hands out the same cell");
  uint32_t result;
  memcpy(&result, cell, sizeof result);
  Check(result == (count == 0 ? before : 0u), "ShareMode result 0, or unchanged without a value");
}

// The calls that add to the pending line: the line may only grow, never
// past its limit, and what it held stays as it was.
template <typename Call>
void CallAppending(const Call& call) {
  const uint32_t before = buslog::g_module.line.length;
  const std::string prefix(buslog::g_module.line.bytes, before);
  int32_t resultCount = -1;
  call(&resultCount);
  Check(resultCount == 0, "result count is 0");
  const uint32_t after = buslog::g_module.line.length;
  Check(after <= buslog::kLineLimit, "line length at most 4096");
  Check(after >= before, "the pending line never shrinks");
  Check(memcmp(prefix.data(), buslog::g_module.line.bytes, before) == 0,
        "appending leaves the pending line as it was");
}

void CallValues(Reader& in, uint32_t reads, void (*exportFn)(uint32_t, const void*, int32_t*)) {
  uint32_t count = TakeCount(in);
  std::vector<uint32_t> values = TakeValues(in, count, reads);
  CallAppending([&](int32_t* resultCount) {
    exportFn(count, values.empty() ? nullptr : values.data(), resultCount);
  });
}

void CallPutString(Reader& in) {
  std::vector<uint8_t> text = TakeData(in);
  CallAppending([&](int32_t* resultCount) {
    PutString(static_cast<uint32_t>(text.size()), text.empty() ? nullptr : text.data(), resultCount);
  });
}

void CallPutFrame(Reader& in) {
  uint32_t kind = TakeChoice(in, kKinds, sizeof kKinds / sizeof kKinds[0]);
  uint32_t bus = TakeChoice(in, kBuses, sizeof kBuses / sizeof kBuses[0]);
  int32_t channel = static_cast<int32_t>(TakeChoice(in, kChannels, sizeof kChannels / sizeof kChannels[0]));
  int32_t status = static_cast<int32_t>(TakeChoice(in, kStatuses, sizeof kStatuses / sizeof kStatuses[0]));
  std::vector<uint8_t> data = TakeData(in);
  uint32_t dataLength = static_cast<uint32_t>(data.size());
  AddRecordExtent(in, kind, bus, data);
  CallAppending([&](int32_t* resultCount) {
    PutFrame(kind, bus, channel, status, dataLength, data.empty() ? nullptr : data.data(), resultCount);
  });
}

void RemoveDirectory() {
  for (int selector = 0; selector < 8; ++selector) {
    std::string name = OpenName(static_cast<uint8_t>(selector), g_directory.size());
    if (!name.empty()) unlink((g_directory + name).c_str());
  }
  rmdir(g_directory.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // tmpfs when there is one: every write is write-through.
  char pattern[64];
  snprintf(pattern, sizeof pattern, "%s/buslog-fuzz-XXXXXX", access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
  Check(mkdtemp(pattern) != nullptr, "temporary directory created");
  g_directory = std::string(pattern) + "/";
  Check(g_directory.size() < 64, "short base directory");
  memcpy(buslog::g_module.log.baseDirectory, g_directory.c_str(), g_directory.size() + 1);
  atexit(RemoveDirectory);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  Reader in = {bytes, bytes + size};
  Model model = {false, ""};
  // Every input starts with no log file and an empty line.
  int32_t resultCount = -1;
  Close(0, nullptr, &resultCount);

  for (int calls = 0; calls < kMaxCallsPerInput && !AtEnd(in); ++calls) {
    switch (TakeByte(in) % 9) {
      case 0: CallOpen(in, model); break;
      case 1: CallClose(in, model); break;
      case 2: CallValues(in, 1, PutError); break;
      case 3: CallPutFrame(in); break;
      case 4: CallValues(in, 1, PutFrameId); break;
      case 5: CallPutString(in); break;
      case 6: CallValues(in, 2, PutTimeStamp); break;
      case 7: CallShareMode(in); break;
      default: CallWrite(in, model); break;
    }
    Check(buslog::g_module.line.length <= buslog::kLineLimit, "line length at most 4096");
    Check((buslog::g_module.log.handle != buslog::kNoFile) == model.open, "handle held iff a log is open");
  }
  return 0;
}
