// Records that ask for far more text than a line keeps. Each line written
// must be exactly the first 4096 bytes of the whole text, the next line must
// be untouched, and (under AddressSanitizer) no byte may be read past the
// record or written past the line buffer. Every record sits in a buffer of
// exactly its own size.
#include <string>

#include "support/module_test.h"

namespace buslog_test {
namespace {

using OversizedTest = ModuleTest;

std::string Repeat(const std::string& piece, size_t times) {
  std::string text;
  text.reserve(piece.size() * times);
  for (size_t i = 0; i < times; ++i) text += piece;
  return text;
}

Bytes Record(const char* head, size_t total, uint8_t fill) {
  Bytes data = Hex(head);
  data.resize(total, fill);
  return data;
}

struct OversizedRow {
  const char* name;
  uint32_t kindCode, busCode;
  Bytes data;
  std::string wholeText;  // what the record would add without a limit
};

TEST_F(OversizedTest, LineIsThePrefixOfTheWholeText) {
  Bytes envValue = {'V', 'A', 'R', 0, 0xFF, 0xFF};
  envValue.resize(envValue.size() + 65535, 'v');
  Bytes envName(10000, 'n');
  const uint8_t nameEnd[] = {0, 0, 1, 'x'};
  for (uint8_t byte : nameEnd) envName.push_back(byte);
  Bytes port(1 + 2 * 255, 0);
  port[0] = 255;
  for (size_t pair = 0; pair < 255; ++pair) port[1 + 2 * pair] = 0x01;
  std::string pins;
  for (int pin = 1; pin <= 8 * 255; ++pin) {
    pins += ",P" + std::to_string(pin) + ((pin - 1) % 8 == 0 ? "=+" : "=0");
  }

  const OversizedRow rows[] = {
      {"CAN standard", 0x3031, 4, Record("07 FF 08", 100000, 0xAB),
       ",I,CAN     , 1,OK,0,7,FF,8" + Repeat(",AB", 100000 - 3)},
      {"CAN extended", 0x3030, 4, Record("81 02 03 04 08", 100000, 0xCD),
       ",O,CAN     , 1,OK,1,01,02,03,04,8" + Repeat(",CD", 100000 - 5)},
      {"LIN", 0x3031, 12, Record("0A 3C 08", 100000, 0x11),
       ",I,LIN     , 1,OK,A,3C,8" + Repeat(",11", 100000 - 3)},
      {"CXPI", 0x3031, 40, Record("07 C5 B7", 100000, 0x22),
       ",I,CXPI    , 1,OK,3,1,45,B,1,3" + Repeat(",22", 100000 - 3)},
      {"generic", 0x1234, 1, Record("", 100000, 0xEE), ",1234,01,00,0" + Repeat(",EE", 100000)},
      {"environment value", 0x3131, 0, envValue,
       ",E,Env     , -,OK,VAR,\"" + std::string(65535, 'v') + "\""},
      {"environment name", 0x3131, 0, envName,
       ",E,Env     , -,OK," + std::string(10000, 'n') + ",\"x\""},
      {"marker", 0xFFFB, 0, Record("", 100000, 'm'), ",M,Marker  , -,OK," + std::string(100000, 'm')},
      {"port of 255 pairs", 0x3033, 0, port, ",P,P/I     , -,OK" + pins},
  };
  for (const OversizedRow& row : rows) {
    SCOPED_TRACE(row.name);
    for (uint32_t before : {0u, 9u, 4000u, 4095u}) {
      SCOPED_TRACE(before);
      std::string lead(before, 'a');
      EXPECT_EQ(Open("oversized.log"), 0);
      PutString(lead);
      PutFrame(row.kindCode, row.busCode, 0, 0, row.data);
      EXPECT_EQ(Write(), 0);
      PutString("next");
      EXPECT_EQ(Write(), 0);
      Close();
      std::string expected = (lead + row.wholeText).substr(0, 4096);
      EXPECT_EQ(ReadLog("oversized.log"), expected + "\r\nnext\r\n");
    }
  }
}

TEST_F(OversizedTest, FullLineDropsAHugeRecordWithoutReadingIt) {
  // At the limit nothing more is kept, so the record need not be read at
  // all; its bytes must not appear and nothing may overflow.
  const Bytes data = Record("07 FF 08", 100000, 0xAB);
  std::string line = WriteOneLine([&] {
    PutString(std::string(4096, 'a'));
    PutFrame(0x3031, 4, 0, 0, data);
    PutFrame(0x1234, 4, 0, 0, data);
  });
  EXPECT_EQ(line, std::string(4096, 'a'));
}

}  // namespace
}  // namespace buslog_test
