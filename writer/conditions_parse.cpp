// Reading filter and trigger texts (conditions.h has the syntax). Each
// problem names its item and says what is accepted there.
#include <cstdio>
#include <cstring>

#include "channels.h"
#include "conditions.h"
#include "hex_digits.h"

namespace buslog_writer {
namespace {

// Items a set takes at most.
constexpr size_t kMostItems = 256;
// The highest bit a signal may use: the last of 64 data bytes.
constexpr uint32_t kMostSignalBit = kMaxFrameData * 8 - 1;

struct Cursor {
  const char* p;
  const char* end;
  bool AtEnd() const { return p == end; }
  bool Take(char c) {
    if (p == end || *p != c) return false;
    ++p;
    return true;
  }
};

using buslog_reader::HexValue;

// Hex digits up to a character that is none: false when there are none or
// more than 8.
bool ReadHex(Cursor* at, uint32_t* value, int* digits) {
  uint32_t v = 0;
  int count = 0;
  while (!at->AtEnd() && HexValue(*at->p) >= 0) {
    if (++count > 8) return false;
    v = v * 16 + static_cast<uint32_t>(HexValue(*at->p++));
  }
  *value = v;
  *digits = count;
  return count > 0;
}

bool ReadDecimal(Cursor* at, uint32_t most, uint32_t* value) {
  uint64_t v = 0;
  const char* start = at->p;
  while (!at->AtEnd() && *at->p >= '0' && *at->p <= '9' && v <= most) v = v * 10 + static_cast<uint32_t>(*at->p++ - '0');
  *value = static_cast<uint32_t>(v);
  return at->p != start && v <= most;
}

// A decimal number, a sign allowed, at most 18 digits either side of the
// point; read without the C library, whose reading depends on the locale.
bool ReadNumber(Cursor* at, double* value) {
  bool negative = false;
  if (!at->AtEnd() && (*at->p == '-' || *at->p == '+')) negative = *at->p++ == '-';
  uint64_t whole = 0, fraction = 0;
  int wholeDigits = 0, fractionDigits = 0;
  for (; !at->AtEnd() && *at->p >= '0' && *at->p <= '9'; ++at->p) {
    if (++wholeDigits > 18) return false;
    whole = whole * 10 + static_cast<uint64_t>(*at->p - '0');
  }
  double scale = 1;
  if (at->Take('.')) {
    for (; !at->AtEnd() && *at->p >= '0' && *at->p <= '9'; ++at->p) {
      if (++fractionDigits > 18) return false;
      fraction = fraction * 10 + static_cast<uint64_t>(*at->p - '0');
      scale *= 10;
    }
  }
  if (wholeDigits + fractionDigits == 0) return false;
  double number = static_cast<double>(whole) + static_cast<double>(fraction) / scale;
  *value = negative ? -number : number;
  return true;
}

// candump's <id>:<mask> (or ~) as the kernel keeps it: an 8-digit
// identifier sets the EFF flag; the mask's error bit is cleared; a mask
// with the EFF flag on a standard identifier compares 11 bits.
void KernelPair(uint32_t id, int digits, uint32_t mask, bool inverted, Condition* condition) {
  uint32_t canId = digits == 8 ? id | kEffFlag : id;
  mask &= ~kErrFlag;
  if ((mask & kEffFlag) != 0 && (canId & kEffFlag) == 0) mask &= kSffMask | kEffFlag | kRtrFlag;
  condition->id = canId & mask;
  condition->mask = mask;
  condition->inverted = inverted;
}

const char kIdAccepted[] = "give 1 to 3 hex digits (up to 7FF), or 8 for an extended identifier";

// The identifier part of an item: <id>, <id>:<mask> or <id>~<mask>.
std::string ReadIdPart(Cursor* at, Condition* condition) {
  const char* start = at->p;
  uint32_t id, mask;
  int digits, maskDigits;
  bool hex = ReadHex(at, &id, &digits);
  if (!hex || (!at->AtEnd() && strchr(":~#", *at->p) == nullptr)) {
    while (!at->AtEnd() && strchr(":~#", *at->p) == nullptr) ++at->p;
    return std::string(start, at->p) + " is not an identifier: " + kIdAccepted;
  }
  if (digits == 8 && (id & kErrFlag) != 0) {
    return "bit 20000000 of an identifier is the kernel's inversion flag; write <id>~<mask> instead";
  }
  bool inverted = !at->AtEnd() && *at->p == '~';
  if (at->Take(':') || at->Take('~')) {
    if (!ReadHex(at, &mask, &maskDigits)) return "the mask after the identifier must be 1 to 8 hex digits";
    KernelPair(id, digits, mask, inverted, condition);
    return std::string();
  }
  bool extended = digits == 8;
  if (!extended && (digits > 3 || id > kSffMask)) return std::string(start, at->p) + " is not an identifier: " + kIdAccepted;
  KernelPair(id, digits, extended ? kEffMask : kSffMask, false, condition);
  return std::string();
}

// Hex bytes, a '.' allowed between them: up to 64.
bool ReadBytes(Cursor* at, uint8_t* bytes, uint8_t* count) {
  uint32_t n = 0;
  while (!at->AtEnd() && HexValue(*at->p) >= 0) {
    if (at->end - at->p < 2 || HexValue(at->p[1]) < 0 || n == kMaxFrameData) return false;
    bytes[n++] = static_cast<uint8_t>(HexValue(at->p[0]) * 16 + HexValue(at->p[1]));
    at->p += 2;
    if (!at->AtEnd() && *at->p == '.' && at->end - at->p > 1 && HexValue(at->p[1]) >= 0) ++at->p;
  }
  *count = static_cast<uint8_t>(n);
  return n > 0;
}

std::string ReadData(Cursor* at, Condition* condition) {
  condition->kind = ConditionKind::kData;
  if (!ReadBytes(at, condition->data, &condition->dataLength)) {
    return "the data after # must be 1 to 64 bytes of two hex digits each, e.g. 0210 or 02.10";
  }
  memset(condition->dataMask, 0xFF, condition->dataLength);
  if (at->Take('/')) {
    uint8_t maskLength;
    if (!ReadBytes(at, condition->dataMask, &maskLength) || maskLength != condition->dataLength) {
      return "the mask after / must have as many bytes as the data (" + std::to_string(condition->dataLength) + ")";
    }
  }
  return at->AtEnd() ? std::string() : "unexpected " + std::string(at->p, at->end) + " after the data";
}

bool ReadCompare(Cursor* at, Compare* compare) {
  struct Operator {
    const char* text;
    Compare compare;
  } static const kOperators[] = {{"<=", Compare::kLessOrEqual}, {">=", Compare::kGreaterOrEqual},
                                 {"==", Compare::kEqual},       {"!=", Compare::kNotEqual},
                                 {"<", Compare::kLess},         {">", Compare::kGreater},
                                 {"=", Compare::kEqual}};
  for (const Operator& op : kOperators) {
    size_t length = strlen(op.text);
    if (static_cast<size_t>(at->end - at->p) >= length && memcmp(at->p, op.text, length) == 0) {
      at->p += length;
      *compare = op.compare;
      return true;
    }
  }
  return false;
}

// True when every bit of the signal lies within 64 data bytes.
bool SignalFits(const Signal& signal) {
  if (signal.intel) return signal.startBit + signal.length - 1u <= kMostSignalBit;
  uint32_t bit = signal.startBit;
  for (uint32_t i = 1; i < signal.length; ++i) {
    bit = NextMotorolaBit(bit);
    if (bit > kMostSignalBit) return false;
  }
  return true;
}

const char kSignalForm[] = "a signal is START|LENGTH@ORDER SIGN, e.g. 16|16@1+ (@1 Intel, @0 Motorola; + unsigned, "
                           "- signed), then *FACTOR, +OFFSET or -OFFSET, a comparison (< <= > >= == !=) and a number";

std::string ReadSignal(Cursor* at, Condition* condition) {
  condition->kind = ConditionKind::kSignal;
  Signal& s = condition->signal;
  uint32_t start, length;
  if (!ReadDecimal(at, kMostSignalBit, &start) || !at->Take('|') || !ReadDecimal(at, 64, &length) || length == 0 ||
      !at->Take('@') || at->AtEnd() || (*at->p != '0' && *at->p != '1')) {
    return kSignalForm;
  }
  s.startBit = static_cast<uint16_t>(start);
  s.length = static_cast<uint8_t>(length);
  s.intel = *at->p++ == '1';
  if (at->Take('-')) {
    s.isSigned = true;
  } else if (!at->Take('+')) {
    return kSignalForm;
  }
  s.factor = 1;
  s.offset = 0;
  if (at->Take('*') && !ReadNumber(at, &s.factor)) return "the factor after * must be a number, e.g. 0.01";
  if (!at->AtEnd() && (*at->p == '+' || *at->p == '-') && !ReadNumber(at, &s.offset)) {
    return "the offset must be a number after + or -, e.g. -40";
  }
  if (!ReadCompare(at, &s.compare)) return "a comparison (< <= > >= == !=) and a threshold must follow the signal";
  if (!ReadNumber(at, &s.threshold) || !at->AtEnd()) return "the threshold must be a number, e.g. 100 or -12.5";
  if (!SignalFits(s)) return "the signal's bits go past the 64th data byte";
  return std::string();
}

// One item of a set into `set`; its problem, or empty.
std::string ReadItem(Cursor at, SyntaxUse use, ConditionSet* set) {
  if (at.end - at.p == 1 && (*at.p == 'j' || *at.p == 'J')) {
    set->join = true;
    return std::string();
  }
  if (at.Take('#')) {
    uint32_t mask;
    int digits;
    if (!ReadHex(&at, &mask, &digits) || !at.AtEnd()) return "the error mask after # must be 1 to 8 hex digits";
    if (set->errorMask != 0) return "a set takes one error mask";
    set->errorMask = mask & kEffMask;
    return std::string();
  }
  if (set->conditions.size() == kMostItems) return "a set takes at most 256 items";
  Condition condition = {};
  std::string problem = ReadIdPart(&at, &condition);
  if (problem.empty() && at.Take('#')) {
    if (condition.inverted) return "a condition on the data takes <id> or <id>:<mask> before the #, not ~";
    Cursor look = at;
    uint32_t number;
    bool signal = ReadDecimal(&look, UINT32_MAX, &number) && look.Take('|');
    if (signal && use == SyntaxUse::kFilter) return "a signal comparison belongs to a trigger, not a filter";
    problem = signal ? ReadSignal(&at, &condition) : ReadData(&at, &condition);
  } else if (problem.empty() && !at.AtEnd()) {
    problem = "unexpected " + std::string(at.p, at.end) + " after the identifier";
  }
  if (problem.empty()) set->conditions.push_back(condition);
  return problem;
}

// An interface name has no character of the syntax, and one that is no
// hex digit (else it is read as an identifier: "1234" is a wrong one).
bool LooksLikeName(const char* p, const char* end) {
  bool letter = false;
  for (; p != end; ++p) {
    if (strchr(":~#/|@<>=!", *p) != nullptr) return false;
    letter = letter || HexValue(*p) < 0;
  }
  return letter;
}

// One set: its items separated by commas, maybe an interface first.
std::string ReadSet(const char* p, const char* end, SyntaxUse use, ConditionSet* set, std::string* item) {
  bool first = true;
  for (;;) {
    const char* comma = static_cast<const char*>(memchr(p, ',', static_cast<size_t>(end - p)));
    const char* stop = comma != nullptr ? comma : end;
    item->assign(p, stop);
    if (p == stop) return "an empty item (two commas, or one at an end)";
    std::string problem = ReadItem(Cursor{p, stop}, use, set);
    if (!problem.empty() && first && LooksLikeName(p, stop)) {
      set->interfaceName = *item == "any" ? std::string() : *item;
      if (item->size() > kMaxInterfaceName) return "an interface name has at most 255 bytes";
      problem.clear();
    }
    if (!problem.empty()) return problem;
    first = false;
    if (comma == nullptr) return std::string();
    p = comma + 1;
  }
}

// Sets are separated by blanks, as candump takes them, or by ';' (for
// faces that pass no blanks, such as can.logger's --name=value).
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == ';'; }

bool Fail(const char* label, const std::string& item, const std::string& problem, std::string* why) {
  *why = std::string(label) + (item.empty() ? "" : " ") + item + ": " + problem;
  return false;
}

}  // namespace

bool ParseConditions(const char* text, SyntaxUse use, const char* label, ConditionSets* out, std::string* why) {
  *out = ConditionSets{};
  out->anySet = -1;
  const char* p = text;
  const char* end = text + strlen(text);
  std::string item;
  while (p != end) {
    if (IsBlank(*p)) {
      ++p;
      continue;
    }
    const char* stop = p;
    while (stop != end && !IsBlank(*stop)) ++stop;
    ConditionSet set = {};
    std::string problem = ReadSet(p, stop, use, &set, &item);
    if (!problem.empty()) return Fail(label, item, problem, why);
    for (const ConditionSet& other : out->sets) {
      if (other.interfaceName == set.interfaceName) {
        return Fail(label, std::string(p, stop),
                    set.interfaceName.empty() ? "a second set for every interface: separate items with commas "
                                                "(blanks separate the sets of different interfaces)"
                                              : "a second set for interface " + set.interfaceName, why);
      }
    }
    if (use == SyntaxUse::kTrigger && set.conditions.empty() && set.errorMask == 0) {
      return Fail(label, std::string(p, stop), "a trigger set needs an item that fires, e.g. 7E0", why);
    }
    if (set.interfaceName.empty()) out->anySet = static_cast<int32_t>(out->sets.size());
    out->sets.push_back(set);
    if (!out->text.empty()) out->text += ' ';
    out->text.append(p, stop);
    p = stop;
  }
  if (out->sets.empty()) return Fail(label, std::string(), "give at least one item, e.g. 123:7FF", why);
  return true;
}

}  // namespace buslog_writer
