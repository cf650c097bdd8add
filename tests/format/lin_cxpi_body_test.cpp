// LIN and CXPI bodies, one table each.
#include "support/module_test.h"

namespace buslog_test {
namespace {

using LinCxpiBodyTest = ModuleTest;

struct BodyRow {
  const char* data;
  const char* body;
};

TEST_F(LinCxpiBodyTest, LinBodies) {
  const BodyRow rows[] = {
      {"", ""},
      {"05", ",5"},
      {"05 80", ",5,80"},
      {"05 80 02", ",5,80,2"},
      {"05 80 02 11", ",5,80,2,11"},
      {"0A 3C 08 01 02 03 04 05 06 07 08 C3", ",A,3C,8,01,02,03,04,05,06,07,08,C3"},
      {"FF 0F 0F", ",FF,0F,F"},
      {"10 00 10 00", ",10,00,10,00"},
      {"00 00 00", ",0,00,0"},
  };
  for (const BodyRow& row : rows) {
    SCOPED_TRACE(row.data);
    EXPECT_EQ(FrameLine(0x3031, 12, 1, 0, Hex(row.data)), std::string(",I,LIN     , 2,OK") + row.body);
  }
}

TEST_F(LinCxpiBodyTest, CxpiBodies) {
  const BodyRow rows[] = {
      {"", ""},
      {"07", ",3"},
      {"03", ",3"},  // bits 7..2 of byte 0 are not printed
      {"FC", ",0"},
      {"07 C5", ",3,1,45"},
      {"07 C5 B7", ",3,1,45,B,1,3"},
      {"03 C5 B7 01 02 03 04 05 06 07 08 09 0A 0B", ",3,1,45,B,1,3,01,02,03,04,05,06,07,08,09,0A,0B"},
      {"04 45 F0", ",0,0,45,F,0,0"},
      {"00 05 00 11", ",0,0,05,0,0,0,11"},
      {"01 7F 0C", ",1,0,7F,0,3,0"},
      {"02 80 FF", ",2,1,00,F,3,3"},
      // The DLC counts nothing: DLC 15 with three bytes, DLC 0 with more.
      {"00 00 F0", ",0,0,00,F,0,0"},
      {"00 00 00 AA BB", ",0,0,00,0,0,0,AA,BB"},
  };
  for (const BodyRow& row : rows) {
    SCOPED_TRACE(row.data);
    EXPECT_EQ(FrameLine(0x3030, 40, 0, 1, Hex(row.data)), std::string(",O,CXPI    , 1,NG") + row.body);
  }
}

}  // namespace
}  // namespace buslog_test
