// Real refusals of the Windows file system through the loaded DLL: names
// with characters Windows does not allow in a file name, and places a log
// cannot be created (under a file used as a folder, in a missing folder, on
// a folder's own name). Each Open gives 2, keeps nothing, and the module
// goes on: the next Open of a good name gives 0 and writes. A log held by
// another program is covered by the sharing tests.
//
// Not here, because they are not refusals where these tests run: a colon
// names a stream of a file on NTFS, and Wine accepts it as well; a folder
// without write permission or a read-only file is no obstacle to root,
// which Wine runs as here, since Wine maps both to Unix permissions.
#include <windows.h>

#include "support/module_test.h"

namespace buslog_test {
namespace {

struct RefusedCase {
  const char* name;
  const char* logName;
};

class RefusedOpenTest : public ModuleTest, public ::testing::WithParamInterface<RefusedCase> {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    // The places the folder cases point into, made fresh for every case.
    CreateDirectoryA(LogPath("folder").c_str(), nullptr);
    HANDLE file = CreateFileA(LogPath("plain-file").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
  }

  void TearDown() override {
    DeleteFileA(LogPath("plain-file").c_str());
    RemoveDirectoryA(LogPath("folder").c_str());
    ModuleTest::TearDown();
  }
};

TEST_P(RefusedOpenTest, OpenGivesTwoAndTheModuleGoesOn) {
  EXPECT_EQ(Open(GetParam().logName), BUSLOG_OPEN_FAILED);
  PutString("nowhere");
  EXPECT_EQ(Write(), 1) << "a handle was kept";
  EXPECT_EQ(Open("good.log"), BUSLOG_OPEN_OK);  // not 3
  PutString("still working");
  EXPECT_EQ(Write(), 0);
  Close();
  EXPECT_EQ(ReadLog("good.log"), "still working\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Windows, RefusedOpenTest,
    ::testing::Values(RefusedCase{"LessThan", "bad<name.log"}, RefusedCase{"GreaterThan", "bad>name.log"},
                      RefusedCase{"Quote", "bad\"name.log"}, RefusedCase{"Bar", "bad|name.log"},
                      RefusedCase{"Question", "bad?name.log"}, RefusedCase{"Star", "bad*name.log"},
                      RefusedCase{"FileAsFolder", "plain-file\\x.log"},
                      RefusedCase{"MissingFolder", "missing\\x.log"}, RefusedCase{"FolderAsFile", "folder"}),
    [](const ::testing::TestParamInfo<RefusedCase>& testCase) { return std::string(testCase.param.name); });

}  // namespace
}  // namespace buslog_test
