// Parsing one log line into typed fields, by the rules written down in
// log_reader.h. Every step works on [begin, end) ranges of the line and
// never reads outside them.
#include "log_reader.h"

#include "hex_digits.h"

#include <algorithm>
#include <cstring>

namespace buslog_reader {
namespace {

inline bool IsDigit(char c) { return static_cast<unsigned>(static_cast<unsigned char>(c) - '0') <= 9; }

constexpr uint8_t kFdLengths[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};

// ",(0:ERR=" 8 hex digits ")": 17 characters with its comma.
constexpr size_t kErrorFieldLength = 17;
constexpr char kErrorPrefix[] = ",(0:ERR=";
constexpr size_t kErrorPrefixLength = sizeof kErrorPrefix - 1;

// The frame header's fixed part: ",K," then the bus name padded to 8.
constexpr size_t kBusNameWidth = 8;
struct BusName {
  char padded[kBusNameWidth + 1];
  RecordType type;
};
constexpr BusName kBusNames[] = {
    {"CAN     ", RecordType::kCan},  {"LIN     ", RecordType::kLin}, {"CXPI    ", RecordType::kCxpi},
    {"P/I     ", RecordType::kPort}, {"P/O     ", RecordType::kPort}, {"Env     ", RecordType::kEnv},
    {"Marker  ", RecordType::kMarker},
};

// [begin, end) holds only hex digits, between minDigits and maxDigits of
// them; `*value` becomes their number.
bool HexField(const char* begin, const char* end, size_t minDigits, size_t maxDigits, uint32_t* value) {
  size_t digits = static_cast<size_t>(end - begin);
  if (digits < minDigits || digits > maxDigits) return false;
  uint32_t v = 0;
  for (const char* p = begin; p != end; ++p) {
    int digit = HexValue(*p);
    if (digit < 0) return false;
    v = v << 4 | static_cast<uint32_t>(digit);
  }
  *value = v;
  return true;
}

// ",(0:ERR=XXXXXXXX)" at `field` (17 bytes readable).
bool IsErrorField(const char* field, uint32_t* value) {
  return memcmp(field, kErrorPrefix, kErrorPrefixLength) == 0 && field[kErrorFieldLength - 1] == ')' &&
         HexField(field + kErrorPrefixLength, field + kErrorFieldLength - 1, 8, 8, value);
}

// Takes a trailing error field off [begin, *end): true when there was one.
bool TakeTrailingError(const char* begin, const char** end, LogLine* line) {
  if (static_cast<size_t>(*end - begin) < kErrorFieldLength) return false;
  uint32_t value;
  if (!IsErrorField(*end - kErrorFieldLength, &value)) return false;
  *end -= kErrorFieldLength;
  line->hasError = true;
  line->error = value;
  return true;
}

// Walks ",field,field,..." in [p, end): each call hands out the next field
// without its comma. False at the end, or when the next byte is not a comma.
struct Fields {
  const char* p;
  const char* end;
  bool Next(const char** begin, const char** fieldEnd) {
    if (p == end || *p != ',') return false;
    ++p;
    *begin = p;
    // Fields are short: a loop beats a call to memchr.
    while (p != end && *p != ',') ++p;
    *fieldEnd = p;
    return true;
  }
  bool AtEnd() const { return p == end; }
};

void CheckBehindLeadingBytes(LogLine* line);

const char* Unparsed(LogLine* line, const char* why) {
  line->form = LineForm::kText;
  line->why = why;
  return why;
}

// Data bytes, two hex digits each, to the end of `fields`.
const char* ReadDataBytes(Fields* fields, LogRecord* record) {
  // The usual line: ",XX" after ",XX" up to the end, taken three bytes at a
  // time; anything else goes the field-by-field way below.
  const char* p = fields->p;
  const char* stop = fields->end;
  while (stop - p >= 3 && p[0] == ',' && (stop - p == 3 || p[3] == ',') && record->dataCount < kMaxRecordData) {
    int high = HexValue(p[1]);
    int low = HexValue(p[2]);
    if ((high | low) < 0) break;
    record->data[record->dataCount++] = static_cast<uint8_t>(high << 4 | low);
    p += 3;
  }
  fields->p = p;
  const char* begin;
  const char* end;
  while (fields->Next(&begin, &end)) {
    int high, low;
    if (end - begin != 2 || (high = HexValue(begin[0])) < 0 || (low = HexValue(begin[1])) < 0) {
      return "bad data byte";
    }
    if (record->dataCount == kMaxRecordData) return "too many data bytes";
    record->data[record->dataCount++] = static_cast<uint8_t>(high << 4 | low);
  }
  return fields->AtEnd() ? nullptr : "bad data byte";
}

// The start of the field that ends at `end` (just after its comma), within
// [begin, end); begin itself points at a comma.
const char* FieldStartBefore(const char* begin, const char* end) {
  const char* p = end;
  while (p != begin && p[-1] != ',') --p;
  return p;
}

const char* ReadCanBody(const char* begin, const char* end, LogLine* line) {
  LogRecord* record = &line->record;
  CanRecord* can = &record->can;
  *can = CanRecord{};
  bool errorTaken = TakeTrailingError(begin, &end, line);
  Fields fields = {begin, end};
  const char* f;
  const char* fe;
  uint32_t value;
  if (!fields.Next(&f, &fe)) return fields.AtEnd() ? nullptr : "bad CAN body";
  if (!HexField(f, fe, 1, 1, &value) || value > 7) return "bad CAN flags";
  can->flags = static_cast<uint8_t>(value);
  can->extended = (value & 1) != 0;
  // Identifier pieces: one digit then two in the standard form, four of
  // two digits in the extended form.
  int pieces = can->extended ? 4 : 2;
  for (int i = 0; i < pieces; ++i) {
    if (!fields.Next(&f, &fe)) return fields.AtEnd() ? nullptr : "bad CAN identifier";
    size_t width = (!can->extended && i == 0) ? 1 : 2;
    if (!HexField(f, fe, width, width, &value)) return "bad CAN identifier";
    if (i == 0 && value > (can->extended ? 0x1Fu : 0x7u)) return "bad CAN identifier";
    can->id = can->id << (width * 4) | value;
  }
  if (!fields.Next(&f, &fe)) return fields.AtEnd() ? nullptr : "bad CAN length";
  if (!HexField(f, fe, 1, 1, &value)) return "bad CAN length";
  can->dlc = static_cast<uint8_t>(value);
  can->complete = true;

  // F: the fields from fields.p to end.
  if (errorTaken && !record->ok) {
    can->type = CanType::kError;
    can->errorClass = line->error;
    return ReadDataBytes(&fields, record);
  }
  if (fields.AtEnd()) return nullptr;
  const char* lastBegin = FieldStartBefore(fields.p, end);
  size_t lastLength = static_cast<size_t>(end - lastBegin);
  if (lastLength == 3 && memcmp(lastBegin, "RTR", 3) == 0) {
    if (lastBegin - 1 != fields.p) return "data before RTR";
    can->type = CanType::kRemote;
    return nullptr;
  }
  if (lastLength == 1 && HexValue(*lastBegin) >= 0 && lastBegin - 1 != fields.p) {
    const char* beforeEnd = lastBegin - 1;
    const char* beforeBegin = FieldStartBefore(fields.p, beforeEnd);
    if (beforeEnd - beforeBegin == 2 && beforeBegin[0] == 'F' && beforeBegin[1] == 'D') {
      Fields data = {fields.p, beforeBegin - 1};
      if (ReadDataBytes(&data, record) == nullptr && record->dataCount == kFdLengths[can->dlc]) {
        can->type = CanType::kFd;
        can->fdFlags = static_cast<uint8_t>(HexValue(*lastBegin));
        return nullptr;
      }
      record->dataCount = 0;
    }
  }
  return ReadDataBytes(&fields, record);
}

const char* ReadLinBody(const char* begin, const char* end, LogLine* line) {
  LogRecord* record = &line->record;
  TakeTrailingError(begin, &end, line);
  LinRecord* lin = &record->lin;
  *lin = LinRecord{};
  Fields fields = {begin, end};
  const char* f;
  const char* fe;
  uint32_t value;
  uint8_t* bytes[3] = {&lin->byte0, &lin->byte1, &lin->byte2};
  for (int i = 0; i < 3; ++i) {
    if (!fields.Next(&f, &fe)) return fields.AtEnd() ? nullptr : "bad LIN body";
    if (!HexField(f, fe, i == 1 ? 2 : 1, 2, &value)) return "bad LIN field";
    *bytes[i] = static_cast<uint8_t>(value);
    ++lin->fields;
  }
  return ReadDataBytes(&fields, record);
}

const char* ReadCxpiBody(const char* begin, const char* end, LogLine* line) {
  LogRecord* record = &line->record;
  TakeTrailingError(begin, &end, line);
  CxpiRecord* cxpi = &record->cxpi;
  *cxpi = CxpiRecord{};
  Fields fields = {begin, end};
  const char* f;
  const char* fe;
  uint32_t value;
  uint8_t* values[6] = {&cxpi->bits, &cxpi->parity, &cxpi->frameId, &cxpi->dlc, &cxpi->nm, &cxpi->ct};
  for (int i = 0; i < 6; ++i) {
    if (!fields.Next(&f, &fe)) {
      // The body stops only after a whole group: 1, 3 or 6 values.
      if (fields.AtEnd() && (i == 0 || i == 1 || i == 3)) return nullptr;
      return "bad CXPI body";
    }
    size_t width = i == 2 ? 2 : 1;
    if (!HexField(f, fe, width, width, &value)) return "bad CXPI field";
    *values[i] = static_cast<uint8_t>(value);
    ++cxpi->fields;
  }
  return ReadDataBytes(&fields, record);
}

const char* ReadPortBody(const char* begin, const char* end, LogLine* line) {
  LogRecord* record = &line->record;
  TakeTrailingError(begin, &end, line);
  record->pinCount = 0;
  Fields fields = {begin, end};
  const char* f;
  const char* fe;
  while (fields.Next(&f, &fe)) {
    // "P<n>=<c>" with n the next pin number.
    if (fe - f < 4 || f[0] != 'P' || fe[-2] != '=') return "bad pin field";
    uint32_t number = 0;
    for (const char* d = f + 1; d != fe - 2; ++d) {
      if (!IsDigit(*d) || number > 100000) return "bad pin field";
      number = number * 10 + static_cast<uint32_t>(*d - '0');
    }
    if (f[1] == '0' || number != record->pinCount + 1) return "pins out of order";
    char c = fe[-1];
    if (c != '0' && c != '1' && c != '+' && c != '-') return "bad pin state";
    if (record->pinCount == kMaxPins) return "too many pins";
    record->pins[record->pinCount++] = c;
  }
  return fields.AtEnd() ? nullptr : "bad pin field";
}

const char* ReadEnvBody(const char* begin, const char* end, LogLine* line) {
  LogRecord* record = &line->record;
  if (begin == end) return "environment record without name and value";
  const char* name = begin + 1;  // after the header's comma
  const char* open = nullptr;
  for (const char* p = name; p + 1 < end; ++p) {
    if (p[0] == ',' && p[1] == '"') {
      open = p + 1;
      break;
    }
  }
  if (open == nullptr) return "environment record without a quoted value";
  // A trailing error field counts only when a quote mark stands before it.
  const char* valueEnd = end;
  if (static_cast<size_t>(end - (open + 1)) >= kErrorFieldLength + 1) {
    uint32_t value;
    const char* field = end - kErrorFieldLength;
    if (field[-1] == '"' && IsErrorField(field, &value)) {
      line->hasError = true;
      line->error = value;
      valueEnd = field;
    }
  }
  const char* close = valueEnd;
  while (close != open + 1 && close[-1] != '"') --close;
  if (close == open + 1) return "environment value without its closing quote mark";
  --close;  // at the quote mark
  if (close + 1 != valueEnd) return "text after the environment value";
  record->name = Text{name, static_cast<size_t>(open - 1 - name)};
  record->value = Text{open + 1, static_cast<size_t>(close - (open + 1))};
  return nullptr;
}

const char* ReadGeneric(const char* begin, const char* end, LogLine* line) {
  LogRecord* record = &line->record;
  TakeTrailingError(begin, &end, line);
  Fields fields = {begin, end};
  const char* f;
  const char* fe;
  uint32_t* values[4] = {&record->generic.kindCode, &record->generic.busCode, &record->generic.channel,
                         &record->generic.status};
  const size_t minDigits[4] = {4, 2, 2, 1};
  for (int i = 0; i < 4; ++i) {
    if (!fields.Next(&f, &fe) || !HexField(f, fe, minDigits[i], 8, values[i])) return "not a record";
  }
  return ReadDataBytes(&fields, record);
}

// ",K,BUS     ,CH,ST" at [p, end): the record's header fields, and where its
// body begins (at the comma after the status, or at the end).
const char* ReadHeader(const char* p, const char* end, LogRecord* record) {
  constexpr size_t kFixed = 3 + kBusNameWidth + 1;  // ",K," bus name ","
  if (static_cast<size_t>(end - p) < kFixed + 4 || p[0] != ',' || p[2] != ',' || p[kFixed - 1] != ',') {
    return nullptr;
  }
  char kind = p[1];
  if (kind != 'O' && kind != 'I' && kind != 'P' && kind != 'E' && kind != 'M') return nullptr;
  const BusName* bus = nullptr;
  for (const BusName& candidate : kBusNames) {
    if (p[3] == candidate.padded[0] && memcmp(p + 3, candidate.padded, kBusNameWidth) == 0) {
      bus = &candidate;
      break;
    }
  }
  if (bus == nullptr) return nullptr;
  const char* channel = p + kFixed;
  const char* channelEnd = static_cast<const char*>(memchr(channel, ',', static_cast<size_t>(end - channel)));
  if (channelEnd == nullptr) return nullptr;
  while (channel != channelEnd && *channel == ' ') ++channel;
  if (channel == channelEnd) return nullptr;
  record->hasChannel = false;
  record->channel = 0;
  if (!(channelEnd - channel == 1 && *channel == '-')) {
    const char* d = channel;
    bool negative = *d == '-';
    if (negative) ++d;
    if (d == channelEnd || channelEnd - d > 10) return nullptr;
    int64_t number = 0;
    for (; d != channelEnd; ++d) {
      if (!IsDigit(*d)) return nullptr;
      number = number * 10 + (*d - '0');
    }
    if (negative) number = -number;
    if (number < INT32_MIN || number > INT32_MAX) return nullptr;
    record->hasChannel = true;
    record->channel = static_cast<int32_t>(number);
  }
  const char* status = channelEnd + 1;
  if (end - status < 2 || !((status[0] == 'O' && status[1] == 'K') || (status[0] == 'N' && status[1] == 'G'))) {
    return nullptr;
  }
  const char* bodyBegin = status + 2;
  if (bodyBegin != end && *bodyBegin != ',') return nullptr;
  record->type = bus->type;
  record->kind = kind;
  size_t busLength = kBusNameWidth;
  while (busLength > 0 && bus->padded[busLength - 1] == ' ') --busLength;
  record->bus = Text{p + 3, busLength};
  record->channelText = Text{channel, static_cast<size_t>(channelEnd - channel)};
  record->ok = status[0] == 'O';
  return bodyBegin;
}

// 8 characters of a time stamp after its "+".
bool ReadTime(const char* p, LogTime* time) {
  constexpr int kWidth = 8;
  int point = -1;
  for (int i = 0; i < kWidth; ++i) {
    if (p[i] == '.') {
      if (point >= 0 || i == 0) return false;
      point = i;
    } else if (!IsDigit(p[i])) {
      return false;
    }
  }
  int wholeDigits = point < 0 ? kWidth : point;
  uint64_t seconds = 0;
  for (int i = 0; i < wholeDigits; ++i) seconds = seconds * 10 + static_cast<uint64_t>(p[i] - '0');
  uint32_t fraction = 0;
  int digits = point < 0 ? 0 : kWidth - point - 1;
  for (int i = 0; i < digits; ++i) fraction = fraction * 10 + static_cast<uint32_t>(p[point + 1 + i] - '0');
  time->seconds = seconds;
  time->fraction = fraction;
  time->digits = static_cast<uint8_t>(digits);
  time->wholeMayBeCut = point < 0;
  return true;
}

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

bool IsLeapYear(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// `count` decimal digits at `p`.
bool Digits(const char* p, int count, unsigned* value) {
  unsigned v = 0;
  for (int i = 0; i < count; ++i) {
    if (!IsDigit(p[i])) return false;
    v = v * 10 + static_cast<unsigned>(p[i] - '0');
  }
  *value = v;
  return true;
}

bool StartsWith(const Text& text, const char* prefix, size_t length) {
  return text.length >= length && memcmp(text.text, prefix, length) == 0;
}

// A decimal number of at most `most` digits at `p`, no leading zero but
// for 0 itself; advances `p`.
bool Decimal(const char** p, const char* end, size_t most, uint64_t* value) {
  const char* start = *p;
  uint64_t v = 0;
  while (*p != end && IsDigit(**p) && static_cast<size_t>(*p - start) < most) v = v * 10 + static_cast<unsigned>(*(*p)++ - '0');
  if (*p == start || (*start == '0' && *p - start > 1)) return false;
  *value = v;
  return true;
}

// "FIRST-LAST" or "FIRST" of frame numbers, then the end or a blank; the
// rest after the blank.
bool FrameRange(const char* p, const char* end, LogLine* line, Text* rest) {
  uint64_t first, last;
  if (!Decimal(&p, end, 10, &first) || first == 0 || first > UINT32_MAX) return false;
  last = first;
  if (p != end && *p == '-') {
    ++p;
    if (!Decimal(&p, end, 10, &last) || last < first || last > UINT32_MAX) return false;
  }
  if (p != end && *p++ != ' ') return false;
  line->markerFirst = static_cast<uint32_t>(first);
  line->markerLast = static_cast<uint32_t>(last);
  *rest = Text{p, static_cast<size_t>(end - p)};
  return true;
}

// "S.ffffff" of a relative start or a clamp.
bool RelativeStart(const char* p, const char* end, LogLine* line) {
  uint64_t seconds;
  unsigned micros;
  if (!Decimal(&p, end, 19, &seconds) || end - p != 7 || *p != '.' || !Digits(p + 1, 6, &micros)) return false;
  line->startSeconds = seconds;
  line->startMicros = micros;
  return true;
}

// "COUNT TOTAL NAME" of candump's drop report.
bool Drops(const char* p, const char* end, LogLine* line) {
  if (!Decimal(&p, end, 19, &line->markerCount) || p == end || *p++ != ' ') return false;
  if (!Decimal(&p, end, 19, &line->markerTotal) || p == end || *p++ != ' ' || p == end) return false;
  line->markerValue = Text{p, static_cast<size_t>(end - p)};
  return true;
}

// The records of what the writer could not keep, and the drops (rule 14e).
BuslogMarker ReadRecord(const Text& rest, LogLine* line) {
  const char* end = rest.text + rest.length;
  Text value = {end, 0};
  if (StartsWith(rest, "lost ", 5)) {
    if (FrameRange(rest.text + 5, end, line, &value) && value.length > 0) {
      line->markerValue = value;
      return BuslogMarker::kLost;
    }
  } else if (StartsWith(rest, "gone ", 5)) {
    if (FrameRange(rest.text + 5, end, line, &value) && value.length > 0) {
      line->markerValue = value;
      return BuslogMarker::kGone;
    }
  } else if (StartsWith(rest, "removed ", 8)) {
    if (FrameRange(rest.text + 8, end, line, &value) && value.length == 0) return BuslogMarker::kRemoved;
  } else if (StartsWith(rest, "dropped ", 8)) {
    if (Drops(rest.text + 8, end, line)) return BuslogMarker::kDropped;
  } else if (StartsWith(rest, "clamped ", 8)) {
    // At most a day: a frame that much earlier begins a new file or base.
    if (RelativeStart(rest.text + 8, end, line) && line->startSeconds <= 86400) return BuslogMarker::kClamped;
  }
  return BuslogMarker::kOther;
}

// Rule 14: what a marker record with frame number 0 says.
void ReadBuslogMarker(LogLine* line) {
  const Text& text = line->record.text;
  static const char kPrefix[] = "buslog ";
  constexpr size_t kPrefixLength = sizeof kPrefix - 1;
  if (!StartsWith(text, kPrefix, kPrefixLength)) return;
  Text rest = {text.text + kPrefixLength, text.length - kPrefixLength};
  line->marker = BuslogMarker::kOther;
  if (StartsWith(rest, "start relative ", 15)) {
    line->marker = RelativeStart(rest.text + 15, rest.text + rest.length, line) ? BuslogMarker::kStartRelative
                                                                                 : BuslogMarker::kStartUnread;
  } else if (StartsWith(rest, "start ", 6)) {
    line->marker = ParseUtc(rest.text + 6, rest.length - 6, &line->startSeconds, &line->startMicros)
                       ? BuslogMarker::kStart
                       : BuslogMarker::kStartUnread;
  } else if (StartsWith(rest, "start", 5) && rest.length == 5) {
    line->marker = BuslogMarker::kStartUnread;
  } else if (StartsWith(rest, "writer ", 7) && rest.length > 7) {
    line->marker = BuslogMarker::kWriter;
    line->markerValue = Text{rest.text + 7, rest.length - 7};
  } else if (StartsWith(rest, "channel ", 8)) {
    const char* p = rest.text + 8;
    const char* end = rest.text + rest.length;
    const char* digits = p;
    int64_t number = 0;
    while (p != end && IsDigit(*p) && p - digits < 11) number = number * 10 + (*p++ - '0');
    if (p == digits || *digits == '0' || number > INT32_MAX || p == end || *p != ' ' || p + 1 == end) return;
    ++p;
    if (memchr(p, '\0', static_cast<size_t>(end - p)) != nullptr) return;
    line->marker = BuslogMarker::kChannel;
    line->markerChannel = static_cast<int32_t>(number);
    line->markerValue = Text{p, static_cast<size_t>(end - p)};
  } else {
    line->marker = ReadRecord(rest, line);
  }
}

}  // namespace

bool FormatUtc(uint64_t seconds, uint32_t micros, char* out) {
  if (micros > 999999) return false;
  uint64_t days = seconds / 86400;
  unsigned secondOfDay = static_cast<unsigned>(seconds % 86400);
  // Civil date from days since 1970-01-01.
  int64_t z = static_cast<int64_t>(days) + 719468;
  const int64_t era = z / 146097;
  const unsigned dayOfEra = static_cast<unsigned>(z - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  int64_t year = static_cast<int64_t>(yearOfEra) + era * 400;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned mp = (5 * dayOfYear + 2) / 153;
  const unsigned day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  year += month <= 2;
  if (year > 9999) return false;
  // Exactly kUtcTextLength characters for these ranges; written through a
  // roomier buffer, since the compiler cannot see the ranges.
  char text[64];
  snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%06uZ", static_cast<unsigned>(year), month, day,
           secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60, static_cast<unsigned>(micros));
  memcpy(out, text, kUtcTextLength);
  out[kUtcTextLength] = '\0';
  return true;
}

bool ParseUtc(const char* p, size_t length, uint64_t* seconds, uint32_t* micros) {
  // YYYY-MM-DDTHH:MM:SS.ffffffZ
  if (length != kUtcTextLength || p[4] != '-' || p[7] != '-' || p[10] != 'T' || p[13] != ':' || p[16] != ':' ||
      p[19] != '.' || p[26] != 'Z') {
    return false;
  }
  unsigned year, month, day, hour, minute, second, fraction;
  if (!Digits(p, 4, &year) || !Digits(p + 5, 2, &month) || !Digits(p + 8, 2, &day) || !Digits(p + 11, 2, &hour) ||
      !Digits(p + 14, 2, &minute) || !Digits(p + 17, 2, &second) || !Digits(p + 20, 6, &fraction)) {
    return false;
  }
  static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1970 || month < 1 || month > 12 || day < 1 ||
      day > kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0) || hour > 23 || minute > 59 || second > 59) {
    return false;
  }
  int64_t days = DaysFromCivil(year, month, day);
  *seconds = static_cast<uint64_t>(days) * 86400 + hour * 3600u + minute * 60u + second;
  *micros = fraction;
  return true;
}

void ResetLogContext(LogContext* context) {
  context->lines = context->logLines = context->malformedLines = context->markerLines = 0;
  context->ignoredMarkers = 0;
  context->timeBases = 0;
  context->haveStart = false;
  context->startRelative = false;
  context->startSeconds = 0;
  context->startMicros = 0;
  context->writer.clear();
  context->names.clear();
  context->clampedLines = 0;
  context->earlierMicros = context->clampNextMicros = 0;
}

void UpdateLogContext(LogContext* context, const LogLine& line) {
  ++context->lines;
  if (line.logLine) ++context->logLines;
  if (line.malformed) ++context->malformedLines;
  // A clamp marker speaks of the line right after it.
  context->earlierMicros = context->clampNextMicros;
  context->clampNextMicros = 0;
  if (context->earlierMicros > 0) ++context->clampedLines;
  if (line.marker == BuslogMarker::kNone) return;
  ++context->markerLines;
  switch (line.marker) {
    case BuslogMarker::kStart:
    case BuslogMarker::kStartRelative:
      ++context->timeBases;
      context->haveStart = true;
      context->startRelative = line.marker == BuslogMarker::kStartRelative;
      context->startSeconds = line.startSeconds;
      context->startMicros = line.startMicros;
      break;
    case BuslogMarker::kStartUnread:
      ++context->timeBases;
      ++context->ignoredMarkers;
      context->haveStart = false;
      break;
    case BuslogMarker::kWriter:
      context->writer.assign(line.markerValue.text, line.markerValue.length);
      break;
    case BuslogMarker::kChannel: {
      auto& names = context->names;
      auto at = std::lower_bound(names.begin(), names.end(), line.markerChannel,
                                 [](const std::pair<int32_t, std::string>& entry, int32_t channel) {
                                   return entry.first < channel;
                                 });
      std::string name(line.markerValue.text, line.markerValue.length);
      if (at != names.end() && at->first == line.markerChannel) {
        at->second = std::move(name);
      } else {
        names.insert(at, std::make_pair(line.markerChannel, std::move(name)));
      }
      break;
    }
    case BuslogMarker::kOther:
      ++context->ignoredMarkers;
      break;
    case BuslogMarker::kLost:
    case BuslogMarker::kGone:
    case BuslogMarker::kRemoved:
    case BuslogMarker::kDropped:
    case BuslogMarker::kNone:
      break;
    case BuslogMarker::kClamped:
      context->clampNextMicros = line.startSeconds * 1000000 + line.startMicros;
      break;
  }
}

bool LogContext::AbsoluteTime(const LogTime& time, uint64_t* seconds, uint32_t* micros) const {
  if (!haveStart) return false;
  uint64_t s = startSeconds + time.seconds;
  uint32_t m = startMicros + MicrosOf(time);
  if (m >= 1000000) {
    m -= 1000000;
    ++s;
  }
  // A clamped line was earlier than its stamp.
  uint64_t backSeconds = earlierMicros / 1000000;
  uint32_t backMicros = static_cast<uint32_t>(earlierMicros % 1000000);
  if (m < backMicros) {
    m += 1000000;
    ++backSeconds;
  }
  if (s < backSeconds) {
    s = backSeconds;
    m = backMicros;
  }
  *seconds = s - backSeconds;
  *micros = m - backMicros;
  return true;
}

const std::string* LogContext::InterfaceName(int32_t channel) const {
  auto at = std::lower_bound(names.begin(), names.end(), channel,
                             [](const std::pair<int32_t, std::string>& entry, int32_t c) { return entry.first < c; });
  return at != names.end() && at->first == channel ? &at->second : nullptr;
}

uint32_t MicrosOf(const LogTime& time) {
  static const uint32_t kScale[7] = {1000000, 100000, 10000, 1000, 100, 10, 1};
  return time.fraction * kScale[time.digits <= 6 ? time.digits : 6];
}

uint32_t FdLengthOf(uint8_t nibble) { return kFdLengths[nibble & 0xF]; }

const char kUnendedWhy[] = "last line cut (no line end)";

void MarkUnended(LogLine* line) {
  line->unended = true;
  line->form = LineForm::kText;
  line->why = kUnendedWhy;
  line->malformed = true;
  line->hasError = false;
  line->error = 0;
  line->marker = BuslogMarker::kNone;
  line->record.type = RecordType::kNone;
}

void ParseLogLine(const char* text, size_t length, LogLine* line) {
  line->text = text;
  line->length = length;
  line->cut = false;
  line->unended = false;
  line->full = length == kLogLineLimit;
  line->why = nullptr;
  line->hasFrameNumber = false;
  line->frameNumber = 0;
  line->hasTime = false;
  line->time = LogTime{};
  line->hasError = false;
  line->error = 0;
  line->rest = Text{text, length};
  line->malformed = false;
  line->headerType = RecordType::kNone;
  line->logLine = false;
  line->marker = BuslogMarker::kNone;
  line->startSeconds = 0;
  line->startMicros = 0;
  line->markerChannel = 0;
  line->markerValue = Text{text, 0};
  line->markerFirst = line->markerLast = 0;
  line->markerCount = line->markerTotal = 0;
  LogRecord* record = &line->record;
  record->type = RecordType::kNone;
  record->kind = 0;
  record->bus = Text{text, 0};
  record->channelText = Text{text, 0};
  record->hasChannel = false;
  record->channel = 0;
  record->ok = true;
  record->dataCount = 0;
  record->pinCount = 0;
  record->name = record->value = record->text = Text{text, 0};

  if (length == 0) {
    line->form = LineForm::kEmpty;
    return;
  }
  if (length > kLogLineLimit) {
    Unparsed(line, "longer than a log line");
    line->malformed = true;
    return;
  }
  const char* p = text;
  const char* end = text + length;

  // FRAME
  size_t digits = 0;
  while (digits < length && digits < 11 && IsDigit(p[digits])) ++digits;
  if ((digits == 9 || digits == 10) && (digits == length || p[digits] == ',')) {
    uint64_t number = 0;
    for (size_t i = 0; i < digits; ++i) number = number * 10 + static_cast<uint64_t>(p[i] - '0');
    if (number <= UINT32_MAX) {
      line->hasFrameNumber = true;
      line->frameNumber = static_cast<uint32_t>(number);
      p += digits;
    }
  }
  // TIME
  constexpr size_t kTimeField = 10;  // ",+" and 8 characters
  if (static_cast<size_t>(end - p) >= kTimeField && p[0] == ',' && p[1] == '+' &&
      (end - p == kTimeField || p[kTimeField] == ',') && ReadTime(p + 2, &line->time)) {
    line->hasTime = true;
    p += kTimeField;
  }
  line->logLine = line->hasFrameNumber && line->hasTime;
  line->rest = Text{p, static_cast<size_t>(end - p)};
  if (p != end && *p == ',') line->rest = Text{p + 1, static_cast<size_t>(end - p - 1)};
  if (p == end) {
    Unparsed(line, "no record");
    return;
  }
  if (*p != ',') {
    Unparsed(line, "not a log line");
    CheckBehindLeadingBytes(line);
    return;
  }
  if (static_cast<size_t>(end - p) == kErrorFieldLength && IsErrorField(p, &line->error)) {
    line->hasError = true;
    line->form = LineForm::kError;
    line->logLine = true;
    return;
  }

  const char* why;
  const char* body = ReadHeader(p, end, record);
  if (body != nullptr) {
    line->headerType = record->type;
    switch (record->type) {
      case RecordType::kCan:
        why = ReadCanBody(body, end, line);
        break;
      case RecordType::kLin:
        why = ReadLinBody(body, end, line);
        break;
      case RecordType::kCxpi:
        why = ReadCxpiBody(body, end, line);
        break;
      case RecordType::kPort:
        why = ReadPortBody(body, end, line);
        break;
      case RecordType::kEnv:
        why = ReadEnvBody(body, end, line);
        break;
      case RecordType::kMarker:
        record->text = body == end ? Text{end, 0} : Text{body + 1, static_cast<size_t>(end - body - 1)};
        why = nullptr;
        break;
      default:
        why = "not a record";
        break;
    }
  } else {
    record->type = RecordType::kGeneric;
    why = ReadGeneric(p, end, line);
  }
  if (why != nullptr) {
    record->type = RecordType::kNone;
    line->hasError = false;
    line->error = 0;
    Unparsed(line, why);
    // Rule 12 b and c: a record's header with a broken body, or a frame
    // number followed by something that tries to be a time stamp.
    line->malformed = body != nullptr || (line->hasFrameNumber && !line->hasTime && end - p >= 2 && p[1] == '+');
    if (!line->hasFrameNumber && !line->hasTime) CheckBehindLeadingBytes(line);
    return;
  }
  line->form = LineForm::kRecord;
  line->logLine = true;
  if (record->type == RecordType::kMarker && line->hasFrameNumber && line->frameNumber == 0) ReadBuslogMarker(line);
}

namespace {

// Rule 12 d: a text line without FRAME that holds a log line from its first
// decimal digit on.
void CheckBehindLeadingBytes(LogLine* line) {
  if (line->hasFrameNumber || line->length > kLogLineLimit) return;
  const char* p = line->text;
  const char* end = line->text + line->length;
  while (p != end && !IsDigit(*p)) ++p;
  if (p == line->text || p == end) return;
  LogLine inner;
  ParseLogLine(p, static_cast<size_t>(end - p), &inner);
  if (inner.hasFrameNumber && inner.hasTime && (inner.form == LineForm::kRecord || inner.form == LineForm::kError)) {
    line->why = "log line behind leading bytes";
    line->malformed = true;
  }
}

}  // namespace

}  // namespace buslog_reader
