// The pending line: raw text, the 4096-byte limit, CR LF, and what Write
// leaves behind.
#include <string>

#include "support/module_test.h"

namespace buslog_test {
namespace {

using LineTest = ModuleTest;

TEST_F(LineTest, WriteOfAnEmptyLineWritesCrLf) {
  EXPECT_EQ(Open("empty.log"), 0);
  EXPECT_EQ(Write(), 0);
  Close();
  EXPECT_EQ(ReadLog("empty.log"), "\r\n");
}

TEST_F(LineTest, NulCrAndLfStayInsideTheLine) {
  const std::string text("a\0b\r\nc", 6);
  EXPECT_EQ(WriteOneLine([&] { PutString(text); }), text);
}

TEST_F(LineTest, LinesFollowEachOtherFromOffsetZero) {
  EXPECT_EQ(Open("lines.log"), 0);
  PutFrameId({1});
  PutString(",one");
  EXPECT_EQ(Write(), 0);
  PutFrameId({2});
  EXPECT_EQ(Write(), 0);
  Close();
  EXPECT_EQ(ReadLog("lines.log"), "000000001,one\r\n000000002\r\n");
}

TEST_F(LineTest, LineOfExactlyTheLimitIsWrittenWithCrLf) {
  std::string full(4096, 'x');
  EXPECT_EQ(Open("full.log"), 0);
  PutString(full);
  EXPECT_EQ(Write(), 0);
  Close();
  std::string content = ReadLog("full.log");
  EXPECT_EQ(content.size(), 4098u);
  EXPECT_EQ(content, full + "\r\n");
}

TEST_F(LineTest, PutStringStopsAtTheLimit) {
  std::string line = WriteOneLine([&] {
    PutString(std::string(4000, 'a'));
    PutString(std::string(200, 'b'));
    PutString("c");  // at the limit: nothing
  });
  EXPECT_EQ(line, std::string(4000, 'a') + std::string(96, 'b'));
}

TEST_F(LineTest, FieldCrossingTheLimitKeepsItsBytesBelowIt) {
  std::string line = WriteOneLine([&] {
    PutString(std::string(4090, 'a'));
    PutError({0x1F});
    // Every further field is dropped once the line is full.
    PutFrameId({1});
    PutTimeStamp({1, 2});
    PutError({2});
    PutFrame(0x3031, 4, 0, 0, Hex("07 FF 08"));
    PutFrame(0x1234, 1, 0, 0, Hex("01"));
    PutString("z");
  });
  EXPECT_EQ(line, std::string(4090, 'a') + ",(0:ER");
}

TEST_F(LineTest, LineAfterAFullLineStartsEmpty) {
  EXPECT_EQ(Open("after-full.log"), 0);
  PutString(std::string(5000, 'a'));
  EXPECT_EQ(Write(), 0);
  PutString("next");
  EXPECT_EQ(Write(), 0);
  Close();
  EXPECT_EQ(ReadLog("after-full.log"), std::string(4096, 'a') + "\r\nnext\r\n");
}

TEST_F(LineTest, FailedWriteStillEmptiesTheLine) {
  PutString("no file");
  EXPECT_EQ(Write(), 1);
  EXPECT_EQ(WriteOneLine([&] { PutFrameId({7}); }), "000000007");
}

}  // namespace
}  // namespace buslog_test
