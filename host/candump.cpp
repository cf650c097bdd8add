// candump log lines.
#include "candump.h"

#include <cstring>

namespace buslog_host {
namespace {

struct Cursor {
  const char* next;
  const char* end;
};

// Hexadecimal digit values, -1 for every other byte: one lookup per digit
// on the replay's hot path.
struct HexTable {
  int8_t value[256];
};
constexpr HexTable MakeHexTable() {
  HexTable table = {};
  for (int c = 0; c < 256; ++c) table.value[c] = -1;
  for (int c = '0'; c <= '9'; ++c) table.value[c] = static_cast<int8_t>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) table.value[c] = static_cast<int8_t>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c) table.value[c] = static_cast<int8_t>(c - 'A' + 10);
  return table;
}
constexpr HexTable kHex = MakeHexTable();

inline int HexValue(char c) { return kHex.value[static_cast<unsigned char>(c)]; }

bool AtEnd(const Cursor& at) { return at.next == at.end; }

// The loops below keep the cursor in a local: stores into the frame's bytes
// could otherwise alias it and force a reload at every character.
void SkipBlanks(Cursor* at) {
  const char* p = at->next;
  while (p != at->end && (*p == ' ' || *p == '\t')) ++p;
  at->next = p;
}

// Reads decimal digits into a value of at most `maxDigits` digits.
bool ReadDecimal(Cursor* at, uint64_t* value, int maxDigits, int* digits) {
  *value = 0;
  *digits = 0;
  while (!AtEnd(*at) && *at->next >= '0' && *at->next <= '9') {
    if (*digits == maxDigits) return false;
    *value = *value * 10 + static_cast<uint64_t>(*at->next - '0');
    ++*digits;
    ++at->next;
  }
  return *digits > 0;
}

// "(seconds.fraction)": the fraction is taken to microseconds, padded or
// cut after six digits.
// True when the `count` bytes at `text` are all decimal digits; adds their
// value to `*value` * 10^count.
bool TakeDigits(const char* text, int count, uint64_t* value) {
  uint64_t result = *value;
  for (int i = 0; i < count; ++i) {
    unsigned digit = static_cast<unsigned char>(text[i]) - static_cast<unsigned>('0');
    if (digit > 9) return false;
    result = result * 10 + digit;
  }
  *value = result;
  return true;
}

const char* ParseTimeStamp(Cursor* at, CandumpFrame* frame) {
  // candump writes "(%010lu.%06lu)": take that shape in one step.
  constexpr int kShape = 1 + 10 + 1 + 6 + 1;
  const char* p = at->next;
  uint64_t seconds = 0;
  uint64_t fraction = 0;
  if (at->end - p >= kShape && p[0] == '(' && p[11] == '.' && p[18] == ')' && TakeDigits(p + 1, 10, &seconds) &&
      TakeDigits(p + 12, 6, &fraction)) {
    frame->seconds = seconds;
    frame->micros = static_cast<uint32_t>(fraction);
    at->next += kShape;
    return nullptr;
  }
  if (AtEnd(*at) || *at->next != '(') return "no time stamp";
  ++at->next;
  int digits = 0;
  if (!ReadDecimal(at, &frame->seconds, 19, &digits)) return "bad time stamp";
  if (AtEnd(*at) || *at->next != '.') return "bad time stamp";
  ++at->next;
  uint32_t micros = 0;
  int fractionDigits = 0;
  while (!AtEnd(*at) && *at->next >= '0' && *at->next <= '9') {
    if (fractionDigits < 6) micros = micros * 10 + static_cast<uint32_t>(*at->next - '0');
    ++fractionDigits;
    ++at->next;
  }
  if (fractionDigits == 0) return "bad time stamp";
  for (int pad = fractionDigits; pad < 6; ++pad) micros *= 10;
  frame->micros = micros;
  if (AtEnd(*at) || *at->next != ')') return "bad time stamp";
  ++at->next;
  return nullptr;
}

const char* ParseInterface(Cursor* at, CandumpFrame* frame) {
  SkipBlanks(at);
  const char* start = at->next;
  const char* p = start;
  const char* end = at->end;
  while (p != end && *p != ' ' && *p != '\t') {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x21 || c > 0x7E) return "bad interface name";
    ++p;
  }
  if (p == start) return "no interface";
  at->next = p;
  frame->interfaceName = start;
  frame->interfaceLength = static_cast<size_t>(p - start);
  return nullptr;
}

// Hex byte pairs, optionally separated by dots, up to `maxBytes`.
const char* ParseDataBytes(Cursor* at, uint8_t* data, uint32_t maxBytes, uint8_t* count) {
  const char* p = at->next;
  const char* end = at->end;
  uint32_t n = 0;
  while (p != end) {
    int high = HexValue(*p);
    if (high < 0) {
      if (*p != '.') break;
      ++p;
      continue;
    }
    if (end - p < 2) return "odd number of data digits";
    int low = HexValue(p[1]);
    if (low < 0) return "bad data byte";
    if (n == maxBytes) return "too many data bytes";
    data[n++] = static_cast<uint8_t>(high << 4 | low);
    p += 2;
  }
  at->next = p;
  if (p != end && *p != ' ' && *p != '\t' && *p != '_') return "bad data byte";
  *count = static_cast<uint8_t>(n);
  return nullptr;
}

// CAN FD lengths and their length codes 9 to 15.
constexpr uint8_t kFdLengths[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};

bool FdLengthCode(uint8_t length, uint8_t* code) {
  for (uint8_t i = 0; i < 16; ++i) {
    if (kFdLengths[i] == length) {
      *code = i;
      return true;
    }
  }
  return false;
}

const char* ParseFrame(Cursor* at, CandumpFrame* frame) {
  SkipBlanks(at);
  const char* idStart = at->next;
  const char* p = idStart;
  uint32_t id = 0;
  while (p != at->end && *p != '#') {
    int digit = HexValue(*p);
    if (digit < 0 || p - idStart >= 8) return "bad identifier";
    id = id << 4 | static_cast<uint32_t>(digit);
    ++p;
  }
  at->next = p;
  size_t idDigits = static_cast<size_t>(p - idStart);
  if (AtEnd(*at)) return "no '#' in frame";
  ++at->next;  // '#'
  if (idDigits == 3) {
    if (id > 0x7FF) return "standard identifier above 7FF";
    frame->extended = false;
  } else if (idDigits == 8) {
    frame->extended = true;
    if (id & ~(kCanErrorFlag | 0x1FFFFFFFu)) return "identifier flags other than the error flag";
  } else {
    return "identifier must have 3 or 8 digits";
  }
  frame->kind = (frame->extended && (id & kCanErrorFlag)) ? CanFrameKind::kError : CanFrameKind::kData;
  frame->id = id & 0x1FFFFFFFu;
  frame->fdFlags = 0;

  if (!AtEnd(*at) && *at->next == '#') {
    ++at->next;
    if (frame->kind == CanFrameKind::kError) return "CAN FD error frame";
    if (AtEnd(*at)) return "no CAN FD flags";
    int flags = HexValue(*at->next);
    if (flags < 0) return "bad CAN FD flags";
    ++at->next;
    frame->kind = CanFrameKind::kFd;
    frame->fdFlags = static_cast<uint8_t>(flags);
    if (const char* error = ParseDataBytes(at, frame->data, kMaxCanData, &frame->length)) return error;
    if (!FdLengthCode(frame->length, &frame->dlc)) return "not a CAN FD length";
    return nullptr;
  }
  if (!AtEnd(*at) && (*at->next == 'R' || *at->next == 'r')) {
    ++at->next;
    if (frame->kind == CanFrameKind::kError) return "remote error frame";
    frame->kind = CanFrameKind::kRemote;
    frame->length = 0;
    if (!AtEnd(*at) && *at->next >= '0' && *at->next <= '9') {
      frame->length = static_cast<uint8_t>(*at->next - '0');
      ++at->next;
      if (frame->length > 8) return "remote length above 8";
    }
    frame->dlc = frame->length;
    return nullptr;
  }
  if (const char* error = ParseDataBytes(at, frame->data, 8, &frame->length)) return error;
  frame->dlc = frame->length;
  if (!AtEnd(*at) && *at->next == '_') {
    // "_X": the length code of an 8-byte classic frame, 9 to F.
    ++at->next;
    int code = AtEnd(*at) ? -1 : HexValue(*at->next);
    if (code < 9 || frame->length != 8) return "bad length code";
    frame->dlc = static_cast<uint8_t>(code);
    ++at->next;
  }
  return nullptr;
}

}  // namespace

const char* ParseCandumpLine(const char* line, size_t length, CandumpFrame* frame) {
  Cursor at = {line, line + length};
  SkipBlanks(&at);
  if (const char* error = ParseTimeStamp(&at, frame)) return error;
  if (const char* error = ParseInterface(&at, frame)) return error;
  if (const char* error = ParseFrame(&at, frame)) return error;
  SkipBlanks(&at);
  // A direction mark may follow: R for received, T for transmitted.
  if (!AtEnd(at) && (*at.next == 'R' || *at.next == 'T')) {
    ++at.next;
    SkipBlanks(&at);
  }
  if (!AtEnd(at)) return "unexpected text after the frame";
  return nullptr;
}

uint32_t BuildCanRecord(const CandumpFrame& frame, uint8_t* record) {
  uint32_t size = 0;
  uint32_t dataBytes = frame.kind == CanFrameKind::kRemote ? 0 : frame.length;
  if (frame.extended) {
    record[size++] = static_cast<uint8_t>(0x80 | ((frame.id >> 24) & 0x1F));
    record[size++] = static_cast<uint8_t>(frame.id >> 16);
    record[size++] = static_cast<uint8_t>(frame.id >> 8);
    record[size++] = static_cast<uint8_t>(frame.id);
  } else {
    record[size++] = static_cast<uint8_t>((frame.id >> 8) & 0x07);
    record[size++] = static_cast<uint8_t>(frame.id);
  }
  record[size++] = static_cast<uint8_t>(frame.dlc & 0x0F);
  memcpy(record + size, frame.data, dataBytes);
  return size + dataBytes;
}

}  // namespace buslog_host
