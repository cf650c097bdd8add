// When a frame's time cannot go into the open log file at all (a new file
// with a new time base begins at it), by the table in logger/frame_time.h;
// and the start marker's text, which readers parse back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "log_reader.h"
#include "logger/frame_time.h"
#include "logger/markers.h"

namespace buslog_host {
namespace {

struct JumpRow {
  const char* name;
  FrameTime first;
  FrameTime latest;
  FrameTime time;
  TimeJump expected;
};

const JumpRow kJumps[] = {
    {"the next frame", {1700000000, 0}, {1700000000, 500}, {1700000000, 600}, TimeJump::kNone},
    {"the same time as the latest", {1700000000, 0}, {1700000005, 0}, {1700000005, 0}, TimeJump::kNone},
    {"out of order by microseconds", {1700000000, 0}, {1700000005, 10}, {1700000005, 3}, TimeJump::kNone},
    {"exactly 1 s before the latest", {1700000000, 0}, {1700000005, 250000}, {1700000004, 250000},
     TimeJump::kNone},
    {"1 us more than 1 s before the latest", {1700000000, 0}, {1700000005, 250000}, {1700000004, 249999},
     TimeJump::kClockBack},
    {"before the first, within 1 s of the latest", {1700000000, 500000}, {1700000000, 700000},
     {1700000000, 100000}, TimeJump::kNone},
    {"an hour back", {1700000000, 0}, {1700003000, 0}, {1699999400, 0}, TimeJump::kClockBack},
    {"back to 0", {1700000000, 0}, {1700000000, 0}, {0, 0}, TimeJump::kClockBack},
    {"99,999,999.999999 s after the first", {1000, 1}, {1000, 1}, {100001000, 0}, TimeJump::kNone},
    {"100,000,000 s after the first", {1000, 1}, {1000, 1}, {100001000, 1}, TimeJump::kTooLate},
    {"past 32-bit seconds", {0, 0}, {0, 0}, {4294967296, 500000}, TimeJump::kTooLate},
    {"the largest candump time", {0, 0}, {0, 0}, {9999999999999999999ull, 999999}, TimeJump::kTooLate},
    {"32-bit seconds from a late start", {4294967295, 0}, {4294967295, 0}, {4294967296, 500000}, TimeJump::kNone},
};

TEST(TimeJumpTest, TimeJumps) {
  for (const JumpRow& row : kJumps) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(static_cast<int>(CheckTimeJump(row.first, row.latest, row.time)), static_cast<int>(row.expected));
  }
}

// The start marker's text, and the time the reader gets back from it.
TEST(TimeJumpTest, StartMarkers) {
  struct Row {
    const char* name;
    FrameTime first;
    const char* text;  // nullptr: no start marker can say it
  };
  const Row rows[] = {
      {"a drive in 2023", {1700000000, 1000}, "buslog start 2023-11-14T22:13:20.001000Z"},
      {"the epoch", {0, 0}, "buslog start 1970-01-01T00:00:00.000000Z"},
      {"past 32-bit seconds", {4294967296, 500000}, "buslog start 2106-02-07T06:28:16.500000Z"},
      {"the last second of 9999", {253402300799, 999999}, "buslog start 9999-12-31T23:59:59.999999Z"},
      {"the year 10000", {253402300800, 0}, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    char text[kMaxMarkerText];
    bool made = StartMarkerText(row.first, text, sizeof text);
    ASSERT_EQ(made, row.text != nullptr);
    if (!made) continue;
    EXPECT_STREQ(text, row.text);
    std::string line = std::string("000000000,+0.000000,M,Marker  , -,OK,") + text;
    static buslog_reader::LogLine parsed;
    buslog_reader::ParseLogLine(line.data(), line.size(), &parsed);
    ASSERT_EQ(parsed.marker, buslog_reader::BuslogMarker::kStart);
    EXPECT_EQ(parsed.startSeconds, row.first.seconds);
    EXPECT_EQ(parsed.startMicros, row.first.micros);
  }
  char text[kMaxMarkerText];
  ChannelMarkerText(255, "a-name-of-64-bytes-a-name-of-64-bytes-a-name-of-64-bytes-a-name", 64, text, sizeof text);
  EXPECT_STREQ(text, "buslog channel 256 a-name-of-64-bytes-a-name-of-64-bytes-a-name-of-64-bytes-a-name");
}

}  // namespace
}  // namespace buslog_host
