// The reader library's C interface (buslog_reader.h), through its exports:
// the columns of each row kind, marker kinds and values, interface names,
// times, batches cut by capacity and by a full text buffer, the kinds a
// caller asks for, memory and caller sources, and failures.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "buslog_reader.h"

namespace {

constexpr uint32_t kRows = 64;

// Caller-owned columns of kRows rows, every column wanted.
struct Table {
  uint8_t rowKind[kRows], lineFlags[kRows], kind[kRows], recordType[kRows], frameFlags[kRows], dlc[kRows],
      marker[kRows];
  uint64_t lineNumber[kRows];
  int64_t frameNumber[kRows], time[kRows], absoluteTime[kRows], error[kRows];
  int32_t channel[kRows], interfaceIndex[kRows];
  uint32_t identifier[kRows], textStart[kRows], textLength[kRows], valueStart[kRows], valueLength[kRows];
  uint16_t length[kRows];
  uint8_t data[kRows * BUSLOG_ROW_DATA];
  char text[BUSLOG_MIN_TEXT];
  BuslogColumns columns;

  explicit Table(uint32_t capacity = kRows) {
    memset(&columns, 0, sizeof columns);
    columns.size = sizeof columns;
    columns.capacity = capacity;
    columns.textCapacity = sizeof text;
    columns.rowKind = rowKind;
    columns.lineFlags = lineFlags;
    columns.lineNumber = lineNumber;
    columns.frameNumber = frameNumber;
    columns.time = time;
    columns.absoluteTime = absoluteTime;
    columns.channel = channel;
    columns.interfaceIndex = interfaceIndex;
    columns.kind = kind;
    columns.recordType = recordType;
    columns.identifier = identifier;
    columns.frameFlags = frameFlags;
    columns.dlc = dlc;
    columns.length = length;
    columns.data = data;
    columns.error = error;
    columns.marker = marker;
    columns.textStart = textStart;
    columns.textLength = textLength;
    columns.valueStart = valueStart;
    columns.valueLength = valueLength;
    columns.text = text;
  }

  std::string Text(uint32_t row) const { return std::string(text + textStart[row], textLength[row]); }
  std::string Value(uint32_t row) const { return std::string(text + valueStart[row], valueLength[row]); }

  // A row as one short text, e.g.
  // "frame L1 F1 t=4000 abs=1700000000005000 ch=1 if=0 I CAN id=123 flags=0 dlc=2 AABB log".
  std::string Describe(const BuslogReader* reader, uint32_t row) const {
    static const char* const kKinds[] = {"?", "frame", "record", "marker", "error", "empty", "text", "malformed"};
    char buffer[256];
    std::string out = kKinds[rowKind[row] < 8 ? rowKind[row] : 0];
    snprintf(buffer, sizeof buffer, " L%llu", static_cast<unsigned long long>(lineNumber[row]));
    out += buffer;
    if (frameNumber[row] != BUSLOG_NO_NUMBER) out += " F" + std::to_string(frameNumber[row]);
    if (time[row] != BUSLOG_NO_TIME) out += " t=" + std::to_string(time[row]);
    if (absoluteTime[row] != BUSLOG_NO_TIME) out += " abs=" + std::to_string(absoluteTime[row]);
    if (channel[row] != BUSLOG_NO_CHANNEL) out += " ch=" + std::to_string(channel[row]);
    if (interfaceIndex[row] != BUSLOG_NO_NUMBER) {
      const char* name;
      size_t size;
      EXPECT_EQ(BuslogReaderInterface(reader, interfaceIndex[row], &name, &size), BUSLOG_READER_OK);
      out += " if=" + std::string(name, size);
    }
    if (kind[row] != 0) out += std::string(" ") + static_cast<char>(kind[row]);
    static const char* const kRecords[] = {"", " CAN", " LIN", " CXPI", " port", " env", " marker", " generic"};
    out += kRecords[recordType[row] < 8 ? recordType[row] : 0];
    if (rowKind[row] == BUSLOG_ROW_FRAME) {
      snprintf(buffer, sizeof buffer, " id=%X flags=%X dlc=%u ", identifier[row], frameFlags[row], dlc[row]);
      out += buffer;
      const uint8_t* bytes = length[row] > BUSLOG_ROW_DATA ? reinterpret_cast<const uint8_t*>(text + textStart[row])
                                                           : data + row * BUSLOG_ROW_DATA;
      for (uint32_t i = 0; i < length[row]; ++i) {
        snprintf(buffer, sizeof buffer, "%02X", bytes[i]);
        out += buffer;
      }
    } else if (textLength[row] > 0) {
      out += " [" + Text(row) + "]";
    }
    if (error[row] != BUSLOG_NO_NUMBER) out += " err=" + std::to_string(error[row]);
    if (marker[row] != BUSLOG_MARKER_NONE) out += " marker=" + std::to_string(marker[row]) + " {" + Value(row) + "}";
    if (lineFlags[row] & BUSLOG_LINE_LOG) out += " log";
    if (lineFlags[row] & BUSLOG_LINE_UNENDED) out += " unended";
    if (lineFlags[row] & BUSLOG_LINE_TIME_CUT) out += " timecut";
    return out;
  }
};

std::vector<std::string> ReadAll(BuslogReader* reader, Table* table, uint32_t wanted = BUSLOG_ROWS_ALL,
                                 std::vector<uint32_t>* batches = nullptr) {
  std::vector<std::string> rows;
  int result;
  while ((result = BuslogReaderRead(reader, &table->columns, wanted)) == BUSLOG_READER_OK) {
    EXPECT_GT(table->columns.count, 0u);
    if (batches) batches->push_back(table->columns.count);
    for (uint32_t i = 0; i < table->columns.count; ++i) rows.push_back(table->Describe(reader, i));
  }
  EXPECT_EQ(result, BUSLOG_READER_END);
  EXPECT_EQ(table->columns.count, 0u);
  return rows;
}

std::vector<std::string> ReadText(const std::string& log, uint32_t wanted = BUSLOG_ROWS_ALL) {
  BuslogReader* reader = nullptr;
  EXPECT_EQ(BuslogReaderOpenMemory(log.data(), log.size(), &reader), BUSLOG_READER_OK);
  static Table table;
  std::vector<std::string> rows = ReadAll(reader, &table, wanted);
  BuslogReaderClose(reader);
  return rows;
}

const char kLog[] =
    "000000000,+0.000000,M,Marker  , -,OK,buslog start 2023-11-14T22:13:20.001000Z\r\n"
    "000000000,+0.000000,M,Marker  , -,OK,buslog writer buslog-host 0.2.0\r\n"
    "000000000,+0.004000,M,Marker  , -,OK,buslog channel 1 can0\r\n"
    "000000001,+0.004000,I,CAN     , 1,OK,0,1,23,2,AA,BB\r\n"
    "000000002,+0.005000,O,CAN     , 2,OK,1,12,34,56,78,9,11,22,33,44,55,66,77,88,99,AA,BB,CC,FD,3\r\n"
    "000000003,+0.006000,I,CAN     , 1,OK,0,3,21,4,RTR\r\n"
    "000000004,+0.007000,I,CAN     , 1,NG,1,00,00,00,04,8,00,00,08,00,00,00,00,00,(0:ERR=00000004)\r\n"
    "000000005,+0.008000,I,CAN     , 1,OK,0,0,C8,C,11,22,33,44,55,66,77,88\r\n"
    "000000006,+0.009000,I,LIN     , 1,OK,A,3C,8,01\r\n"
    "000000007,+0.010000,I,CAN     , 1,OK,0,1\r\n"
    "000000008,+0.011000,(0:ERR=0000001F)\r\n"
    "\r\n"
    "operator note\r\n"
    "000000009,+0.012000,I,CAN     , 1,OK,8,1,23,0\r\n"
    "000000000,+0.013000,M,Marker  , -,OK,Start of test\r\n"
    "000000000,+0.000000,M,Marker  , -,OK,buslog paused 3 frames\r\n"
    "000000000,+0.000000,M,Marker  , -,OK,buslog channel 1 vcan0\r\n"
    "000000000,+0.000000,M,Marker  , -,OK,buslog start soon\r\n"
    "000000010,+12345678,I,CAN     , 1,OK,0,1,23,0\r\n"
    "000000011,+0.900000,I,CAN     , 1,OK,0,1,23,8,11,22";

TEST(ReaderApiTest, EveryRowKind) {
  const std::vector<std::string> expected = {
      "marker L1 F0 t=0 abs=1700000000001000 M marker [buslog start 2023-11-14T22:13:20.001000Z] marker=1 {} log",
      "marker L2 F0 t=0 abs=1700000000001000 M marker [buslog writer buslog-host 0.2.0] marker=3 "
      "{buslog-host 0.2.0} log",
      "marker L3 F0 t=4000 abs=1700000000005000 ch=1 if=can0 M marker [buslog channel 1 can0] marker=4 {can0} log",
      "frame L4 F1 t=4000 abs=1700000000005000 ch=1 if=can0 I CAN id=123 flags=0 dlc=2 AABB log",
      "frame L5 F2 t=5000 abs=1700000000006000 ch=2 O CAN id=12345678 flags=5D dlc=9 112233445566778899AABBCC log",
      "frame L6 F3 t=6000 abs=1700000000007000 ch=1 if=can0 I CAN id=321 flags=2 dlc=4  log",
      "frame L7 F4 t=7000 abs=1700000000008000 ch=1 if=can0 I CAN id=4 flags=21 dlc=8 0000080000000000 err=4 log",
      "frame L8 F5 t=8000 abs=1700000000009000 ch=1 if=can0 I CAN id=C8 flags=0 dlc=12 1122334455667788 log",
      "record L9 F6 t=9000 abs=1700000000010000 ch=1 if=can0 I LIN log",
      "record L10 F7 t=10000 abs=1700000000011000 ch=1 if=can0 I CAN log",
      "error L11 F8 t=11000 abs=1700000000012000 err=31 log",
      "empty L12",
      "text L13 [not a log line]",
      "malformed L14 F9 t=12000 abs=1700000000013000 CAN [bad CAN flags] log",
      "marker L15 F0 t=13000 abs=1700000000014000 M marker [Start of test] log",
      "marker L16 F0 t=0 abs=1700000000001000 M marker [buslog paused 3 frames] marker=5 {} log",
      "marker L17 F0 t=0 abs=1700000000001000 ch=1 if=vcan0 M marker [buslog channel 1 vcan0] marker=4 {vcan0} log",
      "marker L18 F0 t=0 M marker [buslog start soon] marker=2 {} log",
      "frame L19 F10 t=12345678000000 ch=1 if=vcan0 I CAN id=123 flags=0 dlc=0  log timecut",
      "malformed L20 F11 t=900000 CAN [last line cut (no line end)] log unended",
  };
  std::vector<std::string> rows = ReadText(kLog);
  ASSERT_EQ(rows.size(), expected.size());
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i], expected[i]) << "row " << i;

  // Only frames, and only text lines: the markers still set time and names.
  std::vector<std::string> frames = ReadText(kLog, BUSLOG_ROWS_FRAMES);
  ASSERT_EQ(frames.size(), 6u);
  EXPECT_EQ(frames[0], expected[3]);
  EXPECT_EQ(frames[5], expected[18]);
  std::vector<std::string> bad = ReadText(kLog, BUSLOG_ROWS(BUSLOG_ROW_TEXT) | BUSLOG_ROWS(BUSLOG_ROW_MALFORMED));
  EXPECT_EQ(bad, (std::vector<std::string>{expected[12], expected[13], expected[19]}));
}

TEST(ReaderApiTest, CountsAndInterfaces) {
  BuslogReader* reader = nullptr;
  ASSERT_EQ(BuslogReaderOpenMemory(kLog, sizeof kLog - 1, &reader), BUSLOG_READER_OK);
  Table table;
  ReadAll(reader, &table, BUSLOG_ROWS_FRAMES);
  BuslogCounts counts;
  memset(&counts, 0, sizeof counts);
  counts.size = sizeof counts;
  ASSERT_EQ(BuslogReaderCounts(reader, &counts), BUSLOG_READER_OK);
  EXPECT_EQ(counts.lines, 20u);
  EXPECT_EQ(counts.logLines, 18u);
  EXPECT_EQ(counts.malformedLines, 2u);
  EXPECT_EQ(counts.markerLines, 6u);
  EXPECT_EQ(counts.frames, 6u);
  EXPECT_EQ(counts.timeBases, 2u);
  EXPECT_EQ(counts.bytes, sizeof kLog - 1);
  const char* name;
  size_t length;
  EXPECT_EQ(BuslogReaderInterface(reader, 1, &name, &length), BUSLOG_READER_OK);
  EXPECT_EQ(std::string(name, length), "vcan0");
  EXPECT_EQ(BuslogReaderInterface(reader, 2, &name, &length), BUSLOG_READER_BAD_ARGUMENT);
  counts.size = 4;
  EXPECT_EQ(BuslogReaderCounts(reader, &counts), BUSLOG_READER_BAD_ARGUMENT);
  BuslogReaderClose(reader);
}

// Batches end at the capacity, and before a row whose text does not fit:
// that row comes first in the next batch. Nothing is lost or repeated.
TEST(ReaderApiTest, BatchesByCapacityAndText) {
  std::string log;
  std::string marker(4000, 'm');
  for (int i = 0; i < 10; ++i) {
    char line[128];
    snprintf(line, sizeof line, "%09d,+0.%06d,I,CAN     , 1,OK,0,1,23,1,%02X\r\n", i + 1, i, i);
    log += line;
    if (i % 3 == 0) log += "000000000,+0.000000,M,Marker  , -,OK," + marker + "\r\n";
  }
  struct Case {
    const char* name;
    uint32_t capacity;
    std::vector<uint32_t> batches;
  };
  const Case cases[] = {
      {"one row a batch", 1, std::vector<uint32_t>(14, 1)},
      {"four rows a batch", 4, {4, 4, 4, 2}},
      {"text full after two markers", 64, {9, 5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BuslogReader* reader = nullptr;
    ASSERT_EQ(BuslogReaderOpenMemory(log.data(), log.size(), &reader), BUSLOG_READER_OK);
    Table table(c.capacity);
    std::vector<uint32_t> batches;
    std::vector<std::string> rows = ReadAll(reader, &table, BUSLOG_ROWS_ALL, &batches);
    EXPECT_EQ(batches, c.batches);
    ASSERT_EQ(rows.size(), 14u);
    EXPECT_EQ(rows[1].substr(0, 10), "marker L2 ");
    EXPECT_EQ(rows[12], "frame L13 F10 t=9 ch=1 I CAN id=123 flags=0 dlc=1 09 log");
    EXPECT_EQ(rows[13], "marker L14 F0 t=0 M marker [" + marker + "] log");
    BuslogReaderClose(reader);
  }
}

// A classic record of more data bytes than the data column holds: its
// bytes are in the text.
TEST(ReaderApiTest, LongClassicRecord) {
  std::string line = "000000001,+0.000000,I,CAN     , 1,OK,0,1,23,8";
  std::string bytes;
  for (int i = 0; i < 70; ++i) {
    char field[4];
    snprintf(field, sizeof field, ",%02X", i);
    line += field;
    bytes += field + 1;
  }
  std::vector<std::string> rows = ReadText(line + "\r\n");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], "frame L1 F1 t=0 ch=1 I CAN id=123 flags=0 dlc=8 " + bytes + " log");
}

struct Chunks {
  std::string bytes;
  size_t at;
  size_t piece;
  bool fail;
};

int64_t ReadChunks(void* context, void* buffer, size_t size) {
  Chunks* chunks = static_cast<Chunks*>(context);
  if (chunks->at == chunks->bytes.size()) return chunks->fail ? -1 : 0;
  size_t part = std::min(std::min(size, chunks->piece), chunks->bytes.size() - chunks->at);
  memcpy(buffer, chunks->bytes.data() + chunks->at, part);
  chunks->at += part;
  return static_cast<int64_t>(part);
}

// A caller's source handing out a few bytes a call reads as the same log;
// one that fails ends with a read failure after the lines before it.
TEST(ReaderApiTest, CallerSource) {
  Chunks chunks = {kLog, 0, 7, false};
  BuslogReader* reader = nullptr;
  ASSERT_EQ(BuslogReaderOpenSource(ReadChunks, &chunks, &reader), BUSLOG_READER_OK);
  Table table;
  EXPECT_EQ(ReadAll(reader, &table), ReadText(kLog));
  BuslogReaderClose(reader);

  Chunks failing = {"000000001,+0.000000,I,CAN     , 1,OK,0,1,23,0\r\n", 0, 1000, true};
  ASSERT_EQ(BuslogReaderOpenSource(ReadChunks, &failing, &reader), BUSLOG_READER_OK);
  ASSERT_EQ(BuslogReaderRead(reader, &table.columns, BUSLOG_ROWS_ALL), BUSLOG_READER_OK);
  EXPECT_EQ(table.columns.count, 1u);
  EXPECT_EQ(BuslogReaderRead(reader, &table.columns, BUSLOG_ROWS_ALL), BUSLOG_READER_READ_FAILED);
  EXPECT_STREQ(BuslogReaderErrorText(reader), "read error");
  BuslogReaderClose(reader);
}

TEST(ReaderApiTest, FilesAndFailures) {
  char path[] = "reader_api_test.buslog";
  FILE* file = fopen(path, "wb");
  ASSERT_NE(file, nullptr);
  fputs(kLog, file);
  fclose(file);
  BuslogReader* reader = nullptr;
  ASSERT_EQ(BuslogReaderOpenFile(path, &reader), BUSLOG_READER_OK);
  Table table;
  EXPECT_EQ(ReadAll(reader, &table), ReadText(kLog));
  BuslogReaderClose(reader);
  remove(path);

  EXPECT_EQ(BuslogReaderOpenFile("no-such-folder/x.buslog", &reader), BUSLOG_READER_OPEN_FAILED);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(std::string(BuslogReaderErrorText(reader)), "no-such-folder/x.buslog: No such file or directory");
  EXPECT_EQ(BuslogReaderRead(reader, &table.columns, BUSLOG_ROWS_ALL), BUSLOG_READER_READ_FAILED);
  BuslogReaderClose(reader);

  EXPECT_EQ(BuslogReaderOpenFile(nullptr, &reader), BUSLOG_READER_BAD_ARGUMENT);
  EXPECT_EQ(reader, nullptr);
  EXPECT_EQ(BuslogReaderOpenMemory(nullptr, 5, &reader), BUSLOG_READER_BAD_ARGUMENT);
  EXPECT_EQ(BuslogReaderOpenSource(nullptr, nullptr, &reader), BUSLOG_READER_BAD_ARGUMENT);
  ASSERT_EQ(BuslogReaderOpenMemory("", 0, &reader), BUSLOG_READER_OK);
  EXPECT_EQ(BuslogReaderRead(reader, &table.columns, BUSLOG_ROWS_ALL), BUSLOG_READER_END);
  // Columns of an unknown size, no capacity, a text buffer too small.
  struct Bad {
    const char* name;
    uint32_t size, capacity, textCapacity;
  };
  const Bad bad[] = {{"size", 8, kRows, BUSLOG_MIN_TEXT},
                     {"capacity", sizeof(BuslogColumns), 0, BUSLOG_MIN_TEXT},
                     {"text", sizeof(BuslogColumns), kRows, 100}};
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.name);
    Table t;
    t.columns.size = b.size;
    t.columns.capacity = b.capacity;
    t.columns.textCapacity = b.textCapacity;
    EXPECT_EQ(BuslogReaderRead(reader, &t.columns, BUSLOG_ROWS_ALL), BUSLOG_READER_BAD_ARGUMENT);
  }
  EXPECT_EQ(BuslogReaderRead(nullptr, &table.columns, BUSLOG_ROWS_ALL), BUSLOG_READER_BAD_ARGUMENT);
  BuslogReaderClose(reader);
  BuslogReaderClose(nullptr);
  EXPECT_EQ(BuslogReaderVersion(), BUSLOG_READER_VERSION);
  EXPECT_STREQ(BuslogReaderResultText(BUSLOG_READER_END), "the end of the log");
}

}  // namespace
