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

void PutMarkerFields(const BuslogApi& api, const Elapsed& since, const char* text) {
  int32_t resultCount;
  uint32_t values[2] = {0, 0};
  api.PutFrameId(1, values, &resultCount);
  values[0] = static_cast<uint32_t>(since.seconds);
  values[1] = since.micros;
  api.PutTimeStamp(2, values, &resultCount);
  uint8_t record[BUSLOG_MARKER_RECORD_SIZE(kMaxMarkerText)];
  uint32_t recordSize = BuslogBuildMarkerRecord(record, sizeof record, text);
  api.PutFrame(BUSLOG_KIND_MARKER, 0, 0, BUSLOG_STATUS_OK, recordSize, record, &resultCount);
}

}  // namespace buslog_host
