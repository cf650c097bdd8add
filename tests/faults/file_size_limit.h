// A line cut short by a real file size limit, for the POSIX test programs
// that call the exports directly.
#pragma once

#include <signal.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <cstdint>

#include "faults/direct_calls.h"

namespace buslog_direct {

// Writes the pending line while this process may grow files only to
// `limit` bytes (RLIMIT_FSIZE, SIGXFSZ ignored), then restores the limit
// and the signal; returns the Write result. A line that passes the limit
// is written up to it, the write returning short, and its rest is refused
// with EFBIG.
inline uint8_t WriteLineWithinFileSize(rlim_t limit) {
  struct rlimit saved;
  EXPECT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit limited = saved;
  limited.rlim_cur = limit;
  sighandler_t previous = signal(SIGXFSZ, SIG_IGN);
  EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  uint8_t result = WriteLine();
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  return result;
}

}  // namespace buslog_direct
