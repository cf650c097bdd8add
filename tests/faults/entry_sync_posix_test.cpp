// The real POSIX platform makes a new log's name durable: Open syncs the
// log's directory once, after the create and before it reports 0, and no
// other sync happens while lines are written or at Close. A line cut short
// is taken back and the cut synced before Write returns. The fsync_spy
// library, preloaded under this program, sees every fsync, fdatasync and
// ftruncate and fails a directory's or a file's sync on request: a failed
// directory sync gives Open result 2 and leaves no file behind; EINVAL (a
// file system that cannot sync a directory) keeps it.
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "buslog.h"
#include "faults/direct_calls.h"
#include "faults/file_size_limit.h"
#include "plugin/module_state.h"

namespace {

using namespace buslog_direct;

namespace fs = std::filesystem;

// The spy's functions, from the preloaded library.
struct Spy {
  void (*reset)(int error);
  void (*failFiles)(int error);
  int (*calls)();
  const char* (*path)(int i);
  const char* (*kind)(int i);
  int (*isDirectory)(int i);
};

bool FindSpy(Spy* spy) {
  spy->reset = reinterpret_cast<void (*)(int)>(dlsym(RTLD_DEFAULT, "fsync_spy_reset"));
  spy->failFiles = reinterpret_cast<void (*)(int)>(dlsym(RTLD_DEFAULT, "fsync_spy_fail_files"));
  spy->calls = reinterpret_cast<int (*)()>(dlsym(RTLD_DEFAULT, "fsync_spy_calls"));
  spy->path = reinterpret_cast<const char* (*)(int)>(dlsym(RTLD_DEFAULT, "fsync_spy_path"));
  spy->kind = reinterpret_cast<const char* (*)(int)>(dlsym(RTLD_DEFAULT, "fsync_spy_kind"));
  spy->isDirectory = reinterpret_cast<int (*)(int)>(dlsym(RTLD_DEFAULT, "fsync_spy_is_directory"));
  return spy->reset != nullptr && spy->failFiles != nullptr && spy->calls != nullptr && spy->path != nullptr &&
         spy->kind != nullptr && spy->isDirectory != nullptr;
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

class EntrySyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FindSpy(&spy_)) << "run with LD_PRELOAD naming the fsync_spy library (CTest does)";
    char pattern[] = "/tmp/buslog-sync-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    // The spy names directories as the kernel does: resolved, no separator
    // at the end.
    char resolved[PATH_MAX];
    ASSERT_NE(realpath(pattern, resolved), nullptr);
    directory_ = resolved;
    std::string base = directory_ + "/";
    memcpy(buslog::g_module.log.baseDirectory, base.c_str(), base.size() + 1);
    spy_.reset(0);
  }

  void TearDown() override {
    CloseLog();
    spy_.reset(0);
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
  }

  // The calls since the last reset, as "dir:PATH" for a directory's sync,
  // else the call and the file: "fdatasync:PATH", "ftruncate:PATH".
  std::vector<std::string> Syncs() const {
    std::vector<std::string> syncs;
    for (int i = 0; i < spy_.calls(); ++i) {
      syncs.push_back(std::string(spy_.isDirectory(i) ? "dir" : spy_.kind(i)) + ":" + spy_.path(i));
    }
    return syncs;
  }

  Spy spy_ = {};
  std::string directory_;
};

TEST_F(EntrySyncTest, OpenSyncsTheNewFilesDirectoryOnceAndNothingElseDoes) {
  struct Case {
    const char* name;
    const char* logName;
    const char* folder;  // relative to the base directory; "" for itself
  };
  const Case cases[] = {{"BesideTheModule", "beside.log", ""}, {"InAFolder", "sub/inner.log", "/sub"}};
  ASSERT_EQ(mkdir((directory_ + "/sub").c_str(), 0755), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    spy_.reset(0);
    ASSERT_EQ(OpenLog(c.logName), BUSLOG_OPEN_OK);
    EXPECT_EQ(Syncs(), std::vector<std::string>{"dir:" + directory_ + c.folder});
    AddText("synced by O_DSYNC alone");
    EXPECT_EQ(WriteLine(), 0);
    CloseLog();
    EXPECT_EQ(spy_.calls(), 1) << "a write or the close synced again";
    EXPECT_EQ(ReadWhole(directory_ + "/" + c.logName), "synced by O_DSYNC alone\r\n");
  }
}

// A directory sync that fails: the module could not make the file durable,
// so it is closed and removed and Open says 2. EINVAL means the file system
// cannot sync a directory at all; the file is kept.
struct FailedSyncCase {
  const char* name;
  int error;
  uint8_t openResult;
  bool fileKept;
};

class FailedSyncTest : public EntrySyncTest, public ::testing::WithParamInterface<FailedSyncCase> {};

TEST_P(FailedSyncTest, OpenKeepsTheFileOnlyWhenItsNameIsAsDurableAsItCanBe) {
  const FailedSyncCase& c = GetParam();
  std::string path = directory_ + "/power.log";
  spy_.reset(c.error);
  EXPECT_EQ(OpenLog("power.log"), c.openResult);
  EXPECT_EQ(Syncs(), std::vector<std::string>{"dir:" + directory_});
  EXPECT_EQ(access(path.c_str(), F_OK) == 0, c.fileKept);
  EXPECT_EQ(buslog::g_module.log.handle == buslog::kNoFile, !c.fileKept);
  AddText("line");
  EXPECT_EQ(WriteLine(), c.fileKept ? 0 : 1);
  CloseLog();
  if (c.fileKept) {
    EXPECT_EQ(ReadWhole(path), "line\r\n");
  }

  // Once the directory syncs again, Open works as before.
  spy_.reset(0);
  ASSERT_EQ(OpenLog("after.log"), BUSLOG_OPEN_OK);
  AddText("after");
  EXPECT_EQ(WriteLine(), 0);
  CloseLog();
  EXPECT_EQ(ReadWhole(directory_ + "/after.log"), "after\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    PowerLoss, FailedSyncTest,
    ::testing::Values(FailedSyncCase{"InputOutputError", EIO, BUSLOG_OPEN_FAILED, false},
                      FailedSyncCase{"NoSpace", ENOSPC, BUSLOG_OPEN_FAILED, false},
                      FailedSyncCase{"CannotSyncADirectory", EINVAL, BUSLOG_OPEN_OK, true}),
    [](const ::testing::TestParamInfo<FailedSyncCase>& testCase) { return std::string(testCase.param.name); });

// A line that a file size limit cuts short: the part written is cut off
// again and the cut synced before Write returns, so that a power cut cannot
// bring it back. Write says 1 whether that sync works or not, and the next
// line goes where the cut one began.
struct TakeBackCase {
  const char* name;
  int syncError;
};

class TakeBackTest : public EntrySyncTest, public ::testing::WithParamInterface<TakeBackCase> {};

TEST_P(TakeBackTest, TheCutIsSyncedBeforeWriteReturns) {
  const TakeBackCase& c = GetParam();
  std::string path = directory_ + "/cut.log";
  ASSERT_EQ(OpenLog("cut.log"), BUSLOG_OPEN_OK);
  AddText("first");
  ASSERT_EQ(WriteLine(), 0);

  // 5 more bytes are allowed: the write of the next line stores them and
  // returns short, the write of the rest fails with EFBIG.
  spy_.reset(0);
  spy_.failFiles(c.syncError);
  AddText("second line");
  EXPECT_EQ(WriteLineWithinFileSize(7 + 5), 1);
  EXPECT_EQ(Syncs(), (std::vector<std::string>{"ftruncate:" + path, "fdatasync:" + path}));
  EXPECT_EQ(ReadWhole(path), "first\r\n");

  spy_.failFiles(0);
  AddText("third");
  EXPECT_EQ(WriteLine(), 0);
  CloseLog();
  EXPECT_EQ(spy_.calls(), 2) << "the next line or the close synced again";
  EXPECT_EQ(ReadWhole(path), "first\r\nthird\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    PowerLoss, TakeBackTest,
    ::testing::Values(TakeBackCase{"SyncWorks", 0}, TakeBackCase{"SyncFails", EIO}),
    [](const ::testing::TestParamInfo<TakeBackCase>& testCase) { return std::string(testCase.param.name); });

TEST_F(EntrySyncTest, FailedSyncRemovesAnEarlierFileOfThatNameToo) {
  // The create has emptied it already; what is left must not look like a
  // log that Open accepted.
  std::string path = directory_ + "/old.log";
  std::ofstream(path) << "old content\n";
  spy_.reset(EIO);
  EXPECT_EQ(OpenLog("old.log"), BUSLOG_OPEN_FAILED);
  EXPECT_NE(access(path.c_str(), F_OK), 0);
}

}  // namespace
