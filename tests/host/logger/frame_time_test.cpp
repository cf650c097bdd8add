// The time stamp a replayed frame gets: since its file's first frame.
#include <gtest/gtest.h>

#include "logger/frame_time.h"

namespace buslog_host {
namespace {

TEST(FrameTimeTest, TimeSinceTheFilesFirstFrame) {
  struct Row {
    const char* name;
    FrameTime first, time;
    bool inOrder;
    uint64_t seconds;
    uint32_t micros;
  } rows[] = {
      {"the first frame itself", {1436509052, 249713}, {1436509052, 249713}, true, 0, 0},
      {"micros only", {10, 100}, {10, 350}, true, 0, 250},
      {"whole seconds", {10, 500000}, {13, 500000}, true, 3, 0},
      {"micros borrow from the seconds", {10, 900000}, {12, 100000}, true, 1, 200000},
      {"borrow to zero seconds", {10, 999999}, {11, 0}, true, 0, 1},
      {"largest stamps", {UINT64_MAX - 1, 0}, {UINT64_MAX, 999999}, true, 1, 999999},
      {"from zero to the largest", {0, 0}, {UINT64_MAX, 999999}, true, UINT64_MAX, 999999},
      {"a microsecond earlier", {10, 1}, {10, 0}, false, 0, 0},
      {"a second earlier, later micros", {10, 0}, {9, 999999}, false, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Elapsed since = {7, 7};
    EXPECT_EQ(TimeSinceFirst(row.first, row.time, &since), row.inOrder);
    EXPECT_EQ(since.seconds, row.seconds);
    EXPECT_EQ(since.micros, row.micros);
  }
}

}  // namespace
}  // namespace buslog_host
