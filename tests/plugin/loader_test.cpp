// The public loader's refusals: a file that is missing or is no module is a
// one-line reason in words, with nothing loaded.
#include <cstring>
#include <string>

#include "buslog_loader.h"
#include "support/module_test.h"

namespace buslog_test {
namespace {

TEST(LoaderTest, RefusalsGiveTheSystemsReasonInWords) {
  struct Row {
    const char* name;
    std::string path;
    const char* expected;  // part of the reason
  };
  const std::string notAModule = ModuleDirectory() + "not-a-module.dll";
  FILE* file = fopen(notAModule.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  fputs("no module in here\n", file);
  fclose(file);
  const Row rows[] = {
#ifdef _WIN32
      {"missing file", ModuleDirectory() + "no-such.dll", "(error 126)"},
      {"not a module", notAModule, "(error 193)"},
#else
      {"missing file", ModuleDirectory() + "no-such.so", "No such file or directory"},
      {"not a module", notAModule, "not-a-module.dll"},
#endif
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    BuslogModule module;
    memset(&module, 0xA5, sizeof module);
    char error[512] = "";
    EXPECT_EQ(BuslogLoadModule(row.path.c_str(), &module, error, sizeof error), 0);
    EXPECT_EQ(module.library, nullptr);
    EXPECT_EQ(module.api.Open, nullptr);
    std::string reason = error;
    EXPECT_EQ(reason.rfind("cannot load: ", 0), 0u) << reason;
    EXPECT_NE(reason.find(row.expected), std::string::npos) << reason;
    // Words, not just a number, and no placeholder left in them.
    EXPECT_GT(reason.find_first_of("abcdefghijklmnopqrstuvwxyz", 13), 0u) << reason;
    EXPECT_LT(reason.find_first_of("abcdefghijklmnopqrstuvwxyz", 13), reason.find('(')) << reason;
    EXPECT_EQ(reason.find("%1"), std::string::npos) << reason;
    EXPECT_EQ(reason.find('\n'), std::string::npos) << reason;
  }
  remove(notAModule.c_str());
}

}  // namespace
}  // namespace buslog_test
