// What only Windows shows: sharing of the open log with other openers, and
// the handle a module still holds when it is unloaded.
#include <windows.h>

#include "support/module_test.h"

namespace buslog_test {
namespace {

using SharingTest = ModuleTest;

// Opens the log for reading as another program would, letting every other
// opener, the module's own writing handle included, go on.
HANDLE OpenForReading(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST_F(SharingTest, WithoutShareModeNoOtherOpenerGetsIn) {
  EXPECT_EQ(Open("exclusive.log"), 0);
  HANDLE reader = OpenForReading(LogPath("exclusive.log"));
  EXPECT_EQ(reader, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
  Close();
}

TEST_F(SharingTest, ShareModeLetsOthersReadWhileTheLogIsOpen) {
  EXPECT_EQ(ShareMode({1}), 0u);
  EXPECT_EQ(Open("shared.log"), 0);
  PutString("visible");
  EXPECT_EQ(Write(), 0);
  HANDLE reader = OpenForReading(LogPath("shared.log"));
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  char bytes[32] = {};
  DWORD read = 0;
  EXPECT_TRUE(::ReadFile(reader, bytes, sizeof bytes, &read, nullptr));
  EXPECT_EQ(std::string(bytes, read), "visible\r\n");
  CloseHandle(reader);
  Close();
}

TEST_F(SharingTest, ShareModeCountsFromTheNextOpen) {
  EXPECT_EQ(Open("late-share.log"), 0);
  EXPECT_EQ(ShareMode({1}), 0u);
  HANDLE reader = OpenForReading(LogPath("late-share.log"));
  EXPECT_EQ(reader, INVALID_HANDLE_VALUE);
  if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
  Close();
  EXPECT_EQ(Open("late-share.log"), 0);
  reader = OpenForReading(LogPath("late-share.log"));
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
  Close();
}

TEST_F(SharingTest, ExclusiveLogHeldElsewhereMakesOpenFail) {
  HANDLE holder = CreateFileA(LogPath("held.log").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open("held.log"), 2);
  CloseHandle(holder);
  EXPECT_EQ(Open("held.log"), 0);
  Close();
}

TEST_F(SharingTest, UnloadingReleasesTheLogFile) {
  EXPECT_EQ(Open("released.log"), 0);
  PutString("pending, never written");
  Reload();
  HANDLE exclusive = CreateFileA(LogPath("released.log").c_str(), GENERIC_READ, 0, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileSize(exclusive, nullptr), 0u);
  CloseHandle(exclusive);
}

}  // namespace
}  // namespace buslog_test
