// The formatters themselves, over a sink of every size from none to a few
// bytes more than a record's text: each writes exactly the start of that
// text and not one byte past its sink, whatever shortcut it takes when the
// whole text fits. Through the exports a stray byte behind the sink would
// stay hidden in the spare half of the line buffer; here a guard behind the
// sink shows it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "format/frame.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct BoundRow {
  const char* name;
  uint32_t kindCode, busCode;
  Bytes data;
  std::string wholeText;
};

constexpr size_t kGuard = 16;
constexpr uint8_t kGuardByte = 0x5A;

TEST(SinkBoundTest, EveryRoomGetsThePrefixAndNoMore) {
  Bytes long100(100, 0xAB);
  long100[0] = 0x07;
  std::string long100Text = ",I,CAN     , 1,OK,0,7,AB,B";
  for (int i = 3; i < 100; ++i) long100Text += ",AB";
  const BoundRow rows[] = {
      {"CAN standard", 0x3031, 4, {0x07, 0xFF, 0x08, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88},
       ",I,CAN     , 1,OK,0,7,FF,8,11,22,33,44,55,66,77,88"},
      {"CAN standard, 2 bytes", 0x3031, 4, {0x07, 0xFF}, ",I,CAN     , 1,OK,0,7,FF"},
      {"CAN extended", 0x3030, 4, {0x81, 0x02, 0x03, 0x04, 0x08, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88},
       ",O,CAN     , 1,OK,1,01,02,03,04,8,11,22,33,44,55,66,77,88"},
      {"CAN extended, 3 bytes", 0x3030, 4, {0x81, 0x02, 0x03}, ",O,CAN     , 1,OK,1,01,02,03"},
      {"CAN of 100 bytes", 0x3031, 4, long100, long100Text},
      {"LIN", 0x3031, 12, {0x0A, 0x3C, 0x08, 0x01, 0x02}, ",I,LIN     , 1,OK,A,3C,8,01,02"},
      {"CXPI", 0x3031, 40, {0x07, 0xC5, 0xB7, 0x01}, ",I,CXPI    , 1,OK,3,1,45,B,1,3,01"},
      {"generic", 0x1234, 1, {0xEE, 0x01, 0x02}, ",1234,01,00,0,EE,01,02"},
  };
  for (const BoundRow& row : rows) {
    SCOPED_TRACE(row.name);
    const buslog::FrameRecord record = {row.kindCode, row.busCode, 0, 0, static_cast<uint32_t>(row.data.size()),
                                        row.data.data()};
    for (size_t room = 0; room <= row.wholeText.size() + 4; ++room) {
      SCOPED_TRACE(room);
      std::vector<char> buffer(room + kGuard, static_cast<char>(kGuardByte));
      buslog::TextSink sink = buslog::MakeSink(buffer.data(), buffer.data() + room);
      if (!buslog::FormatFrame(sink, record)) buslog::FormatGenericRecord(sink, record);
      ASSERT_GE(sink.next, buffer.data());
      ASSERT_LE(sink.next, buffer.data() + room);
      size_t written = static_cast<size_t>(sink.next - buffer.data());
      EXPECT_EQ(std::string(buffer.data(), written), row.wholeText.substr(0, room));
      for (size_t i = room; i < buffer.size(); ++i) {
        ASSERT_EQ(static_cast<uint8_t>(buffer[i]), kGuardByte) << "byte " << i - room << " behind the sink";
      }
    }
  }
}

}  // namespace
