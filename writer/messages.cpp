// The engine's messages.
#include "messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace buslog_writer {
namespace {

constexpr size_t kMaxWaiting = 256;

}  // namespace

void Say(Messages* messages, int level, const char* format, ...) {
  char text[4096 + 512];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  std::lock_guard<std::mutex> lock(messages->mutex);
  if (messages->waiting.size() == kMaxWaiting) {
    messages->waiting.pop_front();
    ++messages->dropped;
  }
  messages->waiting.emplace_back(level, text);
}

int TakeMessage(Messages* messages, char* text, size_t size) {
  std::lock_guard<std::mutex> lock(messages->mutex);
  if (messages->waiting.empty()) return 0;
  const std::pair<int, std::string>& oldest = messages->waiting.front();
  int level = oldest.first;
  if (size > 0) snprintf(text, size, "%s", oldest.second.c_str());
  messages->waiting.pop_front();
  return level;
}

}  // namespace buslog_writer
