// Group commit's line lengths and batches against the real module: for every
// frame form the host writes, the length the batch counts with is exactly
// the length of the line the module writes, and a log written in batches
// holds the very bytes of one written a line a Write.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "candump.h"
#include "logger/batch.h"
#include "logger/frame_out.h"
#include "logger/markers.h"
#include "support/module_test.h"

namespace {

using buslog_host::CandumpFrame;
using buslog_host::LineBatch;
using buslog_host::LogLine;

struct Form {
  const char* name;
  std::string candump;  // the frame after the interface name
};

// Every frame form: standard and extended data frames of 0 to 8 bytes, with
// a length code above 8, remote frames of every requested length, CAN FD of
// every length with each flags digit, error frames, candump's T mark.
std::vector<Form> Forms() {
  std::vector<Form> forms;
  std::string bytes;
  for (int n = 0; n <= 8; ++n) {
    forms.push_back({"standard data", "123#" + bytes});
    forms.push_back({"extended data", "1ABCDEF0#" + bytes});
    forms.push_back({"standard remote", "7FF#R" + std::to_string(n)});
    forms.push_back({"extended remote", "00000001#R" + std::to_string(n)});
    forms.push_back({"error frame", "20000004#" + bytes});
    bytes += "A5";
  }
  forms.push_back({"remote, no length", "123#R"});
  forms.push_back({"length code above 8", "123#1122334455667788_C"});
  forms.push_back({"sent by this node", "123#11 T"});
  forms.push_back({"error frame, all classes", "3FFFFFFF#00112233445566FF"});
  const int fdLengths[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};
  for (int length : fdLengths) {
    std::string data;
    for (int i = 0; i < length; ++i) data += "5A";
    forms.push_back({"standard CAN FD", "123##1" + data});
    forms.push_back({"extended CAN FD", "12345678##3" + data});
  }
  return forms;
}

const uint32_t kFrameNumbers[] = {1, 999999999u, 1000000000u, 4294967295u};
const int32_t kChannels[] = {0, 8, 9, 98, 99, 255};

class LineLengthTest : public buslog_test::ModuleTest {
 protected:
  // The frame's line for `form` on `channel`, numbered `number`.
  LogLine Line(const Form& form, uint32_t number, int32_t channel, uint8_t* record, char* text) {
    std::string line = "(1700000000.250000) can0 " + form.candump;
    CandumpFrame frame;
    const char* why = buslog_host::ParseCandumpLine(line.data(), line.size(), &frame);
    EXPECT_EQ(why, nullptr) << line;
    buslog_host::Elapsed since = {4294967295u, 999999};
    return buslog_host::FrameLine(number, since, channel, frame, record, text);
  }
  const BuslogApi& Api() { return module_.api; }
};

TEST_F(LineLengthTest, EveryFrameFormHasTheLengthTheModuleWrites) {
  for (const Form& form : Forms()) {
    for (uint32_t number : kFrameNumbers) {
      for (int32_t channel : kChannels) {
        SCOPED_TRACE(std::string(form.name) + " " + form.candump + ", frame " + std::to_string(number) +
                     ", channel " + std::to_string(channel));
        uint8_t record[buslog_host::kMaxCanRecord];
        char text[buslog_host::kFrameTextRoom];
        LogLine line = Line(form, number, channel, record, text);
        static LineBatch batch;
        buslog_host::ClearBatch(&batch);
        ASSERT_EQ(Open("length.log"), 0);
        buslog_host::AddToBatch(&batch, line);
        ASSERT_EQ(buslog_host::WriteBatch(Api(), &batch), 0u);
        Close();
        std::string written = ReadLog("length.log");
        ASSERT_GE(written.size(), 2u);
        EXPECT_EQ(written.substr(written.size() - 2), "\r\n");
        EXPECT_EQ(line.length, written.size() - 2) << written;
      }
    }
  }
}

// Every form, in batches as full as the limit lets them be, and one Write
// a line: the same bytes, and each batch within the limit.
TEST_F(LineLengthTest, BatchesWriteTheBytesOfOneWriteALine) {
  std::vector<Form> forms = Forms();
  static LineBatch batch;
  for (bool batched : {true, false}) {
    SCOPED_TRACE(batched ? "batched" : "one Write a line");
    ASSERT_EQ(Open(batched ? "batched.log" : "single.log"), 0);
    buslog_host::ClearBatch(&batch);
    uint32_t number = 999999990u;
    uint32_t writes = 0;
    for (int round = 0; round < 3; ++round) {
      for (const Form& form : forms) {
        uint8_t record[buslog_host::kMaxCanRecord];
        char text[buslog_host::kFrameTextRoom];
        LogLine line = Line(form, number++, round * 97, record, text);
        if (!batched || !buslog_host::BatchTakes(batch, line)) {
          EXPECT_LE(batch.used, buslog_host::kLineLimit);
          EXPECT_EQ(buslog_host::WriteBatch(Api(), &batch), 0u);
          writes += batch.count > 0;
          buslog_host::ClearBatch(&batch);
        }
        buslog_host::AddToBatch(&batch, line);
      }
    }
    EXPECT_EQ(buslog_host::WriteBatch(Api(), &batch), 0u);
    ++writes;
    Close();
    if (batched) {
      EXPECT_LT(writes, 3 * forms.size() / 10);
    } else {
      EXPECT_EQ(writes, 3 * forms.size());
    }
  }
  std::string batchedLog = ReadLog("batched.log");
  EXPECT_EQ(batchedLog, ReadLog("single.log"));
  EXPECT_GT(batchedLog.size(), 3 * 60 * forms.size());
}

}  // namespace

// A batch whose Write fails is written again a line a Write: with no log
// open every line fails, and each is marked so.
TEST_F(LineLengthTest, AFailedBatchMarksEachLineThatCouldNotBeWritten) {
  static LineBatch batch;
  buslog_host::ClearBatch(&batch);
  uint8_t record[buslog_host::kMaxCanRecord];
  char text[buslog_host::kFrameTextRoom];
  for (uint32_t i = 1; i <= 5; ++i) buslog_host::AddToBatch(&batch, Line(Forms()[0], i, 0, record, text));
  EXPECT_EQ(buslog_host::WriteBatch(Api(), &batch), 5u);
  for (uint32_t i = 0; i < batch.count; ++i) EXPECT_FALSE(batch.lines[i].written) << i;
}

// The marker lines the host writes (logger/markers.h) have the length the
// batch counts with, whatever their text and time.
TEST_F(LineLengthTest, MarkerLinesHaveTheLengthTheModuleWrites) {
  const char* const texts[] = {
      "buslog start 2023-11-14T22:13:20.001000Z", "buslog writer buslog-host 0.1.0", "buslog channel 1 can0",
      "buslog channel 256 a-name-of-64-bytes-a-name-of-64-bytes-a-name-of-64-bytes-a-name"};
  const buslog_host::Elapsed times[] = {{0, 0}, {12, 345678}, {99999999, 999999}};
  for (const char* text : texts) {
    for (const buslog_host::Elapsed& since : times) {
      SCOPED_TRACE(std::string(text) + " at " + std::to_string(since.seconds));
      uint8_t record[BUSLOG_MARKER_RECORD_SIZE(buslog_host::kMaxMarkerText)];
      LogLine line = buslog_host::MarkerLine(since, text, record, sizeof record);
      EXPECT_EQ(line.kind, buslog_host::LineKind::kOther);
      static LineBatch batch;
      buslog_host::ClearBatch(&batch);
      ASSERT_EQ(Open("marker.log"), 0);
      buslog_host::AddToBatch(&batch, line);
      ASSERT_EQ(buslog_host::WriteBatch(Api(), &batch), 0u);
      Close();
      std::string written = ReadLog("marker.log");
      EXPECT_EQ(written.compare(0, 10, "000000000,"), 0) << written;
      EXPECT_EQ(line.length + 2, written.size()) << written;
      EXPECT_NE(written.find(std::string(",M,Marker  , -,OK,") + text + "\r\n"), std::string::npos) << written;
    }
  }
}
