// libFuzzer target over the call-script parser: any bytes as a script, run
// line by line through RunScriptLine against the module's own objects
// linked in (with no base directory, so Open refuses and nothing reaches
// the disk, while every other export does its full work on what the parser
// hands it). Each line is run from a copy of exactly its length, so
// AddressSanitizer sees any read past it. Traps when a message is not a
// terminated text within its buffer, or the counters disagree.
#include <string.h>

#include <cstdint>
#include <memory>

#include "buslog.h"
#include "plugin/module_state.h"
#include "script/script.h"

namespace {

using namespace buslog_host;

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

const BuslogApi kModule = {Open, Close, PutError, PutFrame, PutFrameId, PutString, PutTimeStamp, ShareMode, Write};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  buslog::ResetModule();  // no base directory: no Open succeeds
  static ScriptState state;
  state = ScriptState{};
  const char* text = reinterpret_cast<const char*>(bytes);
  const char* end = text + size;
  while (text < end) {
    const char* newline = static_cast<const char*>(memchr(text, '\n', static_cast<size_t>(end - text)));
    size_t length = static_cast<size_t>((newline != nullptr ? newline : end) - text);
    std::unique_ptr<char[]> line(new char[length > 0 ? length : 1]);
    if (length > 0) memcpy(line.get(), text, length);

    // A guard byte after the message buffer must stay as it is.
    char message[257];
    message[256] = 0x5A;
    memset(message, 0x7F, 256);
    uint64_t writesBefore = state.linesWritten + state.writeFailures;
    ScriptStatus status = RunScriptLine(kModule, line.get(), length, &state, message, 256);
    Check(message[256] == 0x5A);
    if (status == ScriptStatus::kMalformed || status == ScriptStatus::kExpectationFailed) {
      Check(memchr(message, '\0', 256) != nullptr);
    }
    Check(state.linesWritten + state.writeFailures - writesBefore <= 1);
    Check(state.linesWritten == 0);  // no log can be open
    Check(state.expectedWriteFailures <= state.writeFailures);
    Check(!state.haveOpen || state.openResult != 0);  // 1 for an empty name, else 2
    text += length + (newline != nullptr ? 1 : 0);
  }
  return 0;
}
