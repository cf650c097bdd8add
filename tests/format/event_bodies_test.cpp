// Port, environment-variable and marker bodies, one table each.
#include <string>

#include "support/module_test.h"

namespace buslog_test {
namespace {

using EventBodiesTest = ModuleTest;

struct BodyRow {
  const char* name;
  uint32_t busCode;
  Bytes data;
  std::string expected;
};

TEST_F(EventBodiesTest, PortBodies) {
  const BodyRow rows[] = {
      {"one pair", 0, Hex("01 05 03"), ",P,P/I     , -,OK,P1=1,P2=-,P3=+,P4=0,P5=0,P6=0,P7=0,P8=0"},
      {"no pairs", 0x83, Hex("00"), ",P,P/O     , -,OK"},
      {"two pairs", 0, Hex("02 80 00 01 01"),
       ",P,P/I     , -,OK,P1=0,P2=0,P3=0,P4=0,P5=0,P6=0,P7=0,P8=+"
       ",P9=1,P10=0,P11=0,P12=0,P13=0,P14=0,P15=0,P16=0"},
      {"four pairs, each pin from its own bits", 0x83, Hex("04 01 00 00 02 00 00 80 80"),
       ",P,P/O     , -,OK,P1=+,P2=0,P3=0,P4=0,P5=0,P6=0,P7=0,P8=0"
       ",P9=0,P10=-,P11=0,P12=0,P13=0,P14=0,P15=0,P16=0"
       ",P17=0,P18=0,P19=0,P20=0,P21=0,P22=0,P23=0,P24=0"
       ",P25=0,P26=0,P27=0,P28=0,P29=0,P30=0,P31=0,P32=1"},
      // Pairs past the fourth fold onto the same 32 bits.
      {"five pairs", 0, Hex("05 01 00 00 00 00 00 00 00 00 02"),
       ",P,P/I     , -,OK,P1=+,P2=-,P3=0,P4=0,P5=0,P6=0,P7=0,P8=0"
       ",P9=0,P10=0,P11=0,P12=0,P13=0,P14=0,P15=0,P16=0"
       ",P17=0,P18=0,P19=0,P20=0,P21=0,P22=0,P23=0,P24=0"
       ",P25=0,P26=0,P27=0,P28=0,P29=0,P30=0,P31=0,P32=0"
       ",P33=+,P34=-,P35=0,P36=0,P37=0,P38=0,P39=0,P40=0"},
  };
  for (const BodyRow& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(FrameLine(0x3033, row.busCode, 0, 0, row.data), row.expected);
  }
}

TEST_F(EventBodiesTest, PortBodyIgnoresTheDataLength) {
  const Bytes data = Hex("02 FF 00 00 FF");
  std::string line = WriteOneLine([&] { PutFrameRaw(0x3033, 0, 0, 0, 0, data.data()); });
  EXPECT_EQ(line,
            ",P,P/I     , -,OK,P1=+,P2=+,P3=+,P4=+,P5=+,P6=+,P7=+,P8=+"
            ",P9=-,P10=-,P11=-,P12=-,P13=-,P14=-,P15=-,P16=-");
}

TEST_F(EventBodiesTest, EnvironmentVariableBodies) {
  const BodyRow rows[] = {
      {"name and value", 0, Bytes{'A', 0, 0, 2, '1', '2'}, ",E,Env     , -,OK,A,\"12\""},
      {"empty name and value", 0, Hex("00 00 00"), ",E,Env     , -,OK,,\"\""},
      {"numbered channel", 128, Bytes{'x', 'y', 0, 0, 1, 'v'}, ",E,Env     , 1,OK,xy,\"v\""},
      // Nothing is escaped: commas, quotes, NUL, CR and LF stand as they are.
      {"raw value bytes", 7, Bytes{'n', 0, 0, 6, ',', '"', 0, '\r', '\n', 'z'},
       std::string(",E,Env     , -,OK,n,\",\"\0\r\nz\"", 28)},
  };
  for (const BodyRow& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(FrameLine(0x3131, row.busCode, 0, 0, row.data), row.expected);
  }
}

TEST_F(EventBodiesTest, EnvironmentValueLengthIsMostSignificantByteFirst) {
  Bytes data = {'L', 0, 0x01, 0x02};
  data.resize(data.size() + 258, 'v');
  data.push_back('X');  // one byte past the value: must not appear
  std::string line = WriteOneLine([&] { PutFrameRaw(0x3131, 0, 0, 0, 0, data.data()); });
  EXPECT_EQ(line, ",E,Env     , -,OK,L,\"" + std::string(258, 'v') + "\"");
}

TEST_F(EventBodiesTest, MarkerBodies) {
  struct MarkerRow {
    const char* name;
    int32_t dataLength;
    const char* data;
    const char* expected;
  };
  const MarkerRow rows[] = {
      {"stops at the zero byte", 10, "ABC\0DEFGHI", ",M,Marker  , -,OK,ABC"},
      {"cut to the data length", 4, "ABCDEFG", ",M,Marker  , -,OK,ABCD"},
      {"no data", 0, "ABC", ",M,Marker  , -,OK,"},
      {"negative data length", -1, "ABC", ",M,Marker  , -,OK,"},
      {"zero byte first", 5, "\0ABCD", ",M,Marker  , -,OK,"},
      {"commas and CR stay", 5, "a,b\r\n", ",M,Marker  , -,OK,a,b\r\n"},
  };
  for (const MarkerRow& row : rows) {
    SCOPED_TRACE(row.name);
    std::string line = WriteOneLine([&] {
      PutFrameRaw(0xFFFB, 3, 0, 0, static_cast<uint32_t>(row.dataLength),
                  reinterpret_cast<const uint8_t*>(row.data));
    });
    EXPECT_EQ(line, row.expected);
  }
}

}  // namespace
}  // namespace buslog_test
