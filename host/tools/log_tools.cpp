// What convert and stats share: the input, the output.
#include "tools/log_tools.h"

#include <cerrno>
#include <cstring>

#include "platform/message.h"
#include "platform/system.h"

namespace buslog_host {

void BeginOutput(Output* output, FILE* file) {
  output->file = file;
  output->used = 0;
  output->failed = false;
}

void FlushOutput(Output* output) {
  if (output->used > 0 && !output->failed && fwrite(output->data, 1, output->used, output->file) != output->used) {
    output->failed = true;
  }
  output->used = 0;
}

char* WriteUnsigned(char* out, uint64_t value) {
  char digits[20];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) *out++ = digits[--count];
  return out;
}

FILE* OpenLogForReading(const char* path) {
  FILE* file = fopen(path, "rb");
  if (file == nullptr) Message("buslog-host: %s: %s\n", path, strerror(errno));
  return file;
}

FILE* OpenOutput(const char* path, bool overwrite, FILE* input, const char* inputPath) {
  if (path == nullptr) {
    SetBinaryMode(stdout);
    return stdout;
  }
  if (StateOfPath(path) != PathState::kMissing) {
    FileIdentity outputIdentity, inputIdentity;
    if (IdentityOfPath(path, &outputIdentity) && IdentityOfFile(input, &inputIdentity) &&
        SameFile(outputIdentity, inputIdentity)) {
      Message("buslog-host: %s is the input %s; not writing onto it\n", path, inputPath);
      return nullptr;
    }
    if (!overwrite) {
      Message("buslog-host: %s exists; give --overwrite to replace it\n", path);
      return nullptr;
    }
  }
  FILE* file = CreateOutputFile(path, overwrite);
  if (file == nullptr) Message("buslog-host: cannot create %s: %s\n", path, strerror(errno));
  return file;
}

}  // namespace buslog_host
