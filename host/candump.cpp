// candump log lines.
#include "candump.h"

#include <cstring>

#include "buslog.h"
#include "hex.h"

namespace buslog_host {
namespace {

// The steps below take the next unread byte and the end of the line and
// return where they stopped, or nullptr after naming the fault in *why.
// Positions stay in locals: the stores into the frame's bytes would
// otherwise force a reload of a cursor kept in memory at every byte.

const char* SkipBlanks(const char* p, const char* end) {
  while (p != end && (*p == ' ' || *p == '\t')) ++p;
  return p;
}

const char* Fail(const char** why, const char* reason) {
  *why = reason;
  return nullptr;
}

// The 8 bytes at `text` as one number, first byte lowest: one load on the
// little-endian machines the host is built for.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the time stamp reader assumes little-endian loads");
inline uint64_t LoadEightBytes(const char* text) {
  uint64_t chunk;
  memcpy(&chunk, text, sizeof chunk);
  return chunk;
}

// True when all 8 bytes of `chunk` (as LoadEightBytes gives them) are
// decimal digits; `*value` becomes their number. Eight digits are taken
// at once: pairs, then pairs of pairs, within the 64-bit word.
inline bool TakeEightDigits(uint64_t chunk, uint32_t* value) {
  constexpr uint64_t kHighNibbles = 0xF0F0F0F0F0F0F0F0u;
  constexpr uint64_t kZeros = 0x3030303030303030u;
  // '0' to '9' are 0x30 to 0x39: high nibble 3, and still 3 after adding 6.
  if ((chunk & kHighNibbles) != kZeros || ((chunk + 0x0606060606060606u) & kHighNibbles) != kZeros) return false;
  uint64_t digits = chunk - kZeros;
  digits = digits * 10 + (digits >> 8);  // bytes 0, 2, 4, 6: two digits each
  constexpr uint64_t kPairs = 0x000000FF000000FFu;
  digits = ((digits & kPairs) * (100 + (1000000ull << 32)) + ((digits >> 16) & kPairs) * (1 + (10000ull << 32))) >> 32;
  *value = static_cast<uint32_t>(digits);
  return true;
}

bool IsDigit(char c) { return static_cast<unsigned>(static_cast<unsigned char>(c) - '0') <= 9; }

// "(seconds.fraction)": the fraction is taken to microseconds, padded or
// cut after six digits.
const char* ParseTimeStamp(const char* p, const char* end, CandumpFrame* frame, const char** why) {
  // candump writes "(%010lu.%06lu)": that shape is taken in one step.
  constexpr int kShape = 1 + 10 + 1 + 6 + 1;
  if (end - p >= kShape && p[0] == '(' && p[11] == '.' && p[18] == ')' && IsDigit(p[1]) && IsDigit(p[2])) {
    uint32_t low8 = 0;
    uint32_t fraction = 0;
    // The fraction's six digits are read with the two bytes before them,
    // the last seconds digit and the point, taken as zeros.
    uint64_t fractionChunk = (LoadEightBytes(p + 10) & ~uint64_t{0xFFFF}) | 0x3030u;
    if (TakeEightDigits(LoadEightBytes(p + 3), &low8) && TakeEightDigits(fractionChunk, &fraction)) {
      uint64_t high2 = static_cast<uint64_t>(p[1] - '0') * 10 + static_cast<uint64_t>(p[2] - '0');
      frame->seconds = high2 * 100000000u + low8;
      frame->micros = fraction;
      return p + kShape;
    }
  }
  if (p == end || *p != '(') return Fail(why, "no time stamp");
  ++p;
  uint64_t seconds = 0;
  int digits = 0;
  for (; p != end && IsDigit(*p); ++p) {
    if (digits++ == 19) return Fail(why, "bad time stamp");
    seconds = seconds * 10 + static_cast<uint64_t>(*p - '0');
  }
  if (digits == 0 || p == end || *p != '.') return Fail(why, "bad time stamp");
  ++p;
  uint32_t micros = 0;
  int fractionDigits = 0;
  for (; p != end && IsDigit(*p); ++p) {
    if (fractionDigits < 6) micros = micros * 10 + static_cast<uint32_t>(*p - '0');
    ++fractionDigits;
  }
  if (fractionDigits == 0 || p == end || *p != ')') return Fail(why, "bad time stamp");
  for (int pad = fractionDigits; pad < 6; ++pad) micros *= 10;
  frame->seconds = seconds;
  frame->micros = micros;
  return p + 1;
}

// What a byte is to an interface name: part of it, the blank that ends it,
// or a byte no name has.
enum NameByte : uint8_t { kNameChar, kNameEnd, kNotName };
struct NameTable {
  uint8_t kind[256];
};
constexpr NameTable MakeNameTable() {
  NameTable table = {};
  for (int c = 0; c < 256; ++c) table.kind[c] = (c >= 0x21 && c <= 0x7E) ? kNameChar : kNotName;
  table.kind[static_cast<unsigned char>(' ')] = kNameEnd;
  table.kind[static_cast<unsigned char>('\t')] = kNameEnd;
  return table;
}
constexpr NameTable kName = MakeNameTable();

const char* ParseInterface(const char* p, const char* end, CandumpFrame* frame, const char** why) {
  p = SkipBlanks(p, end);
  const char* start = p;
  while (p != end && kName.kind[static_cast<unsigned char>(*p)] == kNameChar) ++p;
  if (p != end && kName.kind[static_cast<unsigned char>(*p)] == kNotName) return Fail(why, "bad interface name");
  if (p == start) return Fail(why, "no interface");
  frame->interfaceName = start;
  frame->interfaceLength = static_cast<size_t>(p - start);
  return p;
}

// Hex byte pairs, optionally separated by dots, up to `maxBytes`.
const char* ParseDataBytes(const char* p, const char* end, uint8_t* data, uint32_t maxBytes, uint8_t* count,
                           const char** why) {
  uint32_t n = 0;
  for (;;) {
    // Pairs of digits one after another, the usual form.
    while (end - p >= 2) {
      int high = HexValue(p[0]);
      int low = HexValue(p[1]);
      if ((high | low) < 0) break;
      if (n == maxBytes) return Fail(why, "too many data bytes");
      data[n++] = static_cast<uint8_t>(high << 4 | low);
      p += 2;
    }
    if (p != end && *p == '.') {
      ++p;
      continue;
    }
    if (p != end && HexValue(*p) >= 0) return Fail(why, end - p < 2 ? "odd number of data digits" : "bad data byte");
    break;
  }
  if (p != end && *p != ' ' && *p != '\t' && *p != '_') return Fail(why, "bad data byte");
  *count = static_cast<uint8_t>(n);
  return p;
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

const char* ParseFrame(const char* p, const char* end, CandumpFrame* frame, const char** why) {
  p = SkipBlanks(p, end);
  const char* idStart = p;
  uint32_t id = 0;
  for (int digit; p != end && (digit = HexValue(*p)) >= 0; ++p) id = id << 4 | static_cast<uint32_t>(digit);
  size_t idDigits = static_cast<size_t>(p - idStart);
  if (idDigits > 8 || (p != end && *p != '#')) return Fail(why, "bad identifier");
  if (p == end) return Fail(why, "no '#' in frame");
  ++p;  // '#'
  if (idDigits == 3) {
    if (id > 0x7FF) return Fail(why, "standard identifier above 7FF");
    frame->extended = false;
  } else if (idDigits == 8) {
    frame->extended = true;
    if (id & ~(kCanErrorFlag | 0x1FFFFFFFu)) return Fail(why, "identifier flags other than the error flag");
  } else {
    return Fail(why, "identifier must have 3 or 8 digits");
  }
  frame->kind = (frame->extended && (id & kCanErrorFlag)) ? CanFrameKind::kError : CanFrameKind::kData;
  frame->id = id & 0x1FFFFFFFu;
  frame->fdFlags = 0;

  if (p != end && *p == '#') {
    ++p;
    if (frame->kind == CanFrameKind::kError) return Fail(why, "CAN FD error frame");
    if (p == end) return Fail(why, "no CAN FD flags");
    int flags = HexValue(*p);
    if (flags < 0) return Fail(why, "bad CAN FD flags");
    ++p;
    frame->kind = CanFrameKind::kFd;
    frame->fdFlags = static_cast<uint8_t>(flags);
    p = ParseDataBytes(p, end, frame->data, kMaxCanData, &frame->length, why);
    if (p == nullptr) return nullptr;
    if (!FdLengthCode(frame->length, &frame->dlc)) return Fail(why, "not a CAN FD length");
    return p;
  }
  if (p != end && (*p == 'R' || *p == 'r')) {
    ++p;
    if (frame->kind == CanFrameKind::kError) return Fail(why, "remote error frame");
    frame->kind = CanFrameKind::kRemote;
    frame->length = 0;
    if (p != end && IsDigit(*p)) {
      frame->length = static_cast<uint8_t>(*p - '0');
      ++p;
      if (frame->length > 8) return Fail(why, "remote length above 8");
    }
    frame->dlc = frame->length;
    return p;
  }
  p = ParseDataBytes(p, end, frame->data, 8, &frame->length, why);
  if (p == nullptr) return nullptr;
  frame->dlc = frame->length;
  if (p != end && *p == '_') {
    // "_X": the length code of an 8-byte classic frame, 9 to F.
    ++p;
    int code = p == end ? -1 : HexValue(*p);
    if (code < 9 || frame->length != 8) return Fail(why, "bad length code");
    frame->dlc = static_cast<uint8_t>(code);
    ++p;
  }
  return p;
}

}  // namespace

const char* ParseCandumpLine(const char* line, size_t length, CandumpFrame* frame) {
  const char* end = line + length;
  const char* why = nullptr;
  const char* p = SkipBlanks(line, end);
  if ((p = ParseTimeStamp(p, end, frame, &why)) == nullptr) return why;
  if ((p = ParseInterface(p, end, frame, &why)) == nullptr) return why;
  if ((p = ParseFrame(p, end, frame, &why)) == nullptr) return why;
  p = SkipBlanks(p, end);
  // A direction mark may follow: R for received, T for transmitted.
  frame->transmitted = p != end && *p == 'T';
  if (p != end && (*p == 'R' || *p == 'T')) p = SkipBlanks(p + 1, end);
  if (p != end) return "unexpected text after the frame";
  return nullptr;
}

namespace {

char* WriteDecimal(char* out, uint64_t value) {
  char digits[20];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) *out++ = digits[--count];
  return out;
}

char* WriteHex(char* out, uint32_t value, int digits) {
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) *out++ = kHexDigits[(value >> shift) & 0xF];
  return out;
}

char* WriteDataBytes(char* out, const uint8_t* data, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    *out++ = kHexDigits[data[i] >> 4];
    *out++ = kHexDigits[data[i] & 0xF];
  }
  return out;
}

}  // namespace

char* FormatCandumpLine(char* out, const CandumpFrame& frame, char mark) {
  // (seconds.micros) with the seconds in at least 10 digits.
  *out++ = '(';
  char digits[24];
  char* digitsEnd = WriteDecimal(digits, frame.seconds);
  for (ptrdiff_t pad = 10 - (digitsEnd - digits); pad > 0; --pad) *out++ = '0';
  memcpy(out, digits, static_cast<size_t>(digitsEnd - digits));
  out += digitsEnd - digits;
  *out++ = '.';
  uint32_t micros = frame.micros;
  for (int i = 5; i >= 0; --i, micros /= 10) out[i] = static_cast<char>('0' + micros % 10);
  out += 6;
  *out++ = ')';
  *out++ = ' ';
  memcpy(out, frame.interfaceName, frame.interfaceLength);
  out += frame.interfaceLength;
  *out++ = ' ';
  if (frame.kind == CanFrameKind::kError) {
    out = WriteHex(out, frame.id | kCanErrorFlag, 8);
  } else {
    out = WriteHex(out, frame.id, frame.extended ? 8 : 3);
  }
  *out++ = '#';
  switch (frame.kind) {
    case CanFrameKind::kRemote:
      *out++ = 'R';
      if (frame.length != 0) *out++ = static_cast<char>('0' + frame.length);
      break;
    case CanFrameKind::kFd:
      *out++ = '#';
      *out++ = kHexDigits[frame.fdFlags & 0xF];
      out = WriteDataBytes(out, frame.data, frame.length);
      break;
    case CanFrameKind::kData:
    case CanFrameKind::kError:
      out = WriteDataBytes(out, frame.data, frame.length);
      if (frame.length == 8 && frame.dlc > 8) {
        *out++ = '_';
        *out++ = kHexDigits[frame.dlc & 0xF];
      }
      break;
  }
  if (mark != 0) {
    *out++ = ' ';
    *out++ = mark;
  }
  *out++ = '\n';
  return out;
}

namespace {

constexpr char kDropPrefix[] = "DROPCOUNT: dropped ";

// A decimal number at `*p` (advanced past it), before `end`.
bool TakeDecimal(const char** p, const char* end, uint64_t* value) {
  const char* start = *p;
  uint64_t v = 0;
  while (*p < end && **p >= '0' && **p <= '9' && *p - start < 19) v = v * 10 + static_cast<uint64_t>(*(*p)++ - '0');
  *value = v;
  return *p > start;
}

// The text `word` at `*p` (advanced past it).
bool TakeWord(const char** p, const char* end, const char* word) {
  size_t length = strlen(word);
  if (static_cast<size_t>(end - *p) < length || memcmp(*p, word, length) != 0) return false;
  *p += length;
  return true;
}

}  // namespace

bool IsDropReport(const char* line, size_t length) {
  return length >= sizeof kDropPrefix - 1 && memcmp(line, kDropPrefix, sizeof kDropPrefix - 1) == 0;
}

const char* ParseDropReport(const char* line, size_t length, DropReport* report) {
  const char* p = line;
  const char* end = line + length;
  if (!TakeWord(&p, end, kDropPrefix) || !TakeDecimal(&p, end, &report->count)) return "no count of frames dropped";
  if (!TakeWord(&p, end, " CAN frame")) return "not a count of CAN frames";
  TakeWord(&p, end, "s");
  if (!TakeWord(&p, end, " on '")) return "no interface";
  const char* name = p;
  while (p < end && *p != '\'') ++p;
  if (p == end || p == name || static_cast<size_t>(p - name) > kMaxInterfaceName) return "no interface";
  report->interfaceName = name;
  report->interfaceLength = static_cast<size_t>(p - name);
  ++p;
  TakeWord(&p, end, " socket");
  if (!TakeWord(&p, end, " (total drops ") || !TakeDecimal(&p, end, &report->total) || !TakeWord(&p, end, ")")) {
    return "no total of drops";
  }
  return p == end ? nullptr : "text after the total of drops";
}

uint32_t BuildCanRecord(const CandumpFrame& frame, uint8_t* record) {
  uint32_t dataBytes = frame.kind == CanFrameKind::kRemote ? 0 : frame.length;
  return BuslogBuildCanRecord(record, kMaxCanRecord, frame.extended ? BUSLOG_CAN_EXTENDED : 0, frame.id,
                              frame.dlc & 0x0Fu, frame.data, dataBytes);
}

}  // namespace buslog_host
