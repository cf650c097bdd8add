// The C interface: opening, adding, flushing and closing a writer. What
// happened (counts, files, losses, channels) is in writer_report.cpp.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "accept.h"
#include "file_names.h"
#include "platform/files.h"
#include "pre_buffer.h"
#include "sizes.h"
#include "writer.h"

using namespace buslog_writer;

namespace {

constexpr const char* kVersion = BUSLOG_WRITER_VERSION;

void SetError(char* error, size_t size, const std::string& text) {
  if (error != nullptr && size > 0) snprintf(error, size, "%s", text.c_str());
}

// The longest window before or after a trigger, in seconds.
constexpr double kMostWindowSeconds = 1e6;

// What is wrong with the filter and trigger options, or empty; the filter
// and triggers read into `selection`.
std::string SelectionProblem(const BuslogWriterOptions& o, Selection* selection) {
  std::string why;
  if (!SetUpSelection(o, selection, &why)) return why;
  bool triggers = selection->triggering;
  if (!(o.preSeconds >= 0 && o.preSeconds <= kMostWindowSeconds) ||
      !(o.postSeconds >= 0 && o.postSeconds <= kMostWindowSeconds)) {
    return "pre and post seconds go from 0 to 1000000";
  }
  if ((o.preSeconds > 0 || o.postSeconds > 0) && !triggers) {
    return "pre and post seconds need a trigger, a start trigger or a stop trigger";
  }
  if (o.preSeconds > 0 && o.preBytes != 0 && o.preBytes < kLeastPreBytes) {
    return "a pre-trigger buffer takes 64k bytes or more";
  }
  if (selection->filter.text.size() > kMaxSettingsText) {
    return "the filter has more than " + std::to_string(kMaxSettingsText) + " characters";
  }
  if (triggers && TriggerSettingsText(o, *selection).size() > kMaxSettingsText) {
    return "the triggers with pre and post take more than " + std::to_string(kMaxSettingsText) + " characters";
  }
  return std::string();
}

// What is wrong with the options, or empty.
std::string OptionsProblem(const BuslogWriterOptions& o, Selection* selection) {
  bool rotating = o.rotateBytes != 0 || o.rotateSeconds > 0;
  if (o.mode < BUSLOG_WRITER_QUEUED || o.mode > BUSLOG_WRITER_REPLAY) return "unknown mode";
  if (o.timeBase != BUSLOG_TIME_PRECISE && o.timeBase != BUSLOG_TIME_PER_FILE) return "unknown time base";
  if (!(o.rotateSeconds >= 0)) return "rotation seconds must be 0 or more";
  if (o.output != nullptr && o.moduleName != nullptr) return "give the log as output or as a name in the module's "
                                                             "folder, not both";
  if ((o.maxFiles != 0 || o.maxTotal != 0) && !rotating) return "a ring (most files, most bytes) needs rotation";
  if (o.maxFiles == 1) return "a ring keeps 2 files or more";
  if (o.maxTotal != 0 && (o.rotateBytes == 0 || o.maxTotal < 2 * o.rotateBytes)) {
    return "a ring's most bytes must be at least twice the rotation size";
  }
  if (o.mode == BUSLOG_WRITER_QUEUED && o.queueFrames == 0) return "a queue holds 1 frame or more";
  return SelectionProblem(o, selection);
}

void SetUpCore(BuslogWriter* writer, const BuslogWriterOptions& o) {
  Core* core = writer->core.get();
  core->api = &writer->module.module.api;
  core->messages = &writer->messages;
  core->channels = &writer->channels;
  core->abandoned = &writer->abandoned;
  Settings& s = core->settings;
  s.mode = o.mode;
  s.syncEveryFrame = o.syncEveryFrame != 0 || o.mode == BUSLOG_WRITER_WRITE_THROUGH;
  s.markers = o.markers != 0;
  s.precise = s.markers && o.timeBase == BUSLOG_TIME_PRECISE;
  s.rotateBytes = o.rotateBytes;
  s.rotateSeconds = o.rotateSeconds;
  s.writer = o.writer != nullptr ? o.writer : std::string("buslog-writer ") + kVersion;
  s.interrupted = o.interrupted;
  s.interruptedContext = o.interruptedContext;
  const Selection& selection = writer->selection;
  if (selection.filtering) s.filterMarker = "buslog filter " + selection.filter.text;
  if (selection.triggering) {
    s.triggerMarker = "buslog trigger " + TriggerSettingsText(o, selection);
  }
  LogSet& logs = core->logs;
  logs.api = core->api;
  logs.messages = core->messages;
  logs.moduleDirectory = writer->module.directory;
  logs.request = LogRequest{o.output, o.moduleName, o.overwrite != 0, o.rotateBytes != 0 || o.rotateSeconds > 0,
                            o.maxFiles, o.maxTotal, o.rotateBytes};
}

void ShareMode(const BuslogApi& api) {
  uint32_t choice = 1;
  int32_t count;
  void* cell;
  api.ShareMode(1, &choice, &count, &cell);
}

// The folder the log goes into, as the caller named it.
std::string LogFolderOf(const BuslogWriterOptions& o) {
  if (o.output == nullptr || o.output[0] == '\0') return ".";
  if (buslog_files::StateOfPath(o.output) == buslog_files::PathState::kFolder) return o.output;
  std::string path = o.output;
  size_t name = buslog_files::NameStart(path);
  return name == 0 ? std::string(".") : path.substr(0, name);
}

int OpenWriter(BuslogWriter* writer, const BuslogWriterOptions& o, std::string* error) {
  if (!SetUpStage(&writer->core->stage, o, writer->selection.triggering, error)) return BUSLOG_WRITER_NO_MEMORY;
  if (!LoadModuleInstance(o.module, LogFolderOf(o).c_str(), &writer->module, error)) return BUSLOG_WRITER_NO_MODULE;
  SetUpCore(writer, o);
  Core* core = writer->core.get();
  if (o.share != 0) ShareMode(*core->api);
  if (!PlanLogs(&core->logs, o.input, error) || !OpenFirstLog(&core->logs, error)) return BUSLOG_WRITER_NO_LOG;
  if (o.mode == BUSLOG_WRITER_QUEUED) {
    writer->queue.capacity = o.queueFrames;
    StartQueue(&writer->queue, core);
  }
  return BUSLOG_WRITER_OK;
}

uint64_t LastSequence(BuslogWriter* writer) {
  std::lock_guard<std::mutex> lock(AddsLock(writer));
  return writer->lastSequence;
}

// The lost frames of logs that went since they were closed.
void CollectGoneLogs(Core* core) {
  LogSet& logs = core->logs;
  std::vector<int32_t> before;
  for (const LogFileEntry& file : logs.files) before.push_back(file.fate);
  LookAtClosedLogs(&logs);
  for (size_t i = 0; i < logs.files.size(); ++i) {
    const LogFileEntry& file = logs.files[i];
    if (before[i] == file.fate) continue;
    LoseFileFrames(core, file);
  }
}

}  // namespace

namespace buslog_writer {

bool SelectAndTake(BuslogWriter* writer, const BuslogFrame& frame, Frame* out) {
  uint8_t bits = writer->selection.selecting ? SelectFrame(&writer->selection, frame) : uint8_t{kStageLog};
  if (bits == 0) return false;
  TakeFrame(frame, out);
  out->number = 0;
  out->stage = bits;
  out->sequence = ++writer->lastSequence;
  out->channel = kNoChannel;
  // A frame only a trigger looks at takes no channel.
  if ((bits & kStageLog) != 0) {
    int32_t channel = ChannelOf(&writer->channels, frame.interfaceName, frame.interfaceLength);
    if (channel >= 0) out->channel = static_cast<uint16_t>(channel);
  }
  return true;
}

}  // namespace buslog_writer

extern "C" {

void BuslogWriterDefaults(BuslogWriterOptions* options) {
  *options = BuslogWriterOptions{};
  options->mode = BUSLOG_WRITER_QUEUED;
  options->markers = 1;
  options->timeBase = BUSLOG_TIME_PRECISE;
  options->queueFrames = 1000000;
}

int BuslogWriterOpen(const BuslogWriterOptions* options, BuslogWriter** writer, char* error, size_t errorSize) {
  if (writer == nullptr) return BUSLOG_WRITER_BAD_ARGUMENT;
  *writer = nullptr;
  BuslogWriter* made = new (std::nothrow) BuslogWriter();
  if (made != nullptr) made->core.reset(new (std::nothrow) Core());
  if (made == nullptr || made->core == nullptr) {
    delete made;
    SetError(error, errorSize, "out of memory");
    return BUSLOG_WRITER_NO_MEMORY;
  }
  std::string problem = options == nullptr ? std::string("no options") : OptionsProblem(*options, &made->selection);
  if (!problem.empty()) {
    delete made;
    SetError(error, errorSize, problem);
    return BUSLOG_WRITER_BAD_ARGUMENT;
  }
  int result = OpenWriter(made, *options, &problem);
  if (result != BUSLOG_WRITER_OK) {
    SetError(error, errorSize, problem);
    UnloadModuleInstance(&made->module);
    delete made;
    return result;
  }
  *writer = made;
  return BUSLOG_WRITER_OK;
}

int BuslogWriterCheckOptions(const BuslogWriterOptions* options, char* why, size_t whySize) {
  if (options == nullptr) {
    SetError(why, whySize, "no options");
    return BUSLOG_WRITER_BAD_ARGUMENT;
  }
  Selection selection;
  std::string problem = OptionsProblem(*options, &selection);
  if (problem.empty()) return BUSLOG_WRITER_OK;
  SetError(why, whySize, problem);
  return BUSLOG_WRITER_BAD_ARGUMENT;
}

int BuslogWriterCheckFrame(const BuslogFrame* frame, char* why, size_t whySize) {
  char text[256];
  if (frame == nullptr) {
    SetError(why, whySize, "no frame");
    return BUSLOG_WRITER_BAD_ARGUMENT;
  }
  if (FrameProblem(*frame, text, sizeof text) == nullptr) return BUSLOG_WRITER_OK;
  SetError(why, whySize, text);
  return BUSLOG_WRITER_BAD_ARGUMENT;
}

int BuslogWriterAdd(BuslogWriter* writer, const BuslogFrame* frame) {
  char why[256];
  if (writer == nullptr || frame == nullptr || FrameProblem(*frame, why, sizeof why) != nullptr) {
    return BUSLOG_WRITER_BAD_ARGUMENT;
  }
  Core* core = writer->core.get();
  if (core->settings.mode == BUSLOG_WRITER_QUEUED) {
    bool taken = QueueFrame(&writer->queue, [writer, frame](Frame* out) { return SelectAndTake(writer, *frame, out); });
    return taken ? BUSLOG_WRITER_OK : BUSLOG_WRITER_CLOSED;
  }
  std::lock_guard<std::mutex> lock(writer->direct);
  if (writer->inputEnded) return BUSLOG_WRITER_CLOSED;
  Frame taken;
  if (SelectAndTake(writer, *frame, &taken)) StageFrame(core, &taken, false);
  return core->storage.givenUp ? BUSLOG_WRITER_GAVE_UP : BUSLOG_WRITER_OK;
}

int BuslogWriterAddDrops(BuslogWriter* writer, const char* interfaceName, uint32_t interfaceLength, uint64_t count,
                         uint64_t total) {
  if (writer == nullptr || count == 0) return BUSLOG_WRITER_BAD_ARGUMENT;
  auto fill = [&](Frame* out) {
    *out = Frame{};
    out->type = kDropsItem;
    out->id = count > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(count);
    out->time.seconds = total;
    out->sequence = ++writer->lastSequence;
    int32_t channel = ChannelOf(&writer->channels, interfaceName, interfaceLength);
    out->channel = channel < 0 ? kNoChannel : static_cast<uint16_t>(channel);
    return true;
  };
  Core* core = writer->core.get();
  if (core->settings.mode == BUSLOG_WRITER_QUEUED) {
    return QueueFrame(&writer->queue, fill) ? BUSLOG_WRITER_OK : BUSLOG_WRITER_CLOSED;
  }
  std::lock_guard<std::mutex> lock(writer->direct);
  if (writer->inputEnded) return BUSLOG_WRITER_CLOSED;
  Frame drops;
  fill(&drops);
  StageFrame(core, &drops, false);
  return BUSLOG_WRITER_OK;
}

int BuslogWriterFlush(BuslogWriter* writer, BuslogWriterReport* report) {
  if (writer == nullptr) return BUSLOG_WRITER_BAD_ARGUMENT;
  if (writer->core->settings.mode == BUSLOG_WRITER_QUEUED) {
    WaitUntilDone(&writer->queue, LastSequence(writer), -1);
  } else {
    std::lock_guard<std::mutex> lock(writer->direct);
    Commit(writer->core.get());
  }
  return Report(writer, report);
}

void BuslogWriterEndInput(BuslogWriter* writer) {
  if (writer == nullptr) return;
  if (writer->core->settings.mode == BUSLOG_WRITER_QUEUED) {
    EndQueue(&writer->queue);
  } else {
    std::lock_guard<std::mutex> lock(writer->direct);
    writer->inputEnded = true;
  }
}

int BuslogWriterWait(BuslogWriter* writer, uint32_t milliseconds) {
  if (writer == nullptr || writer->core->settings.mode != BUSLOG_WRITER_QUEUED) return 1;
  return WaitUntilDone(&writer->queue, LastSequence(writer), milliseconds) ? 1 : 0;
}

void BuslogWriterAbandon(BuslogWriter* writer) {
  if (writer == nullptr) return;
  writer->abandoned.store(true);
  if (writer->core->settings.mode == BUSLOG_WRITER_QUEUED) WakeQueue(&writer->queue);
}

int BuslogWriterClose(BuslogWriter* writer, BuslogWriterReport* report) {
  if (writer == nullptr) return BUSLOG_WRITER_BAD_ARGUMENT;
  if (!writer->closed) {
    writer->closed = true;
    Core* core = writer->core.get();
    if (core->settings.mode == BUSLOG_WRITER_QUEUED) {
      JoinQueue(&writer->queue);
    } else {
      std::lock_guard<std::mutex> lock(writer->direct);
      writer->inputEnded = true;
      EndWindows(core);
      Commit(core);
      WriteOwedRecords(core);
    }
    CloseOpenLog(core);
    CollectGoneLogs(core);
  }
  return Report(writer, report);
}

void BuslogWriterFree(BuslogWriter* writer) {
  if (writer == nullptr) return;
  BuslogWriterClose(writer, nullptr);
  UnloadModuleInstance(&writer->module);
  delete writer;
}

int BuslogWriterNextMessage(BuslogWriter* writer, char* text, size_t size) {
  if (writer == nullptr) return 0;
  return TakeMessage(&writer->messages, text, size);
}

int BuslogWriterParseSize(const char* text, uint64_t* bytes, char* why, size_t whySize) {
  if (text != nullptr && bytes != nullptr && ParseSize(text, bytes)) return BUSLOG_WRITER_OK;
  SetError(why, whySize, std::string(text == nullptr ? "no size" : text) +
                             ": give a size such as 500k, 1.5M, 10MB or 2GiB (k, M, G are powers of 1024, in any "
                             "case; a number alone is bytes)");
  return BUSLOG_WRITER_BAD_ARGUMENT;
}

const char* BuslogWriterVersion(void) { return kVersion; }

}  // extern "C"
