// CAN bodies: standard and extended form, every data length the form cuts
// at, and the flag values of byte 0.
#include "support/module_test.h"

namespace buslog_test {
namespace {

using CanBodyTest = ModuleTest;

struct BodyRow {
  const char* data;
  const char* body;
};

TEST_F(CanBodyTest, BodiesFollowTheHeader) {
  const BodyRow rows[] = {
      {"", ""},
      // Standard form.
      {"07", ",0,7"},
      {"07 FF", ",0,7,FF"},
      {"07 FF 08", ",0,7,FF,8"},
      {"07 FF 08 11 22 33 44 55 66 77 88", ",0,7,FF,8,11,22,33,44,55,66,77,88"},
      {"1F", ",0,7"},  // bits 4..3 are not printed
      {"25 03 02 0A 0B", ",4,5,03,2,0A,0B"},
      {"45 12 F3", ",2,5,12,3"},
      {"00 00 F0", ",0,0,00,0"},  // upper nibble of the length byte dropped
      {"67 FF 08", ",6,7,FF,8"},
      // A length nibble that disagrees with the data length is printed as
      // it stands; the data length decides how many bytes follow.
      {"01 23 08 AA BB", ",0,1,23,8,AA,BB"},
      {"01 23 02 01 02 03 04 05 06 07 08", ",0,1,23,2,01,02,03,04,05,06,07,08"},
      // Extended form.
      {"81", ",1,01"},
      {"81 02", ",1,01,02"},
      {"81 02 03", ",1,01,02,03"},
      {"81 02 03 04", ",1,01,02,03,04"},
      {"9F FF FF FF 08", ",1,1F,FF,FF,FF,8"},
      {"9F FF FF FF 08 01 02 03 04 05 06 07 08", ",1,1F,FF,FF,FF,8,01,02,03,04,05,06,07,08"},
      {"C1 02 03 04 C2 AA BB", ",3,01,02,03,04,2,AA,BB"},
      {"E0 00 00 00 00 00 00", ",7,00,00,00,00,0,00,00"},
      {"A0 00 00 00 0F", ",5,00,00,00,00,F"},
  };
  for (const BodyRow& row : rows) {
    SCOPED_TRACE(row.data);
    EXPECT_EQ(FrameLine(0x3031, 4, 0, 0, Hex(row.data)), std::string(",I,CAN     , 1,OK") + row.body);
  }
}

TEST_F(CanBodyTest, EveryKindLetterTakesTheCanBodyOnBusFour) {
  EXPECT_EQ(FrameLine(0x3030, 4, 1, 0, Hex("07 FF 08 11")), ",O,CAN     , 2,OK,0,7,FF,8,11");
  EXPECT_EQ(FrameLine(0x3033, 4, 0, 0, Hex("81 02 03 04 01 AA")), ",P,CAN     , 1,OK,1,01,02,03,04,1,AA");
  EXPECT_EQ(FrameLine(0x3131, 4, 0, 1, Hex("07")), ",E,CAN     , 1,NG,0,7");
  EXPECT_EQ(FrameLine(0xFFFB, 4, 0, 0, Hex("07 FF")), ",M,CAN     , 1,OK,0,7,FF");
}

}  // namespace
}  // namespace buslog_test
