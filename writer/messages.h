// What the engine says to the user: the faces take the messages out and
// show them their way (buslog-host on standard error, the python writer as
// warnings). The engine's threads put them in; any thread takes them.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "buslog_writer.h"
#include "printf_like.h"

namespace buslog_writer {

struct Messages {
  std::mutex mutex;
  std::deque<std::pair<int, std::string>> waiting;  // level, text
  uint64_t dropped;  // messages that did not fit
};

// Adds a message of `level` (BUSLOG_MESSAGE_*), formatted as printf does;
// the oldest goes when 256 wait.
void Say(Messages* messages, int level, const char* format, ...) BUSLOG_PRINTF_LIKE(3, 4);

// Takes the oldest message into `text` (`size` bytes, zero-terminated);
// returns its level, or 0 when none waits.
int TakeMessage(Messages* messages, char* text, size_t size);

}  // namespace buslog_writer
