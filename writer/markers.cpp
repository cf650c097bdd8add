// The marker lines' texts.
#include "markers.h"

#include <cstdio>

#include "buslog_writer.h"
#include "log_reader.h"

namespace buslog_writer {

bool RelativeTime(const FrameTime& time) { return time.seconds < BUSLOG_WRITER_FIRST_DATE; }

bool StartMarkerText(const FrameTime& time, char* out, size_t size) {
  if (RelativeTime(time)) {
    snprintf(out, size, "buslog start relative %llu.%06u", static_cast<unsigned long long>(time.seconds),
             time.micros);
    return true;
  }
  char utc[buslog_reader::kUtcTextLength + 1];
  if (!buslog_reader::FormatUtc(time.seconds, time.micros, utc)) return false;
  snprintf(out, size, "buslog start %s", utc);
  return true;
}

void MarkerTimeText(const FrameTime& time, char* out, size_t size) {
  char utc[buslog_reader::kUtcTextLength + 1];
  if (!RelativeTime(time) && buslog_reader::FormatUtc(time.seconds, time.micros, utc)) {
    snprintf(out, size, "%s", utc);
  } else {
    snprintf(out, size, "%llu.%06u", static_cast<unsigned long long>(time.seconds), time.micros);
  }
}

void WriterMarkerText(const char* writer, char* out, size_t size) { snprintf(out, size, "buslog writer %s", writer); }

void ChannelMarkerText(uint32_t channel, const char* name, char* out, size_t size) {
  snprintf(out, size, "buslog channel %u %s", channel + 1, name);
}

}  // namespace buslog_writer
