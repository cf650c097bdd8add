// buslog-host convert: a log's CAN records as a candump log, or every line
// of a log as one JSON object (JSON Lines).
#include <cstdlib>
#include <cstring>

#include "log_reader.h"
#include "tools/log_tools.h"
#include "platform/message.h"

namespace buslog_host {
namespace {

using buslog_reader::CanType;
using buslog_reader::LineForm;
using buslog_reader::LogLine;
using buslog_reader::LogReader;
using buslog_reader::LogRecord;
using buslog_reader::RecordType;
using buslog_reader::Text;

const char kConvertUsage[] =
    "usage: buslog-host convert LOG --to candump|jsonl [options]\n"
    "  --to candump        the CAN records as candump log lines, e.g.\n"
    "                      (0000000001.234567) can0 123#DEADBEEF\n"
    "  --to jsonl          every line as one JSON object (JSON Lines)\n"
    "  --output PATH       write there (default: standard output)\n"
    "  --overwrite         replace PATH if it exists\n"
    "  --start SECONDS     candump: add this to every time (default 0), e.g. the\n"
    "                      trace's first time stamp 1700000000.000000\n"
    "  --interfaces A,B    candump: names of channels 1, 2, ... (default can0, can1, ...)\n"
    "  --direction         candump: mark kind O frames T (sent) and kind I frames R\n"
    "A summary goes to standard error.\n";

constexpr size_t kMaxInterfaces = 256;
constexpr size_t kMaxInterfaceName = 32;

struct ConvertOptions {
  const char* log;
  const char* to;
  const char* output;
  bool overwrite;
  bool direction;
  bool haveStart;
  uint64_t startSeconds;
  uint32_t startMicros;
  size_t interfaceCount;
  Text interfaces[kMaxInterfaces];
};

// "SECONDS" or "SECONDS.FRACTION" with at most six fractional digits.
bool ParseStart(const char* text, uint64_t* seconds, uint32_t* micros) {
  const char* p = text;
  uint64_t whole = 0;
  int digits = 0;
  for (; *p >= '0' && *p <= '9'; ++p, ++digits) {
    if (digits == 19) return false;
    whole = whole * 10 + static_cast<uint64_t>(*p - '0');
  }
  uint32_t fraction = 0;
  int fractionDigits = 0;
  if (*p == '.') {
    for (++p; *p >= '0' && *p <= '9'; ++p, ++fractionDigits) {
      if (fractionDigits == 6) return false;
      fraction = fraction * 10 + static_cast<uint32_t>(*p - '0');
    }
  }
  if (*p != '\0' || digits + fractionDigits == 0) return false;
  for (int i = fractionDigits; i < 6; ++i) fraction *= 10;
  *seconds = whole;
  *micros = fraction;
  return true;
}

bool ParseInterfaces(char* list, ConvertOptions* options) {
  options->interfaceCount = 0;
  const char* p = list;
  for (;;) {
    const char* comma = strchr(p, ',');
    size_t length = comma != nullptr ? static_cast<size_t>(comma - p) : strlen(p);
    if (length == 0 || length > kMaxInterfaceName || options->interfaceCount == kMaxInterfaces) return false;
    for (size_t i = 0; i < length; ++i) {
      if (p[i] <= ' ' || p[i] == '#' || p[i] > '~') return false;
    }
    options->interfaces[options->interfaceCount++] = Text{p, length};
    if (comma == nullptr) return true;
    p = comma + 1;
  }
}

int UsageError(const char* message, const char* detail) {
  Message("buslog-host convert: %s%s\n%s", message, detail, kConvertUsage);
  return 2;
}

int ParseConvertOptions(int argc, char** argv, ConvertOptions* options) {
  *options = ConvertOptions{};
  bool interfacesGiven = false;
  for (int i = 2; i < argc; ++i) {
    const char* arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
      fputs(kConvertUsage, stdout);
      return 0;
    } else if (strcmp(arg, "--to") == 0 && hasValue) {
      options->to = argv[++i];
    } else if (strcmp(arg, "--output") == 0 && hasValue) {
      options->output = argv[++i];
    } else if (strcmp(arg, "--overwrite") == 0) {
      options->overwrite = true;
    } else if (strcmp(arg, "--direction") == 0) {
      options->direction = true;
    } else if (strcmp(arg, "--start") == 0 && hasValue) {
      ++i;
      if (!ParseStart(argv[i], &options->startSeconds, &options->startMicros)) {
        return UsageError("--start needs seconds such as 1700000000.250000, not ", argv[i]);
      }
      options->haveStart = true;
    } else if (strcmp(arg, "--interfaces") == 0 && hasValue) {
      ++i;
      if (!ParseInterfaces(argv[i], options)) {
        return UsageError("--interfaces needs names such as can0,vcan1 (at most 32 characters, no blanks): ",
                          argv[i]);
      }
      interfacesGiven = true;
    } else if (arg[0] == '-' && arg[1] != '\0') {
      bool known = strcmp(arg, "--to") == 0 || strcmp(arg, "--output") == 0 || strcmp(arg, "--start") == 0 ||
                   strcmp(arg, "--interfaces") == 0;
      return UsageError(known ? "this option needs a value: " : "unknown option ", arg);
    } else if (options->log == nullptr) {
      options->log = arg;
    } else {
      return UsageError("unexpected argument ", arg);
    }
  }
  if (options->log == nullptr) return UsageError("no LOG given", "");
  if (options->to == nullptr) return UsageError("give --to candump or --to jsonl", "");
  if (strcmp(options->to, "candump") != 0 && strcmp(options->to, "jsonl") != 0) {
    return UsageError("--to must be candump or jsonl, not ", options->to);
  }
  if (strcmp(options->to, "jsonl") == 0 && (options->haveStart || interfacesGiven || options->direction)) {
    return UsageError("--start, --interfaces and --direction belong to --to candump", "");
  }
  return -1;
}

const char kHexDigits[] = "0123456789ABCDEF";

inline char* WriteHexByte(char* out, uint8_t byte) {
  out[0] = kHexDigits[byte >> 4];
  out[1] = kHexDigits[byte & 0xF];
  return out + 2;
}

char* WriteHex(char* out, uint32_t value, int digits) {
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) *out++ = kHexDigits[(value >> shift) & 0xF];
  return out;
}

// ---------------------------------------------------------------- candump

struct CandumpTotals {
  uint64_t data, remote, fd, error;
  // Records candump cannot show.
  uint64_t lin, cxpi, port, env, marker, generic;
  // Lines skipped and why.
  uint64_t empty, errorOnly, text, incomplete, noTime, badChannel, noInterface, tooManyBytes, remoteAbove8,
      errorClassTooWide;
  uint64_t lengthDiffers;  // written with the data's length
  uint64_t timeMayBeCut;   // written with the 8 whole digits the log kept
};

// Writes one CAN record as a candump line, or counts why it cannot.
void WriteCandumpLine(const LogLine& line, const ConvertOptions& options, Output* output, CandumpTotals* t) {
  const LogRecord& r = line.record;
  const buslog_reader::CanRecord& can = r.can;
  if (!can.complete) {
    ++t->incomplete;
    return;
  }
  if (!line.hasTime) {
    ++t->noTime;
    return;
  }
  if (!r.hasChannel || r.channel < 1) {
    ++t->badChannel;
    return;
  }
  uint32_t index = static_cast<uint32_t>(r.channel - 1);
  if (options.interfaceCount > 0 && index >= options.interfaceCount) {
    ++t->noInterface;
    return;
  }
  uint32_t dataCount = r.dataCount;
  if ((can.type == CanType::kData || can.type == CanType::kError) && dataCount > 8) {
    ++t->tooManyBytes;
    return;
  }
  if (can.type == CanType::kRemote && can.dlc > 8) {
    ++t->remoteAbove8;
    return;
  }
  if (can.type == CanType::kError && can.errorClass > 0x1FFFFFFFu) {
    ++t->errorClassTooWide;
    return;
  }

  if (line.time.wholeMayBeCut) ++t->timeMayBeCut;
  // (seconds.micros) with the seconds in at least 10 digits.
  uint64_t seconds = line.time.seconds + options.startSeconds;
  uint32_t micros = buslog_reader::MicrosOf(line.time) + options.startMicros;
  if (micros >= 1000000) {
    micros -= 1000000;
    ++seconds;
  }
  char* out = Reserve(output, 256);
  *out++ = '(';
  char digits[24];
  char* digitsEnd = WriteUnsigned(digits, seconds);
  for (ptrdiff_t pad = 10 - (digitsEnd - digits); pad > 0; --pad) *out++ = '0';
  memcpy(out, digits, static_cast<size_t>(digitsEnd - digits));
  out += digitsEnd - digits;
  *out++ = '.';
  for (int i = 5; i >= 0; --i, micros /= 10) out[i] = static_cast<char>('0' + micros % 10);
  out += 6;
  *out++ = ')';
  *out++ = ' ';
  if (options.interfaceCount > 0) {
    memcpy(out, options.interfaces[index].text, options.interfaces[index].length);
    out += options.interfaces[index].length;
  } else {
    memcpy(out, "can", 3);
    out = WriteUnsigned(out + 3, index);
  }
  *out++ = ' ';
  if (can.type == CanType::kError) {
    out = WriteHex(out, can.errorClass | buslog_reader::kCanErrorFlag, 8);
  } else {
    out = WriteHex(out, can.id, can.extended ? 8 : 3);
  }
  *out++ = '#';
  switch (can.type) {
    case CanType::kRemote:
      *out++ = 'R';
      if (can.dlc != 0) *out++ = static_cast<char>('0' + can.dlc);
      ++t->remote;
      break;
    case CanType::kFd:
      *out++ = '#';
      *out++ = kHexDigits[can.fdFlags & 0xF];
      for (uint32_t i = 0; i < dataCount; ++i) out = WriteHexByte(out, r.data[i]);
      ++t->fd;
      break;
    case CanType::kData:
    case CanType::kError:
      for (uint32_t i = 0; i < dataCount; ++i) out = WriteHexByte(out, r.data[i]);
      if (dataCount == 8 && can.dlc > 8) {
        *out++ = '_';
        *out++ = kHexDigits[can.dlc];
      } else if (can.dlc != dataCount) {
        ++t->lengthDiffers;
      }
      ++(can.type == CanType::kData ? t->data : t->error);
      break;
  }
  if (options.direction && (r.kind == 'O' || r.kind == 'I')) {
    *out++ = ' ';
    *out++ = r.kind == 'O' ? 'T' : 'R';
  }
  *out++ = '\n';
  Commit(output, out);
}

void CountOther(const LogLine& line, CandumpTotals* t) {
  switch (line.form) {
    case LineForm::kEmpty:
      ++t->empty;
      return;
    case LineForm::kError:
      ++t->errorOnly;
      return;
    case LineForm::kText:
      ++t->text;
      return;
    case LineForm::kRecord:
      break;
  }
  switch (line.record.type) {
    case RecordType::kLin: ++t->lin; break;
    case RecordType::kCxpi: ++t->cxpi; break;
    case RecordType::kPort: ++t->port; break;
    case RecordType::kEnv: ++t->env; break;
    case RecordType::kMarker: ++t->marker; break;
    case RecordType::kGeneric: ++t->generic; break;
    default: break;
  }
}

typedef unsigned long long Count;

// "  name N" lines for the counts that are not 0.
void PrintReasons(const char* title, const char* const* names, const uint64_t* counts, size_t n) {
  uint64_t sum = 0;
  for (size_t i = 0; i < n; ++i) sum += counts[i];
  Message("  %-16s%llu\n", title, static_cast<Count>(sum));
  for (size_t i = 0; i < n; ++i) {
    if (counts[i] != 0) Message("    %-44s %llu\n", names[i], static_cast<Count>(counts[i]));
  }
}

void PrintCandumpSummary(const CandumpTotals& t) {
  Message("  written         %llu (data %llu, remote %llu, CAN FD %llu, error %llu)\n",
          static_cast<Count>(t.data + t.remote + t.fd + t.error), static_cast<Count>(t.data),
          static_cast<Count>(t.remote), static_cast<Count>(t.fd), static_cast<Count>(t.error));
  const char* const notShown[] = {"LIN records", "CXPI records", "port records", "environment records",
                                  "marker records", "generic records"};
  const uint64_t notShownCounts[] = {t.lin, t.cxpi, t.port, t.env, t.marker, t.generic};
  PrintReasons("not written", notShown, notShownCounts, 6);
  const char* const skipped[] = {"empty lines",
                                 "error fields without a record",
                                 "text (not a record)",
                                 "CAN records without identifier or length",
                                 "CAN records without a time stamp",
                                 "CAN records on channel \"-\" or below 1",
                                 "CAN records on a channel --interfaces lacks",
                                 "classic CAN records with more than 8 bytes",
                                 "remote frames with a length code above 8",
                                 "error frames whose class is above 1FFFFFFF"};
  const uint64_t skippedCounts[] = {t.empty, t.errorOnly, t.text, t.incomplete, t.noTime,
                                    t.badChannel, t.noInterface, t.tooManyBytes, t.remoteAbove8,
                                    t.errorClassTooWide};
  PrintReasons("skipped", skipped, skippedCounts, 10);
  if (t.lengthDiffers != 0) {
    Message("  note: %llu frames had a length code other than their data's; written with the data\n",
            static_cast<Count>(t.lengthDiffers));
  }
  if (t.timeMayBeCut != 0) {
    Message("  note: %llu frames had a time of 8 whole digits and no point, which the log may have cut\n",
            static_cast<Count>(t.timeMayBeCut));
  }
}

// ------------------------------------------------------------------ jsonl

struct JsonTotals {
  uint64_t records[8];  // by RecordType
  uint64_t empty, errorOnly, text, cut;
};

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

void WriteJsonLine(const LogLine& line, Output* output, JsonTotals* t) {
  static const char* const kForms[] = {"empty", "record", "error", "text"};
  char* out = Reserve(output, 64);
  memcpy(out, "{\"line\":", 8);
  Commit(output, WriteUnsigned(out + 8, line.number));
  PutKey(output, "form");
  PutJsonString(output, kForms[static_cast<int>(line.form)], strlen(kForms[static_cast<int>(line.form)]));
  if (line.hasFrameNumber) PutNumber(output, "frame", line.frameNumber);
  if (line.hasTime) {
    // The seconds as the log kept them: "12.34567" stays 12.34567.
    PutKey(output, "time");
    out = Reserve(output, 48);
    out = WriteUnsigned(out, line.time.seconds);
    if (line.time.digits > 0) {
      *out++ = '.';
      uint32_t fraction = line.time.fraction;
      for (int i = line.time.digits - 1; i >= 0; --i, fraction /= 10) out[i] = static_cast<char>('0' + fraction % 10);
      out += line.time.digits;
    }
    Commit(output, out);
    PutNumber(output, "time_digits", line.time.digits);
    if (line.time.wholeMayBeCut) PutLiteral(output, ",\"time_cut\":true");
  }
  if (line.hasError) PutNumber(output, "error", line.error);
  if (line.full) PutLiteral(output, ",\"full\":true");
  switch (line.form) {
    case LineForm::kEmpty:
      ++t->empty;
      break;
    case LineForm::kError:
      ++t->errorOnly;
      break;
    case LineForm::kText:
      ++t->text;
      if (line.cut) {
        ++t->cut;
        PutLiteral(output, ",\"cut\":true");
      }
      PutKey(output, "why");
      PutJsonString(output, line.why, strlen(line.why));
      PutKey(output, "text");
      PutJsonString(output, line.rest.text, line.rest.length);
      break;
    case LineForm::kRecord: {
      const LogRecord& r = line.record;
      ++t->records[static_cast<int>(r.type)];
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
      }
      switch (r.type) {
        case RecordType::kCan: {
          const buslog_reader::CanRecord& c = r.can;
          static const char* const kTypes[] = {"data", "remote", "fd", "error"};
          PutLiteral(output, c.extended ? ",\"extended\":true" : ",\"extended\":false");
          PutNumber(output, "flags", c.flags);
          PutNumber(output, "id", c.id);
          if (!c.complete) {
            PutLiteral(output, ",\"complete\":false");
            break;
          }
          PutKey(output, "frame_type");
          PutJsonString(output, kTypes[static_cast<int>(c.type)], strlen(kTypes[static_cast<int>(c.type)]));
          PutNumber(output, "dlc", c.dlc);
          if (c.type == CanType::kFd) PutNumber(output, "fd_flags", c.fdFlags);
          if (c.type == CanType::kError) PutNumber(output, "error_class", c.errorClass);
          if (c.type != CanType::kRemote) PutDataHex(output, r);
          break;
        }
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
      break;
    }
  }
  Put(output, "}\n", 2);
}

void PrintJsonSummary(const JsonTotals& t, uint64_t lines) {
  Message("  written         %llu lines\n", static_cast<Count>(lines));
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

}  // namespace

int RunConvert(int argc, char** argv) {
  static ConvertOptions options;
  int status = ParseConvertOptions(argc, argv, &options);
  if (status >= 0) return status;
  bool candump = strcmp(options.to, "candump") == 0;

  FILE* input = OpenLogForReading(options.log);
  if (input == nullptr) return 1;
  FILE* outputFile = OpenOutput(options.output, options.overwrite, input, options.log);
  if (outputFile == nullptr) {
    fclose(input);
    return 1;
  }
  LogReader reader;
  if (!buslog_reader::OpenLogReader(&reader, input)) {
    Message("buslog-host: out of memory\n");
    fclose(input);
    return 1;
  }
  static Output output;
  BeginOutput(&output, outputFile);
  static LogLine line;
  static CandumpTotals candumpTotals;
  static JsonTotals jsonTotals;
  candumpTotals = CandumpTotals{};
  jsonTotals = JsonTotals{};
  uint64_t lines = 0;
  while (buslog_reader::NextLogLine(&reader, &line)) {
    ++lines;
    if (!candump) {
      WriteJsonLine(line, &output, &jsonTotals);
    } else if (line.form == LineForm::kRecord && line.record.type == RecordType::kCan) {
      WriteCandumpLine(line, options, &output, &candumpTotals);
    } else {
      CountOther(line, &candumpTotals);
    }
  }
  bool readError = reader.readError;
  buslog_reader::CloseLogReader(&reader);
  fclose(input);
  FlushOutput(&output);
  bool writeError = output.failed || fflush(outputFile) != 0;
  if (outputFile != stdout && fclose(outputFile) != 0) writeError = true;

  Message("buslog-host: convert of %s to %s\n  lines read      %llu\n", options.log, options.to,
          static_cast<Count>(lines));
  if (candump) {
    PrintCandumpSummary(candumpTotals);
  } else {
    PrintJsonSummary(jsonTotals, lines);
  }
  if (options.output != nullptr) Message("  output          %s\n", options.output);
  if (readError) Message("buslog-host: %s: read error; the output stops there\n", options.log);
  if (writeError) {
    Message("buslog-host: %s: write error\n", options.output ? options.output : "standard output");
  }
  return readError || writeError ? 1 : 0;
}

}  // namespace buslog_host
