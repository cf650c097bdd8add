// The reader library's C interface (include/buslog_reader.h): a handle over
// the log reader of log_reader.h that hands out its lines as columns. It
// adds no reading rule: every field comes from the parsed LogLine and the
// reader's LogContext, translated into the columns' codes. Nothing throws
// across the interface; every call that may allocate catches.
#include "buslog_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "log_reader.h"
#include "open_file.h"

using buslog_reader::BuslogMarker;
using buslog_reader::CanType;
using buslog_reader::LineForm;
using buslog_reader::LogLine;
using buslog_reader::RecordType;

struct BuslogReader {
  buslog_reader::LogReader reader;
  bool opened = false;  // reader holds a buffer
  FILE* file = nullptr;
  const char* memory = nullptr;
  size_t memorySize = 0;
  size_t memoryAt = 0;
  BuslogReadFunction read = nullptr;
  void* readContext = nullptr;
  bool ended = false;
  bool failed = false;
  bool pending = false;  // `line` is read but not yet handed out
  uint64_t frames = 0;
  std::string error;
  // Interface names by index, as handed out, and the index of each name.
  std::vector<std::string> interfaces;
  std::unordered_map<std::string, int32_t> interfaceIndex;
  // The current file's channel -> interface index, sorted by channel.
  std::vector<std::pair<int32_t, int32_t>> channels;
  LogLine line;
};

namespace {

// BuslogColumns as version 1 of the interface has it: callers built since
// pass at least this size.
constexpr uint32_t kColumnsSize = sizeof(BuslogColumns);
constexpr uint32_t kCountsSize = sizeof(BuslogCounts);

size_t ReadMemory(void* context, char* buffer, size_t size, bool*) {
  BuslogReader* r = static_cast<BuslogReader*>(context);
  size_t left = r->memorySize - r->memoryAt;
  size_t part = size < left ? size : left;
  memcpy(buffer, r->memory + r->memoryAt, part);
  r->memoryAt += part;
  return part;
}

size_t ReadFromCaller(void* context, char* buffer, size_t size, bool* failed) {
  BuslogReader* r = static_cast<BuslogReader*>(context);
  int64_t got = r->read(r->readContext, buffer, size);
  if (got < 0 || static_cast<uint64_t>(got) > size) {
    *failed = true;
    return 0;
  }
  return static_cast<size_t>(got);
}

// A new handle in *reader, its line source prepared by `open`.
template <typename Open>
int NewReader(BuslogReader** reader, Open open) {
  if (reader == nullptr) return BUSLOG_READER_BAD_ARGUMENT;
  *reader = nullptr;
  try {
    BuslogReader* r = new BuslogReader;
    int result = open(r);
    *reader = r;
    if (result == BUSLOG_READER_NO_MEMORY) {
      BuslogReaderClose(r);
      *reader = nullptr;
    }
    return result;
  } catch (const std::bad_alloc&) {
    return BUSLOG_READER_NO_MEMORY;
  } catch (...) {
    return BUSLOG_READER_NO_MEMORY;
  }
}

uint8_t RowKind(const LogLine& line) {
  switch (line.form) {
    case LineForm::kEmpty:
      return BUSLOG_ROW_EMPTY;
    case LineForm::kError:
      return BUSLOG_ROW_ERROR;
    case LineForm::kText:
      return line.malformed ? BUSLOG_ROW_MALFORMED : BUSLOG_ROW_TEXT;
    case LineForm::kRecord:
      break;
  }
  if (line.record.type == RecordType::kMarker) return BUSLOG_ROW_MARKER;
  if (line.record.type == RecordType::kCan && line.record.can.complete) return BUSLOG_ROW_FRAME;
  return BUSLOG_ROW_RECORD;
}

uint8_t RecordTypeCode(RecordType type) {
  switch (type) {
    case RecordType::kCan: return BUSLOG_RECORD_CAN;
    case RecordType::kLin: return BUSLOG_RECORD_LIN;
    case RecordType::kCxpi: return BUSLOG_RECORD_CXPI;
    case RecordType::kPort: return BUSLOG_RECORD_PORT;
    case RecordType::kEnv: return BUSLOG_RECORD_ENV;
    case RecordType::kMarker: return BUSLOG_RECORD_MARKER;
    case RecordType::kGeneric: return BUSLOG_RECORD_GENERIC;
    case RecordType::kNone: break;
  }
  return BUSLOG_RECORD_NONE;
}

uint8_t MarkerCode(BuslogMarker marker) {
  switch (marker) {
    case BuslogMarker::kStart: return BUSLOG_MARKER_START;
    case BuslogMarker::kStartUnread: return BUSLOG_MARKER_START_UNREAD;
    case BuslogMarker::kWriter: return BUSLOG_MARKER_WRITER;
    case BuslogMarker::kChannel: return BUSLOG_MARKER_CHANNEL;
    case BuslogMarker::kOther: return BUSLOG_MARKER_OTHER;
    case BuslogMarker::kStartRelative: return BUSLOG_MARKER_START_RELATIVE;
    case BuslogMarker::kLost: return BUSLOG_MARKER_LOST;
    case BuslogMarker::kGone: return BUSLOG_MARKER_GONE;
    case BuslogMarker::kRemoved: return BUSLOG_MARKER_REMOVED;
    case BuslogMarker::kDropped: return BUSLOG_MARKER_DROPPED;
    case BuslogMarker::kClamped: return BUSLOG_MARKER_CLAMPED;
    case BuslogMarker::kNone: break;
  }
  return BUSLOG_MARKER_NONE;
}

int32_t InterfaceOf(const BuslogReader* r, int32_t channel) {
  auto at = std::lower_bound(r->channels.begin(), r->channels.end(), channel,
                             [](const std::pair<int32_t, int32_t>& entry, int32_t c) { return entry.first < c; });
  return at != r->channels.end() && at->first == channel ? at->second : BUSLOG_NO_NUMBER;
}

// A channel marker names its channel from here on: the name gets an index
// (the same index for the same name), and the channel points at it.
void TakeChannelMarker(BuslogReader* r, const LogLine& line) {
  std::string name(line.markerValue.text, line.markerValue.length);
  auto found = r->interfaceIndex.find(name);
  int32_t index;
  if (found != r->interfaceIndex.end()) {
    index = found->second;
  } else {
    index = static_cast<int32_t>(r->interfaces.size());
    r->interfaces.push_back(name);
    r->interfaceIndex.emplace(std::move(name), index);
  }
  auto at = std::lower_bound(r->channels.begin(), r->channels.end(), line.markerChannel,
                             [](const std::pair<int32_t, int32_t>& entry, int32_t c) { return entry.first < c; });
  if (at != r->channels.end() && at->first == line.markerChannel) {
    at->second = index;
  } else {
    r->channels.insert(at, std::make_pair(line.markerChannel, index));
  }
}

// The bytes a row puts into `text`: a marker's text, a text line's reason,
// the data of a frame too long for its data column.
buslog_reader::Text RowText(const LogLine& line, uint8_t kind, bool* isData) {
  *isData = false;
  if (kind == BUSLOG_ROW_MARKER) return line.record.text;
  if (kind == BUSLOG_ROW_TEXT || kind == BUSLOG_ROW_MALFORMED) return {line.why, strlen(line.why)};
  if (kind == BUSLOG_ROW_FRAME && line.record.dataCount > BUSLOG_ROW_DATA) {
    *isData = true;
    return {reinterpret_cast<const char*>(line.record.data), line.record.dataCount};
  }
  return {line.text, 0};
}

void FillRow(const BuslogReader* r, const LogLine& line, uint8_t kind, BuslogColumns* c) {
  const uint32_t i = c->count;
  const buslog_reader::LogRecord& record = line.record;
  const bool frame = kind == BUSLOG_ROW_FRAME;
  const bool isCan = line.form == LineForm::kRecord && record.type == RecordType::kCan;
  if (c->rowKind) c->rowKind[i] = kind;
  if (c->lineFlags) {
    c->lineFlags[i] = static_cast<uint8_t>((line.logLine ? BUSLOG_LINE_LOG : 0) | (line.full ? BUSLOG_LINE_FULL : 0) |
                                           (line.cut ? BUSLOG_LINE_LONG : 0) |
                                           (line.unended ? BUSLOG_LINE_UNENDED : 0) |
                                           (line.hasTime && line.time.wholeMayBeCut ? BUSLOG_LINE_TIME_CUT : 0));
  }
  if (c->lineNumber) c->lineNumber[i] = line.number;
  if (c->frameNumber) c->frameNumber[i] = line.hasFrameNumber ? static_cast<int64_t>(line.frameNumber) : BUSLOG_NO_NUMBER;
  int64_t micros = BUSLOG_NO_TIME;
  if (line.hasTime) {
    micros = static_cast<int64_t>(line.time.seconds) * 1000000 + buslog_reader::MicrosOf(line.time);
  }
  if (c->time) c->time[i] = micros;
  if (c->absoluteTime) {
    uint64_t seconds;
    uint32_t fraction;
    c->absoluteTime[i] = line.hasTime && r->reader.context.AbsoluteTime(line.time, &seconds, &fraction)
                             ? static_cast<int64_t>(seconds) * 1000000 + fraction
                             : BUSLOG_NO_TIME;
  }
  const bool isRecord = line.form == LineForm::kRecord;
  int32_t channel = isRecord && record.hasChannel ? record.channel : BUSLOG_NO_CHANNEL;
  if (line.marker == BuslogMarker::kChannel) channel = line.markerChannel;
  if (c->channel) c->channel[i] = channel;
  if (c->interfaceIndex) {
    c->interfaceIndex[i] = channel == BUSLOG_NO_CHANNEL ? BUSLOG_NO_NUMBER : InterfaceOf(r, channel);
  }
  if (c->kind) c->kind[i] = isRecord && record.type != RecordType::kGeneric ? static_cast<uint8_t>(record.kind) : 0;
  if (c->recordType) c->recordType[i] = RecordTypeCode(isRecord ? record.type : line.headerType);
  const buslog_reader::CanRecord& can = record.can;
  if (c->identifier) c->identifier[i] = isCan ? (can.type == CanType::kError && frame ? can.errorClass : can.id) : 0;
  if (c->frameFlags) {
    uint32_t flags = 0;
    if (frame) {
      if (can.extended || can.type == CanType::kError) flags |= BUSLOG_FRAME_EXTENDED;
      if (can.type == CanType::kRemote) flags |= BUSLOG_FRAME_REMOTE;
      if (can.type == CanType::kFd) {
        flags |= BUSLOG_FRAME_FD;
        if (can.fdFlags & 1) flags |= BUSLOG_FRAME_BRS;
        if (can.fdFlags & 2) flags |= BUSLOG_FRAME_ESI;
      }
      if (can.type == CanType::kError) flags |= BUSLOG_FRAME_ERROR;
      if (record.kind == 'O') flags |= BUSLOG_FRAME_SENT;
    }
    c->frameFlags[i] = static_cast<uint8_t>(flags);
  }
  if (c->dlc) c->dlc[i] = isCan ? can.dlc : 0;
  const uint32_t dataCount = frame ? record.dataCount : 0;
  if (c->length) c->length[i] = static_cast<uint16_t>(dataCount);
  if (c->data) {
    uint8_t* row = c->data + static_cast<size_t>(i) * BUSLOG_ROW_DATA;
    uint32_t kept = dataCount <= BUSLOG_ROW_DATA ? dataCount : 0;
    memcpy(row, record.data, kept);
    memset(row + kept, 0, BUSLOG_ROW_DATA - kept);
  }
  if (c->error) c->error[i] = line.hasError ? static_cast<int64_t>(line.error) : BUSLOG_NO_NUMBER;
  if (c->marker) c->marker[i] = MarkerCode(line.marker);
  if (c->text != nullptr) {
    bool isData;
    buslog_reader::Text text = RowText(line, kind, &isData);
    uint32_t start = c->textUsed;
    memcpy(c->text + start, text.text, text.length);
    c->textUsed += static_cast<uint32_t>(text.length);
    if (c->textStart) c->textStart[i] = start;
    if (c->textLength) c->textLength[i] = static_cast<uint32_t>(text.length);
    uint32_t valueStart = start;
    uint32_t valueLength = 0;
    if (line.marker == BuslogMarker::kWriter || line.marker == BuslogMarker::kChannel ||
        line.marker == BuslogMarker::kLost || line.marker == BuslogMarker::kGone ||
        line.marker == BuslogMarker::kDropped) {
      valueStart = start + static_cast<uint32_t>(line.markerValue.text - record.text.text);
      valueLength = static_cast<uint32_t>(line.markerValue.length);
    }
    if (c->valueStart) c->valueStart[i] = valueStart;
    if (c->valueLength) c->valueLength[i] = valueLength;
  }
  ++c->count;
}

bool ColumnsUsable(const BuslogColumns* c) {
  if (c == nullptr || c->size < kColumnsSize || c->capacity == 0) return false;
  bool wantsText = c->textStart || c->textLength || c->valueStart || c->valueLength;
  if (wantsText && (c->text == nullptr || c->textCapacity < BUSLOG_MIN_TEXT)) return false;
  return c->text == nullptr || c->textCapacity >= BUSLOG_MIN_TEXT;
}

}  // namespace

extern "C" {

int BuslogReaderOpenFile(const char* path, BuslogReader** reader) {
  if (path == nullptr) {
    if (reader != nullptr) *reader = nullptr;
    return BUSLOG_READER_BAD_ARGUMENT;
  }
  return NewReader(reader, [path](BuslogReader* r) {
    r->file = buslog_reader::OpenFileForReading(path);
    if (r->file == nullptr) {
      r->error = std::string(path) + ": " + strerror(errno);
      r->failed = true;
      return BUSLOG_READER_OPEN_FAILED;
    }
    if (!buslog_reader::OpenLogReader(&r->reader, r->file)) return BUSLOG_READER_NO_MEMORY;
    r->opened = true;
    return BUSLOG_READER_OK;
  });
}

int BuslogReaderOpenMemory(const void* bytes, size_t size, BuslogReader** reader) {
  if (bytes == nullptr && size > 0) {
    if (reader != nullptr) *reader = nullptr;
    return BUSLOG_READER_BAD_ARGUMENT;
  }
  return NewReader(reader, [bytes, size](BuslogReader* r) {
    r->memory = static_cast<const char*>(bytes);
    r->memorySize = size;
    buslog_reader::ResetLogContext(&r->reader.context);
    if (!buslog_reader::OpenLineSourceFrom(&r->reader, ReadMemory, r)) return BUSLOG_READER_NO_MEMORY;
    r->opened = true;
    return BUSLOG_READER_OK;
  });
}

int BuslogReaderOpenSource(BuslogReadFunction read, void* context, BuslogReader** reader) {
  if (read == nullptr) {
    if (reader != nullptr) *reader = nullptr;
    return BUSLOG_READER_BAD_ARGUMENT;
  }
  return NewReader(reader, [read, context](BuslogReader* r) {
    r->read = read;
    r->readContext = context;
    buslog_reader::ResetLogContext(&r->reader.context);
    if (!buslog_reader::OpenLineSourceFrom(&r->reader, ReadFromCaller, r)) return BUSLOG_READER_NO_MEMORY;
    r->opened = true;
    return BUSLOG_READER_OK;
  });
}

void BuslogReaderClose(BuslogReader* reader) {
  if (reader == nullptr) return;
  if (reader->opened) buslog_reader::CloseLogReader(&reader->reader);
  if (reader->file != nullptr) fclose(reader->file);
  delete reader;
}

int BuslogReaderRead(BuslogReader* reader, BuslogColumns* columns, uint32_t wanted) {
  if (reader == nullptr || !ColumnsUsable(columns)) return BUSLOG_READER_BAD_ARGUMENT;
  columns->count = 0;
  columns->textUsed = 0;
  if (!reader->opened) return BUSLOG_READER_READ_FAILED;
  try {
    BuslogReader* r = reader;
    LogLine& line = r->line;
    while (columns->count < columns->capacity) {
      if (!r->pending) {
        if (r->ended || r->failed) break;
        if (!buslog_reader::NextLogLine(&r->reader, &line)) {
          if (r->reader.readError) {
            r->failed = true;
            r->error = "read error";
          } else {
            r->ended = true;
          }
          break;
        }
        if (line.marker == BuslogMarker::kChannel) TakeChannelMarker(r, line);
        if (RowKind(line) == BUSLOG_ROW_FRAME) ++r->frames;
      }
      r->pending = false;
      uint8_t kind = RowKind(line);
      if ((wanted & BUSLOG_ROWS(kind)) == 0) continue;
      if (columns->text != nullptr) {
        bool isData;
        size_t need = RowText(line, kind, &isData).length;
        if (columns->textCapacity - columns->textUsed < need) {
          // The text buffer is full: the line is the next call's first.
          r->pending = true;
          break;
        }
      }
      FillRow(r, line, kind, columns);
    }
  } catch (...) {
    reader->error = "out of memory";
    return BUSLOG_READER_NO_MEMORY;
  }
  if (columns->count > 0) return BUSLOG_READER_OK;
  return reader->failed ? BUSLOG_READER_READ_FAILED : BUSLOG_READER_END;
}

int BuslogReaderInterface(const BuslogReader* reader, int32_t index, const char** name, size_t* length) {
  if (reader == nullptr || name == nullptr || length == nullptr || index < 0 ||
      static_cast<size_t>(index) >= reader->interfaces.size()) {
    return BUSLOG_READER_BAD_ARGUMENT;
  }
  const std::string& text = reader->interfaces[static_cast<size_t>(index)];
  *name = text.data();
  *length = text.size();
  return BUSLOG_READER_OK;
}

int BuslogReaderCounts(const BuslogReader* reader, BuslogCounts* counts) {
  if (reader == nullptr || counts == nullptr || counts->size < kCountsSize) return BUSLOG_READER_BAD_ARGUMENT;
  const buslog_reader::LogContext& context = reader->reader.context;
  counts->timeBases = context.timeBases;
  counts->lines = context.lines;
  counts->logLines = context.logLines;
  counts->malformedLines = context.malformedLines;
  counts->markerLines = context.markerLines;
  counts->frames = reader->frames;
  counts->bytes = reader->opened ? buslog_reader::LineSourceConsumed(reader->reader) : 0;
  return BUSLOG_READER_OK;
}

const char* BuslogReaderErrorText(const BuslogReader* reader) {
  return reader == nullptr ? "no reader" : reader->error.c_str();
}

const char* BuslogReaderResultText(int result) {
  switch (result) {
    case BUSLOG_READER_OK: return "done";
    case BUSLOG_READER_END: return "the end of the log";
    case BUSLOG_READER_BAD_ARGUMENT: return "a null handle or pointer, or columns of unknown size or capacity";
    case BUSLOG_READER_OPEN_FAILED: return "the log could not be opened";
    case BUSLOG_READER_READ_FAILED: return "the log could not be read";
    case BUSLOG_READER_NO_MEMORY: return "out of memory";
    default: return "unknown result";
  }
}

uint32_t BuslogReaderVersion(void) { return BUSLOG_READER_VERSION; }

}  // extern "C"
