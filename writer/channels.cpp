// The interfaces' channels.
#include "channels.h"

#include <cstring>

namespace buslog_writer {
namespace {

uint64_t NameKey(const char* name, size_t length) {
  uint64_t key = 0;
  for (size_t k = 0; k < length && k < 8; ++k) key = key << 8 | static_cast<unsigned char>(name[k]);
  return key;
}

// The length of `name` cut to kMaxInterfaceName bytes, not inside a UTF-8
// character.
size_t KeptLength(const char* name, size_t length) {
  if (length <= kMaxInterfaceName) return length;
  size_t kept = kMaxInterfaceName;
  while (kept > 0 && (static_cast<unsigned char>(name[kept]) & 0xC0) == 0x80) --kept;
  return kept;
}

}  // namespace

int32_t ChannelOf(ChannelTable* channels, const char* name, size_t length) {
  if (name == nullptr) length = 0;
  length = KeptLength(name, length);
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
  if (length > 0) memcpy(channels->names[slot], name, length);
  channels->keys[slot] = key;
  channels->lengths[slot] = static_cast<uint8_t>(length);
  return static_cast<int32_t>(slot);
}

size_t MarkerName(const ChannelTable& channels, uint32_t channel, char* out) {
  size_t length = channels.lengths[channel];
  for (size_t i = 0; i < length; ++i) {
    char c = channels.names[channel][i];
    out[i] = c == '\r' || c == '\n' || c == '\0' ? ' ' : c;
  }
  out[length] = '\0';
  return length;
}

}  // namespace buslog_writer
