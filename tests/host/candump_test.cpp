// The host's candump parser and CAN record layout, one table each, and the
// line reader on ragged input.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "candump.h"
#include "line_source.h"

namespace buslog_host {
namespace {

struct ParseRow {
  const char* line;
  CanFrameKind kind;
  bool extended;
  uint32_t id;
  uint8_t length, dlc, fdFlags;
  const char* data;  // hex of the data bytes
  const char* record;  // hex of the CAN record the module is given
};

std::string HexOf(const uint8_t* bytes, size_t count) {
  std::string text;
  char pair[4];
  for (size_t i = 0; i < count; ++i) {
    snprintf(pair, sizeof pair, i ? " %02X" : "%02X", bytes[i]);
    text += pair;
  }
  return text;
}

TEST(CandumpTest, FramesAndTheirRecords) {
  using K = CanFrameKind;
  const ParseRow rows[] = {
      {"(1436509052.249713) can0 123#DEADBEEF", K::kData, false, 0x123, 4, 4, 0, "DE AD BE EF",
       "01 23 04 DE AD BE EF"},
      {"(1436509052.249713) can0 7FF#", K::kData, false, 0x7FF, 0, 0, 0, "", "07 FF 00"},
      {"(1.5) vcan12 12345678#01", K::kData, true, 0x12345678, 1, 1, 0, "01", "92 34 56 78 01 01"},
      {"(0.000001) can0 1FFFFFFF#0102030405060708", K::kData, true, 0x1FFFFFFF, 8, 8, 0,
       "01 02 03 04 05 06 07 08", "9F FF FF FF 08 01 02 03 04 05 06 07 08"},
      {"(1.000000) can0 100#01.02.03", K::kData, false, 0x100, 3, 3, 0, "01 02 03", "01 00 03 01 02 03"},
      {"(1.000000) can0 321#R", K::kRemote, false, 0x321, 0, 0, 0, "", "03 21 00"},
      {"(1.000000) can0 321#R4", K::kRemote, false, 0x321, 4, 4, 0, "", "03 21 04"},
      {"(1.000000) can0 00000321#R8", K::kRemote, true, 0x321, 8, 8, 0, "", "80 00 03 21 08"},
      {"(1.000000) can1 12345678##1112233445566778899AABBCC", K::kFd, true, 0x12345678, 12, 9, 1,
       "11 22 33 44 55 66 77 88 99 AA BB CC", "92 34 56 78 09 11 22 33 44 55 66 77 88 99 AA BB CC"},
      {"(1.000000) can1 123##0", K::kFd, false, 0x123, 0, 0, 0, "", "01 23 00"},
      {"(1.000000) can0 20000004#0000080000000000", K::kError, true, 0x4, 8, 8, 0,
       "00 00 08 00 00 00 00 00", "80 00 00 04 08 00 00 08 00 00 00 00 00"},
      {"(1.000000) can0 0C8#1122334455667788_C", K::kData, false, 0xC8, 8, 0xC, 0,
       "11 22 33 44 55 66 77 88", "00 C8 0C 11 22 33 44 55 66 77 88"},
      // A direction mark, blanks and a short fraction are accepted.
      {"  (1.5)\tcan0   123#aa R  ", K::kData, false, 0x123, 1, 1, 0, "AA", "01 23 01 AA"},
      {"(1.000000) can0 123#11 T", K::kData, false, 0x123, 1, 1, 0, "11", "01 23 01 11"},
  };
  for (const ParseRow& row : rows) {
    SCOPED_TRACE(row.line);
    CandumpFrame frame = {};
    const char* error = ParseCandumpLine(row.line, strlen(row.line), &frame);
    ASSERT_EQ(error, nullptr) << error;
    EXPECT_EQ(frame.kind, row.kind);
    EXPECT_EQ(frame.extended, row.extended);
    EXPECT_EQ(frame.id, row.id);
    EXPECT_EQ(frame.length, row.length);
    EXPECT_EQ(frame.dlc, row.dlc);
    EXPECT_EQ(frame.fdFlags, row.fdFlags);
    EXPECT_EQ(frame.transmitted, strstr(row.line, " T") != nullptr);
    EXPECT_EQ(HexOf(frame.data, row.kind == K::kRemote ? 0 : frame.length), row.data);
    uint8_t record[kMaxCanRecord];
    uint32_t size = BuildCanRecord(frame, record);
    EXPECT_EQ(HexOf(record, size), row.record);
  }
}

// A parsed line formatted again: candump's own form, whatever spelling the
// line had (short fractions, dots, lower case), with the mark asked for.
TEST(CandumpTest, FormatALine) {
  struct Row {
    const char* line;
    char mark;
    const char* expected;
  } rows[] = {
      {"(1436509052.249713) can0 123#DEADBEEF", 0, "(1436509052.249713) can0 123#DEADBEEF\n"},
      {"(1.5) vcan12 12345678#01", 0, "(0000000001.500000) vcan12 12345678#01\n"},
      {"(0.000001) can0 7FF#", 0, "(0000000000.000001) can0 7FF#\n"},
      {"(12345678901.000001) can0 123#", 0, "(12345678901.000001) can0 123#\n"},
      {"(1.000000) can0 100#01.02.03", 0, "(0000000001.000000) can0 100#010203\n"},
      {"(1.000000) can0 123#aa", 0, "(0000000001.000000) can0 123#AA\n"},
      {"(1.000000) can0 321#R", 0, "(0000000001.000000) can0 321#R\n"},
      {"(1.000000) can0 321#R4", 0, "(0000000001.000000) can0 321#R4\n"},
      {"(1.000000) can0 00000321#R8", 0, "(0000000001.000000) can0 00000321#R8\n"},
      {"(1.000000) can1 12345678##1112233445566778899AABBCC", 0,
       "(0000000001.000000) can1 12345678##1112233445566778899AABBCC\n"},
      {"(1.000000) can1 123##0", 0, "(0000000001.000000) can1 123##0\n"},
      {"(1.000000) can0 20000004#0000080000000000", 0, "(0000000001.000000) can0 20000004#0000080000000000\n"},
      {"(1.000000) can0 0C8#1122334455667788_C", 0, "(0000000001.000000) can0 0C8#1122334455667788_C\n"},
      {"(1.000000) can0 123#11 T", 'T', "(0000000001.000000) can0 123#11 T\n"},
      {"(1.000000) can0 123#11", 'R', "(0000000001.000000) can0 123#11 R\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    CandumpFrame frame = {};
    ASSERT_EQ(ParseCandumpLine(row.line, strlen(row.line), &frame), nullptr);
    char out[kMaxCandumpLine];
    char* end = FormatCandumpLine(out, frame, row.mark);
    EXPECT_EQ(std::string(out, static_cast<size_t>(end - out)), row.expected);
  }
}

// The longest line the parser takes: 19 digits of seconds, a 64-byte name, 64 FD bytes, a mark.
TEST(CandumpTest, LongestFormattedLineFits) {
  std::string line = "(9999999999999999999.999999) " + std::string(kMaxInterfaceName, 'n') + " 1FFFFFFF##F" +
                     std::string(128, 'A') + " T";
  CandumpFrame frame = {};
  ASSERT_EQ(ParseCandumpLine(line.data(), line.size(), &frame), nullptr);
  char out[kMaxCandumpLine];
  char* end = FormatCandumpLine(out, frame, 'T');
  EXPECT_EQ(std::string(out, static_cast<size_t>(end - out)), line + "\n");
  EXPECT_LE(static_cast<size_t>(end - out), kMaxCandumpLine);
}

TEST(CandumpTest, LinesThatAreNotFramesSayWhy) {
  struct ErrorRow {
    const char* line;
    const char* error;
  };
  const ErrorRow rows[] = {
      {"", "no time stamp"},
      {"this line is not a frame", "no time stamp"},
      {"(1436509052.249713)", "no interface"},
      {"(1436509052) can0 123#11", "bad time stamp"},
      // The usual fixed-width shape with one byte that is not a digit.
      {"(14365090x2.249713) can0 123#11", "bad time stamp"},
      {"(143650905:.249713) can0 123#11", "bad time stamp"},
      {"(1436509052.2497/3) can0 123#11", "bad time stamp"},
      {"(1436509052.24971\xB3) can0 123#11", "bad time stamp"},
      {"(1.x) can0 123#11", "bad time stamp"},
      {"(1.0 can0 123#11", "bad time stamp"},
      {"(1.0) can0 123", "no '#' in frame"},
      {"(1.0) can0 12#11", "identifier must have 3 or 8 digits"},
      {"(1.0) can0 800#11", "standard identifier above 7FF"},
      {"(1.0) can0 1234567#11", "identifier must have 3 or 8 digits"},
      {"(1.0) can0 123456789#11", "bad identifier"},
      {"(1.0) can0 G23#11", "bad identifier"},
      {"(1.0) can0 40000123#11", "identifier flags other than the error flag"},
      {"(1.0) can0 123#1", "odd number of data digits"},
      {"(1.0) can0 123#1G", "bad data byte"},
      {"(1.0) can0 123#112233445566778899", "too many data bytes"},
      {"(1.0) can0 123#R9", "remote length above 8"},
      {"(1.0) can0 123##", "no CAN FD flags"},
      {"(1.0) can0 123##1112233445566778899", "not a CAN FD length"},
      {"(1.0) can0 123#11_C", "bad length code"},
      {"(1.0) can0 123#1122334455667788_8", "bad length code"},
      {"(1.0) can0 20000004#R", "remote error frame"},
      {"(1.0) can0 123#11 X", "unexpected text after the frame"},
      {"(1.0) can0 123#11 R extra", "unexpected text after the frame"},
      {"(1.0) can\x01 123#11", "bad interface name"},
  };
  for (const ErrorRow& row : rows) {
    SCOPED_TRACE(row.line);
    CandumpFrame frame = {};
    const char* error = ParseCandumpLine(row.line, strlen(row.line), &frame);
    ASSERT_NE(error, nullptr);
    EXPECT_STREQ(error, row.error);
  }
}

TEST(CandumpTest, TimeStampAndInterface) {
  CandumpFrame frame = {};
  const char line[] = "(1436509052.2497139) vcan0 123#";
  ASSERT_EQ(ParseCandumpLine(line, strlen(line), &frame), nullptr);
  EXPECT_EQ(frame.seconds, 1436509052u);
  EXPECT_EQ(frame.micros, 249713u);  // digits past the sixth are dropped
  EXPECT_EQ(std::string(frame.interfaceName, frame.interfaceLength), "vcan0");
  const char shortFraction[] = "(7.25) can0 123#";
  ASSERT_EQ(ParseCandumpLine(shortFraction, strlen(shortFraction), &frame), nullptr);
  EXPECT_EQ(frame.micros, 250000u);
  // candump's own fixed-width shape.
  const char fixed[] = "(0123456789.012345) can0 123#";
  ASSERT_EQ(ParseCandumpLine(fixed, strlen(fixed), &frame), nullptr);
  EXPECT_EQ(frame.seconds, 123456789u);
  EXPECT_EQ(frame.micros, 12345u);
  const char largest[] = "(9999999999.999999) can0 123#";
  ASSERT_EQ(ParseCandumpLine(largest, strlen(largest), &frame), nullptr);
  EXPECT_EQ(frame.seconds, 9999999999u);
  EXPECT_EQ(frame.micros, 999999u);
}

TEST(CandumpTest, NulBytesInsideALineAreNotFrames) {
  const char line[] = "(1.0) can0 123#11\0zz";
  CandumpFrame frame = {};
  EXPECT_NE(ParseCandumpLine(line, sizeof line - 1, &frame), nullptr);
}

// Writes `content` to a temporary file and reads it back line by line.
std::vector<std::string> ReadLines(const std::string& content, int* tooLong) {
  FILE* file = tmpfile();
  fwrite(content.data(), 1, content.size(), file);
  rewind(file);
  buslog_reader::LineSource reader;
  EXPECT_TRUE(buslog_reader::OpenLineSource(&reader, file));
  std::vector<std::string> lines;
  const char* line;
  size_t length;
  bool isTooLong;
  *tooLong = 0;
  while (buslog_reader::NextWholeLine(&reader, &line, &length, &isTooLong)) {
    if (isTooLong) {
      ++*tooLong;
      lines.push_back("<too long>");
    } else {
      lines.emplace_back(line, length);
    }
  }
  buslog_reader::CloseLineSource(&reader);
  fclose(file);
  return lines;
}

TEST(LineReaderTest, RaggedInput) {
  struct Row {
    const char* name;
    std::string content;
    std::vector<std::string> lines;
  };
  const Row rows[] = {
      {"LF", "a\nb\n", {"a", "b"}},
      {"CR LF", "a\r\nb\r\n", {"a", "b"}},
      {"no final newline", "a\nb", {"a", "b"}},
      {"no final newline after CR", "a\r", {"a"}},
      {"empty lines", "\n\r\n\n", {"", "", ""}},
      {"empty file", "", {}},
      {"NUL bytes", std::string("a\0b\nc", 5), {std::string("a\0b", 3), "c"}},
      {"too long", "x\n" + std::string(buslog_reader::kMaxLineLength + 1, 'y') + "\nz", {"x", "<too long>", "z"}},
      {"too long at the end", "x\n" + std::string(3 * buslog_reader::kMaxLineLength, 'y'), {"x", "<too long>"}},
      {"longest kept", std::string(buslog_reader::kMaxLineLength, 'k') + "\n", {std::string(buslog_reader::kMaxLineLength, 'k')}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    int tooLong = 0;
    EXPECT_EQ(ReadLines(row.content, &tooLong), row.lines);
  }
}

TEST(LineReaderTest, LinesCrossingBlockBoundariesStayWhole) {
  // Lines of 37 bytes never divide the 1 MiB blocks evenly.
  std::string content;
  const std::string line = "(1436509052.249713) can0 123#DEADBE";
  const size_t count = 100000;
  for (size_t i = 0; i < count; ++i) content += line + "\n";
  int tooLong = 0;
  std::vector<std::string> lines = ReadLines(content, &tooLong);
  ASSERT_EQ(lines.size(), count);
  for (const std::string& got : lines) ASSERT_EQ(got, line);
}

}  // namespace
}  // namespace buslog_host
