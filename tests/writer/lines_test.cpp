// The engine's lines against the real module: for every frame form the
// length the batch counts with is exactly the length of the line the module
// writes, marker lines too, and a log written in batches holds the very
// bytes of one written a line a Write.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "batch.h"
#include "buslog_writer.h"
#include "lines.h"
#include "markers.h"
#include "support/module_test.h"

namespace {

using buslog_writer::Frame;
using buslog_writer::FrameLineBytes;
using buslog_writer::LineBatch;
using buslog_writer::LogLine;

struct Form {
  std::string name;
  Frame frame;
};

// A frame of `type` (buslog_writer's FrameType).
Frame MakeFrame(uint8_t type, uint8_t flags, uint32_t id, uint8_t lengthCode, uint8_t dataLength, uint8_t fdFlags = 0) {
  Frame frame = {};
  frame.type = type;
  frame.flags = flags;
  frame.id = id;
  frame.lengthCode = lengthCode;
  frame.dataLength = dataLength;
  frame.fdFlags = fdFlags;
  for (uint32_t i = 0; i < dataLength; ++i) frame.data[i] = static_cast<uint8_t>(0xA5 + i);
  return frame;
}

// Every frame form: standard and extended data frames of 0 to 8 bytes, with
// a length code above 8, remote frames of every length asked for, CAN FD of
// every length with each flags digit, error frames, frames sent.
std::vector<Form> Forms() {
  std::vector<Form> forms;
  for (uint8_t n = 0; n <= 8; ++n) {
    std::string bytes = " of " + std::to_string(n) + " bytes";
    forms.push_back({"standard data" + bytes, MakeFrame(buslog_writer::kDataFrame, 0, 0x123, n, n)});
    forms.push_back({"extended data" + bytes, MakeFrame(buslog_writer::kDataFrame, BUSLOG_FRAME_EXTENDED, 0x1ABCDEF0, n, n)});
    forms.push_back({"standard remote" + bytes, MakeFrame(buslog_writer::kRemoteFrame, 0, 0x7FF, n, 0)});
    forms.push_back({"extended remote" + bytes, MakeFrame(buslog_writer::kRemoteFrame, BUSLOG_FRAME_EXTENDED, 1, n, 0)});
    forms.push_back({"error frame" + bytes, MakeFrame(buslog_writer::kErrorFrame, 0, 4, n, n)});
  }
  forms.push_back({"remote, length 15", MakeFrame(buslog_writer::kRemoteFrame, 0, 0x123, 15, 0)});
  forms.push_back({"length code above 8", MakeFrame(buslog_writer::kDataFrame, 0, 0x123, 0xC, 8)});
  forms.push_back({"sent by this node", MakeFrame(buslog_writer::kDataFrame, BUSLOG_FRAME_SENT, 0x123, 1, 1)});
  forms.push_back({"error frame, all classes", MakeFrame(buslog_writer::kErrorFrame, 0, 0x1FFFFFFF, 8, 8)});
  const uint8_t fdLengths[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};
  for (uint8_t code = 0; code < 16; ++code) {
    std::string bytes = " of " + std::to_string(fdLengths[code]) + " bytes";
    forms.push_back({"standard CAN FD" + bytes, MakeFrame(buslog_writer::kFdFrame, 0, 0x123, code, fdLengths[code], 1)});
    forms.push_back({"extended CAN FD" + bytes,
                     MakeFrame(buslog_writer::kFdFrame, BUSLOG_FRAME_EXTENDED, 0x12345678, code, fdLengths[code], 0xF)});
  }
  return forms;
}

const uint32_t kFrameNumbers[] = {1, 999999999u, 1000000000u, 4294967295u};
const uint16_t kChannels[] = {0, 8, 9, 98, 99, 255};

class LinesTest : public buslog_test::ModuleTest {
 protected:
  LogLine Line(const Form& form, uint32_t number, uint16_t channel, FrameLineBytes* bytes) {
    Frame frame = form.frame;
    frame.number = number;
    frame.channel = channel;
    LogLine line;
    buslog_writer::FrameLine(frame, buslog_writer::Elapsed{4294967295u, 999999}, bytes, &line);
    return line;
  }
  // Writes `line` alone into a fresh log and gives back what the module wrote.
  std::string WriteAlone(const LogLine& line) {
    static LineBatch batch;
    buslog_writer::ClearBatch(&batch);
    EXPECT_EQ(Open("length.log"), 0);
    buslog_writer::AddToBatch(&batch, line);
    EXPECT_TRUE(buslog_writer::WriteBatch(module_.api, batch));
    Close();
    return ReadLog("length.log");
  }
};

TEST_F(LinesTest, EveryFrameFormHasTheLengthTheModuleWrites) {
  for (const Form& form : Forms()) {
    for (uint32_t number : kFrameNumbers) {
      for (uint16_t channel : kChannels) {
        SCOPED_TRACE(form.name + ", frame " + std::to_string(number) + ", channel " + std::to_string(channel));
        FrameLineBytes bytes;
        LogLine line = Line(form, number, channel, &bytes);
        std::string written = WriteAlone(line);
        ASSERT_GE(written.size(), 2u);
        EXPECT_EQ(written.substr(written.size() - 2), "\r\n");
        EXPECT_EQ(line.length, written.size() - 2) << written;
      }
    }
  }
}

// The lines of some forms, as they stand in the log.
TEST_F(LinesTest, FrameLines) {
  struct Row {
    const char* name;
    Frame frame;
    const char* expected;
  } rows[] = {
      {"classic", MakeFrame(buslog_writer::kDataFrame, 0, 0x123, 2, 2), "000000007,+0.000250,I,CAN     , 2,OK,0,1,23,2,A5,A6"},
      {"sent", MakeFrame(buslog_writer::kDataFrame, BUSLOG_FRAME_SENT, 0x7FF, 0, 0), "000000007,+0.000250,O,CAN     , 2,OK,0,7,FF,0"},
      {"candump's _C", MakeFrame(buslog_writer::kDataFrame, 0, 0xC8, 0xC, 8),
       "000000007,+0.000250,I,CAN     , 2,OK,0,0,C8,C,A5,A6,A7,A8,A9,AA,AB,AC"},
      {"a length code above 8 with fewer bytes is not kept", MakeFrame(buslog_writer::kDataFrame, 0, 0xC8, 0xC, 1),
       "000000007,+0.000250,I,CAN     , 2,OK,0,0,C8,1,A5"},
      {"remote", MakeFrame(buslog_writer::kRemoteFrame, 0, 0x321, 4, 0), "000000007,+0.000250,I,CAN     , 2,OK,0,3,21,4,RTR"},
      {"CAN FD", MakeFrame(buslog_writer::kFdFrame, BUSLOG_FRAME_EXTENDED, 0x12345678, 9, 12, 1),
       "000000007,+0.000250,I,CAN     , 2,OK,1,12,34,56,78,9,A5,A6,A7,A8,A9,AA,AB,AC,AD,AE,AF,B0,FD,1"},
      {"error", MakeFrame(buslog_writer::kErrorFrame, 0, 4, 1, 1), "000000007,+0.000250,I,CAN     , 2,NG,1,00,00,00,04,1,A5,(0:ERR=00000004)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Frame frame = row.frame;
    frame.number = 7;
    frame.channel = 1;
    FrameLineBytes bytes;
    LogLine line;
    buslog_writer::FrameLine(frame, buslog_writer::Elapsed{0, 250}, &bytes, &line);
    EXPECT_EQ(WriteAlone(line), std::string(row.expected) + "\r\n");
  }
}

// Every form, in batches as full as the limit lets them be, and one Write
// a line: the same bytes, and each batch within the limit.
TEST_F(LinesTest, BatchesWriteTheBytesOfOneWriteALine) {
  std::vector<Form> forms = Forms();
  static LineBatch batch;
  for (bool batched : {true, false}) {
    SCOPED_TRACE(batched ? "batched" : "one Write a line");
    ASSERT_EQ(Open(batched ? "batched.log" : "single.log"), 0);
    buslog_writer::ClearBatch(&batch);
    uint32_t number = 999999990u;
    uint32_t writes = 0;
    for (int round = 0; round < 3; ++round) {
      for (const Form& form : forms) {
        FrameLineBytes bytes;
        LogLine line = Line(form, number++, static_cast<uint16_t>(round * 97), &bytes);
        if (!batched || !buslog_writer::BatchTakes(batch, &line, 1)) {
          EXPECT_LE(batch.used, buslog_writer::kLineLimit);
          if (batch.count > 0) {
            EXPECT_TRUE(buslog_writer::WriteBatch(module_.api, batch));
            ++writes;
          }
          buslog_writer::ClearBatch(&batch);
        }
        buslog_writer::AddToBatch(&batch, line);
      }
    }
    EXPECT_TRUE(buslog_writer::WriteBatch(module_.api, batch));
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

// Marker lines have the length the batch counts with, whatever their text
// and time.
TEST_F(LinesTest, MarkerLinesHaveTheLengthTheModuleWrites) {
  const std::string texts[] = {"buslog start 2023-11-14T22:13:20.001000Z", "buslog start relative 0.019968",
                               "buslog writer buslog-host 0.1.0", "buslog channel 1 can0",
                               "buslog channel 256 " + std::string(255, 'n')};
  const buslog_writer::Elapsed times[] = {{0, 0}, {12, 345678}, {99999999, 999999}};
  for (const std::string& text : texts) {
    for (const buslog_writer::Elapsed& since : times) {
      SCOPED_TRACE(text + " at " + std::to_string(since.seconds));
      uint8_t record[BUSLOG_MARKER_RECORD_SIZE(buslog_writer::kMaxMarkerText)];
      LogLine line;
      ASSERT_TRUE(buslog_writer::MarkerLine(since, text.c_str(), record, sizeof record, &line));
      std::string written = WriteAlone(line);
      EXPECT_EQ(written.compare(0, 10, "000000000,"), 0) << written;
      EXPECT_EQ(line.length + 2, written.size()) << written;
      EXPECT_NE(written.find(",M,Marker  , -,OK," + text + "\r\n"), std::string::npos) << written;
    }
  }
}

}  // namespace
