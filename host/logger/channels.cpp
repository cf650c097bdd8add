// The replay's channel table.
#include "logger/channels.h"

#include <cstring>

#include "platform/message.h"

namespace buslog_host {
namespace {

uint64_t NameKey(const char* name, size_t length) {
  uint64_t key = 0;
  for (size_t k = 0; k < length && k < 8; ++k) key = key << 8 | static_cast<unsigned char>(name[k]);
  return key;
}

}  // namespace

int32_t ChannelOf(ChannelTable* channels, const char* name, size_t length) {
  if (length > kMaxInterfaceName) return -1;
  // Names are compared by their first 8 bytes taken as one number, and
  // only longer names by the rest of their bytes.
  uint64_t key = NameKey(name, length);
  for (uint32_t i = 0; i < channels->count; ++i) {
    if (channels->keys[i] == key && channels->lengths[i] == length &&
        (length <= 8 || memcmp(channels->names[i] + 8, name + 8, length - 8) == 0)) {
      return static_cast<int32_t>(i);
    }
  }
  if (channels->count == kMaxChannels) return -1;
  uint32_t slot = channels->count++;
  memcpy(channels->names[slot], name, length);
  channels->keys[slot] = key;
  channels->lengths[slot] = static_cast<uint8_t>(length);
  return static_cast<int32_t>(slot);
}

void PrintChannels(const ChannelTable& channels) {
  for (uint32_t i = 0; i < channels.count; ++i) {
    Message("  %.*s -> channel %u\n", static_cast<int>(channels.lengths[i]), channels.names[i], i + 1);
  }
}

}  // namespace buslog_host
