// What a log name reaches: the module appends it to its own folder as it
// stands, so folder separators and ".." in it are followed. Hosts must pass
// only names they chose; these rows pin down what the README tells them.
#include <filesystem>
#include <string>

#include "support/module_test.h"

namespace buslog_test {
namespace {
namespace fs = std::filesystem;

using NamesTest = ModuleTest;

TEST_F(NamesTest, SeparatorsAndDotDotAreFollowed) {
  // The module's folder without its trailing separator, and its name, which
  // is this run's own.
  const fs::path folder = fs::path(ModuleDirectory()).parent_path();
  const std::string unique = folder.filename().string();
  fs::create_directories(folder / "sub");
  struct Row {
    const char* name;
    std::string logName;
    fs::path lands;
  };
  const Row rows[] = {
      {"plain name", "plain.log", folder / "plain.log"},
      {"into a sub-folder", "sub/inner.log", folder / "sub" / "inner.log"},
#ifdef _WIN32
      {"into a sub-folder, backslash", "sub\\back.log", folder / "sub" / "back.log"},
#endif
      {"out of the module's folder", "../" + unique + "-outside.log",
       folder.parent_path() / (unique + "-outside.log")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(Open(row.logName), 0);
    PutString("x");
    EXPECT_EQ(Write(), 0);
    Close();
    EXPECT_EQ(ReadFile(row.lands.string()), "x\r\n");
    fs::remove(row.lands);
  }
}

}  // namespace
}  // namespace buslog_test
