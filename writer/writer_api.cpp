// The C interface: opening, adding, flushing and closing a writer. What
// happened (counts, files, losses, channels) is in writer_report.cpp.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "accept.h"
#include "sizes.h"
#include "writer.h"

using namespace buslog_writer;

namespace {

constexpr const char* kVersion = BUSLOG_WRITER_VERSION;

void SetError(char* error, size_t size, const std::string& text) {
  if (error != nullptr && size > 0) snprintf(error, size, "%s", text.c_str());
}

// What is wrong with the options, or empty.
std::string OptionsProblem(const BuslogWriterOptions& o) {
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
  return std::string();
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

int OpenWriter(BuslogWriter* writer, const BuslogWriterOptions& o, std::string* error) {
  if (!LoadModuleInstance(o.module, &writer->module, error)) return BUSLOG_WRITER_NO_MODULE;
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

uint32_t LastNumber(BuslogWriter* writer) {
  std::lock_guard<std::mutex> lock(writer->core->settings.mode == BUSLOG_WRITER_QUEUED ? writer->queue.mutex
                                                                                        : writer->direct);
  return writer->lastNumber;
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
    LoseFileFrames(core, file, file.fate == BUSLOG_FILE_DELETED ? "the log " + file.path + " was deleted"
                                                                : "the log " + file.path + " can no longer be reached");
  }
}

}  // namespace

namespace buslog_writer {

void NumberFrame(BuslogWriter* writer, const BuslogFrame& frame, Frame* out) {
  TakeFrame(frame, out);
  out->number = ++writer->lastNumber;
  ++writer->added;
  int32_t channel = ChannelOf(&writer->channels, frame.interfaceName, frame.interfaceLength);
  out->channel = channel < 0 ? kNoChannel : static_cast<uint16_t>(channel);
  if (channel < 0 && !writer->channelsFullSaid) {
    writer->channelsFullSaid = true;
    Say(&writer->messages, BUSLOG_MESSAGE_WARNING, "frame %u: more than %u interfaces; the frames of further "
        "interfaces are not logged", out->number, kMaxChannels);
  }
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
  std::string problem = options == nullptr ? std::string("no options") : OptionsProblem(*options);
  if (!problem.empty()) {
    SetError(error, errorSize, problem);
    return BUSLOG_WRITER_BAD_ARGUMENT;
  }
  BuslogWriter* made = new (std::nothrow) BuslogWriter();
  if (made != nullptr) made->core.reset(new (std::nothrow) Core());
  if (made == nullptr || made->core == nullptr) {
    delete made;
    SetError(error, errorSize, "out of memory");
    return BUSLOG_WRITER_NO_MEMORY;
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
    bool taken = QueueFrame(&writer->queue, [writer, frame](Frame* out) { NumberFrame(writer, *frame, out); });
    return taken ? BUSLOG_WRITER_OK : BUSLOG_WRITER_CLOSED;
  }
  std::lock_guard<std::mutex> lock(writer->direct);
  if (writer->inputEnded) return BUSLOG_WRITER_CLOSED;
  Frame taken;
  NumberFrame(writer, *frame, &taken);
  PutFrame(core, taken);
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
    int32_t channel = ChannelOf(&writer->channels, interfaceName, interfaceLength);
    out->channel = channel < 0 ? kNoChannel : static_cast<uint16_t>(channel);
  };
  Core* core = writer->core.get();
  if (core->settings.mode == BUSLOG_WRITER_QUEUED) {
    return QueueFrame(&writer->queue, fill) ? BUSLOG_WRITER_OK : BUSLOG_WRITER_CLOSED;
  }
  std::lock_guard<std::mutex> lock(writer->direct);
  if (writer->inputEnded) return BUSLOG_WRITER_CLOSED;
  Frame drops;
  fill(&drops);
  PutFrame(core, drops);
  return BUSLOG_WRITER_OK;
}

int BuslogWriterFlush(BuslogWriter* writer, BuslogWriterReport* report) {
  if (writer == nullptr) return BUSLOG_WRITER_BAD_ARGUMENT;
  if (writer->core->settings.mode == BUSLOG_WRITER_QUEUED) {
    WaitUntilDone(&writer->queue, LastNumber(writer), -1);
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
  return WaitUntilDone(&writer->queue, LastNumber(writer), milliseconds) ? 1 : 0;
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
  SetError(why, whySize, std::string(text == nullptr ? "no size" : text) + ": give a size above 0, as 500k, 10M or 2G");
  return BUSLOG_WRITER_BAD_ARGUMENT;
}

const char* BuslogWriterVersion(void) { return kVersion; }

}  // extern "C"
