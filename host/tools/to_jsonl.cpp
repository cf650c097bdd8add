// convert --to jsonl: every line of a log as one JSON object.
#include <cstring>
#include <string>

#include "hex.h"
#include "platform/message.h"
#include "tools/convert.h"

namespace buslog_host {
namespace {

using buslog_reader::BuslogMarker;
using buslog_reader::CanType;
using buslog_reader::LogContext;
using buslog_reader::LineForm;
using buslog_reader::LogLine;
using buslog_reader::LogReader;
using buslog_reader::LogRecord;
using buslog_reader::RecordType;
using buslog_reader::Text;

typedef unsigned long long Count;

inline char* WriteHexByte(char* out, uint8_t byte) {
  out[0] = kHexDigits[byte >> 4];
  out[1] = kHexDigits[byte & 0xF];
  return out + 2;
}

const char* const kRecordNames[] = {"none", "can", "lin", "cxpi", "port", "env", "marker", "generic"};

// Free text as a JSON string: printable ASCII stays, '"' and '\' are
// escaped, every other byte is \u00XX of its value.
void PutJsonString(Output* output, const char* text, size_t length) {
  Put(output, "\"", 1);
  size_t start = 0;
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') continue;
    Put(output, text + start, i - start);
    char escape[6] = {'\\', c == '"' ? '"' : '\\'};
    if (c == '"' || c == '\\') {
      Put(output, escape, 2);
    } else {
      escape[1] = 'u';
      escape[2] = '0';
      escape[3] = '0';
      escape[4] = "0123456789abcdef"[c >> 4];
      escape[5] = "0123456789abcdef"[c & 0xF];
      Put(output, escape, 6);
    }
    start = i + 1;
  }
  Put(output, text + start, length - start);
  Put(output, "\"", 1);
}

void PutLiteral(Output* output, const char* text) { Put(output, text, strlen(text)); }

void PutNumber(Output* output, const char* key, uint64_t value) {
  char* out = Reserve(output, 64);
  *out++ = ',';
  *out++ = '"';
  size_t keyLength = strlen(key);
  memcpy(out, key, keyLength);
  out += keyLength;
  *out++ = '"';
  *out++ = ':';
  Commit(output, WriteUnsigned(out, value));
}

void PutKey(Output* output, const char* key) {
  Put(output, ",\"", 2);
  PutLiteral(output, key);
  Put(output, "\":", 2);
}

void PutDataHex(Output* output, const LogRecord& r) {
  PutKey(output, "data");
  char* out = Reserve(output, 2 * buslog_reader::kMaxRecordData + 2);
  *out++ = '"';
  for (uint32_t i = 0; i < r.dataCount; ++i) out = WriteHexByte(out, r.data[i]);
  *out++ = '"';
  Commit(output, out);
}

// The digits of a time as the log kept them: "12.34567" stays 12.34567.
void PutTime(Output* output, uint64_t seconds, uint32_t fraction, uint8_t digits) {
  char* out = Reserve(output, 48);
  out = WriteUnsigned(out, seconds);
  if (digits > 0) {
    *out++ = '.';
    for (int i = digits - 1; i >= 0; --i, fraction /= 10) out[i] = static_cast<char>('0' + fraction % 10);
    out += digits;
  }
  Commit(output, out);
}

// The fields every line has: its number (and log, when several are read)
// and form, and the frame number, time (with the absolute time a start
// marker gives), error field and fullness it may have.
void PutLineHead(const LogLine& line, const LogContext& context, uint32_t logNumber, Output* output) {
  static const char* const kForms[] = {"empty", "record", "error", "text"};
  char* out = Reserve(output, 64);
  memcpy(out, "{\"line\":", 8);
  Commit(output, WriteUnsigned(out + 8, line.number));
  if (logNumber != 0) PutNumber(output, "log", logNumber);
  PutKey(output, "form");
  PutJsonString(output, kForms[static_cast<int>(line.form)], strlen(kForms[static_cast<int>(line.form)]));
  if (line.hasFrameNumber) PutNumber(output, "frame", line.frameNumber);
  if (line.hasTime) {
    PutKey(output, "time");
    PutTime(output, line.time.seconds, line.time.fraction, line.time.digits);
    PutNumber(output, "time_digits", line.time.digits);
    if (line.time.wholeMayBeCut) PutLiteral(output, ",\"time_cut\":true");
    uint64_t seconds;
    uint32_t micros;
    if (context.AbsoluteTime(line.time, &seconds, &micros)) {
      static const uint32_t kScale[7] = {1000000, 100000, 10000, 1000, 100, 10, 1};
      PutKey(output, "abs_time");
      PutTime(output, seconds, micros / kScale[line.time.digits], line.time.digits);
    }
  }
  if (line.hasError) PutNumber(output, "error", line.error);
  if (line.full) PutLiteral(output, ",\"full\":true");
}

// A line that is not a record: why, and its text.
void PutText(const LogLine& line, Output* output, JsonTotals* t) {
  ++t->text;
  if (line.cut) {
    ++t->cut;
    PutLiteral(output, ",\"cut\":true");
  }
  PutKey(output, "why");
  PutJsonString(output, line.why, strlen(line.why));
  PutKey(output, "text");
  PutJsonString(output, line.rest.text, line.rest.length);
}

// What a buslog marker says, as fields of its own line.
void PutBuslogMarker(const LogLine& line, Output* output) {
  char utc[buslog_reader::kUtcTextLength + 1];
  switch (line.marker) {
    case BuslogMarker::kStart:
      PutLiteral(output, ",\"buslog\":\"start\",\"start\":");
      buslog_reader::FormatUtc(line.startSeconds, line.startMicros, utc);
      PutJsonString(output, utc, strlen(utc));
      PutKey(output, "start_time");
      PutTime(output, line.startSeconds, line.startMicros, 6);
      break;
    case BuslogMarker::kStartUnread:
      PutLiteral(output, ",\"buslog\":\"start\",\"start\":null");
      break;
    case BuslogMarker::kWriter:
      PutLiteral(output, ",\"buslog\":\"writer\",\"writer\":");
      PutJsonString(output, line.markerValue.text, line.markerValue.length);
      break;
    case BuslogMarker::kChannel:
      PutLiteral(output, ",\"buslog\":\"channel\"");
      PutNumber(output, "names_channel", static_cast<uint32_t>(line.markerChannel));
      PutKey(output, "interface");
      PutJsonString(output, line.markerValue.text, line.markerValue.length);
      break;
    case BuslogMarker::kOther:
      PutLiteral(output, ",\"buslog\":\"other\"");
      break;
    case BuslogMarker::kStartRelative:
      PutLiteral(output, ",\"buslog\":\"start\",\"start\":\"relative\"");
      PutKey(output, "start_time");
      PutTime(output, line.startSeconds, line.startMicros, 6);
      break;
    case BuslogMarker::kLost:
    case BuslogMarker::kGone:
    case BuslogMarker::kRemoved:
      PutLiteral(output, line.marker == BuslogMarker::kLost   ? ",\"buslog\":\"lost\""
                         : line.marker == BuslogMarker::kGone ? ",\"buslog\":\"gone\""
                                                              : ",\"buslog\":\"removed\"");
      PutNumber(output, "first", line.markerFirst);
      PutNumber(output, "last", line.markerLast);
      if (line.marker != BuslogMarker::kRemoved) {
        PutKey(output, line.marker == BuslogMarker::kLost ? "reason" : "what");
        PutJsonString(output, line.markerValue.text, line.markerValue.length);
      }
      break;
    case BuslogMarker::kDropped:
      PutLiteral(output, ",\"buslog\":\"dropped\"");
      PutNumber(output, "count", line.markerCount);
      PutNumber(output, "total", line.markerTotal);
      PutKey(output, "interface");
      PutJsonString(output, line.markerValue.text, line.markerValue.length);
      break;
    case BuslogMarker::kClamped:
      PutLiteral(output, ",\"buslog\":\"clamped\"");
      PutKey(output, "earlier");
      PutTime(output, line.startSeconds, line.startMicros, 6);
      break;
    case BuslogMarker::kNone:
      break;
  }
}

// A record's type and header: kind, bus, channel (and the interface a
// channel marker named), status.
void PutRecordHeader(const LogRecord& r, const LogContext& context, Output* output) {
  char* out;
  PutKey(output, "record");
  PutJsonString(output, kRecordNames[static_cast<int>(r.type)], strlen(kRecordNames[static_cast<int>(r.type)]));
  if (r.type != RecordType::kGeneric) {
    PutKey(output, "kind");
    PutJsonString(output, &r.kind, 1);
    PutKey(output, "bus");
    PutJsonString(output, r.bus.text, r.bus.length);
    PutKey(output, "channel");
    if (r.hasChannel) {
      out = Reserve(output, 16);
      if (r.channel < 0) *out++ = '-';
      uint32_t magnitude = r.channel < 0 ? 0u - static_cast<uint32_t>(r.channel) : static_cast<uint32_t>(r.channel);
      Commit(output, WriteUnsigned(out, magnitude));
    } else {
      PutLiteral(output, "null");
    }
    PutLiteral(output, r.ok ? ",\"status\":\"OK\"" : ",\"status\":\"NG\"");
    const std::string* name = r.hasChannel ? context.InterfaceName(r.channel) : nullptr;
    if (name != nullptr) {
      PutKey(output, "interface");
      PutJsonString(output, name->data(), name->size());
    }
  }
}

// A CAN record's body: its form, identifier and, when complete, its frame.
void PutCanBody(const LogRecord& r, Output* output) {
  const buslog_reader::CanRecord& c = r.can;
  static const char* const kTypes[] = {"data", "remote", "fd", "error"};
  PutLiteral(output, c.extended ? ",\"extended\":true" : ",\"extended\":false");
  PutNumber(output, "flags", c.flags);
  PutNumber(output, "id", c.id);
  if (!c.complete) {
    PutLiteral(output, ",\"complete\":false");
    return;
  }
  PutKey(output, "frame_type");
  PutJsonString(output, kTypes[static_cast<int>(c.type)], strlen(kTypes[static_cast<int>(c.type)]));
  PutNumber(output, "dlc", c.dlc);
  if (c.type == CanType::kFd) PutNumber(output, "fd_flags", c.fdFlags);
  if (c.type == CanType::kError) PutNumber(output, "error_class", c.errorClass);
  if (c.type != CanType::kRemote) PutDataHex(output, r);
}

// A record's body, by its type.
void PutRecordBody(const LogRecord& r, Output* output) {
  char* out;
  switch (r.type) {
    case RecordType::kCan:
      PutCanBody(r, output);
      break;
    case RecordType::kLin: {
      const char* const names[] = {"byte0", "byte1", "byte2"};
      const uint8_t values[] = {r.lin.byte0, r.lin.byte1, r.lin.byte2};
      for (int i = 0; i < r.lin.fields; ++i) PutNumber(output, names[i], values[i]);
      PutDataHex(output, r);
      break;
    }
    case RecordType::kCxpi: {
      const char* const names[] = {"bits", "parity", "frame_id", "dlc", "nm", "ct"};
      const uint8_t values[] = {r.cxpi.bits, r.cxpi.parity, r.cxpi.frameId, r.cxpi.dlc, r.cxpi.nm, r.cxpi.ct};
      for (int i = 0; i < r.cxpi.fields; ++i) PutNumber(output, names[i], values[i]);
      PutDataHex(output, r);
      break;
    }
    case RecordType::kPort:
      PutKey(output, "pins");
      Put(output, "{", 1);
      for (uint32_t i = 0; i < r.pinCount; ++i) {
        out = Reserve(output, 32);
        if (i > 0) *out++ = ',';
        *out++ = '"';
        *out++ = 'P';
        out = WriteUnsigned(out, i + 1);
        memcpy(out, "\":\"", 3);
        out += 3;
        *out++ = r.pins[i];
        *out++ = '"';
        Commit(output, out);
      }
      Put(output, "}", 1);
      break;
    case RecordType::kEnv:
      PutKey(output, "name");
      PutJsonString(output, r.name.text, r.name.length);
      PutKey(output, "value");
      PutJsonString(output, r.value.text, r.value.length);
      break;
    case RecordType::kMarker:
      PutKey(output, "text");
      PutJsonString(output, r.text.text, r.text.length);
      break;
    case RecordType::kGeneric:
      PutNumber(output, "kind_code", r.generic.kindCode);
      PutNumber(output, "bus_code", r.generic.busCode);
      PutNumber(output, "channel_code", r.generic.channel);
      PutNumber(output, "status_code", r.generic.status);
      PutDataHex(output, r);
      break;
    case RecordType::kNone:
      break;
  }
}

}  // namespace

void WriteJsonLine(const LogLine& line, const LogContext& context, uint32_t logNumber, Output* output,
                   JsonTotals* t) {
  PutLineHead(line, context, logNumber, output);
  switch (line.form) {
    case LineForm::kEmpty:
      ++t->empty;
      break;
    case LineForm::kError:
      ++t->errorOnly;
      break;
    case LineForm::kText:
      PutText(line, output, t);
      break;
    case LineForm::kRecord:
      ++t->records[static_cast<int>(line.record.type)];
      PutRecordHeader(line.record, context, output);
      PutRecordBody(line.record, output);
      if (line.marker != BuslogMarker::kNone) PutBuslogMarker(line, output);
      break;
  }
  Put(output, "}\n", 2);
}

void PrintJsonSummary(const JsonTotals& t, uint64_t lines, bool outputFailed) {
  // After a write error the lines were converted, not all written.
  Message("  %-16s%llu lines\n", outputFailed ? "converted" : "written", static_cast<Count>(lines));
  Message(
          "    records       %llu (CAN %llu, LIN %llu, CXPI %llu, port %llu, environment %llu, marker %llu, "
          "generic %llu)\n",
          static_cast<Count>(t.records[1] + t.records[2] + t.records[3] + t.records[4] + t.records[5] +
                             t.records[6] + t.records[7]),
          static_cast<Count>(t.records[1]), static_cast<Count>(t.records[2]), static_cast<Count>(t.records[3]),
          static_cast<Count>(t.records[4]), static_cast<Count>(t.records[5]), static_cast<Count>(t.records[6]),
          static_cast<Count>(t.records[7]));
  Message("    error fields  %llu\n    empty         %llu\n    text          %llu (not a record%s)\n",
          static_cast<Count>(t.errorOnly), static_cast<Count>(t.empty), static_cast<Count>(t.text),
          t.cut ? "; some longer than 64 KiB, cut" : "");
}

}  // namespace buslog_host
