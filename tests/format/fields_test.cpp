// Frame number, time-stamp and error fields, each a row of a table.
#include <string>

#include "support/module_test.h"

namespace buslog_test {
namespace {

using FieldsTest = ModuleTest;

TEST_F(FieldsTest, TimeStampKeepsNineCharactersByPosition) {
  struct Row {
    uint32_t whole, fraction;
    const char* expected;
  };
  const Row rows[] = {
      {0, 0, ",+0.000000"},
      {1, 234567, ",+1.234567"},
      {12, 345678, ",+12.34567"},
      {12345, 678901, ",+12345.67"},
      {1234567, 0, ",+1234567."},
      {12345678, 0, ",+12345678"},
      {123456789, 0, ",+12345678"},
      {4294967295u, 999999, ",+42949672"},
      // A fraction of more than six digits keeps its leading digits.
      {1, 1234567, ",+1.123456"},
      {0, 4294967295u, ",+0.429496"},
      {123456, 7, ",+123456.0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.expected);
    EXPECT_EQ(WriteOneLine([&] { PutTimeStamp({row.whole, row.fraction}); }), row.expected);
  }
}

TEST_F(FieldsTest, FrameNumberIsNineDigitsOrTen) {
  struct Row {
    uint32_t value;
    const char* expected;
  };
  const Row rows[] = {
      {123, "000000123"},
      {0, "000000000"},
      {999999999, "999999999"},
      {1000000000, "1000000000"},
      {4294967295u, "4294967295"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.expected);
    EXPECT_EQ(WriteOneLine([&] { PutFrameId({row.value}); }), row.expected);
  }
}

TEST_F(FieldsTest, ErrorCodeIsEightUpperCaseHexDigits) {
  struct Row {
    uint32_t value;
    const char* expected;
  };
  const Row rows[] = {
      {0x1F, ",(0:ERR=0000001F)"},
      {0xFFFFFFFFu, ",(0:ERR=FFFFFFFF)"},
      {0, ",(0:ERR=00000000)"},
      {0xABCDEF12u, ",(0:ERR=ABCDEF12)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.expected);
    EXPECT_EQ(WriteOneLine([&] { PutError({row.value}); }), row.expected);
  }
}

TEST_F(FieldsTest, ValuesAreReadFromUnalignedData) {
  // Hosts may pass values at any address.
  alignas(4) uint8_t bytes[12] = {0, 0x7B, 0, 0, 0, 1, 0, 0, 0};
  std::string line = WriteOneLine([&] {
    int32_t count = -1;
    module_.api.PutFrameId(1, bytes + 1, &count);
    module_.api.PutTimeStamp(2, bytes + 1, &count);
  });
  EXPECT_EQ(line, "000000123,+123.0000");
}

}  // namespace
}  // namespace buslog_test
