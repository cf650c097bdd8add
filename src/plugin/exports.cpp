// The nine exports. Each stores its result count on every call; Open,
// ShareMode and Write also hand out the address of their result cell. An
// export given fewer values than it needs adds nothing.
#include "buslog.h"

#include <cstring>

#include "format/fields.h"
#include "format/frame.h"
#include "plugin/module_state.h"

using namespace buslog;

namespace {

// The host's values are 32-bit words, not necessarily aligned.
uint32_t ValueAt(const void* data, uint32_t index) {
  uint32_t value;
  memcpy(&value, static_cast<const uint8_t*>(data) + 4 * index, sizeof value);
  return value;
}

}  // namespace

extern "C" {

void Open(uint32_t count, const void* data, int32_t* resultCount, void** resultPtr) {
  OpenLogFile(g_module.log, count, static_cast<const uint8_t*>(data));
  *resultPtr = &g_module.log.openResult;
  *resultCount = 1;
}

void Close(uint32_t, const void*, int32_t* resultCount) {
  CloseLogFile(g_module.log);
  // Hosts end every line with Write before Close; a line still pending here
  // must not open the next log file with stale bytes.
  DiscardLine(g_module.line);
  *resultCount = 0;
}

void ShareMode(uint32_t count, const void* data, int32_t* resultCount, void** resultPtr) {
  SetShareMode(g_module.log, count, data);
  *resultPtr = &g_module.log.shareModeResult;
  *resultCount = 1;
}

void PutString(uint32_t count, const void* data, int32_t* resultCount) {
  if (count > 0) AppendText(g_module.line, static_cast<const uint8_t*>(data), count);
  *resultCount = 0;
}

void Write(uint32_t, const void*, int32_t* resultCount, void** resultPtr) {
  WriteLine(g_module.line, g_module.log.handle);
  *resultPtr = &g_module.line.writeResult;
  *resultCount = 1;
}

void PutFrameId(uint32_t count, const void* data, int32_t* resultCount) {
  if (count >= 1) {
    TextSink sink = BeginField(g_module.line);
    FormatFrameNumber(sink, ValueAt(data, 0));
    EndField(g_module.line, sink);
  }
  *resultCount = 0;
}

void PutTimeStamp(uint32_t count, const void* data, int32_t* resultCount) {
  if (count >= 2) {
    TextSink sink = BeginField(g_module.line);
    FormatTimeStamp(sink, ValueAt(data, 0), ValueAt(data, 1));
    EndField(g_module.line, sink);
  }
  *resultCount = 0;
}

void PutError(uint32_t count, const void* data, int32_t* resultCount) {
  if (count >= 1) {
    TextSink sink = BeginField(g_module.line);
    FormatErrorCode(sink, ValueAt(data, 0));
    EndField(g_module.line, sink);
  }
  *resultCount = 0;
}

void PutFrame(uint32_t kindCode, uint32_t busCode, int32_t channel, int32_t statusFlag,
              uint32_t dataLength, const uint8_t* data, int32_t* resultCount) {
  const FrameRecord record = {kindCode, busCode, channel, statusFlag, dataLength, data};
  TextSink sink = BeginField(g_module.line);
  if (!FormatFrame(sink, record)) FormatGenericRecord(sink, record);
  EndField(g_module.line, sink);
  *resultCount = 0;
}

}  // extern "C"
