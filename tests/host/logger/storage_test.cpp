// What the logger keeps of its storage failures: the missing frames as
// ranges with their reasons, and when it tries again.
#include <gtest/gtest.h>

#include <vector>

#include "logger/storage.h"

namespace buslog_host {
namespace {

struct Loss {
  uint32_t first;
  uint32_t last;
  const char* reason;
};

struct Range {
  uint32_t first;
  uint32_t last;
  const char* reason;
};

struct MissingRow {
  const char* name;
  std::vector<Loss> losses;  // in the order they became known
  std::vector<Range> expected;
  uint64_t lost;
};

const MissingRow kMissing[] = {
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
    // A file lost or removed later covers earlier frames: sorted by frame.
    {"an earlier range known later",
     {{500, 600, "Input/output error"}, {1, 120, "removed by the ring"}, {121, 250, "removed by the ring"}},
     {{1, 250, "removed by the ring"}, {500, 600, "Input/output error"}},
     351},
};

TEST(StorageTest, MissingFramesAreRangesInFrameOrder) {
  for (const MissingRow& row : kMissing) {
    SCOPED_TRACE(row.name);
    StorageTrouble trouble = {};
    for (const Loss& loss : row.losses) NoteMissing(&trouble, loss.first, loss.last, loss.reason, false);
    std::vector<MissingRange> ranges = SortedMissing(trouble);
    ASSERT_EQ(ranges.size(), row.expected.size());
    for (size_t i = 0; i < ranges.size(); ++i) {
      EXPECT_EQ(ranges[i].first, row.expected[i].first);
      EXPECT_EQ(ranges[i].last, row.expected[i].last);
      EXPECT_EQ(trouble.reasons[ranges[i].reason], row.expected[i].reason);
    }
    EXPECT_EQ(trouble.lost, row.lost);
  }
}

TEST(StorageTest, TriesAgainAfterTheRetryTimeAndRecovers) {
  StorageTrouble trouble = {};
  EXPECT_TRUE(RetryDue(trouble, 100.0));
  NoteFailure(&trouble, "write", "/m/run.csv", 42, 28, "No space left on device", "trying again", 100.0);
  EXPECT_TRUE(trouble.failing);
  EXPECT_EQ(trouble.failedAt, 42u);
  EXPECT_FALSE(RetryDue(trouble, 100.0 + kRetrySeconds / 2));
  EXPECT_TRUE(RetryDue(trouble, 100.0 + kRetrySeconds));
  // A repeat of the same kind is not said again, nor is its start moved.
  NoteFailure(&trouble, "write", "/m/run.csv", 42, 28, "No space left on device", "trying again", 101.0);
  EXPECT_EQ(trouble.said.size(), 1u);
  EXPECT_EQ(trouble.failingSince, 100.0);
  NoteFailure(&trouble, "create", "/m/run-002.csv", 42, 28, "No space left on device", "trying again", 101.5);
  EXPECT_EQ(trouble.said.size(), 2u);
  NoteRecovered(&trouble, 42, 102.0);
  EXPECT_FALSE(trouble.failing);
  EXPECT_TRUE(trouble.said.empty());
  EXPECT_TRUE(RetryDue(trouble, 102.0));
}

TEST(StorageTest, LossesWhileFailingAreCountedForTheLineASecond) {
  StorageTrouble trouble = {};
  NoteFailure(&trouble, "write", "/m/run.csv", 5, 28, "No space left on device", "trying again", 10.0);
  NoteMissing(&trouble, 5, 5, "No space left on device", false);
  NoteMissing(&trouble, 6, 9, "No space left on device", false);
  // Removals by the ring are said on their own and not counted here.
  NoteMissing(&trouble, 1, 4, "removed by the ring", true);
  EXPECT_EQ(trouble.lostSinceSaid, 5u);
  SayLosses(&trouble, 10.5);  // not yet a second since the failure was said
  EXPECT_EQ(trouble.lostSinceSaid, 5u);
  SayLosses(&trouble, 11.0);
  EXPECT_EQ(trouble.lostSinceSaid, 0u);
  EXPECT_EQ(trouble.lostWhileFailing, 5u);
  EXPECT_EQ(trouble.lost, 9u);
}

}  // namespace
}  // namespace buslog_host
