// Parsing and running call script lines.
#include "script/script.h"

#include "platform/system.h"
#include "hex.h"
#include "platform/message.h"

#include <cstdio>
#include <cstring>

namespace buslog_host {
namespace {

// Room for the values and bytes of one call; a run such as AA*100000 must fit.
constexpr size_t kMaxValues = 64;
constexpr size_t kMaxBytes = 1024 * 1024;
constexpr size_t kNameSize = kPathSize;  // a log's path
uint8_t g_bytes[kMaxBytes];

struct Cursor {
  const char* next;
  const char* end;
};

void SkipBlanks(Cursor* at) {
  while (at->next != at->end && (*at->next == ' ' || *at->next == '\t')) ++at->next;
}

// The next token up to a blank; a token starting with a quote runs to its
// closing quote.
bool NextToken(Cursor* at, const char** token, size_t* length) {
  SkipBlanks(at);
  if (at->next == at->end || *at->next == '#') return false;
  const char* start = at->next;
  if (*start == '"') {
    ++at->next;
    while (at->next != at->end && *at->next != '"') {
      if (*at->next == '\\' && at->end - at->next > 1) ++at->next;
      ++at->next;
    }
    if (at->next != at->end) ++at->next;
  }
  while (at->next != at->end && *at->next != ' ' && *at->next != '\t') ++at->next;
  *token = start;
  *length = static_cast<size_t>(at->next - start);
  return true;
}

bool Is(const char* token, size_t length, const char* word) {
  return strlen(word) == length && memcmp(token, word, length) == 0;
}

// A 32-bit value: decimal, negative decimal (two's complement) or 0x hex.
bool ParseValue(const char* token, size_t length, uint32_t* value) {
  bool negative = length > 0 && token[0] == '-';
  size_t i = negative ? 1 : 0;
  uint64_t result = 0;
  if (length - i > 2 && token[i] == '0' && (token[i + 1] == 'x' || token[i + 1] == 'X')) {
    for (i += 2; i < length; ++i) {
      int digit = HexValue(token[i]);
      if (digit < 0) return false;
      result = result << 4 | static_cast<uint64_t>(digit);
      if (result > 0xFFFFFFFFu) return false;
    }
  } else {
    if (i == length) return false;
    for (; i < length; ++i) {
      if (token[i] < '0' || token[i] > '9') return false;
      result = result * 10 + static_cast<uint64_t>(token[i] - '0');
      if (result > 0xFFFFFFFFu) return false;
    }
  }
  if (negative && result > 0x80000000u) return false;
  *value = negative ? 0u - static_cast<uint32_t>(result) : static_cast<uint32_t>(result);
  return true;
}

// A quoted text with escapes, appended at g_bytes[*count].
bool ParseText(const char* token, size_t length, size_t* count) {
  if (length < 2 || token[0] != '"' || token[length - 1] != '"') return false;
  for (size_t i = 1; i + 1 < length; ++i) {
    if (*count == kMaxBytes) return false;
    char c = token[i];
    if (c == '\\') {
      if (i + 2 >= length) return false;
      char e = token[++i];
      switch (e) {
        case '\\': c = '\\'; break;
        case '"': c = '"'; break;
        case 'n': c = '\n'; break;
        case 'r': c = '\r'; break;
        case 't': c = '\t'; break;
        case '0': c = '\0'; break;
        case 'x': {
          if (i + 3 >= length) return false;
          int high = HexValue(token[i + 1]);
          int low = HexValue(token[i + 2]);
          if (high < 0 || low < 0) return false;
          c = static_cast<char>(high << 4 | low);
          i += 2;
          break;
        }
        default: return false;
      }
    }
    g_bytes[(*count)++] = static_cast<uint8_t>(c);
  }
  return true;
}

// A data token of PutFrame: "text", AA, or AA*N.
bool ParseDataToken(const char* token, size_t length, size_t* count) {
  if (token[0] == '"') return ParseText(token, length, count);
  if (length < 2) return false;
  int high = HexValue(token[0]);
  int low = HexValue(token[1]);
  if (high < 0 || low < 0) return false;
  uint32_t repeat = 1;
  if (length > 2) {
    if (token[2] != '*' || !ParseValue(token + 3, length - 3, &repeat)) return false;
  } else if (length != 2) {
    return false;
  }
  if (repeat > kMaxBytes - *count) return false;
  memset(g_bytes + *count, high << 4 | low, repeat);
  *count += repeat;
  return true;
}

// Says why, quoting the offending text: the token at fault, or where there
// is none (a value missing) the whole line.
ScriptStatus Malformed(char* message, size_t size, const char* why, const char* text, size_t length) {
  char excerpt[kExcerptSize];
  QuoteExcerpt(excerpt, sizeof excerpt, text, length);
  snprintf(message, size, "%s (got %s)", why, excerpt);
  return ScriptStatus::kMalformed;
}

ScriptStatus RunExpectation(Cursor* at, const char* line, size_t lineLength, ScriptState* state, char* message,
                           size_t size) {
  const char* name;
  size_t nameLength;
  const char* token;
  size_t length;
  uint32_t expected;
  if (!NextToken(at, &name, &nameLength) || !NextToken(at, &token, &length) ||
      !ParseValue(token, length, &expected)) {
    return Malformed(message, size, "expect needs an export (Open, ShareMode, Write) and a value", line, lineLength);
  }
  const char* extra;
  size_t extraLength;
  if (NextToken(at, &extra, &extraLength)) {
    return Malformed(message, size, "text after the expected value", extra, extraLength);
  }
  bool known;
  uint32_t actual;
  bool isWrite = false;
  if (Is(name, nameLength, "Open")) {
    known = state->haveOpen;
    actual = state->openResult;
  } else if (Is(name, nameLength, "ShareMode")) {
    known = state->haveShareMode;
    actual = state->shareModeResult;
  } else if (Is(name, nameLength, "Write")) {
    known = state->haveWrite;
    actual = state->writeResult;
    isWrite = true;
  } else {
    return Malformed(message, size, "expect takes Open, ShareMode or Write", name, nameLength);
  }
  if (!known) {
    snprintf(message, size, "expect %.*s: it has not been called yet", static_cast<int>(nameLength), name);
    return ScriptStatus::kExpectationFailed;
  }
  if (actual != expected) {
    snprintf(message, size, "expected %.*s result %u, got %u", static_cast<int>(nameLength), name, expected,
             actual);
    return ScriptStatus::kExpectationFailed;
  }
  if (isWrite && actual == BUSLOG_WRITE_FAILED) state->event = ScriptEvent::kWriteFailureExpected;
  return ScriptStatus::kOk;
}

// After the module closed its log: an empty one this run made or replaced
// is taken back.
void LogClosed(ScriptState* state) {
  if (!state->logOpen) return;
  state->logOpen = false;
  if (state->logRemovable && state->linesWritten == state->linesAtOpen && state->removeLog != nullptr) {
    state->removeLog(state->openLogPath);
    state->logRemoved = true;
  }
}

// Open with the `count` bytes of its name at g_bytes; in the log folder
// when there is one, else checked by checkLog when there is one.
void OpenLog(const BuslogApi& api, size_t count, ScriptState* state) {
  static char placed[kNameSize];
  static char reach[kNameSize];
  const void* moduleName = g_bytes;
  size_t moduleLength = count;
  bool created = false;
  bool removable = false;
  placed[0] = '\0';
  if (state->logFolder == nullptr && state->checkLog != nullptr && count > 0) {
    bool usable = count < kNameSize && memchr(g_bytes, '\0', count) == nullptr;
    char wanted[kNameSize];
    if (usable) {
      memcpy(wanted, g_bytes, count);
      wanted[count] = '\0';
      usable = state->checkLog(wanted, *state, placed, kNameSize, &created);
    } else {
      Message("buslog-host: Open's name holds a zero byte or is too long; it is not handed to the module\n");
    }
    if (usable) {
      removable = created || state->replaceLogs;
    } else {
      moduleLength = 0;  // the module refuses the empty name (result 1)
      placed[0] = '\0';
      ++state->refusedOpens;
    }
  } else if (state->logFolder != nullptr && state->placeLog != nullptr) {
    char reason[256] = "";
    bool placedHere = count < kNameSize && memchr(g_bytes, '\0', count) == nullptr;
    if (placedHere) {
      char wanted[kNameSize];
      memcpy(wanted, g_bytes, count);
      wanted[count] = '\0';
      placedHere = state->placeLog(wanted, *state, placed, reach, kNameSize, &created, reason, sizeof reason);
      if (!placedHere) Message("buslog-host: cannot make the log %s here: %s\n", wanted, reason);
    }
    if (placedHere) {
      moduleName = reach;
      moduleLength = strlen(reach);
      count = strlen(placed);
      memcpy(g_bytes, placed, count);
      removable = created || state->replaceLogs;
    } else {
      moduleLength = 0;  // the module refuses the empty name (result 1)
      placed[0] = '\0';
    }
  }
  int32_t resultCount;
  void* cell = nullptr;
  api.Open(static_cast<uint32_t>(moduleLength), moduleName, &resultCount, &cell);
  state->haveOpen = true;
  state->openResult = *static_cast<uint8_t*>(cell);
  if (state->openResult == BUSLOG_OPEN_OK) {
    size_t keep = count < sizeof state->lastLogName - 1 ? count : sizeof state->lastLogName - 1;
    memcpy(state->lastLogName, g_bytes, keep);
    state->lastLogName[keep] = '\0';
    state->logOpen = true;
    state->logRemovable = removable && placed[0] != '\0';
    state->linesAtOpen = state->linesWritten;
    state->logRemoved = false;
    snprintf(state->openLogPath, sizeof state->openLogPath, "%s", placed);
  } else if (created) {
    state->removeLog(placed);
  }
}

// A line's text, for the messages that quote it.
struct ScriptLine {
  const char* text;
  size_t length;
};

// Open "name" or PutString "text": one quoted text, or none.
ScriptStatus RunTextCall(const BuslogApi& api, bool isOpen, Cursor* at, ScriptState* state, char* message,
                         size_t messageSize) {
  const char* token;
  size_t tokenLength;
  size_t count = 0;
  if (NextToken(at, &token, &tokenLength) && !ParseText(token, tokenLength, &count)) {
    return Malformed(message, messageSize, "text must be in double quotes, with valid escapes", token, tokenLength);
  }
  if (NextToken(at, &token, &tokenLength)) return Malformed(message, messageSize, "text after the text", token, tokenLength);
  ++state->calls;
  if (isOpen) {
    OpenLog(api, count, state);
  } else {
    int32_t resultCount = -1;
    api.PutString(static_cast<uint32_t>(count), g_bytes, &resultCount);
  }
  return ScriptStatus::kOk;
}

// PutFrame kind bus channel status, then data tokens and len=N.
ScriptStatus RunPutFrame(const BuslogApi& api, const ScriptLine& line, Cursor* at, ScriptState* state, char* message,
                         size_t messageSize) {
  const char* token;
  size_t tokenLength;
  uint32_t header[4];
  for (uint32_t& value : header) {
    const char* why = "PutFrame needs kind, bus, channel and status values";
    if (!NextToken(at, &token, &tokenLength)) return Malformed(message, messageSize, why, line.text, line.length);
    if (!ParseValue(token, tokenLength, &value)) return Malformed(message, messageSize, why, token, tokenLength);
  }
  size_t count = 0;
  bool explicitLength = false;
  uint32_t dataLength = 0;
  while (NextToken(at, &token, &tokenLength)) {
    if (tokenLength > 4 && memcmp(token, "len=", 4) == 0) {
      if (!ParseValue(token + 4, tokenLength - 4, &dataLength)) {
        return Malformed(message, messageSize, "bad len=", token, tokenLength);
      }
      explicitLength = true;
    } else if (!ParseDataToken(token, tokenLength, &count)) {
      return Malformed(message, messageSize, "data must be hex bytes, AA*N or \"text\"", token, tokenLength);
    }
  }
  if (!explicitLength) dataLength = static_cast<uint32_t>(count);
  // The module reads up to the data length: never promise more bytes than
  // are there, except a marker's negative length, which reads nothing.
  bool negativeMarker = header[0] == BUSLOG_KIND_MARKER && static_cast<int32_t>(dataLength) < 0;
  if (dataLength > count && !negativeMarker) {
    return Malformed(message, messageSize, "len= beyond the data bytes given", line.text, line.length);
  }
  ++state->calls;
  int32_t resultCount = -1;
  api.PutFrame(header[0], header[1], static_cast<int32_t>(header[2]), static_cast<int32_t>(header[3]), dataLength,
               g_bytes, &resultCount);
  return ScriptStatus::kOk;
}

// The calls that take 32-bit values (or none): ShareMode, Write, Close,
// PutFrameId, PutTimeStamp, PutError.
ScriptStatus RunValuesCall(const BuslogApi& api, const ScriptLine& line, const char* name, size_t nameLength,
                           Cursor* at, ScriptState* state, char* message, size_t messageSize) {
  const char* token;
  size_t tokenLength;
  uint32_t values[kMaxValues];
  uint32_t count = 0;
  while (NextToken(at, &token, &tokenLength)) {
    if (count == kMaxValues || !ParseValue(token, tokenLength, &values[count])) {
      return Malformed(message, messageSize, "values must be 32-bit numbers (at most 64)", token, tokenLength);
    }
    ++count;
  }
  bool noValues = Is(name, nameLength, "Write") || Is(name, nameLength, "Close");
  if (noValues && count > 0) {
    return Malformed(message, messageSize, "Write and Close take no values", line.text, line.length);
  }
  int32_t resultCount = -1;
  void* cell = nullptr;
  if (Is(name, nameLength, "ShareMode")) {
    api.ShareMode(count, values, &resultCount, &cell);
    state->haveShareMode = true;
    state->shareModeResult = *static_cast<uint32_t*>(cell);
  } else if (Is(name, nameLength, "Write")) {
    api.Write(0, nullptr, &resultCount, &cell);
    state->haveWrite = true;
    state->writeResult = *static_cast<uint8_t*>(cell);
    if (state->writeResult == BUSLOG_WRITE_OK) {
      ++state->linesWritten;
      state->event = ScriptEvent::kWriteOk;
    } else {
      ++state->writeFailures;
      state->event = ScriptEvent::kWriteFailed;
    }
  } else if (Is(name, nameLength, "Close")) {
    api.Close(0, nullptr, &resultCount);
    LogClosed(state);
  } else if (Is(name, nameLength, "PutFrameId")) {
    api.PutFrameId(count, values, &resultCount);
  } else if (Is(name, nameLength, "PutTimeStamp")) {
    api.PutTimeStamp(count, values, &resultCount);
  } else if (Is(name, nameLength, "PutError")) {
    api.PutError(count, values, &resultCount);
  } else {
    char excerpt[kExcerptSize];
    QuoteExcerpt(excerpt, sizeof excerpt, name, nameLength);
    snprintf(message, messageSize, "unknown call %s", excerpt);
    return ScriptStatus::kMalformed;
  }
  ++state->calls;
  return ScriptStatus::kOk;
}

}  // namespace

uint64_t JudgeWrites(ScriptState* state, uint64_t lineNumber) {
  uint64_t failed = 0;
  if (state->pendingWriteLine != 0) {
    if (state->event == ScriptEvent::kWriteFailureExpected) {
      ++state->expectedWriteFailures;
    } else {
      failed = state->pendingWriteLine;
    }
    state->pendingWriteLine = 0;
  }
  if (state->event == ScriptEvent::kWriteFailed) state->pendingWriteLine = lineNumber;
  return failed;
}

uint64_t FinishWrites(ScriptState* state) {
  uint64_t failed = state->pendingWriteLine;
  state->pendingWriteLine = 0;
  return failed;
}

void CloseScriptLog(const BuslogApi& api, ScriptState* state) {
  if (!state->logOpen) return;
  int32_t resultCount;
  api.Close(0, nullptr, &resultCount);
  LogClosed(state);
}

ScriptStatus RunScriptLine(const BuslogApi& api, const char* line, size_t length, ScriptState* state,
                           char* message, size_t messageSize) {
  state->event = ScriptEvent::kOther;
  Cursor at = {line, line + length};
  const char* name;
  size_t nameLength;
  if (!NextToken(&at, &name, &nameLength)) return ScriptStatus::kBlank;
  if (Is(name, nameLength, "expect")) return RunExpectation(&at, line, length, state, message, messageSize);
  if (Is(name, nameLength, "Open") || Is(name, nameLength, "PutString")) {
    return RunTextCall(api, name[0] == 'O', &at, state, message, messageSize);
  }
  ScriptLine whole = {line, length};
  if (Is(name, nameLength, "PutFrame")) return RunPutFrame(api, whole, &at, state, message, messageSize);
  return RunValuesCall(api, whole, name, nameLength, &at, state, message, messageSize);
}

}  // namespace buslog_host
