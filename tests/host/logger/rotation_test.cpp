// When the logger rotates: by age against the file's first frame, by size
// looked at no more often than the longest lines could fill the rest.
#include <gtest/gtest.h>

#include "logger/rotation.h"

namespace buslog_host {
namespace {

TEST(RotationTest, LinesBeforeTheSizeIsLookedAt) {
  struct Row {
    const char* name;
    uint64_t limit, size, lines;
  } rows[] = {
      {"empty file, limit of one longest line", 4098, 0, 1},
      {"empty file, 10 longest lines", 40980, 0, 10},
      {"just below 10 longest lines", 40979, 0, 9},
      {"part full", 40980, 4098 * 4, 6},
      {"less room than one line", 40980, 40000, 1},
      {"at the limit", 40980, 40980, 1},
      {"past the limit", 40980, 50000, 1},
      {"1 MiB", 1024 * 1024, 0, 255},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(LinesBeforeSizeCheck(row.limit, row.size), row.lines);
  }
}

TEST(RotationTest, AgeAgainstTheFilesFirstFrame) {
  struct Row {
    const char* name;
    FrameTime first, time;
    double limit;
    bool reached;
  } rows[] = {
      {"the first frame", {100, 0}, {100, 0}, 1.0, false},
      {"a microsecond short", {100, 500000}, {101, 499999}, 1.0, false},
      {"exactly the limit", {100, 500000}, {101, 500000}, 1.0, true},
      {"past it", {100, 0}, {160, 1}, 60.0, true},
      {"fractional limit", {100, 0}, {100, 250000}, 0.25, true},
      {"fractional limit, short", {100, 0}, {100, 249999}, 0.25, false},
      {"earlier than the first", {100, 0}, {50, 0}, 1.0, false},
      {"a jump of more than 1e9 s", {0, 0}, {2000000000, 0}, 1e11, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(AgeReached(row.first, row.time, row.limit), row.reached);
  }
}

TEST(RotationTest, WhenTheNextFrameGoesIntoANewFile) {
  const FrameTime first = {100, 0};
  struct Row {
    const char* name;
    RotationPolicy policy;
    bool full, fileHasFrame;
    FrameTime time;
    bool due;
  } rows[] = {
      {"not rotating", {0, 0}, true, true, {1000, 0}, false},
      {"by size, not full", {4096, 0}, false, true, {1000, 0}, false},
      {"by size, full", {4096, 0}, true, true, {100, 0}, true},
      {"full but no frame in it yet", {4096, 0}, true, false, {100, 0}, false},
      {"by age, young", {0, 10}, false, true, {109, 999999}, false},
      {"by age, old enough", {0, 10}, false, true, {110, 0}, true},
      {"by age, empty file", {0, 10}, false, false, {110, 0}, false},
      {"size only: age does not count", {4096, 0}, false, true, {100000, 0}, false},
      {"both, full", {4096, 10}, true, true, {100, 0}, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RotationState state = FreshFile(row.policy);
    state.full = row.full;
    EXPECT_EQ(RotationDue(row.policy, state, row.fileHasFrame, first, row.time), row.due);
  }
}

// The size is looked at after the lines that could just reach the limit,
// then again as the room left says.
TEST(RotationTest, SizeLookedAtAsTheRoomLeftSays) {
  const RotationPolicy policy = {3 * kLongestLogLine, 0};
  RotationState state = FreshFile(policy);
  EXPECT_FALSE(state.full);
  EXPECT_FALSE(SizeCheckDue(policy, &state));
  EXPECT_FALSE(SizeCheckDue(policy, &state));
  EXPECT_TRUE(SizeCheckDue(policy, &state));
  SizeLookedAt(policy, &state, 100);  // short lines: room for 2 more longest
  EXPECT_FALSE(state.full);
  EXPECT_FALSE(SizeCheckDue(policy, &state));
  EXPECT_TRUE(SizeCheckDue(policy, &state));
  SizeLookedAt(policy, &state, 3 * kLongestLogLine);
  EXPECT_TRUE(state.full);
  // Without a size limit the size is never looked at.
  const RotationPolicy byAge = {0, 5};
  RotationState aged = FreshFile(byAge);
  for (int i = 0; i < 10; ++i) EXPECT_FALSE(SizeCheckDue(byAge, &aged));
}

}  // namespace
}  // namespace buslog_host
