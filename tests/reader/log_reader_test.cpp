// The log reader: every line form, each disambiguation rule with its
// ambiguous cases, and the line reader on ragged files. Each parsed line is
// described as one short text, so a row states the whole reading.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "log_reader.h"

namespace buslog_reader {
namespace {

std::string Hex(const uint8_t* bytes, size_t count) {
  std::string text;
  char pair[3];
  for (size_t i = 0; i < count; ++i) {
    snprintf(pair, sizeof pair, "%02X", bytes[i]);
    text += pair;
  }
  return text;
}

std::string Str(const Text& text) { return std::string(text.text, text.length); }

// One line's reading, e.g. "f=1 t=0.000000/6 R I CAN ch=1 OK can data std id=123 dlc=4 DEADBEEF".
std::string Describe(const LogLine& line) {
  std::string out;
  char buffer[128];
  if (line.hasFrameNumber) {
    snprintf(buffer, sizeof buffer, "f=%u ", line.frameNumber);
    out += buffer;
  }
  if (line.hasTime) {
    std::string fraction = line.time.digits == 0 ? "" : std::to_string(line.time.fraction);
    fraction.insert(0, line.time.digits - fraction.size(), '0');
    snprintf(buffer, sizeof buffer, "t=%llu.%s/%u%s ", static_cast<unsigned long long>(line.time.seconds),
             fraction.c_str(), line.time.digits, line.time.wholeMayBeCut ? "cut" : "");
    out += buffer;
  }
  if (line.hasError) {
    snprintf(buffer, sizeof buffer, "err=%08X ", line.error);
    out += buffer;
  }
  switch (line.form) {
    case LineForm::kEmpty:
      return out + "empty";
    case LineForm::kError:
      return out + "error";
    case LineForm::kText:
      return out + "text(" + line.why + ") " + Str(line.rest);
    case LineForm::kRecord:
      break;
  }
  const LogRecord& r = line.record;
  if (r.type != RecordType::kGeneric) {
    snprintf(buffer, sizeof buffer, "%c %s ch=%s%s %s ", r.kind, Str(r.bus).c_str(), Str(r.channelText).c_str(),
             r.hasChannel ? "#" : "", r.ok ? "OK" : "NG");
    out += buffer;
  }
  std::string data = Hex(r.data, r.dataCount);
  switch (r.type) {
    case RecordType::kCan: {
      const CanRecord& c = r.can;
      if (!c.complete) {
        snprintf(buffer, sizeof buffer, "can incomplete flags=%u id=%X", c.flags, c.id);
        return out + buffer;
      }
      const char* types[] = {"data", "remote", "fd", "error"};
      snprintf(buffer, sizeof buffer, "can %s %s flags=%u id=%X dlc=%X", types[static_cast<int>(c.type)],
               c.extended ? "ext" : "std", c.flags, c.id, c.dlc);
      out += buffer;
      if (c.type == CanType::kFd) out += " fd=" + std::to_string(c.fdFlags);
      if (c.type == CanType::kError) {
        snprintf(buffer, sizeof buffer, " class=%X", c.errorClass);
        out += buffer;
      }
      return out + " " + data;
    }
    case RecordType::kLin:
      snprintf(buffer, sizeof buffer, "lin %u:%X,%02X,%X ", r.lin.fields, r.lin.byte0, r.lin.byte1, r.lin.byte2);
      return out + buffer + data;
    case RecordType::kCxpi:
      snprintf(buffer, sizeof buffer, "cxpi %u:%X,%X,%02X,%X,%X,%X ", r.cxpi.fields, r.cxpi.bits, r.cxpi.parity,
               r.cxpi.frameId, r.cxpi.dlc, r.cxpi.nm, r.cxpi.ct);
      return out + buffer + data;
    case RecordType::kPort:
      return out + "port " + std::string(r.pins, r.pinCount);
    case RecordType::kEnv:
      return out + "env [" + Str(r.name) + "]=[" + Str(r.value) + "]";
    case RecordType::kMarker:
      return out + "marker [" + Str(r.text) + "]";
    case RecordType::kGeneric:
      snprintf(buffer, sizeof buffer, "generic %X,%X,%X,%X ", r.generic.kindCode, r.generic.busCode,
               r.generic.channel, r.generic.status);
      return out + buffer + data;
    case RecordType::kNone:
      break;
  }
  return out + "?";
}

struct Row {
  const char* name;
  const char* line;
  const char* reading;
};

void CheckRows(const Row* rows, size_t count) {
  static LogLine line;
  for (size_t i = 0; i < count; ++i) {
    SCOPED_TRACE(rows[i].name);
    ParseLogLine(rows[i].line, strlen(rows[i].line), &line);
    EXPECT_EQ(Describe(line), rows[i].reading) << rows[i].line;
  }
}

TEST(LogReaderTest, LineForms) {
  const Row rows[] = {
      {"can standard", "000000123,+1.234567,I,CAN     , 1,OK,0,1,23,2,AA,BB",
       "f=123 t=1.234567/6 I CAN ch=1# OK can data std flags=0 id=123 dlc=2 AABB"},
      {"can extended", "000000003,+0.002500,O,CAN     , 2,OK,1,1A,BC,DE,F0,8,01,02,03,04,05,06,07,08",
       "f=3 t=0.002500/6 O CAN ch=2# OK can data ext flags=1 id=1ABCDEF0 dlc=8 0102030405060708"},
      {"can flags 3 and 4", ",I,CAN     , 1,OK,3,01,02,03,04,2,AA,BB,X", "text(bad data byte) I,CAN     , 1,OK,3,01,02,03,04,2,AA,BB,X"},
      {"can empty body", "000000001,+0.000000,I,CAN     , 1,OK", "f=1 t=0.000000/6 I CAN ch=1# OK can incomplete flags=0 id=0"},
      {"can incomplete", ",I,CAN     , 1,OK,0,7,FF", "I CAN ch=1# OK can incomplete flags=0 id=7FF"},
      {"lin", "000000001,+0.000100,I,LIN     , 1,OK,A,3C,8,01,02,03,04,05,06,07,08,C3",
       "f=1 t=0.000100/6 I LIN ch=1# OK lin 3:A,3C,8 0102030405060708C3"},
      {"lin short", ",I,LIN     , 1,OK,FF,0F", "I LIN ch=1# OK lin 2:FF,0F,0 "},
      {"cxpi", "000000002,+0.000200,O,CXPI    , 2,OK,3,1,45,B,1,3,01,02",
       "f=2 t=0.000200/6 O CXPI ch=2# OK cxpi 6:3,1,45,B,1,3 0102"},
      {"cxpi one value", ",O,CXPI    , 2,OK,3", "O CXPI ch=2# OK cxpi 1:3,0,00,0,0,0 "},
      {"cxpi two values", ",O,CXPI    , 2,OK,3,1", "text(bad CXPI body) O,CXPI    , 2,OK,3,1"},
      {"port in", "000000003,+0.000300,P,P/I     , -,OK,P1=1,P2=-,P3=+,P4=0,P5=0,P6=0,P7=0,P8=0",
       "f=3 t=0.000300/6 P P/I ch=- OK port 1-+00000"},
      {"port empty", ",P,P/O     , -,NG", "P P/O ch=- NG port "},
      {"port gap", ",P,P/O     , -,OK,P1=1,P3=0", "text(pins out of order) P,P/O     , -,OK,P1=1,P3=0"},
      {"env", "000000005,+0.000500,E,Env     , -,OK,EngineSpeed,\"1500\"",
       "f=5 t=0.000500/6 E Env ch=- OK env [EngineSpeed]=[1500]"},
      {"env empty", ",E,Env     , -,OK,,\"\"", "E Env ch=- OK env []=[]"},
      {"env numbered", ",E,Env     , 3,OK,A,\"12\"", "E Env ch=3# OK env [A]=[12]"},
      {"marker", "000000006,+0.000600,M,Marker  , -,OK,Start of test",
       "f=6 t=0.000600/6 M Marker ch=- OK marker [Start of test]"},
      {"marker empty", ",M,Marker  , -,OK,", "M Marker ch=- OK marker []"},
      {"generic", "000000011,+2.000000,1234,07,02,1,DE,AD", "f=11 t=2.000000/6 generic 1234,7,2,1 DEAD"},
      {"generic wide", ",1234,04,FFFFFFFF,1", "generic 1234,4,FFFFFFFF,1 "},
      {"generic with error", ",13031,04,00,0,(0:ERR=00000001)", "err=00000001 generic 13031,4,0,0 "},
      {"error only", "000000007,+0.000700,(0:ERR=0000001F)", "f=7 t=0.000700/6 err=0000001F error"},
      {"free text", "000000008,+0.000800,operator note: ignition on",
       "f=8 t=0.000800/6 text(not a record) operator note: ignition on"},
      {"empty", "", "empty"},
      {"frame and time only", "000000001,+0.000000", "f=1 t=0.000000/6 text(no record) "},
      {"not a log line", "hello, world", "text(not a log line) hello, world"},
      // Channel texts wider than two characters.
      {"channel 100", ",I,CAN     ,100,OK,0,7,FF,0", "I CAN ch=100# OK can data std flags=0 id=7FF dlc=0 "},
      {"channel -10", ",I,LIN     ,-10,OK,5", "I LIN ch=-10# OK lin 1:5,00,0 "},
      {"lower-case hex", ",I,CAN     , 1,OK,0,1,2a,1,ff", "I CAN ch=1# OK can data std flags=0 id=12A dlc=1 FF"},
  };
  CheckRows(rows, sizeof rows / sizeof rows[0]);
}

TEST(LogReaderTest, FrameNumbersAndTimeStamps) {
  const Row rows[] = {
      {"ten digits", "4294967295,+1.000000", "f=4294967295 t=1.000000/6 text(no record) "},
      {"too big", "4294967296,+1.000000", "text(not a log line) 4294967296,+1.000000"},
      {"eight digits", "12345678,+1.000000", "text(not a log line) 12345678,+1.000000"},
      {"no frame number", ",+1.234567,(0:ERR=00000000)", "t=1.234567/6 err=00000000 error"},
      {"five digits kept", "000000001,+12.34567", "f=1 t=12.34567/5 text(no record) "},
      {"two digits kept", "000000001,+12345.67", "f=1 t=12345.67/2 text(no record) "},
      {"point last", "000000001,+1234567.", "f=1 t=1234567./0 text(no record) "},
      {"no point", "000000001,+12345678", "f=1 t=12345678./0cut text(no record) "},
      {"several stamps", "4294967295,+42949672,+12345.67,+1.123456",
       "f=4294967295 t=42949672./0cut text(not a record) +12345.67,+1.123456"},
      {"point first", "000000001,+.1234567", "f=1 text(not a record) +.1234567"},
      {"two points", "000000001,+1.2.3456", "f=1 text(not a record) +1.2.3456"},
  };
  CheckRows(rows, sizeof rows / sizeof rows[0]);
  LogTime time = {12, 34567, 5, false};
  EXPECT_EQ(MicrosOf(time), 345670u);
  time = {1, 0, 0, false};
  EXPECT_EQ(MicrosOf(time), 0u);
}

// The rules for CAN bodies after the length nibble, each ambiguous case.
TEST(LogReaderTest, CanSuffixRules) {
  const char* h = ",I,CAN     , 1,OK,";
  const char* ng = ",I,CAN     , 1,NG,";
  struct {
    const char* name;
    const char* header;
    const char* body;
    const char* reading;
  } rows[] = {
      {"remote", h, "0,3,21,4,RTR", "can remote std flags=0 id=321 dlc=4 "},
      {"remote without length", h, "0,3,21,0,RTR", "can remote std flags=0 id=321 dlc=0 "},
      {"remote after data", h, "0,3,21,1,AA,RTR", "text(data before RTR)"},
      {"fd", h, "1,12,34,56,78,9,11,22,33,44,55,66,77,88,99,AA,BB,CC,FD,1",
       "can fd ext flags=1 id=12345678 dlc=9 fd=1 112233445566778899AABBCC"},
      {"fd empty", h, "0,1,23,0,FD,0", "can fd std flags=0 id=123 dlc=0 fd=0 "},
      {"fd 64 bytes", h,
       "0,1,23,F,00,01,02,03,04,05,06,07,08,09,0A,0B,0C,0D,0E,0F,10,11,12,13,14,15,16,17,18,19,1A,1B,1C,1D,1E,1F,"
       "20,21,22,23,24,25,26,27,28,29,2A,2B,2C,2D,2E,2F,30,31,32,33,34,35,36,37,38,39,3A,3B,3C,3D,3E,3F,FD,3",
       "can fd std flags=0 id=123 dlc=F fd=3 "
       "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F"
       "202122232425262728292A2B2C2D2E2F303132333435363738393A3B3C3D3E3F"},
      // A data byte FD is data: the suffix's flags field has one digit.
      {"data byte FD", h, "0,1,E5,8,44,00,29,5F,FD,00,02,05", "can data std flags=0 id=1E5 dlc=8 4400295FFD000205"},
      {"data ending FD,05", h, "0,1,23,2,FD,05", "can data std flags=0 id=123 dlc=2 FD05"},
      // FD suffix whose count does not match the nibble: not CAN FD, and a
      // one-digit field is no data byte.
      {"fd count mismatch", h, "0,1,23,9,11,22,FD,1", "text(bad data byte)"},
      {"fd count 8 nibble 9", h, "0,1,23,9,11,22,33,44,55,66,77,88,FD,1", "text(bad data byte)"},
      // Length code 9..F with 8 data bytes: candump's _X.
      {"classic dlc C", h, "0,0,C8,C,11,22,33,44,55,66,77,88", "can data std flags=0 id=C8 dlc=C 1122334455667788"},
      {"fd dlc 8", h, "0,0,C8,8,11,22,33,44,55,66,77,88,FD,4",
       "can fd std flags=0 id=C8 dlc=8 fd=4 1122334455667788"},
      // Error frames: status NG and a trailing error field.
      {"error frame", ng, "1,00,00,00,04,8,00,00,08,00,00,00,00,00,(0:ERR=00000004)",
       "err=00000004 can error ext flags=1 id=4 dlc=8 class=4 0000080000000000"},
      {"error field, status OK", h, "0,1,23,2,AA,BB,(0:ERR=0000001F)",
       "err=0000001F can data std flags=0 id=123 dlc=2 AABB"},
      {"error field after remote, OK", h, "0,3,21,4,RTR,(0:ERR=00000002)",
       "err=00000002 can remote std flags=0 id=321 dlc=4 "},
      {"status NG without error field", ng, "0,1,23,1,AA", "can data std flags=0 id=123 dlc=1 AA"},
      {"error field not last", ng, "0,1,23,1,(0:ERR=00000004),AA", "text(bad data byte)"},
      {"single digit data", h, "0,1,23,1,A", "text(bad data byte)"},
      {"three digit data", h, "0,1,23,1,ABC", "text(bad data byte)"},
      {"trailing comma", h, "0,1,23,1,AA,", "text(bad data byte)"},
      {"standard id above 7FF", h, "0,8,00,0", "text(bad CAN identifier)"},
  };
  static LogLine line;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::string text = std::string(row.header) + row.body;
    ParseLogLine(text.data(), text.size(), &line);
    std::string reading = Describe(line);
    // Only the body's part of the reading is compared.
    size_t cut = reading.find("can ");
    if (line.form == LineForm::kText) cut = reading.find("text(");
    std::string errorPart = line.hasError && reading.compare(0, 4, "err=") == 0 ? reading.substr(0, 13) : "";
    if (line.form == LineForm::kText) {
      reading = reading.substr(cut, reading.find(')', cut) + 1 - cut);
    } else {
      reading = errorPart + reading.substr(cut);
    }
    EXPECT_EQ(reading, row.reading) << text;
  }
}

// Environment values and marker texts that hold commas and quote marks.
TEST(LogReaderTest, FreeTextRules) {
  const Row rows[] = {
      {"value with comma and quotes", ",E,Env     , 1,OK,V,\"a,\"b\"\"", "E Env ch=1# OK env [V]=[a,\"b\"]"},
      {"value holding ,\"", ",E,Env     , -,OK,N,\"x,\"y\"", "E Env ch=- OK env [N]=[x,\"y]"},
      {"name with comma", ",E,Env     , -,OK,a,b,\"v\"", "E Env ch=- OK env [a,b]=[v]"},
      {"error after value", ",E,Env     , -,OK,N,\"v\",(0:ERR=0000001F)", "err=0000001F E Env ch=- OK env [N]=[v]"},
      {"value that looks like an error field", ",E,Env     , -,OK,N,\"v\",(0:ERR=0000001F)\"",
       "E Env ch=- OK env [N]=[v\",(0:ERR=0000001F)]"},
      {"error field without quote before it", ",E,Env     , -,OK,N,\"v,(0:ERR=0000001F)",
       "text(environment value without its closing quote mark) E,Env     , -,OK,N,\"v,(0:ERR=0000001F)"},
      {"no closing quote", ",E,Env     , -,OK,N,\"abc", "text(environment value without its closing quote mark) E,Env     , -,OK,N,\"abc"},
      {"no value", ",E,Env     , -,OK,N", "text(environment record without a quoted value) E,Env     , -,OK,N"},
      {"text after value", ",E,Env     , -,OK,N,\"v\",note", "text(text after the environment value) E,Env     , -,OK,N,\"v\",note"},
      {"marker with commas", ",M,Marker  , 0,OK,ABCD,M,Marker  , -,NG,AB", "M Marker ch=0# OK marker [ABCD,M,Marker  , -,NG,AB]"},
      {"marker with error field", ",M,Marker  , -,OK,x,(0:ERR=00000001)", "M Marker ch=- OK marker [x,(0:ERR=00000001)]"},
      {"marker with quotes", ",M,Marker  , -,OK,say \"hi\", then", "M Marker ch=- OK marker [say \"hi\", then]"},
  };
  CheckRows(rows, sizeof rows / sizeof rows[0]);
}

TEST(LogReaderTest, NulBytesAndLongLines) {
  static LogLine line;
  const char withNul[] = ",M,Marker  , -,OK,a\0b";
  ParseLogLine(withNul, sizeof withNul - 1, &line);
  ASSERT_EQ(line.form, LineForm::kRecord);
  EXPECT_EQ(Str(line.record.text), std::string("a\0b", 3));

  std::string full = ",M,Marker  , -,OK," + std::string(kLogLineLimit - 18, 'x');
  ParseLogLine(full.data(), full.size(), &line);
  EXPECT_EQ(line.form, LineForm::kRecord);
  EXPECT_TRUE(line.full);
  full += "x";
  ParseLogLine(full.data(), full.size(), &line);
  EXPECT_EQ(line.form, LineForm::kText);
  EXPECT_FALSE(line.full);
}

// A file with CR LF and LF ends, a NUL, a line past the kept length and a
// last line without its end.
TEST(LogReaderTest, LineReaderOnRaggedFiles) {
  std::string contents = "000000001,+0.000000,I,CAN     , 1,OK,0,1,23,0\r\n";
  contents += std::string("a\0\0b\n", 5);
  contents += std::string(kMaxKeptLine + 10, 'y') + "\r\n";
  contents += "\r\n";
  contents += ",M,Marker  , -,OK,last";
  FILE* file = tmpfile();
  ASSERT_NE(file, nullptr);
  fwrite(contents.data(), 1, contents.size(), file);
  rewind(file);
  LogReader reader;
  ASSERT_TRUE(OpenLogReader(&reader, file));
  static LogLine line;
  ASSERT_TRUE(NextLogLine(&reader, &line));
  EXPECT_EQ(line.form, LineForm::kRecord);
  EXPECT_EQ(line.number, 1u);
  ASSERT_TRUE(NextLogLine(&reader, &line));
  ASSERT_EQ(line.length, 4u);
  EXPECT_EQ(std::string(line.text, line.length), std::string("a\0\0b", 4));
  EXPECT_EQ(line.form, LineForm::kText);
  ASSERT_TRUE(NextLogLine(&reader, &line));
  EXPECT_TRUE(line.cut);
  EXPECT_EQ(line.length, kMaxKeptLine);
  EXPECT_EQ(line.text[0], 'y');
  EXPECT_EQ(line.form, LineForm::kText);
  ASSERT_TRUE(NextLogLine(&reader, &line));
  EXPECT_EQ(line.form, LineForm::kEmpty);
  EXPECT_EQ(line.number, 4u);
  ASSERT_TRUE(NextLogLine(&reader, &line));
  EXPECT_EQ(Str(line.rest), "M,Marker  , -,OK,last");
  EXPECT_TRUE(line.unended);
  EXPECT_FALSE(line.cut);
  EXPECT_FALSE(NextLogLine(&reader, &line));
  EXPECT_FALSE(reader.readError);
  CloseLogReader(&reader);
  fclose(file);
}

// Rule 1: the last line of a file. One without its LF is cut whatever it
// holds; one with its LF (with or without CR) is whole.
TEST(LogReaderTest, CutLastLine) {
  struct Case {
    const char* name;
    std::string contents;
    const char* last;  // the last line's reading
  };
  const std::string frame = "000000001,+0.000001,I,CAN     , 1,OK,0,1,23,2,AA,BB\r\n";
  const Case cases[] = {
      {"a frame cut in its data", frame + "000000002,+0.000002,I,CAN     , 1,OK,0,1,23,8,11,22,33",
       "f=2 t=0.000002/6 text(last line cut (no line end)) I,CAN     , 1,OK,0,1,23,8,11,22,33 malformed unended"},
      {"a whole frame without its CR LF", frame + "000000002,+0.000002,I,CAN     , 1,OK,0,1,23,1,11",
       "f=2 t=0.000002/6 text(last line cut (no line end)) I,CAN     , 1,OK,0,1,23,1,11 malformed unended"},
      {"cut between CR and LF", frame + "000000002,+0.000002,I,CAN     , 1,OK,0,1,23,1,11\r",
       "f=2 t=0.000002/6 text(last line cut (no line end)) I,CAN     , 1,OK,0,1,23,1,11 malformed unended"},
      {"a CR alone", frame + "\r", "text(last line cut (no line end))  malformed unended"},
      {"text cut", frame + "operator no", "text(last line cut (no line end)) operator no malformed unended"},
      {"LF without CR: whole", frame + "000000002,+0.000002,I,CAN     , 1,OK,0,1,23,1,11\n",
       "f=2 t=0.000002/6 I CAN ch=1# OK can data std flags=0 id=123 dlc=1 11"},
      {"CR LF: whole", frame + "000000002,+0.000002,I,CAN     , 1,OK,0,1,23,1,11\r\n",
       "f=2 t=0.000002/6 I CAN ch=1# OK can data std flags=0 id=123 dlc=1 11"},
  };
  static LogLine line;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FILE* file = tmpfile();
    ASSERT_NE(file, nullptr);
    fwrite(c.contents.data(), 1, c.contents.size(), file);
    rewind(file);
    LogReader reader;
    ASSERT_TRUE(OpenLogReader(&reader, file));
    std::string last;
    while (NextLogLine(&reader, &line)) {
      last = Describe(line) + (line.malformed ? " malformed" : "") + (line.unended ? " unended" : "");
    }
    EXPECT_EQ(last, c.last);
    EXPECT_EQ(reader.context.malformedLines, line.unended ? 1u : 0u);
    CloseLogReader(&reader);
    fclose(file);
  }
}

// Lines of many lengths across several read blocks come back exactly; lines
// longer than the kept length come back as their start.
TEST(LogReaderTest, LineReaderAcrossBlocks) {
  std::string contents;
  std::vector<std::string> lines;
  uint32_t state = 7;
  while (contents.size() < 3 * 1024 * 1024) {
    state = state * 1103515245u + 12345u;
    size_t length = (state >> 8) % 6000;
    if (lines.size() % 97 == 5) length = kMaxKeptLine + (state >> 4) % 3000;
    std::string line(length, static_cast<char>('a' + lines.size() % 26));
    if (length > 0) line[0] = '#';
    lines.push_back(line);
    contents += line;
    contents += lines.size() % 2 ? "\r\n" : "\n";
  }
  FILE* file = tmpfile();
  ASSERT_NE(file, nullptr);
  fwrite(contents.data(), 1, contents.size(), file);
  rewind(file);
  LogReader reader;
  ASSERT_TRUE(OpenLogReader(&reader, file));
  const char* text;
  size_t length;
  bool cut;
  size_t count = 0;
  while (NextRawLine(&reader, &text, &length, &cut)) {
    ASSERT_LT(count, lines.size());
    const std::string& expected = lines[count++];
    SCOPED_TRACE(count);
    ASSERT_EQ(cut, expected.size() > kMaxKeptLine);
    ASSERT_EQ(length, cut ? kMaxKeptLine : expected.size());
    ASSERT_EQ(std::string(text, length), expected.substr(0, length));
  }
  EXPECT_EQ(count, lines.size());
  EXPECT_EQ(reader.lineNumber, lines.size());
  CloseLogReader(&reader);
  fclose(file);
}


// Rule 12: which text lines count as malformed, and rule 13: which lines
// are log lines.
TEST(LogReaderTest, MalformedAndLogLines) {
  struct Case {
    const char* name;
    std::string line;
    const char* why;  // null: not text
    bool malformed;
    bool logLine;
  };
  const Case cases[] = {
      {"a record", "000000001,+0.000001,I,CAN     , 1,OK,0,1,23,0", nullptr, false, true},
      {"an error field alone", "000000001,+0.000001,(0:ERR=0000001F)", nullptr, false, true},
      {"free text after frame and time", "000000043,+0.000043,operator note", "not a record", false, true},
      {"frame and time only", "000000044,+12.34567", "no record", false, true},
      {"a record without frame or time", ",M,Marker  , -,OK,x", nullptr, false, true},
      {"a broken CAN body", "000000003,+0.000003,I,CAN     , 1,OK,0,3,21,1,AA,RTR", "data before RTR", true, true},
      {"CAN flags above 7", "000000001,+0.000001,I,CAN     , 1,OK,8,1,23,0", "bad CAN flags", true, true},
      {"a broken environment record", "000000029,+0.000029,E,Env     , -,OK,N",
       "environment record without a quoted value", true, true},
      {"a time in exponent form", "000000001,+1e3,I,CAN     , 1,OK,0,1,23,0", "not a record", true, false},
      {"not a number as time", "000000001,+nan,I,CAN     , 1,OK,0,1,23,0", "not a record", true, false},
      {"a time with its point first", "000000048,+.1234567", "not a record", true, false},
      {"an unpadded bus name", "000000001,+0.000001,I,CAN, 1,OK,0,1,23,0", "not a record", false, true},
      {"a record behind NUL bytes", std::string(413, '\0') + "000000011,+0.000011,I,CAN     , 1,OK,0,1,23,0",
       "log line behind leading bytes", true, false},
      {"an error field behind junk", "xx000000011,+0.000011,(0:ERR=00000001)", "log line behind leading bytes",
       true, false},
      {"text behind NUL bytes", std::string(3, '\0') + "000000011,+0.000011,note", "not a log line", false, false},
      {"a candump line", "(1436509052.249713) can0 123#DEADBEEF", "not a log line", false, false},
      {"plain text", "hello, world", "not a log line", false, false},
      {"longer than a log line", std::string(kLogLineLimit + 1, 'x'), "longer than a log line", true, false},
      {"empty", "", nullptr, false, false},
  };
  static LogLine line;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ParseLogLine(c.line.data(), c.line.size(), &line);
    if (c.why != nullptr) {
      ASSERT_EQ(line.form, LineForm::kText);
      EXPECT_STREQ(line.why, c.why);
    } else {
      EXPECT_NE(line.form, LineForm::kText);
    }
    EXPECT_EQ(line.malformed, c.malformed);
    EXPECT_EQ(line.logLine, c.logLine);
  }
}

// Rule 14: what each buslog marker says.
TEST(LogReaderTest, BuslogMarkers) {
  struct Case {
    const char* name;
    const char* line;
    const char* reading;  // "none", "start S.U", "start?", "writer [W]", "channel N [NAME]", "other"
  };
  const Case cases[] = {
      {"start", "000000000,+0.000000,M,Marker  , -,OK,buslog start 2023-11-14T22:13:20.001000Z",
       "start 1700000000.001000"},
      {"start at the epoch", "000000000,+0.000000,M,Marker  , -,OK,buslog start 1970-01-01T00:00:00.000000Z",
       "start 0.000000"},
      {"start on a leap day", "000000000,+0.000000,M,Marker  , -,OK,buslog start 2024-02-29T23:59:59.999999Z",
       "start 1709251199.999999"},
      {"start past 32-bit seconds", "000000000,+0.000000,M,Marker  , -,OK,buslog start 2106-02-07T06:28:16.500000Z",
       "start 4294967296.500000"},
      {"start in the last year", "000000000,+0.000000,M,Marker  , -,OK,buslog start 9999-12-31T23:59:59.000000Z",
       "start 253402300799.000000"},
      {"start on 29 February of no leap year",
       "000000000,+0.000000,M,Marker  , -,OK,buslog start 2023-02-29T00:00:00.000000Z", "start?"},
      {"start before 1970", "000000000,+0.000000,M,Marker  , -,OK,buslog start 1969-12-31T23:59:59.000000Z",
       "start?"},
      {"start without its Z", "000000000,+0.000000,M,Marker  , -,OK,buslog start 2023-11-14T22:13:20.001000",
       "start?"},
      {"start with 3 fractional digits", "000000000,+0.000000,M,Marker  , -,OK,buslog start 2023-11-14T22:13:20.001Z",
       "start?"},
      {"start with a leap second", "000000000,+0.000000,M,Marker  , -,OK,buslog start 2016-12-31T23:59:60.000000Z",
       "start?"},
      {"start with text after it", "000000000,+0.000000,M,Marker  , -,OK,buslog start 2023-11-14T22:13:20.001000Z x",
       "start?"},
      {"start alone", "000000000,+0.000000,M,Marker  , -,OK,buslog start", "start?"},
      {"writer", "000000000,+0.000000,M,Marker  , -,OK,buslog writer buslog-host 0.2.0", "writer [buslog-host 0.2.0]"},
      {"writer without a name", "000000000,+0.000000,M,Marker  , -,OK,buslog writer ", "other"},
      {"channel", "000000000,+0.004000,M,Marker  , -,OK,buslog channel 1 can0", "channel 1 [can0]"},
      {"channel with a name of blanks and commas",
       "000000000,+0.004000,M,Marker  , -,OK,buslog channel 12 PCAN_USBBUS1, bus 2", "channel 12 [PCAN_USBBUS1, bus 2]"},
      {"channel 0", "000000000,+0.004000,M,Marker  , -,OK,buslog channel 0 can0", "other"},
      {"channel with a leading zero", "000000000,+0.004000,M,Marker  , -,OK,buslog channel 01 can0", "other"},
      {"channel past 32 bits", "000000000,+0.004000,M,Marker  , -,OK,buslog channel 2147483648 can0", "other"},
      {"channel without a name", "000000000,+0.004000,M,Marker  , -,OK,buslog channel 1 ", "other"},
      {"channel with two blanks", "000000000,+0.004000,M,Marker  , -,OK,buslog channel 1  can0", "channel 1 [ can0]"},
      {"start relative", "000000000,+0.000000,M,Marker  , -,OK,buslog start relative 0.019968", "relative 0.019968"},
      {"start relative, late", "000000000,+0.000000,M,Marker  , -,OK,buslog start relative 946684799.999999",
       "relative 946684799.999999"},
      {"start relative without its fraction", "000000000,+0.000000,M,Marker  , -,OK,buslog start relative 12",
       "start?"},
      {"start relative with a leading zero", "000000000,+0.000000,M,Marker  , -,OK,buslog start relative 01.000000",
       "start?"},
      {"lost", "000000000,+1.000000,M,Marker  , -,OK,buslog lost 312-548 No space left on device",
       "lost 312-548 [No space left on device]"},
      {"lost, one frame", "000000000,+1.000000,M,Marker  , -,OK,buslog lost 7 left at a second stop",
       "lost 7-7 [left at a second stop]"},
      {"lost without a reason", "000000000,+1.000000,M,Marker  , -,OK,buslog lost 7", "other"},
      {"lost backwards", "000000000,+1.000000,M,Marker  , -,OK,buslog lost 9-7 x", "other"},
      {"lost frame 0", "000000000,+1.000000,M,Marker  , -,OK,buslog lost 0-7 x", "other"},
      {"gone", "000000000,+0.000000,M,Marker  , -,OK,buslog gone 1-501 deleted run.buslog",
       "gone 1-501 [deleted run.buslog]"},
      {"removed", "000000000,+0.000000,M,Marker  , -,OK,buslog removed 1-4120", "removed 1-4120"},
      {"removed with more after it", "000000000,+0.000000,M,Marker  , -,OK,buslog removed 1-4120 x", "other"},
      {"dropped", "000000000,+2.500000,M,Marker  , -,OK,buslog dropped 3 17 can0", "dropped 3 17 [can0]"},
      {"dropped without a name", "000000000,+2.500000,M,Marker  , -,OK,buslog dropped 3 17", "other"},
      {"clamped", "000000000,+0.000000,M,Marker  , -,OK,buslog clamped 0.300000", "clamped 0.300000"},
      {"clamped more than a day", "000000000,+0.000000,M,Marker  , -,OK,buslog clamped 86401.000000", "other"},
      {"clamped without its fraction", "000000000,+0.000000,M,Marker  , -,OK,buslog clamped 1", "other"},
      {"an unknown buslog word", "000000000,+0.000000,M,Marker  , -,OK,buslog stop", "other"},
      {"buslog without a word", "000000000,+0.000000,M,Marker  , -,OK,buslog", "none"},
      {"an ordinary marker with frame number 0", "000000000,+0.000000,M,Marker  , -,OK,Start of test", "none"},
      {"a buslog text with frame number 1", "000000001,+0.000000,M,Marker  , -,OK,buslog start 2023-11-14T22:13:20.001000Z",
       "none"},
      {"a buslog text without frame number", ",M,Marker  , -,OK,buslog channel 1 can0", "none"},
      {"free text, not a marker record", "000000000,+0.000000,buslog channel 1 can0", "none"},
  };
  static LogLine line;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ParseLogLine(c.line, strlen(c.line), &line);
    char reading[128];
    switch (line.marker) {
      case BuslogMarker::kNone: snprintf(reading, sizeof reading, "none"); break;
      case BuslogMarker::kStart:
        snprintf(reading, sizeof reading, "start %llu.%06u", static_cast<unsigned long long>(line.startSeconds),
                 line.startMicros);
        break;
      case BuslogMarker::kStartUnread: snprintf(reading, sizeof reading, "start?"); break;
      case BuslogMarker::kWriter: snprintf(reading, sizeof reading, "writer [%s]", Str(line.markerValue).c_str()); break;
      case BuslogMarker::kChannel:
        snprintf(reading, sizeof reading, "channel %d [%s]", line.markerChannel, Str(line.markerValue).c_str());
        break;
      case BuslogMarker::kOther: snprintf(reading, sizeof reading, "other"); break;
      case BuslogMarker::kStartRelative:
        snprintf(reading, sizeof reading, "relative %llu.%06u", static_cast<unsigned long long>(line.startSeconds),
                 line.startMicros);
        break;
      case BuslogMarker::kLost:
      case BuslogMarker::kGone:
        snprintf(reading, sizeof reading, "%s %u-%u [%s]", line.marker == BuslogMarker::kLost ? "lost" : "gone",
                 line.markerFirst, line.markerLast, Str(line.markerValue).c_str());
        break;
      case BuslogMarker::kRemoved: snprintf(reading, sizeof reading, "removed %u-%u", line.markerFirst, line.markerLast); break;
      case BuslogMarker::kDropped:
        snprintf(reading, sizeof reading, "dropped %llu %llu [%s]", static_cast<unsigned long long>(line.markerCount),
                 static_cast<unsigned long long>(line.markerTotal), Str(line.markerValue).c_str());
        break;
      case BuslogMarker::kClamped:
        snprintf(reading, sizeof reading, "clamped %llu.%06u", static_cast<unsigned long long>(line.startSeconds),
                 line.startMicros);
        break;
    }
    EXPECT_STREQ(reading, c.reading);
    EXPECT_FALSE(line.malformed);
  }
  const char withNul[] = "000000000,+0.000000,M,Marker  , -,OK,buslog channel 1 ca\0n0";
  ParseLogLine(withNul, sizeof withNul - 1, &line);
  EXPECT_EQ(line.marker, BuslogMarker::kOther);
}

TEST(LogReaderTest, UtcTexts) {
  struct Case {
    uint64_t seconds;
    uint32_t micros;
    const char* text;
  };
  const Case cases[] = {
      {0, 0, "1970-01-01T00:00:00.000000Z"},
      {1700000000, 1000, "2023-11-14T22:13:20.001000Z"},
      {951782400, 5, "2000-02-29T00:00:00.000005Z"},
      {4294967295, 999999, "2106-02-07T06:28:15.999999Z"},
      {253402300799, 0, "9999-12-31T23:59:59.000000Z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    char text[kUtcTextLength + 1];
    ASSERT_TRUE(FormatUtc(c.seconds, c.micros, text));
    EXPECT_STREQ(text, c.text);
    uint64_t seconds = 1;
    uint32_t micros = 1;
    ASSERT_TRUE(ParseUtc(text, strlen(text), &seconds, &micros));
    EXPECT_EQ(seconds, c.seconds);
    EXPECT_EQ(micros, c.micros);
  }
  char text[kUtcTextLength + 1];
  EXPECT_FALSE(FormatUtc(253402300800, 0, text));
  EXPECT_FALSE(FormatUtc(0, 1000000, text));
}

void ReadContext(const std::string& contents, LogContext* context, std::vector<std::string>* times) {
  FILE* file = tmpfile();
  EXPECT_NE(file, nullptr);
  fwrite(contents.data(), 1, contents.size(), file);
  rewind(file);
  LogReader reader;
  EXPECT_TRUE(OpenLogReader(&reader, file));
  static LogLine line;
  while (NextLogLine(&reader, &line)) {
    if (line.marker != BuslogMarker::kNone || line.form != LineForm::kRecord) continue;
    uint64_t seconds;
    uint32_t micros;
    char text[64];
    const std::string* name = reader.context.InterfaceName(line.record.channel);
    if (reader.context.AbsoluteTime(line.time, &seconds, &micros)) {
      snprintf(text, sizeof text, "%llu.%06u %s", static_cast<unsigned long long>(seconds), micros,
               name != nullptr ? name->c_str() : "-");
    } else {
      snprintf(text, sizeof text, "? %s", name != nullptr ? name->c_str() : "-");
    }
    times->push_back(text);
  }
  *context = reader.context;
  CloseLogReader(&reader);
  fclose(file);
}

// The context a reader keeps: time bases (also a start marker later in the
// file), interface names, the writer, and the counts behind "no log".
TEST(LogReaderTest, ContextFromMarkers) {
  std::string log =
      "000000000,+0.000000,M,Marker  , -,OK,buslog start 2023-11-14T22:13:20.001000Z\r\n"
      "000000000,+0.000000,M,Marker  , -,OK,buslog writer buslog-python 0.2.0\r\n"
      "000000000,+0.000000,M,Marker  , -,OK,buslog channel 1 can0\r\n"
      "000000001,+0.000000,I,CAN     , 1,OK,0,1,23,0\r\n"
      "000000000,+0.000000,M,Marker  , -,OK,buslog clamped 0.300000\r\n"
      "000000007,+0.000000,I,CAN     , 1,OK,0,1,23,0\r\n"
      "000000008,+0.000000,I,CAN     , 1,OK,0,1,23,0\r\n"
      "000000002,+1.999999,I,CAN     , 2,OK,0,1,23,0\r\n"
      "000000000,+1.999999,M,Marker  , -,OK,buslog channel 2 vcan 7\r\n"
      "000000003,+1.999999,I,CAN     , 2,OK,0,1,23,0\r\n"
      "000000000,+0.000000,M,Marker  , -,OK,buslog start 2023-11-14T23:13:20.500000Z\r\n"
      "000000004,+0.600000,I,CAN     , 1,OK,0,1,23,0\r\n"
      "000000000,+0.000000,M,Marker  , -,OK,buslog start yesterday\r\n"
      "000000005,+0.700000,I,CAN     , 1,OK,0,1,23,0\r\n"
      "000000000,+0.000000,M,Marker  , -,OK,buslog pause\r\n";
  log += std::string("\0\0", 2) + "000000006,+0.800000,I,CAN     , 1,OK,0,1,23,0\r\n";
  LogContext context;
  std::vector<std::string> times;
  ReadContext(log, &context, &times);
  const std::vector<std::string> expected = {
      "1700000000.001000 can0", "1699999999.701000 can0", "1700000000.001000 can0", "1700000002.000999 -",
      "1700000002.000999 vcan 7",
      "1700003601.100000 can0", "? can0",
  };
  EXPECT_EQ(times, expected);
  EXPECT_EQ(context.writer, "buslog-python 0.2.0");
  EXPECT_EQ(context.timeBases, 3u);
  EXPECT_EQ(context.markerLines, 8u);
  EXPECT_EQ(context.ignoredMarkers, 2u);
  EXPECT_EQ(context.malformedLines, 1u);
  EXPECT_EQ(context.lines, 16u);
  EXPECT_EQ(context.logLines, 15u);
  EXPECT_EQ(context.clampedLines, 1u);
  EXPECT_FALSE(context.NoLog());
}

TEST(LogReaderTest, NoLogDetection) {
  struct Case {
    const char* name;
    std::string contents;
    bool noLog;
  };
  const Case cases[] = {
      {"an empty file", "", false},
      {"a candump trace", "(1436509052.249713) can0 123#DEADBEEF\n(1436509052.249800) can0 124#\n", true},
      {"blank lines only", "\r\n\r\n", true},
      {"text and one log line", "hello\n000000001,+0.000000,I,CAN     , 1,OK,0,1,23,0\n", false},
      {"a record behind NUL bytes only", std::string("\0\0", 2) + "000000001,+0.000000,I,CAN     , 1,OK,0,1,23,0\n",
       true},
      {"markers only", "000000000,+0.000000,M,Marker  , -,OK,buslog start 2023-11-14T22:13:20.001000Z\r\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogContext context;
    std::vector<std::string> times;
    ReadContext(c.contents, &context, &times);
    EXPECT_EQ(context.NoLog(), c.noLog);
  }
}

}  // namespace
}  // namespace buslog_reader
