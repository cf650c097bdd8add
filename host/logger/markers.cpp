// The marker lines' texts and fields.
#include "logger/markers.h"

#include <cstdio>
#include <cstring>

#include "log_reader.h"

#ifndef BUSLOG_HOST_VERSION
#error "BUSLOG_HOST_VERSION is set by the build from the project's version"
#endif

namespace buslog_host {

bool StartMarkerText(const FrameTime& first, char* out, size_t size) {
  char utc[buslog_reader::kUtcTextLength + 1];
  if (!buslog_reader::FormatUtc(first.seconds, first.micros, utc)) return false;
  snprintf(out, size, "buslog start %s", utc);
  return true;
}

void WriterMarkerText(char* out, size_t size) { snprintf(out, size, "buslog writer buslog-host %s", BUSLOG_HOST_VERSION); }

void ChannelMarkerText(int32_t channel, const char* name, size_t length, char* out, size_t size) {
  snprintf(out, size, "buslog channel %d %.*s", channel + 1, static_cast<int>(length), name);
}

LogLine MarkerLine(const Elapsed& since, const char* text, uint8_t* record, size_t size) {
  // "000000000" ",+0.000000" ",M" ",Marker  " ", -" ",OK" "," and the text.
  constexpr uint32_t kBeforeText = 9 + 10 + 2 + 9 + 3 + 3 + 1;
  LogLine line = {};
  line.frameNumber = 0;
  line.seconds = static_cast<uint32_t>(since.seconds);
  line.micros = since.micros;
  line.kindCode = BUSLOG_KIND_MARKER;
  line.busCode = 0;
  line.channel = 0;
  line.status = BUSLOG_STATUS_OK;
  line.record = record;
  line.recordSize = BuslogBuildMarkerRecord(record, size, text);
  line.text = nullptr;
  line.textLength = 0;
  line.hasError = false;
  line.length = kBeforeText + static_cast<uint32_t>(strlen(text));
  line.kind = LineKind::kOther;
  return line;
}

}  // namespace buslog_host
