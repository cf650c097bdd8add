// The export surface as a host sees it: result counts and cells on every
// call, calls below their thresholds, and the module's life from load to
// unload.
#include <filesystem>

#include "support/module_test.h"

namespace buslog_test {
namespace {

namespace fs = std::filesystem;

using ExportsTest = ModuleTest;

// Loads a copy of the module from a folder of its own below the test's.
void LoadCopyIn(const fs::path& dir, buslog_host::LoadedModule* copy) {
  fs::create_directories(dir);
  fs::path module = dir / buslog_host::ModuleFileName();
  fs::copy_file(fs::path(ModuleDirectory()) / buslog_host::ModuleFileName(), module,
                fs::copy_options::overwrite_existing);
  char error[256] = "";
  ASSERT_TRUE(buslog_host::LoadModule(module.string().c_str(), copy, error, sizeof error)) << error;
}

TEST_F(ExportsTest, CallsBelowTheirThresholdAddNothing) {
  std::string line = WriteOneLine([&] {
    PutFrameId({});
    PutTimeStamp({});
    PutTimeStamp({7});
    PutError({});
    PutString("");
    EXPECT_EQ(ShareMode({}), 1u);
    EXPECT_EQ(OpenBytes(0, nullptr), 3);  // the file open test comes first
  });
  EXPECT_EQ(line, "");
}

TEST_F(ExportsTest, ValuesBeyondTheThresholdAreIgnored) {
  std::string line = WriteOneLine([&] {
    PutFrameId({123, 456});
    PutTimeStamp({1, 234567, 99});
    PutError({0x1F, 0x2F});
  });
  EXPECT_EQ(line, "000000123,+1.234567,(0:ERR=0000001F)");
}

TEST_F(ExportsTest, OneRecordFromFrameNumberToLogLine) {
  EXPECT_EQ(Open("road.log"), 0);
  PutFrameId({123});
  PutTimeStamp({1, 234567});
  PutFrame(0x3031, 4, 0, 0, Hex("01 23 02 AA BB"));
  EXPECT_EQ(Write(), 0);
  Close();
  EXPECT_EQ(ReadLog("road.log"), "000000123,+1.234567,I,CAN     , 1,OK,0,1,23,2,AA,BB\r\n");
}

TEST_F(ExportsTest, ResultCellsKeepTheirAddressAcrossCalls) {
  // The helpers check every address against the first one handed out.
  EXPECT_EQ(Open("cells.log"), 0);
  EXPECT_EQ(Open("cells.log"), 3);
  EXPECT_EQ(ShareMode({}), 1u);
  EXPECT_EQ(ShareMode({1}), 0u);
  EXPECT_EQ(Write(), 0);
  Close();
  EXPECT_EQ(Write(), 1);
  EXPECT_EQ(OpenBytes(0, nullptr), 1);
}

TEST_F(ExportsTest, ReloadStartsFromAFreshState) {
  EXPECT_EQ(ShareMode({1}), 0u);
  EXPECT_EQ(Open("reload.log"), 0);
  Reload();
  // A module that stayed in memory would still say 0 and still hold a file.
  EXPECT_EQ(ShareMode({}), 1u);
  EXPECT_EQ(Open("reload.log"), 0);
  Close();
}

TEST_F(ExportsTest, UnloadClosesTheLogAndDropsThePendingLine) {
  EXPECT_EQ(Open("unload.log"), 0);
  PutString("written");
  EXPECT_EQ(Write(), 0);
  PutString("pending");
  Reload();
  EXPECT_EQ(ReadLog("unload.log"), "written\r\n");
  // Nothing of the dropped line reaches the next log either.
  EXPECT_EQ(Open("after-unload.log"), 0);
  EXPECT_EQ(Write(), 0);
  Close();
  EXPECT_EQ(ReadLog("after-unload.log"), "\r\n");
}

TEST_F(ExportsTest, LoadAndUnloadWithoutCallsCreatesNoFile) {
  // A directory of its own, holding nothing but the module.
  fs::path dir = fs::path(ModuleDirectory()) / "quiet";
  buslog_host::LoadedModule quiet = {};
  LoadCopyIn(dir, &quiet);
  ASSERT_NE(quiet.library, nullptr);
  buslog_host::UnloadModule(&quiet);
  size_t entries = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 1u);
}

TEST_F(ExportsTest, LogLandsBesideTheModuleWhereverItIsCopied) {
  fs::path dir = fs::path(ModuleDirectory()) / "elsewhere";
  buslog_host::LoadedModule copy = {};
  LoadCopyIn(dir, &copy);
  ASSERT_NE(copy.library, nullptr);
  int32_t count = -1;
  void* cell = nullptr;
  copy.api.Open(9, "there.log", &count, &cell);
  EXPECT_EQ(*static_cast<uint8_t*>(cell), 0);
  copy.api.PutString(4, "here", &count);
  copy.api.Write(0, nullptr, &count, &cell);
  EXPECT_EQ(*static_cast<uint8_t*>(cell), 0);
  copy.api.Close(0, nullptr, &count);
  buslog_host::UnloadModule(&copy);
  EXPECT_EQ(ReadFile((dir / "there.log").string()), "here\r\n");
  EXPECT_FALSE(fs::exists(LogPath("there.log")));
}

}  // namespace
}  // namespace buslog_test
