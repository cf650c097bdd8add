// The log's names: the path the module is handed from its own folder, the
// numbered names of rotation, free names, and sizes as the user writes them.
#include <gtest/gtest.h>

#include <string>

#include "command_line.h"
#include "file_names.h"
#include "platform/system.h"

namespace buslog_host {
namespace {

struct RelativeRow {
  const char* name;
  const char* from;      // the module's folder
  const char* to;        // the log
  const char* expected;  // nullptr: there is no such path
};

#ifdef _WIN32
const RelativeRow kRelative[] = {
    {"same folder", "C:\\tools\\bus\\", "C:\\tools\\bus\\run.csv", "run.csv"},
    {"up two", "C:\\tools\\bus\\", "C:\\logs\\run.csv", "..\\..\\logs\\run.csv"},
    {"case differs", "C:\\Tools\\Bus\\", "c:\\tools\\bus\\logs\\run.csv", "logs\\run.csv"},
    {"name shares a prefix", "C:\\ab\\", "C:\\a\\run.csv", "..\\a\\run.csv"},
    {"drive root", "C:\\", "C:\\run.csv", "run.csv"},
    {"network share", "\\\\srv\\share\\bus\\", "\\\\srv\\share\\logs\\run.csv", "..\\logs\\run.csv"},
    // No relative path leads there.
    {"other drive", "C:\\tools\\", "D:\\run.csv", nullptr},
    {"other share", "\\\\srv\\share\\", "\\\\srv\\other\\run.csv", nullptr},
    {"share from a drive", "C:\\tools\\", "\\\\srv\\share\\run.csv", nullptr},
};
#else
const RelativeRow kRelative[] = {
    {"same folder", "/opt/bus/lib/", "/opt/bus/lib/run.csv", "run.csv"},
    {"below", "/opt/bus/lib/", "/opt/bus/lib/logs/run.csv", "logs/run.csv"},
    {"up three", "/opt/bus/lib/", "/home/user/run.csv", "../../../home/user/run.csv"},
    {"name shares a prefix", "/opt/ab/", "/opt/a/run.csv", "../a/run.csv"},
    {"root", "/", "/run.csv", "run.csv"},
    {"to the root", "/opt/lib/", "/run.csv", "../../run.csv"},
};
#endif

TEST(LogPaths, RelativeToTheModulesFolder) {
  for (const RelativeRow& row : kRelative) {
    SCOPED_TRACE(row.name);
    char out[512];
    char reason[256] = "";
    bool found = RelativePath(row.from, row.to, out, sizeof out, reason, sizeof reason);
    if (row.expected == nullptr) {
      EXPECT_FALSE(found);
      EXPECT_NE(std::string(reason).find("another drive"), std::string::npos) << reason;
    } else {
      ASSERT_TRUE(found) << reason;
      EXPECT_STREQ(out, row.expected);
    }
  }
}

TEST(LogPaths, RelativePathThatDoesNotFitIsRefused) {
  char out[8];
  char reason[256] = "";
#ifdef _WIN32
  EXPECT_FALSE(RelativePath("C:\\a\\b\\c\\", "C:\\run.csv", out, sizeof out, reason, sizeof reason));
#else
  EXPECT_FALSE(RelativePath("/a/b/c/", "/run.csv", out, sizeof out, reason, sizeof reason));
#endif
  EXPECT_STREQ(reason, "the path is too long");
}

TEST(LogPaths, NumberedNames) {
  struct Row {
    const char* path;
    uint32_t number;
    const char* expected;
  } rows[] = {
      {"run.csv", 1, "run-001.csv"},
      {"/var/log/bus/run.csv", 12, "/var/log/bus/run-012.csv"},
      {"C:\\logs\\run.csv", 7, "C:\\logs\\run-007.csv"},
      {"run.2026.csv", 2, "run.2026-002.csv"},
      {"../logs.d/run", 3, "../logs.d/run-003"},
      {".hidden", 4, ".hidden-004"},
      {"run.csv", 1000, "run-1000.csv"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    EXPECT_EQ(NumberedName(row.path, row.number), row.expected);
  }
}

// The default log's name and the demo's logs: the name itself when it is
// free, else the first free of name-2.ext, name-3.ext ...
TEST(LogPaths, FreeNames) {
  struct Row {
    const char* name;
    const char* taken[2];  // files made first
    const char* expected;
  } rows[] = {
      {"bl-free-a.csv", {nullptr, nullptr}, "bl-free-a.csv"},
      {"bl-free-b.csv", {"bl-free-b.csv", nullptr}, "bl-free-b-2.csv"},
      {"bl-free-c.csv", {"bl-free-c.csv", "bl-free-c-2.csv"}, "bl-free-c-3.csv"},
      {"bl-free-d.2026.csv", {"bl-free-d.2026.csv", nullptr}, "bl-free-d.2026-2.csv"},
      {"bl-free-e", {"bl-free-e", nullptr}, "bl-free-e-2"},
      {".bl-free-f", {".bl-free-f", nullptr}, ".bl-free-f-2"},
  };
  std::string prefix = ::testing::TempDir();
  if (!prefix.empty() && prefix.back() != '/' && prefix.back() != '\\') prefix += '/';
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    for (const char* taken : row.taken) {
      if (taken == nullptr) continue;
      bool exists = false;
      char reason[256];
      RemoveFile((prefix + taken).c_str());
      ASSERT_TRUE(CreateNewFile((prefix + taken).c_str(), &exists, reason, sizeof reason)) << reason;
    }
    RemoveFile((prefix + row.expected).c_str());
    char out[512];
    ASSERT_TRUE(FreeName((prefix + row.name).c_str(), out, sizeof out));
    EXPECT_EQ(std::string(out), prefix + row.expected);
    for (const char* taken : row.taken) {
      if (taken != nullptr) RemoveFile((prefix + taken).c_str());
    }
  }
}

TEST(LogPaths, Sizes) {
  struct Row {
    const char* text;
    bool good;
    uint64_t bytes;
  } rows[] = {
      {"500", true, 500},
      {"64k", true, 65536},
      {"64K", true, 65536},
      {"64kb", true, 65536},
      {"64KiB", true, 65536},
      {"10M", true, 10485760},
      {"10mb", true, 10485760},
      {"10MB", true, 10485760},
      {"10MiB", true, 10485760},
      {"10mib", true, 10485760},
      {"1.5M", true, 1572864},
      {"0.5k", true, 512},
      {"1.3k", true, 1331},  // 1331.2, rounded down
      {"2G", true, 2147483648ull},
      {"2gb", true, 2147483648ull},
      {"2GiB", true, 2147483648ull},
      {"500B", true, 500},
      {"17179869183.999999999G", true, 18446744073709551614ull},
      // Not sizes.
      {"", false, 0},
      {"0", false, 0},
      {"0.0k", false, 0},
      {"k", false, 0},
      {".5M", false, 0},
      {"1.M", false, 0},
      {"1.5", false, 0},
      {"-1", false, 0},
      {"+1k", false, 0},
      {"10 M", false, 0},
      {"10Q", false, 0},
      {"10iB", false, 0},
      {"10KiBB", false, 0},
      {"10Ki", false, 0},
      {"1.0000000001G", false, 0},
      {"17179869184G", false, 0},
      {"99999999999999999999", false, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    uint64_t bytes = 0;
    EXPECT_EQ(ParseSize(row.text, &bytes), row.good);
    if (row.good) {
      EXPECT_EQ(bytes, row.bytes);
    }
  }
}

}  // namespace
}  // namespace buslog_host
