// The replay's channel table: each interface name gets a channel number by
// its first appearance (the first is 0), up to the module's 256 channels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "candump.h"

namespace buslog_host {

constexpr uint32_t kMaxChannels = 256;

struct ChannelTable {
  uint32_t count;
  uint8_t lengths[kMaxChannels];
  uint64_t keys[kMaxChannels];  // the first 8 bytes of each name as one number
  char names[kMaxChannels][kMaxInterfaceName];
};

// The channel of the interface `name` (`length` bytes), numbered by first
// appearance; -1 when the table is full or the name is longer than
// kMaxInterfaceName.
int32_t ChannelOf(ChannelTable* channels, const char* name, size_t length);

// Says "  can0 -> channel 1" on standard error for each interface met, in
// channel order.
void PrintChannels(const ChannelTable& channels);

}  // namespace buslog_host
