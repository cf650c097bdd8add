// Parsing one log line into typed fields, by the rules written down in
// log_reader.h. Every step works on [begin, end) ranges of the line and
// never reads outside them.
#include "log_reader.h"

#include <cstring>

namespace buslog_reader {
namespace {

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
    const char* comma = static_cast<const char*>(memchr(p, ',', static_cast<size_t>(end - p)));
    *begin = p;
    *fieldEnd = comma != nullptr ? comma : end;
    p = *fieldEnd;
    return true;
  }
  bool AtEnd() const { return p == end; }
};

const char* Unparsed(LogLine* line, const char* why) {
  line->form = LineForm::kText;
  line->why = why;
  return why;
}

// Data bytes, two hex digits each, to the end of `fields`.
const char* ReadDataBytes(Fields* fields, LogRecord* record) {
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
    if (memcmp(p + 3, candidate.padded, kBusNameWidth) == 0) bus = &candidate;
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

}  // namespace

uint32_t MicrosOf(const LogTime& time) {
  static const uint32_t kScale[7] = {1000000, 100000, 10000, 1000, 100, 10, 1};
  return time.fraction * kScale[time.digits <= 6 ? time.digits : 6];
}

uint32_t FdLengthOf(uint8_t nibble) { return kFdLengths[nibble & 0xF]; }

void ParseLogLine(const char* text, size_t length, LogLine* line) {
  line->text = text;
  line->length = length;
  line->cut = false;
  line->full = length == kLogLineLimit;
  line->why = nullptr;
  line->hasFrameNumber = false;
  line->frameNumber = 0;
  line->hasTime = false;
  line->time = LogTime{};
  line->hasError = false;
  line->error = 0;
  line->rest = Text{text, length};
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
  line->rest = Text{p, static_cast<size_t>(end - p)};
  if (p != end && *p == ',') line->rest = Text{p + 1, static_cast<size_t>(end - p - 1)};
  if (p == end) {
    Unparsed(line, "no record");
    return;
  }
  if (*p != ',') {
    Unparsed(line, "not a log line");
    return;
  }
  if (static_cast<size_t>(end - p) == kErrorFieldLength && IsErrorField(p, &line->error)) {
    line->hasError = true;
    line->form = LineForm::kError;
    return;
  }

  const char* why;
  const char* body = ReadHeader(p, end, record);
  if (body != nullptr) {
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
    return;
  }
  line->form = LineForm::kRecord;
}

}  // namespace buslog_reader
