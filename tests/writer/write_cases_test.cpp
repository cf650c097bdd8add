// The table of write cases (write_cases.txt) through the engine's C
// interface, in each of its modes: the frames of each case in, and exactly
// the files the case names out, byte for byte, with what the engine says
// and the frames it names as lost. buslog-host and the python writer run
// the same table through their own faces.
//
// Cases with a storage fault need the preloaded fault library
// (tests/faults/storage_faults.c, POSIX); where it is not loaded they are
// passed over, and the test says so.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "buslog_writer.h"
#include "candump.h"
#include "logger/read_loop.h"
#include "platform/module_loader.h"
#include "platform/system.h"

namespace {

namespace fs = std::filesystem;

struct WriteCase {
  std::string name;
  std::vector<std::pair<std::string, std::string>> options;  // "rotate-size", "300"
  std::vector<std::pair<std::string, std::string>> faults;   // "write", "1": BUSLOG_FAULT_WRITE=1
  std::vector<std::string> modes;                            // empty: every mode
  std::vector<std::string> steps;                            // candump lines, and "@ delete NAME", "@ pause S"
  std::vector<std::pair<std::string, std::string>> files;    // name, whole text
  std::vector<std::string> says;
  std::vector<std::pair<uint32_t, uint32_t>> lost;
};

std::pair<std::string, std::string> KeyValue(const std::string& text) {
  size_t blank = text.find(' ');
  if (blank == std::string::npos) return {text, ""};
  return {text.substr(0, blank), text.substr(blank + 1)};
}

// The table: each case from "case NAME" to "end".
std::vector<WriteCase> ReadCases(const std::string& path) {
  std::ifstream in(path);
  EXPECT_TRUE(in.good()) << path;
  std::vector<WriteCase> cases;
  std::string line;
  std::string* file = nullptr;
  bool inFrames = false;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    auto [word, rest] = KeyValue(line);
    WriteCase* c = cases.empty() ? nullptr : &cases.back();
    if (word == "case") {
      cases.push_back(WriteCase{});
      cases.back().name = rest;
      file = nullptr;
      inFrames = false;
    } else if (word == "option") {
      c->options.push_back(KeyValue(rest));
    } else if (word == "fault") {
      c->faults.push_back(KeyValue(rest));
    } else if (word == "modes") {
      std::istringstream modes(rest);
      for (std::string mode; modes >> mode;) c->modes.push_back(mode);
    } else if (word == "frames") {
      inFrames = true;
    } else if (word == "file") {
      c->files.push_back({rest, ""});
      file = &c->files.back().second;
      inFrames = false;
    } else if (word == "says") {
      c->says.push_back(rest);
      file = nullptr;
    } else if (word == "lost") {
      uint32_t first = 0, last = 0;
      if (sscanf(rest.c_str(), "%u-%u", &first, &last) == 1) last = first;
      c->lost.push_back({first, last});
      file = nullptr;
    } else if (word == "end") {
      file = nullptr;
      inFrames = false;
    } else if (file != nullptr) {
      *file += line + "\r\n";
    } else if (inFrames) {
      c->steps.push_back(line);
    } else {
      ADD_FAILURE() << "write_cases.txt: what is this line? " << line;
    }
  }
  return cases;
}

struct Mode {
  const char* name;
  int32_t mode;
};
const Mode kModes[] = {{"replay", BUSLOG_WRITER_REPLAY},
                       {"queued", BUSLOG_WRITER_QUEUED},
                       {"write-through", BUSLOG_WRITER_WRITE_THROUGH}};

void SetVariable(const std::string& name, const char* value) {
#ifdef _WIN32
  _putenv_s(name.c_str(), value == nullptr ? "" : value);
#else
  if (value == nullptr) {
    unsetenv(name.c_str());
  } else {
    setenv(name.c_str(), value, 1);
  }
#endif
}

bool FaultsLoaded() {
  const char* preload = getenv("LD_PRELOAD");
  return preload != nullptr && strstr(preload, "storage_faults") != nullptr;
}

void SetFaults(const WriteCase& c, const std::string& caseId, const fs::path& folder) {
  static const char* const kVariables[] = {"WRITE", "ERRNO", "TIMES", "SECONDS", "PARTIAL", "FTRUNCATE", "MAX_SIZE"};
  for (const char* variable : kVariables) SetVariable(std::string("BUSLOG_FAULT_") + variable, nullptr);
  std::string pattern = folder.string() + "/run*.buslog";
  SetVariable("BUSLOG_FAULT_PATH", c.faults.empty() ? nullptr : pattern.c_str());
  for (const auto& [key, value] : c.faults) {
    std::string variable = "BUSLOG_FAULT_" + key;
    for (char& ch : variable) ch = ch == '-' ? '_' : static_cast<char>(toupper(static_cast<unsigned char>(ch)));
    SetVariable(variable, value.c_str());
  }
  SetVariable("BUSLOG_FAULT_CASE", caseId.c_str());
}

// The filter, the triggers and their windows; the texts stay in `value`,
// which outlives the writer's opening.
bool SelectionOption(const std::string& key, const std::string& value, BuslogWriterOptions* options) {
  if (key == "filter") {
    options->filter = value.c_str();
  } else if (key == "trigger") {
    options->trigger = value.c_str();
  } else if (key == "start-trigger") {
    options->startTrigger = value.c_str();
  } else if (key == "stop-trigger") {
    options->stopTrigger = value.c_str();
  } else if (key == "pre") {
    options->preSeconds = atof(value.c_str());
  } else if (key == "post") {
    options->postSeconds = atof(value.c_str());
  } else if (key == "pre-buffer") {
    EXPECT_EQ(BuslogWriterParseSize(value.c_str(), &options->preBytes, nullptr, 0), BUSLOG_WRITER_OK);
  } else {
    return false;
  }
  return true;
}

BuslogWriterOptions CaseOptions(const WriteCase& c, int32_t mode, const std::string& module, const std::string& output) {
  BuslogWriterOptions options;
  BuslogWriterDefaults(&options);
  options.module = module.c_str();
  options.output = output.c_str();
  options.writer = "WRITER";
  options.mode = mode;
  for (const auto& [key, value] : c.options) {
    if (key == "rotate-size") {
      EXPECT_EQ(BuslogWriterParseSize(value.c_str(), &options.rotateBytes, nullptr, 0), BUSLOG_WRITER_OK);
    } else if (key == "rotate-seconds") {
      options.rotateSeconds = atof(value.c_str());
    } else if (key == "max-files") {
      options.maxFiles = static_cast<uint32_t>(atoi(value.c_str()));
    } else if (key == "max-total") {
      EXPECT_EQ(BuslogWriterParseSize(value.c_str(), &options.maxTotal, nullptr, 0), BUSLOG_WRITER_OK);
    } else if (key == "markers") {
      options.markers = value == "off" ? 0 : 1;
    } else if (key == "time-base") {
      options.timeBase = value == "file" ? BUSLOG_TIME_PER_FILE : BUSLOG_TIME_PRECISE;
    } else if (key == "sync-every-frame") {
      options.syncEveryFrame = 1;
    } else if (!SelectionOption(key, value, &options)) {
      ADD_FAILURE() << "unknown option " << key;
    }
  }
  return options;
}

// Adds a frame, or does what an "@" step says.
void Step(BuslogWriter* writer, const std::string& step, const fs::path& folder) {
  if (step.compare(0, 2, "@ ") == 0) {
    auto [what, argument] = KeyValue(step.substr(2));
    BuslogWriterFlush(writer, nullptr);
    if (what == "delete") {
      EXPECT_TRUE(fs::remove(folder / argument)) << argument;
    } else if (what == "pause") {
      std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(atof(argument.c_str()) * 1000)));
    } else {
      ADD_FAILURE() << "unknown step " << step;
    }
    return;
  }
  buslog_host::DropReport drops;
  if (buslog_host::IsDropReport(step.data(), step.size())) {
    ASSERT_EQ(buslog_host::ParseDropReport(step.data(), step.size(), &drops), nullptr) << step;
    EXPECT_EQ(BuslogWriterAddDrops(writer, drops.interfaceName, static_cast<uint32_t>(drops.interfaceLength),
                                   drops.count, drops.total),
              BUSLOG_WRITER_OK);
    return;
  }
  buslog_host::CandumpFrame frame;
  ASSERT_EQ(buslog_host::ParseCandumpLine(step.data(), step.size(), &frame), nullptr) << step;
  BuslogFrame out = buslog_host::WriterFrame(frame);
  EXPECT_EQ(BuslogWriterAdd(writer, &out), BUSLOG_WRITER_OK) << step;
}

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void CheckOutcome(BuslogWriter* writer, const WriteCase& c, const fs::path& folder) {
  std::string said;
  char text[4096];
  while (BuslogWriterNextMessage(writer, text, sizeof text) != 0) said += std::string(text) + "\n";
  for (const std::string& words : c.says) EXPECT_NE(said.find(words), std::string::npos) << words << "\n" << said;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::vector<std::string> expected;
  for (const auto& [name, whole] : c.files) expected.push_back(name);
  std::sort(names.begin(), names.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names, expected) << said;
  for (const auto& [name, whole] : c.files) EXPECT_EQ(ReadWhole(folder / name), whole) << name;
  BuslogWriterCounts counts;
  BuslogWriterGetCounts(writer, &counts);
  std::vector<std::pair<uint32_t, uint32_t>> lost;
  for (uint32_t i = 0; i < counts.losses; ++i) {
    BuslogWriterLoss loss;
    BuslogWriterGetLoss(writer, i, &loss);
    lost.push_back({loss.firstFrame, loss.lastFrame});
  }
  EXPECT_EQ(lost, c.lost);
}

void RunCase(const WriteCase& c, const Mode& mode, const std::string& module, const fs::path& root) {
  fs::path folder = root / mode.name / std::to_string(std::hash<std::string>()(c.name) % 100000);
  fs::remove_all(folder);
  fs::create_directories(folder);
  SetFaults(c, std::string(mode.name) + ":" + c.name, folder);
  std::string output = (folder / "run.buslog").string();
  BuslogWriterOptions options = CaseOptions(c, mode.mode, module, output);
  BuslogWriter* writer = nullptr;
  char error[512];
  ASSERT_EQ(BuslogWriterOpen(&options, &writer, error, sizeof error), BUSLOG_WRITER_OK) << error;
  for (const std::string& step : c.steps) Step(writer, step, folder);
  BuslogWriterClose(writer, nullptr);
  CheckOutcome(writer, c, folder);
  BuslogWriterFree(writer);
  SetFaults(WriteCase{}, "none", folder);
}

TEST(WriteCasesTest, EveryCaseInEveryMode) {
  std::vector<WriteCase> cases = ReadCases(BUSLOG_WRITE_CASES);
  ASSERT_GT(cases.size(), 10u);
  char exeDir[1024];
  ASSERT_TRUE(buslog_host::ExecutableDirectory(exeDir, sizeof exeDir));
  std::string module = std::string(exeDir) + buslog_host::ModuleFileName();
  fs::path root = fs::current_path() / "write-cases";
  int passedOver = 0;
  for (const WriteCase& c : cases) {
    bool local = c.faults.empty() && std::none_of(c.steps.begin(), c.steps.end(), [](const std::string& step) {
      return step.compare(0, 9, "@ delete ") == 0;
    });
    if (!local && (!FaultsLoaded() && !c.faults.empty())) {
      ++passedOver;
      continue;
    }
#ifdef _WIN32
    // A log the module holds open cannot be deleted on Windows.
    if (!local) {
      ++passedOver;
      continue;
    }
#endif
    for (const Mode& mode : kModes) {
      if (!c.modes.empty() && std::find(c.modes.begin(), c.modes.end(), mode.name) == c.modes.end()) continue;
      SCOPED_TRACE(c.name + std::string(", ") + mode.name);
      RunCase(c, mode, module, root);
    }
  }
  if (passedOver > 0) printf("%d cases with a storage fault passed over: the fault library is not loaded\n", passedOver);
}

// Two writers of one program never share a log: the second is refused,
// --overwrite or not, and the first's lines stay.
TEST(WriterOpenTest, ALogOpenInAnotherWriterIsNeverReplaced) {
  char exeDir[1024];
  ASSERT_TRUE(buslog_host::ExecutableDirectory(exeDir, sizeof exeDir));
  std::string module = std::string(exeDir) + buslog_host::ModuleFileName();
  fs::path folder = fs::current_path() / "write-cases" / "two-writers";
  fs::remove_all(folder);
  fs::create_directories(folder);
  std::string output = (folder / "shared.buslog").string();
  BuslogWriterOptions options = CaseOptions(WriteCase{}, BUSLOG_WRITER_WRITE_THROUGH, module, output);
  options.overwrite = 1;
  BuslogWriter* first = nullptr;
  char error[512] = "";
  ASSERT_EQ(BuslogWriterOpen(&options, &first, error, sizeof error), BUSLOG_WRITER_OK) << error;
  Step(first, "(1700000000.000000) can0 100#01", folder);
  BuslogWriter* second = nullptr;
  EXPECT_NE(BuslogWriterOpen(&options, &second, error, sizeof error), BUSLOG_WRITER_OK);
  EXPECT_NE(strstr(error, "is being written by another writer of this program"), nullptr) << error;
  Step(first, "(1700000000.100000) can0 100#02", folder);
  BuslogWriterClose(first, nullptr);
  BuslogWriterFree(first);
  {
    std::ifstream log(output, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("000000002,"), std::string::npos) << text;
  }
  // Once closed, the log may be replaced again.
  ASSERT_EQ(BuslogWriterOpen(&options, &second, error, sizeof error), BUSLOG_WRITER_OK) << error;
  BuslogWriterClose(second, nullptr);
  BuslogWriterFree(second);
}

}  // namespace
