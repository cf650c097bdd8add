// The exports called directly, for the test programs that link the module's
// own objects: each returns the result byte the export hands out and checks
// the result count and the address of the result cell.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "buslog.h"
#include "plugin/module_state.h"

namespace buslog_direct {

inline uint8_t OpenLog(const std::string& name) {
  int32_t resultCount = -1;
  void* cell = nullptr;
  Open(static_cast<uint32_t>(name.size()), name.data(), &resultCount, &cell);
  EXPECT_EQ(resultCount, 1);
  EXPECT_EQ(cell, &buslog::g_module.log.openResult);
  return *static_cast<uint8_t*>(cell);
}

inline uint8_t WriteLine() {
  int32_t resultCount = -1;
  void* cell = nullptr;
  Write(0, nullptr, &resultCount, &cell);
  EXPECT_EQ(resultCount, 1);
  EXPECT_EQ(cell, &buslog::g_module.line.writeResult);
  return *static_cast<uint8_t*>(cell);
}

inline void CloseLog() {
  int32_t resultCount = -1;
  Close(0, nullptr, &resultCount);
  EXPECT_EQ(resultCount, 0);
}

inline void AddText(const std::string& text) {
  int32_t resultCount = -1;
  PutString(static_cast<uint32_t>(text.size()), text.data(), &resultCount);
  EXPECT_EQ(resultCount, 0);
}

inline void AddFrameNumber(uint32_t number) {
  int32_t resultCount = -1;
  PutFrameId(1, &number, &resultCount);
  EXPECT_EQ(resultCount, 0);
}

}  // namespace buslog_direct
