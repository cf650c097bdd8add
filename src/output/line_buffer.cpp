// The pending line and Write.
#include "output/line_buffer.h"

namespace buslog {

void AppendText(LineBuffer& line, const uint8_t* text, uint32_t count) {
  TextSink sink = BeginField(line);
  PutBytes(sink, text, count);
  EndField(line, sink);
}

void WriteLine(LineBuffer& line, FileHandle file) {
  line.writeResult = 0;
  line.bytes[line.length] = '\r';
  line.bytes[line.length + 1] = '\n';
  bool written = file != kNoFile && PlatformWriteAll(file, line.bytes, line.length + 2);
  // The line is gone either way: a line that could not be written is not
  // carried into the next one.
  line.length = 0;
  if (!written) line.writeResult = 1;
}

void DiscardLine(LineBuffer& line) {
  line.length = 0;
  line.bytes[0] = '\0';
}

}  // namespace buslog
