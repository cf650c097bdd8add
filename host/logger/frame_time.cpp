// Time since a log file's first frame.
#include "logger/frame_time.h"

namespace buslog_host {

bool TimeSinceFirst(const FrameTime& first, const FrameTime& time, Elapsed* since) {
  *since = Elapsed{0, 0};
  if (time.seconds < first.seconds || (time.seconds == first.seconds && time.micros < first.micros)) return false;
  since->seconds = time.seconds - first.seconds;
  if (time.micros >= first.micros) {
    since->micros = time.micros - first.micros;
  } else {
    --since->seconds;
    since->micros = time.micros + 1000000u - first.micros;
  }
  return true;
}

}  // namespace buslog_host
