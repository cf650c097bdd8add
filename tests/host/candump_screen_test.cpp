// Recognising candump's screen format (candump can0 without -l or -L), so
// that the host can say what to do instead of warning on every line.
#include <gtest/gtest.h>

#include <cstring>

#include "candump_screen.h"

namespace buslog_host {
namespace {

struct ScreenRow {
  const char* name;
  const char* line;
  bool screen;
};

TEST(CandumpScreenTest, LinesOfTheScreenFormatAndOthers) {
  const ScreenRow rows[] = {
      {"standard frame", "  can0  123   [4]  DE AD BE EF", true},
      {"extended frame", "  can0  12345678   [8]  11 22 33 44 55 66 77 88", true},
      {"remote frame", "  can0  123   [4]  remote request", true},
      {"no data", "  vcan0  7FF   [0] ", true},
      {"CAN FD length", "  can1  123  [64]  00 11", true},
      {"with -t a", " (1436509052.249713)  can0  123   [4]  DE AD BE EF", true},
      {"with -x flags", "  can0  TX B -  123  [12]  11 22", true},
      {"tabs", "\tcan0\t123\t[2]\t11 22", true},
      {"candump log line", "(1436509052.249713) can0 123#DEADBEEF", false},
      {"log line with mark", "(1436509052.249713) can0 123#DEADBEEF T", false},
      {"two-digit identifier", "  can0  12 [4] 11", false},
      {"length not in brackets", "  can0  123  4  11", false},
      {"letters in the length", "  can0  123  [4a]  11", false},
      {"words", "hello world", false},
      {"blank", "   ", false},
      {"empty", "", false},
  };
  for (const ScreenRow& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(IsCandumpScreenLine(row.line, strlen(row.line)), row.screen);
  }
}

}  // namespace
}  // namespace buslog_host
