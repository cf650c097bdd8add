// A fixture that loads a fresh copy of the built module for every test, the
// way a host loads it, from a directory of the test program's own, and
// calls its exports by the host's convention. Every helper checks what the
// host sees on every call: the result count, and for Open, ShareMode and
// Write the same result cell address on every call.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/module_loader.h"

namespace buslog_test {

using Bytes = std::vector<uint8_t>;

// Bytes from hexadecimal text: "01 23 AA" gives {0x01, 0x23, 0xAA}.
Bytes Hex(const char* text);

// The directory the module is loaded from, with its separator.
const std::string& ModuleDirectory();

// The whole content of a file, or "<missing>" if it cannot be read.
std::string ReadFile(const std::string& path);

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Unloads the module and loads it again: a fresh module state.
  void Reload();

  uint8_t Open(const std::string& name);
  uint8_t OpenBytes(uint32_t count, const void* data);
  uint32_t ShareMode(const std::vector<uint32_t>& values);
  uint8_t Write();
  void Close();
  void PutFrameId(const std::vector<uint32_t>& values);
  void PutTimeStamp(const std::vector<uint32_t>& values);
  void PutError(const std::vector<uint32_t>& values);
  void PutString(const std::string& text);
  void PutFrame(uint32_t kindCode, uint32_t busCode, int32_t channel, int32_t statusFlag,
                const Bytes& data);
  void PutFrameRaw(uint32_t kindCode, uint32_t busCode, int32_t channel, int32_t statusFlag,
                   uint32_t dataLength, const uint8_t* data);

  // Opens a log file, lets `fill` add fields, writes the line, closes the
  // file and returns what it holds without the final CR LF (which must be
  // there, and the Write result 0).
  std::string WriteOneLine(const std::function<void()>& fill);

  // The line of one frame record alone: WriteOneLine of one PutFrame.
  std::string FrameLine(uint32_t kindCode, uint32_t busCode, int32_t channel, int32_t statusFlag,
                        const Bytes& data);

  // Path and content of a log file in the module's directory.
  std::string LogPath(const std::string& name) const;
  std::string ReadLog(const std::string& name) const;

  buslog_host::LoadedModule module_ = {};

 private:
  void* openCell_ = nullptr;
  void* shareModeCell_ = nullptr;
  void* writeCell_ = nullptr;
};

}  // namespace buslog_test
