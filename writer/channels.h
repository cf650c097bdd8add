// The interfaces a writer met: each name gets a channel by its first
// appearance (the first is channel 0, shown as 1), up to 256. A frame
// without a name (null or empty) has a channel of its own too. Names are
// kept up to BUSLOG_WRITER_MAX_INTERFACE bytes; longer ones are cut there,
// and two names that agree that far share a channel.
#pragma once

#include <cstddef>
#include <cstdint>

#include "buslog_writer.h"

namespace buslog_writer {

constexpr uint32_t kMaxChannels = BUSLOG_WRITER_MAX_CHANNELS;
constexpr size_t kMaxInterfaceName = BUSLOG_WRITER_MAX_INTERFACE;

struct ChannelTable {
  uint32_t count;
  uint8_t lengths[kMaxChannels];
  uint64_t keys[kMaxChannels];  // the first 8 bytes of each name as one number
  char names[kMaxChannels][kMaxInterfaceName];
};

// The channel of the interface `name` (`length` bytes), numbered by first
// appearance; -1 when all 256 channels are taken.
int32_t ChannelOf(ChannelTable* channels, const char* name, size_t length);

// The text a channel marker gives channel `channel`'s name: its bytes with
// CR, LF and NUL (which would end the marker's line or text) as blanks.
// Writes at most kMaxInterfaceName bytes and a NUL into `out`; returns the
// length, 0 for a channel without a name.
size_t MarkerName(const ChannelTable& channels, uint32_t channel, char* out);

}  // namespace buslog_writer
