// The record builders of buslog.h: records they make, handed to the loaded
// module, give the text written here; and a builder that is refused (a
// buffer too small, a value too wide for its field) returns 0 and writes
// nothing.
#include <cstring>
#include <functional>
#include <string>

#include "buslog.h"
#include "support/module_test.h"

namespace buslog_test {
namespace {

using BuildersTest = ModuleTest;

const uint8_t kData[] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
const uint8_t kPortFirst[] = {0x05, 0x80, 0x00, 0x01};
const uint8_t kPortSecond[] = {0x03, 0x00, 0x00, 0x80};

// A builder call over a buffer of `size` bytes.
using Build = std::function<uint32_t(uint8_t* buffer, size_t size)>;

struct RecordRow {
  const char* name;
  uint32_t kind;
  uint32_t bus;
  int32_t channel;
  int32_t status;
  size_t size;  // what the record needs, by the header's size macro
  Build build;
  std::string expected;
};

TEST_F(BuildersTest, RecordsAsTheModuleWritesThem) {
  const RecordRow rows[] = {
      {"CAN standard", BUSLOG_KIND_IN, BUSLOG_BUS_CAN, 0, BUSLOG_STATUS_OK, BUSLOG_CAN_RECORD_SIZE(0, 2),
       [](uint8_t* b, size_t s) { return BuslogBuildCanRecord(b, s, 0, 0x123, 2, kData, 2); },
       ",I,CAN     , 1,OK,0,1,23,2,11,22"},
      {"CAN extended", BUSLOG_KIND_OUT, BUSLOG_BUS_CAN, 1, BUSLOG_STATUS_NG, BUSLOG_CAN_RECORD_SIZE(1, 8),
       [](uint8_t* b, size_t s) { return BuslogBuildCanRecord(b, s, BUSLOG_CAN_EXTENDED, 0x1FFFFFFF, 8, kData, 8); },
       ",O,CAN     , 2,NG,1,1F,FF,FF,FF,8,11,22,33,44,55,66,77,88"},
      {"CAN highest standard identifier, no data", BUSLOG_KIND_IN, BUSLOG_BUS_CAN, 0, 0,
       BUSLOG_CAN_RECORD_SIZE(0, 0),
       [](uint8_t* b, size_t s) { return BuslogBuildCanRecord(b, s, 0, 0x7FF, 0, nullptr, 0); },
       ",I,CAN     , 1,OK,0,7,FF,0"},
      // The flag value's other bits, each on its own and all three.
      {"CAN flag bit 1", BUSLOG_KIND_IN, BUSLOG_BUS_CAN, 0, 0, BUSLOG_CAN_RECORD_SIZE(0, 0),
       [](uint8_t* b, size_t s) { return BuslogBuildCanRecord(b, s, 2, 0x005, 2, nullptr, 0); },
       ",I,CAN     , 1,OK,2,0,05,2"},
      {"CAN flag bit 2", BUSLOG_KIND_IN, BUSLOG_BUS_CAN, 0, 0, BUSLOG_CAN_RECORD_SIZE(0, 0),
       [](uint8_t* b, size_t s) { return BuslogBuildCanRecord(b, s, 4, 0x503, 0, nullptr, 0); },
       ",I,CAN     , 1,OK,4,5,03,0"},
      {"CAN all flags", BUSLOG_KIND_IN, BUSLOG_BUS_CAN, 0, 0, BUSLOG_CAN_RECORD_SIZE(1, 2),
       [](uint8_t* b, size_t s) { return BuslogBuildCanRecord(b, s, 7, 0x00000000, 2, kData, 2); },
       ",I,CAN     , 1,OK,7,00,00,00,00,2,11,22"},
      // The length code is printed as given, whatever the data's length.
      {"CAN length code C with 8 bytes", BUSLOG_KIND_IN, BUSLOG_BUS_CAN, 0, 0, BUSLOG_CAN_RECORD_SIZE(0, 8),
       [](uint8_t* b, size_t s) { return BuslogBuildCanRecord(b, s, 0, 0x7FF, 0xC, kData, 8); },
       ",I,CAN     , 1,OK,0,7,FF,C,11,22,33,44,55,66,77,88"},
      {"LIN", BUSLOG_KIND_IN, BUSLOG_BUS_LIN, 0, 0, BUSLOG_LIN_RECORD_SIZE(3),
       [](uint8_t* b, size_t s) { return BuslogBuildLinRecord(b, s, 0x0A, 0x3C, 0x08, kData, 3); },
       ",I,LIN     , 1,OK,A,3C,8,11,22,33"},
      {"LIN, leading bytes alone", BUSLOG_KIND_OUT, BUSLOG_BUS_LIN, 3, 0, BUSLOG_LIN_RECORD_SIZE(0),
       [](uint8_t* b, size_t s) { return BuslogBuildLinRecord(b, s, 0xFF, 0x05, 0x10, nullptr, 0); },
       ",O,LIN     , 4,OK,FF,05,10"},
      {"CXPI", BUSLOG_KIND_OUT, BUSLOG_BUS_CXPI, 1, 0, BUSLOG_CXPI_RECORD_SIZE(2),
       [](uint8_t* b, size_t s) { return BuslogBuildCxpiRecord(b, s, 3, 1, 0x45, 0xB, 1, 3, kData, 2); },
       ",O,CXPI    , 2,OK,3,1,45,B,1,3,11,22"},
      {"CXPI, every field at its largest", BUSLOG_KIND_IN, BUSLOG_BUS_CXPI, 0, 0, BUSLOG_CXPI_RECORD_SIZE(0),
       [](uint8_t* b, size_t s) { return BuslogBuildCxpiRecord(b, s, 3, 1, 0x7F, 15, 3, 3, nullptr, 0); },
       ",I,CXPI    , 1,OK,3,1,7F,F,3,3"},
      {"CXPI, every field 0", BUSLOG_KIND_IN, BUSLOG_BUS_CXPI, 0, 0, BUSLOG_CXPI_RECORD_SIZE(0),
       [](uint8_t* b, size_t s) { return BuslogBuildCxpiRecord(b, s, 0, 0, 0, 0, 0, 0, nullptr, 0); },
       ",I,CXPI    , 1,OK,0,0,00,0,0,0"},
      {"port inputs, one pair", BUSLOG_KIND_PORT, BUSLOG_BUS_PORT_IN, 0, 0, BUSLOG_PORT_RECORD_SIZE(1),
       [](uint8_t* b, size_t s) { return BuslogBuildPortRecord(b, s, kPortFirst, kPortSecond, 1); },
       ",P,P/I     , -,OK,P1=1,P2=-,P3=+,P4=0,P5=0,P6=0,P7=0,P8=0"},
      {"port outputs, four pairs", BUSLOG_KIND_PORT, BUSLOG_BUS_PORT_OUT, 0, 0, BUSLOG_PORT_RECORD_SIZE(4),
       [](uint8_t* b, size_t s) { return BuslogBuildPortRecord(b, s, kPortFirst, kPortSecond, 4); },
       ",P,P/O     , -,OK,P1=1,P2=-,P3=+,P4=0,P5=0,P6=0,P7=0,P8=0"
       ",P9=0,P10=0,P11=0,P12=0,P13=0,P14=0,P15=0,P16=+"
       ",P17=0,P18=0,P19=0,P20=0,P21=0,P22=0,P23=0,P24=0"
       ",P25=+,P26=0,P27=0,P28=0,P29=0,P30=0,P31=0,P32=-"},
      {"port, no pairs", BUSLOG_KIND_PORT, BUSLOG_BUS_PORT_OUT, 0, 0, BUSLOG_PORT_RECORD_SIZE(0),
       [](uint8_t* b, size_t s) { return BuslogBuildPortRecord(b, s, nullptr, nullptr, 0); }, ",P,P/O     , -,OK"},
      {"environment variable", BUSLOG_KIND_ENV, 0, 0, 0, BUSLOG_ENV_RECORD_SIZE(11, 4),
       [](uint8_t* b, size_t s) { return BuslogBuildEnvRecord(b, s, "EngineSpeed", "1500", 4); },
       ",E,Env     , -,OK,EngineSpeed,\"1500\""},
      {"environment variable, numbered channel, empty", BUSLOG_KIND_ENV, BUSLOG_BUS_NUMBERED, 2, 0,
       BUSLOG_ENV_RECORD_SIZE(0, 0), [](uint8_t* b, size_t s) { return BuslogBuildEnvRecord(b, s, "", nullptr, 0); },
       ",E,Env     , 3,OK,,\"\""},
      // Value lengths above 255 take both length bytes.
      {"environment variable, 300-byte value", BUSLOG_KIND_ENV, 0, 0, 0, BUSLOG_ENV_RECORD_SIZE(1, 300),
       [](uint8_t* b, size_t s) { return BuslogBuildEnvRecord(b, s, "V", std::string(300, 'x').data(), 300); },
       ",E,Env     , -,OK,V,\"" + std::string(300, 'x') + "\""},
      {"marker", BUSLOG_KIND_MARKER, 0, 0, 0, BUSLOG_MARKER_RECORD_SIZE(13),
       [](uint8_t* b, size_t s) { return BuslogBuildMarkerRecord(b, s, "Start of test"); },
       ",M,Marker  , -,OK,Start of test"},
      {"marker, empty text", BUSLOG_KIND_MARKER, BUSLOG_BUS_NUMBERED, 0, 0, BUSLOG_MARKER_RECORD_SIZE(0),
       [](uint8_t* b, size_t s) { return BuslogBuildMarkerRecord(b, s, ""); }, ",M,Marker  , 1,OK,"},
  };
  for (const RecordRow& row : rows) {
    SCOPED_TRACE(row.name);
    uint8_t buffer[400];
    ASSERT_LE(row.size, sizeof buffer);
    // Exactly the size the macro names is enough, and that is what is used.
    uint32_t length = row.build(buffer, row.size);
    ASSERT_EQ(length, row.size);
    std::string line = WriteOneLine(
        [&] { PutFrameRaw(row.kind, row.bus, row.channel, row.status, length, buffer); });
    EXPECT_EQ(line, row.expected);
  }
}

struct RefusedRow {
  const char* name;
  size_t size;
  Build build;
};

TEST_F(BuildersTest, RefusalsWriteNothing) {
  const RefusedRow rows[] = {
      {"CAN standard, one byte short", BUSLOG_CAN_RECORD_SIZE(0, 8) - 1,
       [](uint8_t* b, size_t s) { return BuslogBuildCanRecord(b, s, 0, 0x123, 8, kData, 8); }},
      {"CAN extended, no room for the length code", 4,
       [](uint8_t* b, size_t s) { return BuslogBuildCanRecord(b, s, BUSLOG_CAN_EXTENDED, 1, 0, nullptr, 0); }},
      {"CAN standard identifier over 11 bits", 64,
       [](uint8_t* b, size_t s) { return BuslogBuildCanRecord(b, s, 0, 0x800, 0, nullptr, 0); }},
      {"CAN extended identifier over 29 bits", 64,
       [](uint8_t* b, size_t s) { return BuslogBuildCanRecord(b, s, 1, 0x20000000, 0, nullptr, 0); }},
      {"CAN flags over 7", 64, [](uint8_t* b, size_t s) { return BuslogBuildCanRecord(b, s, 8, 1, 0, nullptr, 0); }},
      {"CAN length code over 15", 64,
       [](uint8_t* b, size_t s) { return BuslogBuildCanRecord(b, s, 0, 1, 16, nullptr, 0); }},
      {"CAN data missing", 64, [](uint8_t* b, size_t s) { return BuslogBuildCanRecord(b, s, 0, 1, 2, nullptr, 2); }},
      {"LIN, one byte short", BUSLOG_LIN_RECORD_SIZE(2) - 1,
       [](uint8_t* b, size_t s) { return BuslogBuildLinRecord(b, s, 1, 2, 3, kData, 2); }},
      {"LIN, no room at all", 2, [](uint8_t* b, size_t s) { return BuslogBuildLinRecord(b, s, 1, 2, 3, nullptr, 0); }},
      {"CXPI, one byte short", BUSLOG_CXPI_RECORD_SIZE(1) - 1,
       [](uint8_t* b, size_t s) { return BuslogBuildCxpiRecord(b, s, 0, 0, 0, 0, 0, 0, kData, 1); }},
      {"CXPI value over 3", 64,
       [](uint8_t* b, size_t s) { return BuslogBuildCxpiRecord(b, s, 4, 0, 0, 0, 0, 0, nullptr, 0); }},
      {"CXPI parity over 1", 64,
       [](uint8_t* b, size_t s) { return BuslogBuildCxpiRecord(b, s, 0, 2, 0, 0, 0, 0, nullptr, 0); }},
      {"CXPI frame ID over 0x7F", 64,
       [](uint8_t* b, size_t s) { return BuslogBuildCxpiRecord(b, s, 0, 0, 0x80, 0, 0, 0, nullptr, 0); }},
      {"CXPI DLC over 15", 64,
       [](uint8_t* b, size_t s) { return BuslogBuildCxpiRecord(b, s, 0, 0, 0, 16, 0, 0, nullptr, 0); }},
      {"CXPI NM over 3", 64,
       [](uint8_t* b, size_t s) { return BuslogBuildCxpiRecord(b, s, 0, 0, 0, 0, 4, 0, nullptr, 0); }},
      {"CXPI CT over 3", 64,
       [](uint8_t* b, size_t s) { return BuslogBuildCxpiRecord(b, s, 0, 0, 0, 0, 0, 4, nullptr, 0); }},
      {"port, one byte short", BUSLOG_PORT_RECORD_SIZE(2) - 1,
       [](uint8_t* b, size_t s) { return BuslogBuildPortRecord(b, s, kPortFirst, kPortSecond, 2); }},
      // The module would fold a fifth pair onto the first.
      {"port, five pairs", 64,
       [](uint8_t* b, size_t s) { return BuslogBuildPortRecord(b, s, kData, kData, 5); }},
      {"environment, one byte short", BUSLOG_ENV_RECORD_SIZE(4, 3) - 1,
       [](uint8_t* b, size_t s) { return BuslogBuildEnvRecord(b, s, "name", "abc", 3); }},
      {"environment, no name", 64, [](uint8_t* b, size_t s) { return BuslogBuildEnvRecord(b, s, nullptr, "a", 1); }},
      {"environment, value over 65535 bytes", 64,
       [](uint8_t* b, size_t s) { return BuslogBuildEnvRecord(b, s, "n", kData, 65536); }},
      {"marker, one byte short", BUSLOG_MARKER_RECORD_SIZE(3) - 1,
       [](uint8_t* b, size_t s) { return BuslogBuildMarkerRecord(b, s, "abc"); }},
      {"marker, no buffer", 0, [](uint8_t*, size_t) { return BuslogBuildMarkerRecord(nullptr, 64, "abc"); }},
  };
  for (const RefusedRow& row : rows) {
    SCOPED_TRACE(row.name);
    uint8_t buffer[80];
    memset(buffer, 0xA5, sizeof buffer);
    ASSERT_LE(row.size, sizeof buffer);
    EXPECT_EQ(row.build(buffer, row.size), 0u);
    for (uint8_t byte : buffer) ASSERT_EQ(byte, 0xA5);
  }
}

}  // namespace
}  // namespace buslog_test
