// What convert and stats share: the input, the output.
#include "tools/log_tools.h"

#include <cerrno>
#include <cstring>

#include "platform/message.h"
#include "platform/system.h"

namespace buslog_host {

void BeginOutput(Output* output, const char* path, bool overwrite) {
  output->file = nullptr;
  output->path = path;
  output->overwrite = overwrite;
  output->used = 0;
  output->failed = false;
  output->error = 0;
  output->createFailed = false;
  output->written = 0;
  output->wholeLines = 0;
  output->cutBack = false;
  output->holding = false;
  output->held.clear();
  if (path == nullptr) {
    SetBinaryMode(stdout);
    // Unbuffered, as a file output: each block is one write.
    setvbuf(stdout, nullptr, _IONBF, 0);
    output->file = stdout;
  }
}

namespace {

bool Create(Output* output) {
  if (output->file != nullptr) return true;
  output->file = CreateOutputFile(output->path, output->overwrite);
  if (output->file == nullptr) {
    output->failed = output->createFailed = true;
    output->error = errno;
    return false;
  }
  // Unbuffered: each block is one write, so that a failed one is known at
  // once and the file can be cut back to its last whole line.
  setvbuf(output->file, nullptr, _IONBF, 0);
  return true;
}

void WriteBytes(Output* output, const char* bytes, size_t count) {
  if (count == 0 || output->failed || !Create(output)) return;
  ClearSystemError();
  size_t done = fwrite(bytes, 1, count, output->file);
  int error = LastSystemError();
  for (size_t i = done; i > 0; --i) {
    if (bytes[i - 1] == '\n') {
      output->wholeLines = output->written + i;
      break;
    }
  }
  output->written += done;
  if (done == count) return;
  output->failed = true;
  output->error = error;
  // A file is cut back to its last whole line (standard output too, when
  // it was sent to a file); a pipe cannot be.
  if (output->written != output->wholeLines) {
    output->cutBack = output->path != nullptr ? TruncateFile(output->file, output->wholeLines)
                                              : CutBackFile(output->file, output->written - output->wholeLines);
  } else {
    output->cutBack = true;
  }
}

}  // namespace

void FlushOutput(Output* output) {
  if (output->holding) {
    if (output->held.size() <= kMaxHeldOutput) output->held.append(output->data, output->used);
  } else {
    WriteBytes(output, output->data, output->used);
  }
  output->used = 0;
}

void ReleaseOutput(Output* output) {
  if (!output->holding) return;
  output->holding = false;
  WriteBytes(output, output->held.data(), output->held.size());
  output->held.clear();
  output->held.shrink_to_fit();
}

bool FinishOutput(Output* output) {
  FlushOutput(output);
  ReleaseOutput(output);
  if (!output->failed) Create(output);
  if (output->file != nullptr && !output->failed) {
    ClearSystemError();
    if (fflush(output->file) != 0 || ferror(output->file)) {
      output->failed = true;
      output->error = LastSystemError();
    }
  }
  ClearSystemError();
  if (output->file != nullptr && output->file != stdout && fclose(output->file) != 0 && !output->failed) {
    output->failed = true;
    output->error = LastSystemError();
  }
  output->file = nullptr;
  return !output->failed;
}

void SayOutputFailure(const Output& output) {
  const char* name = output.path != nullptr ? output.path : "standard output";
  if (!output.failed) return;
  if (output.createFailed) {
    Message("buslog-host: cannot create %s: %s\n", name, strerror(output.error));
    return;
  }
  char reason[256];
  SystemErrorText(output.error, reason, sizeof reason);
  if (output.cutBack) {
    Message("buslog-host: %s: write error: %s; it holds the %llu bytes of whole lines written before\n", name,
            reason, static_cast<unsigned long long>(output.wholeLines));
  } else {
    Message("buslog-host: %s: write error: %s; its last line may be cut\n", name, reason);
  }
}

void DiscardOutput(Output* output) {
  output->used = 0;
  output->held.clear();
  if (output->file != nullptr && output->file != stdout) {
    fclose(output->file);
    RemoveFile(output->path);
  }
  output->file = nullptr;
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

bool CheckOutput(const char* path, bool overwrite, const std::vector<FILE*>& inputs,
                 const std::vector<const char*>& inputPaths) {
  if (path == nullptr) return true;
  PathState state = StateOfPath(path);
  if (state == PathState::kFolder) {
    Message("buslog-host: %s is a folder; --output names the file to write\n", path);
    return false;
  }
  if (state == PathState::kMissing) return true;
  FileIdentity outputIdentity;
  if (IdentityOfPath(path, &outputIdentity)) {
    for (size_t i = 0; i < inputs.size(); ++i) {
      FileIdentity inputIdentity;
      if (IdentityOfFile(inputs[i], &inputIdentity) && SameFile(outputIdentity, inputIdentity)) {
        Message("buslog-host: %s is the input %s; not writing onto it\n", path, inputPaths[i]);
        return false;
      }
    }
  }
  if (!overwrite) {
    Message("buslog-host: %s exists; give --overwrite to replace it\n", path);
    return false;
  }
  return true;
}

}  // namespace buslog_host
