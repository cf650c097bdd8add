// The call script's judgement of failed Writes: at the next line that is
// not blank, a failure on purpose only when that line is an expect Write 1
// that held.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script/script.h"

namespace buslog_host {
namespace {

using E = ScriptEvent;

TEST(WriteRuleTest, FailedWritesJudgedAtTheNextLine) {
  struct Row {
    const char* name;
    std::vector<E> lines;           // what each non-blank line did, from line 1
    std::vector<uint64_t> failures; // lines of failed Writes judged failures of the script
    uint64_t expected;              // failed Writes meant
  } rows[] = {
      {"no Write", {E::kOther, E::kOther}, {}, 0},
      {"Writes that worked", {E::kWriteOk, E::kWriteOk}, {}, 0},
      {"failed, then expected", {E::kWriteFailed, E::kWriteFailureExpected}, {}, 1},
      {"failed, then another call", {E::kWriteFailed, E::kOther}, {1}, 0},
      {"failed as the last line", {E::kOther, E::kWriteFailed}, {2}, 0},
      {"failed twice, the second expected", {E::kWriteFailed, E::kWriteFailed, E::kWriteFailureExpected}, {1}, 1},
      {"expected once, the expectation repeated", {E::kWriteFailed, E::kWriteFailureExpected, E::kWriteFailureExpected},
       {}, 1},
      {"expected one line late", {E::kWriteFailed, E::kOther, E::kWriteFailureExpected}, {1}, 0},
      {"expectation without a failed Write", {E::kWriteOk, E::kWriteFailureExpected}, {}, 0},
      {"two failures each expected",
       {E::kWriteFailed, E::kWriteFailureExpected, E::kWriteFailed, E::kWriteFailureExpected}, {}, 2},
      {"failed, then a Write that worked", {E::kWriteFailed, E::kWriteOk}, {1}, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptState state = {};
    std::vector<uint64_t> failures;
    uint64_t line = 0;
    for (E event : row.lines) {
      state.event = event;
      uint64_t failed = JudgeWrites(&state, ++line);
      if (failed != 0) failures.push_back(failed);
    }
    uint64_t failed = FinishWrites(&state);
    if (failed != 0) failures.push_back(failed);
    EXPECT_EQ(failures, row.failures);
    EXPECT_EQ(state.expectedWriteFailures, row.expected);
    EXPECT_EQ(FinishWrites(&state), 0u);
  }
}

}  // namespace
}  // namespace buslog_host
