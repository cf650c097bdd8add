// Frame headers and the generic form of records that are not recognised.
#include <string>

#include "support/module_test.h"

namespace buslog_test {
namespace {

using FrameTest = ModuleTest;

struct FrameRow {
  uint32_t kindCode, busCode;
  int32_t channel, statusFlag;
  const char* data;
  const char* expected;
};

TEST_F(FrameTest, HeadersOfRecognisedRecords) {
  // Records with no data bytes: the header alone, or the header and the
  // shortest body of its kind.
  const FrameRow rows[] = {
      {0x3031, 4, 0, 0, "", ",I,CAN     , 1,OK"},
      {0x3030, 40, 9, 1, "", ",O,CXPI    ,10,NG"},
      {0x3033, 12, 0, 0, "", ",P,LIN     , 1,OK"},
      {0x3033, 0, 5, 0, "00", ",P,P/I     , -,OK"},
      {0x3033, 0x83, 5, 0, "00", ",P,P/O     , -,OK"},
      {0x3131, 128, 2, 0, "00 00 00", ",E,Env     , 3,OK,,\"\""},
      {0x3131, 3, 2, 0, "00 00 00", ",E,Env     , -,OK,,\"\""},
      {0x3131, 4, 0, 0, "", ",E,CAN     , 1,OK"},
      {0xFFFB, 7, 3, 2, "", ",M,Marker  , -,NG,"},
      {0xFFFB, 128, -1, 0, "", ",M,Marker  , 0,OK,"},
      {0x3030, 12, -10, 0, "", ",O,LIN     ,-9,OK"},
      {0x3031, 4, 98, 0, "", ",I,CAN     ,99,OK"},
      {0x3031, 4, 0, -1, "", ",I,CAN     , 1,NG"},
      {0x3031, 4, 0, static_cast<int32_t>(0xFFFFFFFFu), "", ",I,CAN     , 1,NG"},
      // Channels whose number needs more than two characters print whole.
      {0x3031, 4, 99, 0, "", ",I,CAN     ,100,OK"},
      {0x3031, 4, -11, 0, "", ",I,CAN     ,-10,OK"},
      {0x3031, 40, 0x7FFFFFFF, 0, "", ",I,CXPI    ,-2147483648,OK"},
      {0x3131, 128, -2147483647 - 1, 0, "00 00 00", ",E,Env     ,-2147483647,OK,,\"\""},
  };
  for (const FrameRow& row : rows) {
    SCOPED_TRACE(row.expected);
    EXPECT_EQ(FrameLine(row.kindCode, row.busCode, row.channel, row.statusFlag, Hex(row.data)),
              row.expected);
  }
}

TEST_F(FrameTest, GenericFormOfRecordsThatAreNotRecognised) {
  const FrameRow rows[] = {
      {0x3030, 0, 1, 0, "AB 01", ",3030,00,01,0,AB,01"},
      {0x3033, 5, 0, 0, "", ",3033,05,00,0"},
      {0x1234, 4, -1, 1, "", ",1234,04,FFFFFFFF,1"},
      {0x13031, 4, 0, 0, "", ",13031,04,00,0"},
      {0x3031, 0x83, 0, 0, "", ",3031,83,00,0"},
      {0x0000, 0, 0, 0, "", ",0000,00,00,0"},
      {0xFFFFFFFFu, 0xFFFFFFFFu, -1, -1, "00 FF",
       ",FFFFFFFF,FFFFFFFF,FFFFFFFF,FFFFFFFF,00,FF"},
      {0x0001, 0x1FB, 0xABC, 0x10, "0A", ",0001,1FB,ABC,10,0A"},
  };
  for (const FrameRow& row : rows) {
    SCOPED_TRACE(row.expected);
    EXPECT_EQ(FrameLine(row.kindCode, row.busCode, row.channel, row.statusFlag, Hex(row.data)),
              row.expected);
  }
}

}  // namespace
}  // namespace buslog_test
