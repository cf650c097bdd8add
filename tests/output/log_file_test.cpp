// Log file control: the Open result codes, the path length limit, sharing
// choices and their odd result, Close.
#include <string>

#include "support/module_test.h"

namespace buslog_test {
namespace {

using LogFileTest = ModuleTest;

// Room left for a name: the directory and the name together stay within
// 259 bytes, 260 with the terminating zero.
uint32_t NameRoom() { return 259 - static_cast<uint32_t>(ModuleDirectory().size()); }

TEST_F(LogFileTest, EmptyNameIsRefusedWithOne) { EXPECT_EQ(OpenBytes(0, "x"), 1); }

TEST_F(LogFileTest, LongestNameThatFitsIsAccepted) {
  std::string name(NameRoom(), 'n');
  EXPECT_EQ(Open(name), 0);
  PutString("long");
  EXPECT_EQ(Write(), 0);
  Close();
  EXPECT_EQ(ReadLog(name), "long\r\n");
}

TEST_F(LogFileTest, NameOneByteTooLongIsRefusedWithOne) {
  std::string name(NameRoom() + 1, 'n');
  EXPECT_EQ(Open(name), 1);
  EXPECT_EQ(ReadLog(name), "<missing>");
}

TEST_F(LogFileTest, CountNearTheTopOfThirtyTwoBitsIsRefusedWithoutReading) {
  // Only 4 bytes are there: any copy would read far past them.
  const char name[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(OpenBytes(0xFFFFFFFFu, name), 1);
  EXPECT_EQ(OpenBytes(0xFFFFFFFFu - 300, name), 1);
}

TEST_F(LogFileTest, FailedCreateGivesTwoAndOpenMayBeTriedAgain) {
  EXPECT_EQ(Open("no-such-folder/x.log"), 2);
  EXPECT_EQ(Write(), 1);  // no file was kept
  EXPECT_EQ(Open("retry.log"), 0);
  Close();
}

TEST_F(LogFileTest, SecondOpenGivesThreeAndLinesStayWithTheFirstFile) {
  EXPECT_EQ(Open("first.log"), 0);
  EXPECT_EQ(Open("second.log"), 3);
  EXPECT_EQ(OpenBytes(0, nullptr), 3);
  PutString("to first");
  EXPECT_EQ(Write(), 0);
  Close();
  EXPECT_EQ(ReadLog("first.log"), "to first\r\n");
  EXPECT_EQ(ReadLog("second.log"), "<missing>");
}

TEST_F(LogFileTest, OpenReplacesAnExistingFile) {
  EXPECT_EQ(Open("again.log"), 0);
  PutString("old content");
  EXPECT_EQ(Write(), 0);
  Close();
  EXPECT_EQ(Open("again.log"), 0);
  Close();
  EXPECT_EQ(ReadLog("again.log"), "");
}

TEST_F(LogFileTest, CloseTwiceClosesNothingTheSecondTime) {
  EXPECT_EQ(Open("twice.log"), 0);
  Close();
  Close();
  EXPECT_EQ(Write(), 1);
}

TEST_F(LogFileTest, WriteWithoutAFileFailsAndDropsTheLine) {
  PutString("lost before open");
  EXPECT_EQ(Write(), 1);
  EXPECT_EQ(Open("after-lost.log"), 0);
  PutString("kept");
  EXPECT_EQ(Write(), 0);
  Close();
  PutString("lost after close");
  EXPECT_EQ(Write(), 1);
  EXPECT_EQ(ReadLog("after-lost.log"), "kept\r\n");
}

TEST_F(LogFileTest, TextBeforeOpenStartsTheFirstLine) {
  PutString("early,");
  EXPECT_EQ(Open("early.log"), 0);
  PutString("late");
  EXPECT_EQ(Write(), 0);
  Close();
  EXPECT_EQ(ReadLog("early.log"), "early,late\r\n");
}

TEST_F(LogFileTest, CloseDropsAPendingLine) {
  EXPECT_EQ(Open("stale.log"), 0);
  PutString("stale");
  Close();
  EXPECT_EQ(Open("fresh.log"), 0);
  EXPECT_EQ(Write(), 0);
  Close();
  EXPECT_EQ(ReadLog("stale.log"), "");
  EXPECT_EQ(ReadLog("fresh.log"), "\r\n");
}

TEST_F(LogFileTest, ShareModeResultIsOneUntilACallCarriesAValue) {
  EXPECT_EQ(ShareMode({}), 1u);
  EXPECT_EQ(ShareMode({}), 1u);
  EXPECT_EQ(ShareMode({5}), 0u);
  EXPECT_EQ(ShareMode({0}), 0u);
  EXPECT_EQ(ShareMode({}), 0u);
  // Close and a new file do not bring the 1 back.
  EXPECT_EQ(Open("share.log"), 0);
  Close();
  EXPECT_EQ(ShareMode({}), 0u);
}

}  // namespace
}  // namespace buslog_test
