// Names of the files buslog writes.
#include "file_names.h"

#include <cstdio>
#include <cstring>

#include "platform/files.h"

namespace buslog_files {
namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace

bool JoinPath(char* out, size_t size, const char* a, const char* b) {
  int length = snprintf(out, size, "%s%s", a, b);
  return length >= 0 && static_cast<size_t>(length) < size;
}

bool UpThenDown(const char* below, bool (*isSeparator)(char), const char* up, const char* rest, char* out, size_t size,
                char* reason, size_t reasonSize) {
  size_t used = 0;
  size_t upLength = strlen(up);
  for (const char* p = below; *p != '\0'; ++p) {
    if (!isSeparator(*p)) continue;
    if (used + upLength >= size) {
      snprintf(reason, reasonSize, "the path is too long");
      return false;
    }
    memcpy(out + used, up, upLength);
    used += upLength;
  }
  int written = snprintf(out + used, size - used, "%s", rest);
  if (written < 0 || static_cast<size_t>(written) >= size - used) {
    snprintf(reason, reasonSize, "the path is too long");
    return false;
  }
  return true;
}

size_t NameStart(const std::string& path) {
  size_t i = path.size();
  while (i > 0 && !IsSeparator(path[i - 1])) --i;
  return i;
}

std::string NumberedName(const std::string& path, uint32_t number) {
  size_t name = NameStart(path);
  size_t dot = path.rfind('.');
  // A leading dot belongs to the name, not to an extension.
  if (dot == std::string::npos || dot <= name) dot = path.size();
  char counter[16];
  snprintf(counter, sizeof counter, "-%03u", number);
  return path.substr(0, dot) + counter + path.substr(dot);
}

bool FreeName(const char* name, char* out, size_t size) {
  std::string path = name;
  size_t start = NameStart(path);
  size_t dot = path.rfind('.');
  // A leading dot belongs to the name, not to an extension.
  if (dot == std::string::npos || dot <= start) dot = path.size();
  for (int n = 1; n < 1000; ++n) {
    int length;
    if (n == 1) {
      length = snprintf(out, size, "%s", name);
    } else {
      length = snprintf(out, size, "%.*s-%d%s", static_cast<int>(dot), name, n, name + dot);
    }
    if (length < 0 || static_cast<size_t>(length) >= size) return false;
    if (StateOfPath(out) == PathState::kMissing) return true;
  }
  return false;
}

}  // namespace buslog_files
