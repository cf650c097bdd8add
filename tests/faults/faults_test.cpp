// How the module reacts when the system fails it, with the fake platform in
// place of the real one: a refused create, writes that fail part-way (disk
// full), a failed close, an unknown module directory. The module's own
// objects are linked in and its exports called directly; the fake sees every
// system call the module makes and flags any with a handle that is not open.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "buslog.h"
#include "faults/direct_calls.h"
#include "faults/fake_platform.h"
#include "plugin/module_state.h"

namespace {

using namespace buslog_direct;

using buslog_fake::Fake;
using buslog_fake::OpenFileCount;

class FakeFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    buslog_fake::ResetFake();
    StartModule();
  }

  void TearDown() override {
    CloseLog();
    EXPECT_EQ(OpenFileCount(), 0) << "a handle outlived Close";
    for (const std::string& call : Fake().misuse) ADD_FAILURE() << "platform called " << call;
  }

  // Process attach as the entry points do it: a fresh state whose base
  // directory comes from the (fake) platform.
  void StartModule() {
    buslog::ResetModule();
    buslog::InitBaseDirectory(buslog::g_module.log, nullptr);
  }

  // Content of the fake file created n-th (from 0).
  static std::string Content(size_t n) {
    return n < Fake().files.size() ? Fake().files[n].content : "<not created>";
  }
};

TEST_F(FakeFaultsTest, RefusedCreateKeepsNoHandleAndTheNextOpenCanSucceed) {
  Fake().knobs.refuseCreate = true;
  EXPECT_EQ(OpenLog("refused.log"), BUSLOG_OPEN_FAILED);
  EXPECT_EQ(Fake().createdPaths, std::vector<std::string>{"/fake/logs/refused.log"});
  EXPECT_EQ(buslog::g_module.log.handle, buslog::kNoFile);

  AddText("nowhere to go");
  EXPECT_EQ(WriteLine(), 1);
  EXPECT_TRUE(Fake().writeRequests.empty()) << "a write reached the system with no file open";

  Fake().knobs.refuseCreate = false;
  EXPECT_EQ(OpenLog("refused.log"), BUSLOG_OPEN_OK);  // not 3: nothing was kept
  AddText("after");
  EXPECT_EQ(WriteLine(), 0);
  CloseLog();
  EXPECT_EQ(Content(0), "after\r\n");
}

// Disk full: some writes fail, possibly after part of the line reached the
// file. Each failed Write says 1 and drops its line; the line after the
// failures is whole, and nothing of a dropped line is carried into it.
struct FailedWriteCase {
  const char* name;
  int failingWrites;
  uint32_t bytesBeforeFailure;
  const char* expectedFile;
};

class FailedWriteTest : public FakeFaultsTest, public ::testing::WithParamInterface<FailedWriteCase> {};

TEST_P(FailedWriteTest, FailedLinesAreGoneAndTheNextLineIsWhole) {
  const FailedWriteCase& c = GetParam();
  ASSERT_EQ(OpenLog("full.log"), BUSLOG_OPEN_OK);
  AddText("first");
  EXPECT_EQ(WriteLine(), 0);

  Fake().knobs.failingWrites = c.failingWrites;
  Fake().knobs.bytesBeforeFailure = c.bytesBeforeFailure;
  for (int i = 0; i < c.failingWrites; ++i) {
    AddFrameNumber(123);
    AddText(",lost");
    EXPECT_EQ(WriteLine(), 1) << "failing write " << i;
    // The whole line went to the system in one request.
    EXPECT_EQ(Fake().writeRequests.back(), "000000123,lost\r\n");
  }
  // A failed write does not close the log.
  EXPECT_EQ(OpenLog("other.log"), BUSLOG_OPEN_BUSY);

  AddFrameNumber(7);
  AddText(",kept");
  EXPECT_EQ(WriteLine(), 0);
  EXPECT_EQ(Fake().writeRequests.back(), "000000007,kept\r\n");
  CloseLog();
  EXPECT_EQ(Content(0), c.expectedFile);
  EXPECT_EQ(Fake().files.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    DiskFull, FailedWriteTest,
    ::testing::Values(
        FailedWriteCase{"NothingWritten", 1, 0, "first\r\n000000007,kept\r\n"},
        FailedWriteCase{"PrefixWritten", 1, 4, "first\r\n0000000000007,kept\r\n"},
        FailedWriteCase{"AllButLineEnd", 1, 15, "first\r\n000000123,lost\r000000007,kept\r\n"},
        FailedWriteCase{"ThreeInARow", 3, 2, "first\r\n000000000000007,kept\r\n"}),
    [](const ::testing::TestParamInfo<FailedWriteCase>& testCase) { return std::string(testCase.param.name); });

// The new file's name is made durable once, before Open reports 0. When the
// system cannot do that, the file is closed and removed again and Open says
// 2; the module then goes on as after a refused create.
struct EntrySyncCase {
  const char* name;
  bool syncFails;
  uint8_t openResult;
  bool removed;
};

class EntrySyncTest : public FakeFaultsTest, public ::testing::WithParamInterface<EntrySyncCase> {};

TEST_P(EntrySyncTest, OpenKeepsOnlyAFileWhoseNameIsDurable) {
  const EntrySyncCase& c = GetParam();
  Fake().knobs.entrySyncFails = c.syncFails;
  EXPECT_EQ(OpenLog("new.log"), c.openResult);
  EXPECT_EQ(Fake().syncedEntries, std::vector<std::string>{"/fake/logs/new.log"});
  ASSERT_EQ(Fake().files.size(), 1u);
  EXPECT_EQ(Fake().files[0].removed, c.removed);
  EXPECT_EQ(OpenFileCount(), c.removed ? 0 : 1);
  EXPECT_EQ(buslog::g_module.log.handle == buslog::kNoFile, c.removed);

  AddText("line");
  EXPECT_EQ(WriteLine(), c.removed ? 1 : 0);
  if (c.removed) {
    EXPECT_TRUE(Fake().writeRequests.empty()) << "a write reached the removed file";
  }

  Fake().knobs.entrySyncFails = false;
  EXPECT_EQ(OpenLog("next.log"), c.removed ? BUSLOG_OPEN_OK : BUSLOG_OPEN_BUSY);
  // Each created file is synced once, and nothing else is.
  EXPECT_EQ(Fake().syncedEntries.size(), Fake().files.size());
}

INSTANTIATE_TEST_SUITE_P(
    PowerLoss, EntrySyncTest,
    ::testing::Values(EntrySyncCase{"Synced", false, BUSLOG_OPEN_OK, false},
                      EntrySyncCase{"SyncFails", true, BUSLOG_OPEN_FAILED, true}),
    [](const ::testing::TestParamInfo<EntrySyncCase>& testCase) { return std::string(testCase.param.name); });

TEST_F(FakeFaultsTest, RefusedCreateSyncsNothing) {
  Fake().knobs.refuseCreate = true;
  EXPECT_EQ(OpenLog("refused.log"), BUSLOG_OPEN_FAILED);
  EXPECT_TRUE(Fake().syncedEntries.empty());
}

TEST_F(FakeFaultsTest, FailedCloseLeavesNoHandleBehind) {
  ASSERT_EQ(OpenLog("first.log"), BUSLOG_OPEN_OK);
  AddText("one");
  EXPECT_EQ(WriteLine(), 0);

  Fake().knobs.closeFails = true;
  CloseLog();
  EXPECT_EQ(Fake().failedCloses, 1);
  EXPECT_EQ(OpenFileCount(), 0);
  EXPECT_EQ(buslog::g_module.log.handle, buslog::kNoFile);

  Fake().knobs.closeFails = false;
  EXPECT_EQ(OpenLog("second.log"), BUSLOG_OPEN_OK);  // not 3
  AddText("two");
  EXPECT_EQ(WriteLine(), 0);
  CloseLog();
  EXPECT_EQ(Content(0), "one\r\n");
  EXPECT_EQ(Content(1), "two\r\n");
}

TEST_F(FakeFaultsTest, CloseWithoutALogClosesNothing) {
  CloseLog();
  Fake().knobs.refuseCreate = true;
  EXPECT_EQ(OpenLog("refused.log"), BUSLOG_OPEN_FAILED);
  CloseLog();
  // TearDown flags a close of a handle that was never open.
}

TEST_F(FakeFaultsTest, UnknownModuleDirectoryRefusesOpenWithoutTouchingTheSystem) {
  // The module's own path could not be found at attach.
  Fake().knobs.moduleDirectory = "";
  StartModule();
  EXPECT_EQ(OpenLog("anywhere.log"), BUSLOG_OPEN_FAILED);
  EXPECT_EQ(Fake().createCalls, 0) << "a log would land in the working directory";
  EXPECT_EQ(WriteLine(), 1);
}

TEST_F(FakeFaultsTest, UnloadWithAnOpenLogClosesIt) {
  ASSERT_EQ(OpenLog("left-open.log"), BUSLOG_OPEN_OK);
  AddText("pending");
  StartModule();  // process detach, then a fresh attach
  EXPECT_EQ(OpenFileCount(), 0);
  EXPECT_EQ(OpenLog("left-open.log"), BUSLOG_OPEN_OK);
  EXPECT_EQ(WriteLine(), 0);
  CloseLog();
  EXPECT_EQ(Content(0), "");
  EXPECT_EQ(Content(1), "\r\n");
}

}  // namespace
