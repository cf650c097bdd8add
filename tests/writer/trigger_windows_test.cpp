// Trigger windows through the engine's C interface: the same log in each
// mode (the frames a trigger takes from the pre-trigger buffer are numbered
// and logged in order, also thousands at once), a full buffer's losses
// numbered and recorded, a flush that does not wait for frames held for a
// trigger, and the options' problems in words.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "buslog_writer.h"
#include "platform/module_loader.h"
#include "platform/system.h"

namespace {

namespace fs = std::filesystem;

struct TestFrame {
  uint64_t micros;  // since 1700000000 s
  uint32_t id;
  bool fd;
};

std::string ModulePath() {
  char directory[1024];
  EXPECT_TRUE(buslog_host::ExecutableDirectory(directory, sizeof directory));
  return std::string(directory) + buslog_host::ModuleFileName();
}

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find("\r\n", at);
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

class WindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // On a memory file system where there is one: write-through syncs every frame.
    fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::current_path();
    folder_ = base / "buslog-windows-test" / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    module_ = ModulePath();
    BuslogWriterDefaults(&options_);
    options_.module = module_.c_str();
    options_.writer = "WRITER";
  }

  // Opens a writer on `name` in the test's folder with options_.
  BuslogWriter* Open(const std::string& name) {
    output_ = (folder_ / name).string();
    options_.output = output_.c_str();
    BuslogWriter* writer = nullptr;
    char error[512];
    EXPECT_EQ(BuslogWriterOpen(&options_, &writer, error, sizeof error), BUSLOG_WRITER_OK) << error;
    return writer;
  }

  static void Add(BuslogWriter* writer, const TestFrame& frame) {
    uint8_t data[64];
    for (uint32_t i = 0; i < sizeof data; ++i) data[i] = static_cast<uint8_t>(frame.micros / 1000 + i);
    BuslogFrame out = {};
    out.seconds = 1700000000 + frame.micros / 1000000;
    out.micros = static_cast<uint32_t>(frame.micros % 1000000);
    out.id = frame.id;
    out.flags = frame.fd ? BUSLOG_FRAME_FD : 0;
    out.data = data;
    out.dataLength = frame.fd ? 64 : 8;
    out.interfaceName = "can0";
    out.interfaceLength = 4;
    ASSERT_EQ(BuslogWriterAdd(writer, &out), BUSLOG_WRITER_OK);
  }

  void TearDown() override { fs::remove_all(folder_); }

  fs::path folder_;
  std::string module_;
  std::string output_;
  BuslogWriterOptions options_;
};

// A bus of 1,000 frames a second for 20 s, 7E0 among them at 1 s, 2.5 s
// and 4 s (one window from -2 s to 4.5 s with --pre 3 and --post 0.5), 9 s
// and 9.2 s (one), 15 s and 19.9 s (cut by the end).
std::vector<TestFrame> Bus() {
  std::vector<TestFrame> frames;
  const uint64_t triggers[] = {1000000, 2500000, 4000000, 9000000, 9200000, 15000000, 19900000};
  uint32_t random = 12345;
  for (uint64_t t = 0; t < 20000000; t += 1000) {
    random = random * 1103515245u + 12345u;
    bool trigger = std::find(std::begin(triggers), std::end(triggers), t) != std::end(triggers);
    frames.push_back({t, trigger ? 0x7E0u : 0x100u + (random >> 20) % 16, false});
  }
  return frames;
}

TEST_F(WindowsTest, EveryModeLogsTheSameWindows) {
  options_.trigger = "7E0";
  options_.filter = "100:7F8,7E0";  // 100 to 107 and the triggers
  options_.preSeconds = 3;
  options_.postSeconds = 0.5;
  options_.rotateBytes = 200000;
  const int32_t modes[] = {BUSLOG_WRITER_REPLAY, BUSLOG_WRITER_QUEUED, BUSLOG_WRITER_WRITE_THROUGH};
  std::vector<std::string> logs;
  for (int32_t mode : modes) {
    SCOPED_TRACE(mode);
    options_.mode = mode;
    BuslogWriter* writer = Open("mode" + std::to_string(mode) + ".buslog");
    for (const TestFrame& frame : Bus()) Add(writer, frame);
    EXPECT_EQ(BuslogWriterClose(writer, nullptr), BUSLOG_WRITER_OK);
    BuslogWriterSelectionCounts counts;
    BuslogWriterGetSelectionCounts(writer, &counts);
    EXPECT_EQ(counts.windows, 4u);
    EXPECT_EQ(counts.framesGivenUp, 0u);
    BuslogWriterFree(writer);
    std::string all;
    for (int file = 1; fs::exists(folder_ / ("mode" + std::to_string(mode) + "-00" + std::to_string(file) + ".buslog"));
         ++file) {
      all += ReadWhole(folder_ / ("mode" + std::to_string(mode) + "-00" + std::to_string(file) + ".buslog"));
    }
    logs.push_back(all);
  }
  EXPECT_EQ(logs[1], logs[0]);
  EXPECT_EQ(logs[2], logs[0]);
  // Numbered from 1 without gaps, every frame inside a window.
  uint32_t expected = 1;
  int open = 0, close = 0;
  for (const std::string& line : Lines(logs[0])) {
    if (line.compare(0, 9, "000000000") != 0) {
      EXPECT_EQ(std::stoul(line.substr(0, 9)), expected++) << line;
    } else if (line.find("buslog window open") != std::string::npos) {
      ++open;
    } else if (line.find("buslog window close") != std::string::npos) {
      ++close;
    }
  }
  EXPECT_GT(expected, 3000u);
  EXPECT_EQ(close, 4);
  EXPECT_GE(open, 4);  // and again at the head of each file that begins inside one
}

// 1,000 CAN FD frames a second: a 64 KiB buffer holds some 760 of them, so
// a window of 2 s before a trigger at 5 s finds most of its frames given
// up. They are numbered first and recorded as lost; the window begins at
// most 1/128 of --pre earlier; the frames given up before it are outside.
TEST_F(WindowsTest, AFullBufferLosesTheWindowsFramesWithNumbers) {
  options_.trigger = "7E0";
  options_.preSeconds = 2;
  options_.preBytes = 64 * 1024;
  options_.mode = BUSLOG_WRITER_REPLAY;
  BuslogWriter* writer = Open("full.buslog");
  for (uint64_t t = 0; t < 5000000; t += 1000) Add(writer, {t, 0x100, true});
  Add(writer, {5000000, 0x7E0, true});
  EXPECT_EQ(BuslogWriterClose(writer, nullptr), BUSLOG_WRITER_LOST);
  BuslogWriterSelectionCounts selection;
  BuslogWriterGetSelectionCounts(writer, &selection);
  BuslogWriterCounts counts;
  BuslogWriterGetCounts(writer, &counts);
  EXPECT_EQ(selection.windows, 1u);
  EXPECT_EQ(counts.framesLost, selection.framesGivenUpLost);
  EXPECT_EQ(counts.framesLogged + counts.framesLost + selection.framesOutside, 5001u);
  // 2,001 frames from 3 s on, and at most 2 s / 128 (16 frames) more.
  EXPECT_GE(counts.framesLogged + counts.framesLost, 2001u);
  EXPECT_LE(counts.framesLogged + counts.framesLost, 2001u + 16u);
  EXPECT_GT(counts.framesLogged, 700u);
  EXPECT_LT(counts.framesLogged, 800u);
  ASSERT_EQ(counts.losses, 1u);
  BuslogWriterLoss loss;
  BuslogWriterGetLoss(writer, 0, &loss);
  EXPECT_EQ(loss.firstFrame, 1u);
  EXPECT_EQ(loss.lastFrame, counts.framesLost);
  EXPECT_STREQ(loss.reason, "the pre-trigger buffer was full");
  char message[512];
  EXPECT_EQ(BuslogWriterNextMessage(writer, message, sizeof message), BUSLOG_MESSAGE_WARNING);
  EXPECT_NE(strstr(message, "the pre-trigger buffer (65536 bytes) was full"), nullptr) << message;
  BuslogWriterFree(writer);
  std::vector<std::string> lines = Lines(ReadWhole(folder_ / "full.buslog"));
  ASSERT_GT(lines.size(), 6u);
  EXPECT_EQ(lines[3].substr(0, 56), "000000000,+0.000000,M,Marker  , -,OK,buslog window open ");
  EXPECT_EQ(lines[4], "000000000,+0.000000,M,Marker  , -,OK,buslog lost 1-" + std::to_string(counts.framesLost) +
                          " the pre-trigger buffer was full");
  EXPECT_EQ(lines[6].substr(0, 9), "00000" + std::to_string(counts.framesLost + 1));
}

TEST_F(WindowsTest, FlushDoesNotWaitForFramesHeldForATrigger) {
  options_.trigger = "7E0";
  options_.preSeconds = 60;
  options_.mode = BUSLOG_WRITER_QUEUED;
  BuslogWriter* writer = Open("held.buslog");
  for (uint64_t t = 0; t < 100000; t += 1000) Add(writer, {t, 0x100, false});
  EXPECT_EQ(BuslogWriterFlush(writer, nullptr), BUSLOG_WRITER_OK);
  EXPECT_EQ(BuslogWriterWait(writer, 5000), 1);
  BuslogWriterCounts counts;
  BuslogWriterGetCounts(writer, &counts);
  EXPECT_EQ(counts.framesAdded, 0u);
  EXPECT_EQ(counts.framesPending, 0u);
  Add(writer, {100000, 0x7E0, false});
  EXPECT_EQ(BuslogWriterFlush(writer, nullptr), BUSLOG_WRITER_OK);
  BuslogWriterGetCounts(writer, &counts);
  EXPECT_EQ(counts.framesLogged, 101u);
  BuslogWriterClose(writer, nullptr);
  BuslogWriterFree(writer);
}

TEST_F(WindowsTest, OptionsProblemsInWords) {
  struct Row {
    const char* name;
    const char* filter;
    const char* trigger;
    const char* stopTrigger;
    double pre, post;
    uint64_t preBytes;
    const char* why;  // empty: good
  } rows[] = {
      {"defaults", nullptr, nullptr, nullptr, 0, 0, 0, ""},
      {"a filter alone", "123:7FF", nullptr, nullptr, 0, 0, 0, ""},
      {"a trigger with its windows", nullptr, "7E0", nullptr, 600, 0.5, 256 << 20, ""},
      {"post after a stop trigger", nullptr, nullptr, "7DF", 0, 2, 0, ""},
      {"pre without a trigger", "123:7FF", nullptr, nullptr, 1, 0, 0,
       "pre and post seconds need a trigger, a start trigger or a stop trigger"},
      {"negative post", nullptr, "7E0", nullptr, 0, -1, 0, "pre and post seconds go from 0 to 1000000"},
      {"too long a window", nullptr, "7E0", nullptr, 1e7, 0, 0, "pre and post seconds go from 0 to 1000000"},
      {"a small buffer", nullptr, "7E0", nullptr, 1, 0, 1000, "a pre-trigger buffer takes 64k bytes or more"},
      {"a wrong trigger", nullptr, "7E0#", nullptr, 0, 0, 0,
       "trigger 7E0#: the data after # must be 1 to 64 bytes of two hex digits each, e.g. 0210 or 02.10"},
      {"a wrong stop trigger", nullptr, nullptr, "can0", 0, 0, 0,
       "stop trigger can0: a trigger set needs an item that fires, e.g. 7E0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    BuslogWriterOptions options;
    BuslogWriterDefaults(&options);
    options.filter = row.filter;
    options.trigger = row.trigger;
    options.stopTrigger = row.stopTrigger;
    options.preSeconds = row.pre;
    options.postSeconds = row.post;
    if (row.preBytes != 0) options.preBytes = row.preBytes;
    char why[512] = "";
    int result = BuslogWriterCheckOptions(&options, why, sizeof why);
    EXPECT_EQ(result, row.why[0] == '\0' ? BUSLOG_WRITER_OK : BUSLOG_WRITER_BAD_ARGUMENT);
    EXPECT_STREQ(why, row.why);
  }
  std::string longFilter = "123:7FF";
  while (longFilter.size() <= 400) longFilter += ",123:7FF";
  BuslogWriterOptions options;
  BuslogWriterDefaults(&options);
  options.filter = longFilter.c_str();
  char why[512];
  EXPECT_EQ(BuslogWriterCheckOptions(&options, why, sizeof why), BUSLOG_WRITER_BAD_ARGUMENT);
  EXPECT_STREQ(why, "the filter has more than 400 characters");
}

}  // namespace
