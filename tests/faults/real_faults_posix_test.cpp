// Real kernel faults under the module with its real POSIX platform linked
// in: short and interrupted writes into a one-page pipe, an interrupted
// create on a FIFO, a file size limit that cuts a write short and then
// refuses it, /dev/full, creates the kernel refuses, a close that fails.
// The exports are called directly; the base directory is set to where each
// test needs its log.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "buslog.h"
#include "faults/direct_calls.h"
#include "faults/file_size_limit.h"
#include "plugin/module_state.h"

namespace {

using namespace buslog_direct;

namespace fs = std::filesystem;

std::atomic<int> g_signals{0};
void CountSignal(int) { g_signals.fetch_add(1); }

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// The system call a thread of this process is blocked in, or -1 while it
// runs (from /proc/self/task/TID/syscall).
long BlockedSyscall(pid_t thread) {
  std::ifstream in("/proc/self/task/" + std::to_string(thread) + "/syscall");
  std::string first;
  if (!(in >> first) || first == "running") return -1;
  return std::stol(first);
}

// Waits until `done` holds, for at most ten seconds.
template <typename Condition>
bool WaitFor(const Condition& done) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

class RealFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/buslog-faults-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory_ = std::string(pattern) + "/";
    UseDirectory(directory_);
    // SIGUSR1 without SA_RESTART: a blocked call it interrupts returns.
    struct sigaction action = {};
    action.sa_handler = CountSignal;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previousUsr1_), 0);
    g_signals = 0;
  }

  void TearDown() override {
    CloseLog();
    sigaction(SIGUSR1, &previousUsr1_, nullptr);
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
  }

  static void UseDirectory(const std::string& dir) {
    ASSERT_LT(dir.size(), sizeof buslog::g_module.log.baseDirectory);
    memcpy(buslog::g_module.log.baseDirectory, dir.c_str(), dir.size() + 1);
  }

  // Opens a good log, writes one line and checks the file holds just it.
  void ExpectModuleStillWorks() {
    UseDirectory(directory_);
    ASSERT_EQ(OpenLog("good.log"), BUSLOG_OPEN_OK);
    AddText("still working");
    EXPECT_EQ(WriteLine(), 0);
    CloseLog();
    EXPECT_EQ(ReadWhole(directory_ + "good.log"), "still working\r\n");
  }

  std::string directory_;
  struct sigaction previousUsr1_ = {};
};

// What the kernel refuses to create, even for root.
struct RefusedCase {
  const char* name;
  const char* logName;
};

class RefusedCreateTest : public RealFaultsTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedCreateTest, OpenGivesTwoKeepsNoHandleAndTheModuleGoesOn) {
  ASSERT_EQ(mkdir((directory_ + "folder").c_str(), 0755), 0);
  std::ofstream(directory_ + "plain-file") << "x";
  EXPECT_EQ(OpenLog(GetParam().logName), BUSLOG_OPEN_FAILED);
  EXPECT_EQ(buslog::g_module.log.handle, buslog::kNoFile);
  AddText("nowhere");
  EXPECT_EQ(WriteLine(), 1);
  ExpectModuleStillWorks();
}

INSTANTIATE_TEST_SUITE_P(
    Kernel, RefusedCreateTest,
    ::testing::Values(RefusedCase{"MissingFolder", "missing/x.log"},  // ENOENT
                      RefusedCase{"FileAsFolder", "plain-file/x.log"},  // ENOTDIR
                      RefusedCase{"FolderAsFile", "folder"}),          // EISDIR
    [](const ::testing::TestParamInfo<RefusedCase>& testCase) { return std::string(testCase.param.name); });

TEST_F(RealFaultsTest, ShortAndInterruptedWritesStillWriteTheWholeLine) {
  // A pipe of one page holds 4096 bytes; a full line with CR LF is 4098.
  // The first write stores 4096 and blocks; a signal makes it return short.
  // The next write of the last 2 bytes blocks with nothing stored; a signal
  // makes it fail with EINTR. Then a reader drains the pipe.
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  ASSERT_EQ(fcntl(pipeFds[1], F_SETPIPE_SZ, 4096), 4096);
  UseDirectory("/proc/self/fd/");
  ASSERT_EQ(OpenLog(std::to_string(pipeFds[1])), BUSLOG_OPEN_OK);
  std::string line;
  for (int i = 0; line.size() < buslog::kLineLimit; ++i) line += std::to_string(i) + ";";
  line.resize(buslog::kLineLimit);
  AddText(line);

  std::atomic<pid_t> writer{0};
  std::atomic<bool> finished{false};
  uint8_t result = 0xFF;
  std::thread writing([&] {
    writer = static_cast<pid_t>(syscall(SYS_gettid));
    result = WriteLine();
    finished = true;
  });
  auto blockedInWrite = [&] { return writer != 0 && BlockedSyscall(writer) == SYS_write; };
  auto pipeHolds = [&](int expected) {
    int held = -1;
    return ioctl(pipeFds[0], FIONREAD, &held) == 0 && held == expected;
  };

  bool sequence = WaitFor([&] { return blockedInWrite() && pipeHolds(4096); });
  EXPECT_TRUE(sequence) << "the first write did not block with the pipe full";
  pthread_kill(writing.native_handle(), SIGUSR1);
  sequence = sequence && WaitFor([&] { return g_signals == 1 && blockedInWrite(); });
  EXPECT_TRUE(sequence) << "no second write after the short one";
  EXPECT_TRUE(pipeHolds(4096));
  pthread_kill(writing.native_handle(), SIGUSR1);
  sequence = sequence && WaitFor([&] { return g_signals == 2 && blockedInWrite(); });
  EXPECT_TRUE(sequence) << "no retry after the interrupted write";

  // Drain until the writer is done (a writer that gave up leaves its
  // remainder unsent) and the pipe is empty.
  EXPECT_EQ(fcntl(pipeFds[0], F_SETFL, O_NONBLOCK), 0);
  std::string received;
  char chunk[1024];
  WaitFor([&] {
    bool writerDone = finished;  // before the read: then an empty pipe stays empty
    ssize_t got = read(pipeFds[0], chunk, sizeof chunk);
    if (got > 0) received.append(chunk, static_cast<size_t>(got));
    return got < 0 && writerDone;
  });
  writing.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(received, line + "\r\n");
  CloseLog();
  close(pipeFds[0]);
  close(pipeFds[1]);
}

TEST_F(RealFaultsTest, InterruptedCreateIsRetried) {
  // Opening a FIFO for writing blocks until a reader comes; a signal in
  // between fails the open with EINTR.
  std::string fifo = directory_ + "fifo.log";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  std::atomic<pid_t> opener{0};
  uint8_t result = 0xFF;
  std::thread opening([&] {
    opener = static_cast<pid_t>(syscall(SYS_gettid));
    result = OpenLog("fifo.log");
  });
  auto blockedInOpen = [&] { return opener != 0 && BlockedSyscall(opener) == SYS_openat; };
  EXPECT_TRUE(WaitFor(blockedInOpen));
  pthread_kill(opening.native_handle(), SIGUSR1);
  EXPECT_TRUE(WaitFor([&] { return g_signals == 1 && blockedInOpen(); })) << "the open was not retried";

  // Non-blocking, so that a reader never waits for a writer that gave up.
  int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  opening.join();
  EXPECT_EQ(result, BUSLOG_OPEN_OK);
  AddText("through the fifo");
  EXPECT_EQ(WriteLine(), 0);
  CloseLog();
  char bytes[64] = {};
  EXPECT_EQ(read(reader, bytes, sizeof bytes), 18);
  EXPECT_EQ(std::string(bytes), "through the fifo\r\n");
  close(reader);
}

TEST_F(RealFaultsTest, FileSizeLimitCutsAWriteShortThenRefusesIt) {
  ASSERT_EQ(OpenLog("limited.log"), BUSLOG_OPEN_OK);
  AddText("first");
  ASSERT_EQ(WriteLine(), 0);

  // 5 more bytes are allowed: the write of the next line stores them and
  // returns short, the write of the rest fails with EFBIG.
  AddText("second line");
  EXPECT_EQ(WriteLineWithinFileSize(7 + 5), 1);

  AddText("third");
  EXPECT_EQ(WriteLine(), 0);
  CloseLog();
  // The cut part is taken back and the failed line is not carried into the
  // next: the file holds whole lines only.
  EXPECT_EQ(ReadWhole(directory_ + "limited.log"), "first\r\nthird\r\n");
}

TEST_F(RealFaultsTest, DiskFullFailsEveryWriteAndDropsTheLines) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  UseDirectory("/dev/");
  ASSERT_EQ(OpenLog("full"), BUSLOG_OPEN_OK);
  AddText("lost");
  EXPECT_EQ(WriteLine(), 1);
  AddText("lost too");
  EXPECT_EQ(WriteLine(), 1);
  CloseLog();
  ExpectModuleStillWorks();
}

TEST_F(RealFaultsTest, FailedCloseLeavesNoHandleBehind) {
  ASSERT_EQ(OpenLog("closed-twice.log"), BUSLOG_OPEN_OK);
  AddText("one");
  EXPECT_EQ(WriteLine(), 0);
  // Closing the descriptor behind the module's back makes its own close
  // fail with EBADF.
  ASSERT_EQ(close(static_cast<int>(buslog::g_module.log.handle)), 0);
  CloseLog();
  EXPECT_EQ(buslog::g_module.log.handle, buslog::kNoFile);
  EXPECT_EQ(OpenLog("closed-twice.log"), BUSLOG_OPEN_OK);  // not 3
  AddText("two");
  EXPECT_EQ(WriteLine(), 0);
  CloseLog();
  EXPECT_EQ(ReadWhole(directory_ + "closed-twice.log"), "two\r\n");
}

}  // namespace
