// The engine's pieces that decide without the module: the interfaces'
// channels, the time since a base and when a new base or file begins, the
// start marker's text as readers take it back, and the losses as ranges.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "channels.h"
#include "log_reader.h"
#include "markers.h"
#include "messages.h"
#include "time_base.h"
#include "trouble.h"

namespace buslog_writer {
namespace {

TEST(ChannelsTest, NumberedByFirstAppearance) {
  struct Row {
    std::string name;
    int32_t channel;
  } rows[] = {
      {"can0", 0},
      {"can1", 1},
      {"can0", 0},
      {"vcan_long_0", 2},
      {"vcan_long_1", 3},  // same first 8 bytes as the one before
      {"vcan_lon", 4},     // those 8 bytes alone
      {"vcan_long_0", 2},
      {std::string(255, 'x'), 5},
      {std::string(255, 'x') + "y", 5},  // cut to 255 bytes: the same
      {"", 6},                           // no name is an interface too
      {"1", 7},
  };
  auto table = std::make_unique<ChannelTable>();
  *table = ChannelTable{};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(ChannelOf(table.get(), row.name.data(), row.name.size()), row.channel);
  }
  EXPECT_EQ(ChannelOf(table.get(), nullptr, 0), 6);
  EXPECT_EQ(table->count, 8u);
}

TEST(ChannelsTest, FullAt256) {
  auto table = std::make_unique<ChannelTable>();
  *table = ChannelTable{};
  for (int i = 0; i < 256; ++i) {
    std::string name = "can" + std::to_string(i);
    ASSERT_EQ(ChannelOf(table.get(), name.data(), name.size()), i);
  }
  EXPECT_EQ(ChannelOf(table.get(), "can999", 6), -1);
  EXPECT_EQ(ChannelOf(table.get(), "can255", 6), 255);
}

TEST(ChannelsTest, MarkerNamesHaveNoLineEnds) {
  auto table = std::make_unique<ChannelTable>();
  *table = ChannelTable{};
  const char name[] = "a\rb\nc\0d";
  ChannelOf(table.get(), name, sizeof name - 1);
  char out[kMaxInterfaceName + 1];
  EXPECT_EQ(MarkerName(*table, 0, out), 7u);
  EXPECT_STREQ(out, "a b c d");
}

TEST(TimeBaseTest, TimeSinceTheBase) {
  struct Row {
    const char* name;
    FrameTime base, time;
    bool inOrder;
    uint64_t seconds;
    uint32_t micros;
  } rows[] = {
      {"the base itself", {1436509052, 249713}, {1436509052, 249713}, true, 0, 0},
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
    EXPECT_EQ(TimeSince(row.base, row.time, &since), row.inOrder);
    EXPECT_EQ(since.seconds, row.seconds);
    EXPECT_EQ(since.micros, row.micros);
  }
}

struct StepRow {
  const char* name;
  FrameTime base;
  FrameTime latest;
  FrameTime time;
  TimeStep precise;   // with marker lines, PRECISE
  TimeStep perFile;   // PER_FILE, or no marker lines
  TimeReason reason;
};

const StepRow kSteps[] = {
    {"the next frame", {1700000000, 0}, {1700000000, 500}, {1700000000, 600}, TimeStep::kKeep, TimeStep::kKeep,
     TimeReason::kNone},
    {"9.999999 s after the base", {1700000000, 1}, {1700000000, 1}, {1700000010, 0}, TimeStep::kKeep,
     TimeStep::kKeep, TimeReason::kNone},
    {"10 s after the base: a digit would go", {1700000000, 1}, {1700000000, 1}, {1700000010, 1},
     TimeStep::kNewBase, TimeStep::kKeep, TimeReason::kPrecision},
    {"out of order by microseconds", {1700000000, 0}, {1700000005, 10}, {1700000005, 3}, TimeStep::kKeep,
     TimeStep::kKeep, TimeReason::kNone},
    {"exactly 1 s before the latest", {1700000000, 0}, {1700000005, 250000}, {1700000004, 250000},
     TimeStep::kKeep, TimeStep::kKeep, TimeReason::kNone},
    {"1 us more than 1 s before the latest", {1700000000, 0}, {1700000005, 250000}, {1700000004, 249999},
     TimeStep::kNewBase, TimeStep::kNewFile, TimeReason::kClockBack},
    {"before the base, within 1 s of the latest", {1700000000, 500000}, {1700000000, 700000},
     {1700000000, 100000}, TimeStep::kNewBase, TimeStep::kKeep, TimeReason::kBeforeBase},
    {"an hour back", {1700000000, 0}, {1700003000, 0}, {1699999400, 0}, TimeStep::kNewBase, TimeStep::kNewFile,
     TimeReason::kClockBack},
    {"99,999,999.999999 s after the base", {1000, 1}, {1000, 1}, {100001000, 0}, TimeStep::kNewBase,
     TimeStep::kKeep, TimeReason::kPrecision},
    {"100,000,000 s after the base", {1000, 1}, {1000, 1}, {100001000, 1}, TimeStep::kNewBase, TimeStep::kNewFile,
     TimeReason::kTooLate},
    {"past 32-bit seconds", {0, 0}, {0, 0}, {4294967296, 500000}, TimeStep::kNewBase, TimeStep::kNewFile,
     TimeReason::kTooLate},
    {"the largest candump time", {0, 0}, {0, 0}, {9999999999999999999ull, 999999}, TimeStep::kNewBase,
     TimeStep::kNewFile, TimeReason::kTooLate},
};

TEST(TimeBaseTest, WhenANewBaseOrFileBegins) {
  for (const StepRow& row : kSteps) {
    SCOPED_TRACE(row.name);
    TimeBase base = {true, row.base, row.latest};
    TimeReason reason;
    EXPECT_EQ(static_cast<int>(StepFor(true, base, row.time, &reason)), static_cast<int>(row.precise));
    EXPECT_EQ(static_cast<int>(reason), static_cast<int>(row.reason));
    bool perFileReason = row.reason != TimeReason::kPrecision && row.reason != TimeReason::kBeforeBase;
    EXPECT_EQ(static_cast<int>(StepFor(false, base, row.time, &reason)), static_cast<int>(row.perFile));
    EXPECT_EQ(static_cast<int>(reason), static_cast<int>(perFileReason ? row.reason : TimeReason::kNone));
  }
  TimeReason reason;
  EXPECT_EQ(static_cast<int>(StepFor(true, TimeBase{}, FrameTime{5, 0}, &reason)),
            static_cast<int>(TimeStep::kFirstBase));
}

// The start marker's text, and the time a reader gets back from it.
TEST(TimeBaseTest, StartMarkers) {
  struct Row {
    const char* name;
    FrameTime base;
    const char* text;  // nullptr: no start marker can say it
    bool dated;
  };
  const Row rows[] = {
      {"a drive in 2023", {1700000000, 1000}, "buslog start 2023-11-14T22:13:20.001000Z", true},
      {"the first date", {946684800, 0}, "buslog start 2000-01-01T00:00:00.000000Z", true},
      {"a device's own clock", {946684799, 999999}, "buslog start relative 946684799.999999", false},
      {"a replay of relative times", {0, 19968}, "buslog start relative 0.019968", false},
      {"past 32-bit seconds", {4294967296, 500000}, "buslog start 2106-02-07T06:28:16.500000Z", true},
      {"the last second of 9999", {253402300799, 999999}, "buslog start 9999-12-31T23:59:59.999999Z", true},
      {"the year 10000", {253402300800, 0}, nullptr, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    char text[kMaxMarkerText];
    bool made = StartMarkerText(row.base, text, sizeof text);
    ASSERT_EQ(made, row.text != nullptr);
    if (!made) continue;
    EXPECT_STREQ(text, row.text);
    if (!row.dated) continue;
    std::string line = std::string("000000000,+0.000000,M,Marker  , -,OK,") + text;
    static buslog_reader::LogLine parsed;
    buslog_reader::ParseLogLine(line.data(), line.size(), &parsed);
    ASSERT_EQ(parsed.marker, buslog_reader::BuslogMarker::kStart);
    EXPECT_EQ(parsed.startSeconds, row.base.seconds);
    EXPECT_EQ(parsed.startMicros, row.base.micros);
  }
  char text[kMaxMarkerText];
  ChannelMarkerText(255, "vcan0", text, sizeof text);
  EXPECT_STREQ(text, "buslog channel 256 vcan0");
}

struct Loss {
  uint32_t first;
  uint32_t last;
  const char* reason;
};

struct LossRow {
  const char* name;
  std::vector<Loss> losses;  // in the order they became known
  std::vector<Loss> expected;
  uint64_t lost;
};

const LossRow kLosses[] = {
    {"nothing", {}, {}, 0},
    {"one frame", {{7, 7, "Input/output error"}}, {{7, 7, "Input/output error"}}, 1},
    {"frames one by one join",
     {{10, 10, "No space left on device"}, {11, 11, "No space left on device"}, {12, 12, "No space left on device"}},
     {{10, 12, "No space left on device"}},
     3},
    {"a gap keeps them apart",
     {{10, 10, "No space left on device"}, {12, 12, "No space left on device"}},
     {{10, 10, "No space left on device"}, {12, 12, "No space left on device"}},
     2},
    {"another reason keeps them apart",
     {{10, 11, "No space left on device"}, {12, 12, "Input/output error"}},
     {{10, 11, "No space left on device"}, {12, 12, "Input/output error"}},
     3},
    {"an earlier range known later stays where it became known",
     {{500, 600, "Input/output error"}, {1, 120, "the log a.buslog was deleted"}},
     {{500, 600, "Input/output error"}, {1, 120, "the log a.buslog was deleted"}},
     221},
};

TEST(LossesTest, RangesInTheOrderTheyBecameKnown) {
  for (const LossRow& row : kLosses) {
    SCOPED_TRACE(row.name);
    Losses losses;
    StorageTrouble trouble = {};
    for (const Loss& loss : row.losses) NoteLoss(&losses, &trouble, loss.first, loss.last, loss.reason, 0, BUSLOG_LOSS_STORAGE, false);
    ASSERT_EQ(losses.ranges.size(), row.expected.size());
    for (size_t i = 0; i < losses.ranges.size(); ++i) {
      EXPECT_EQ(losses.ranges[i].first, row.expected[i].first);
      EXPECT_EQ(losses.ranges[i].last, row.expected[i].last);
      EXPECT_EQ(losses.reasons[losses.ranges[i].reason].text, row.expected[i].reason);
    }
    EXPECT_EQ(losses.lost, row.lost);
  }
}

TEST(LossesTest, ReportedOnceInOneLine) {
  Losses losses;
  StorageTrouble trouble = {};
  for (uint32_t frame : {312u, 313u, 314u, 320u}) NoteLoss(&losses, &trouble, frame, frame, "No space left on device", 28, BUSLOG_LOSS_STORAGE, false);
  uint32_t first = 0, count = 0;
  int error = 0;
  char text[512];
  EXPECT_EQ(ReportLosses(&losses, "/m/run.buslog", &first, &count, &error, text, sizeof text), 4u);
  EXPECT_STREQ(text, "could not log frames 312-314, 320 to /m/run.buslog: No space left on device");
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(error, 28);
  EXPECT_EQ(ReportLosses(&losses, "/m/run.buslog", &first, &count, &error, text, sizeof text), 0u);
  // A loss after a report begins a range of its own, even where it goes on.
  NoteLoss(&losses, &trouble, 321, 321, "No space left on device", 28, BUSLOG_LOSS_STORAGE, false);
  EXPECT_EQ(ReportLosses(&losses, "/m/run.buslog", &first, &count, &error, text, sizeof text), 1u);
  EXPECT_STREQ(text, "could not log frame 321 to /m/run.buslog: No space left on device");
}

TEST(TroubleTest, TriesAgainAfterTheRetryTimeAndRecovers) {
  Messages messages;
  StorageTrouble trouble = {};
  EXPECT_TRUE(RetryDue(trouble, 100.0));
  NoteFailure(&trouble, &messages, "write", "/m/run.csv", 42, 28, "No space left on device", 100.0);
  EXPECT_TRUE(trouble.failing);
  EXPECT_EQ(trouble.failedAt, 42u);
  EXPECT_FALSE(RetryDue(trouble, 100.0 + kRetrySeconds / 2));
  EXPECT_TRUE(RetryDue(trouble, 100.0 + kRetrySeconds));
  // A repeat of the same kind is not said again, nor is its start moved.
  NoteFailure(&trouble, &messages, "write", "/m/run.csv", 42, 28, "No space left on device", 101.0);
  EXPECT_EQ(trouble.said.size(), 1u);
  EXPECT_EQ(trouble.failingSince, 100.0);
  NoteFailure(&trouble, &messages, "create", "/m/run-002.csv", 42, 28, "No space left on device", 101.5);
  EXPECT_EQ(trouble.said.size(), 2u);
  NoteRecovered(&trouble, &messages, 42, 102.0);
  EXPECT_FALSE(trouble.failing);
  EXPECT_TRUE(trouble.said.empty());
  const char* said[] = {"cannot write the log /m/run.csv at frame 42: No space left on device; trying again",
                        "cannot create the log /m/run-002.csv at frame 42: No space left on device; trying again",
                        "writing works again at frame 42 after 2.0 s"};
  for (const char* expected : said) {
    char text[512];
    ASSERT_NE(TakeMessage(&messages, text, sizeof text), 0);
    EXPECT_STREQ(text, expected);
  }
  EXPECT_EQ(TakeMessage(&messages, nullptr, 0), 0);
}

TEST(TroubleTest, LossesWhileFailingAreSaidAtMostOnceASecond) {
  Messages messages;
  Losses losses;
  StorageTrouble trouble = {};
  NoteFailure(&trouble, &messages, "write", "/m/run.csv", 5, 28, "No space left on device", 10.0);
  NoteLoss(&losses, &trouble, 5, 5, "No space left on device", 28, BUSLOG_LOSS_STORAGE, false);
  NoteLoss(&losses, &trouble, 6, 9, "No space left on device", 28, BUSLOG_LOSS_STORAGE, false);
  EXPECT_EQ(trouble.lostSinceSaid, 5u);
  SayLosses(&trouble, &messages, 10.5);  // not yet a second since the failure was said
  EXPECT_EQ(trouble.lostSinceSaid, 5u);
  SayLosses(&trouble, &messages, 11.0);
  EXPECT_EQ(trouble.lostSinceSaid, 0u);
  EXPECT_EQ(trouble.lostWhileFailing, 5u);
  NoteRecovered(&trouble, &messages, 10, 12.0);
  char text[512];
  TakeMessage(&messages, text, sizeof text);
  TakeMessage(&messages, text, sizeof text);
  EXPECT_STREQ(text, "5 more frames could not be logged (No space left on device)");
  TakeMessage(&messages, text, sizeof text);
  EXPECT_STREQ(text, "writing works again at frame 10 after 2.0 s; 5 frames could not be logged");
}

}  // namespace
}  // namespace buslog_writer
