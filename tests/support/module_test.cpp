// The module fixture.
#include "support/module_test.h"

#include "platform/system.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace buslog_test {
namespace fs = std::filesystem;
namespace {

// The first time a test needs it, copies the built module into a directory
// of this test program's own, so log files never collide with another
// program's and land beside that copy.
std::string PrepareModuleDirectory() {
  char exeDir[1024];
  if (!buslog_host::ExecutableDirectory(exeDir, sizeof exeDir)) {
    fprintf(stderr, "cannot find the test program's directory\n");
    abort();
  }
  fs::path source = fs::path(exeDir) / buslog_host::ModuleFileName();
  std::random_device random;
  fs::path dir = fs::temp_directory_path() / ("buslog-test-" + std::to_string(random()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy_file(source, dir / buslog_host::ModuleFileName(), fs::copy_options::overwrite_existing);
  std::string text = dir.string();
  if (text.back() != buslog_host::PathSeparator()) text += buslog_host::PathSeparator();
  return text;
}

class CleanUp : public ::testing::Environment {
 public:
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(ModuleDirectory(), ignored);
  }
};
const ::testing::Environment* const kCleanUp = ::testing::AddGlobalTestEnvironment(new CleanUp);

}  // namespace

Bytes Hex(const char* text) {
  Bytes bytes;
  std::istringstream in(text);
  unsigned value;
  while (in >> std::hex >> value) bytes.push_back(static_cast<uint8_t>(value));
  return bytes;
}

const std::string& ModuleDirectory() {
  static const std::string dir = PrepareModuleDirectory();
  return dir;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void ModuleTest::SetUp() {
  std::string path = ModuleDirectory() + buslog_host::ModuleFileName();
  char error[256] = "";
  ASSERT_TRUE(buslog_host::LoadModule(path.c_str(), &module_, error, sizeof error)) << error;
}

void ModuleTest::TearDown() { buslog_host::UnloadModule(&module_); }

void ModuleTest::Reload() {
  TearDown();
  openCell_ = shareModeCell_ = writeCell_ = nullptr;
  SetUp();
}

// Checks a result cell address against the one this export handed out
// before in this load of the module.
static void ExpectSameCell(void*& known, void* handed, const char* exportName) {
  ASSERT_NE(handed, nullptr) << exportName;
  if (known == nullptr) known = handed;
  EXPECT_EQ(known, handed) << exportName << " handed out another result cell";
}

uint8_t ModuleTest::OpenBytes(uint32_t count, const void* data) {
  int32_t resultCount = -1;
  void* cell = nullptr;
  module_.api.Open(count, data, &resultCount, &cell);
  EXPECT_EQ(resultCount, 1);
  ExpectSameCell(openCell_, cell, "Open");
  return cell ? *static_cast<uint8_t*>(cell) : 0xFF;
}

uint8_t ModuleTest::Open(const std::string& name) {
  return OpenBytes(static_cast<uint32_t>(name.size()), name.data());
}

uint32_t ModuleTest::ShareMode(const std::vector<uint32_t>& values) {
  int32_t resultCount = -1;
  void* cell = nullptr;
  module_.api.ShareMode(static_cast<uint32_t>(values.size()), values.data(), &resultCount, &cell);
  EXPECT_EQ(resultCount, 1);
  ExpectSameCell(shareModeCell_, cell, "ShareMode");
  return cell ? *static_cast<uint32_t*>(cell) : 0xFFFFFFFF;
}

uint8_t ModuleTest::Write() {
  int32_t resultCount = -1;
  void* cell = nullptr;
  module_.api.Write(0, nullptr, &resultCount, &cell);
  EXPECT_EQ(resultCount, 1);
  ExpectSameCell(writeCell_, cell, "Write");
  return cell ? *static_cast<uint8_t*>(cell) : 0xFF;
}

void ModuleTest::Close() {
  int32_t resultCount = -1;
  module_.api.Close(0, nullptr, &resultCount);
  EXPECT_EQ(resultCount, 0);
}

void ModuleTest::PutFrameId(const std::vector<uint32_t>& values) {
  int32_t resultCount = -1;
  module_.api.PutFrameId(static_cast<uint32_t>(values.size()), values.data(), &resultCount);
  EXPECT_EQ(resultCount, 0);
}

void ModuleTest::PutTimeStamp(const std::vector<uint32_t>& values) {
  int32_t resultCount = -1;
  module_.api.PutTimeStamp(static_cast<uint32_t>(values.size()), values.data(), &resultCount);
  EXPECT_EQ(resultCount, 0);
}

void ModuleTest::PutError(const std::vector<uint32_t>& values) {
  int32_t resultCount = -1;
  module_.api.PutError(static_cast<uint32_t>(values.size()), values.data(), &resultCount);
  EXPECT_EQ(resultCount, 0);
}

void ModuleTest::PutString(const std::string& text) {
  int32_t resultCount = -1;
  module_.api.PutString(static_cast<uint32_t>(text.size()), text.data(), &resultCount);
  EXPECT_EQ(resultCount, 0);
}

void ModuleTest::PutFrameRaw(uint32_t kindCode, uint32_t busCode, int32_t channel,
                             int32_t statusFlag, uint32_t dataLength, const uint8_t* data) {
  int32_t resultCount = -1;
  module_.api.PutFrame(kindCode, busCode, channel, statusFlag, dataLength, data, &resultCount);
  EXPECT_EQ(resultCount, 0);
}

void ModuleTest::PutFrame(uint32_t kindCode, uint32_t busCode, int32_t channel,
                          int32_t statusFlag, const Bytes& data) {
  PutFrameRaw(kindCode, busCode, channel, statusFlag, static_cast<uint32_t>(data.size()),
              data.data());
}

std::string ModuleTest::WriteOneLine(const std::function<void()>& fill) {
  const std::string name = "one-line.log";
  EXPECT_EQ(Open(name), 0);
  fill();
  EXPECT_EQ(Write(), 0);
  Close();
  std::string content = ReadLog(name);
  EXPECT_GE(content.size(), 2u);
  if (content.size() < 2) return content;
  EXPECT_EQ(content.substr(content.size() - 2), "\r\n");
  return content.substr(0, content.size() - 2);
}

std::string ModuleTest::FrameLine(uint32_t kindCode, uint32_t busCode, int32_t channel,
                                  int32_t statusFlag, const Bytes& data) {
  return WriteOneLine([&] { PutFrame(kindCode, busCode, channel, statusFlag, data); });
}

std::string ModuleTest::LogPath(const std::string& name) const { return ModuleDirectory() + name; }

std::string ModuleTest::ReadLog(const std::string& name) const { return ReadFile(LogPath(name)); }

}  // namespace buslog_test
