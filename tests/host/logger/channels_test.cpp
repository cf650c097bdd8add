// The replay's channel table: numbered by first appearance, names compared
// whole even where their first 8 bytes agree, at most 256, at most 64
// bytes a name.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "logger/channels.h"

namespace buslog_host {
namespace {

TEST(ChannelsTest, NumberedByFirstAppearance) {
  struct Row {
    std::string name;
    int32_t channel;
  } rows[] = {
      {"can0", 0},
      {"can1", 1},
      {"can0", 0},
      {"vcan_long_0", 2},
      {"vcan_long_1", 3},  // same first 8 bytes as the one before
      {"vcan_lon", 4},     // those 8 bytes alone
      {"vcan_long_0", 2},
      {std::string(64, 'x'), 5},
      {std::string(64, 'x'), 5},
      {std::string(65, 'x'), -1},
      {"", 6},
  };
  auto table = std::make_unique<ChannelTable>();
  *table = ChannelTable{};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(ChannelOf(table.get(), row.name.data(), row.name.size()), row.channel);
  }
  EXPECT_EQ(table->count, 7u);
}

TEST(ChannelsTest, FullAt256) {
  auto table = std::make_unique<ChannelTable>();
  *table = ChannelTable{};
  for (int i = 0; i < 256; ++i) {
    std::string name = "can" + std::to_string(i);
    ASSERT_EQ(ChannelOf(table.get(), name.data(), name.size()), i);
  }
  EXPECT_EQ(ChannelOf(table.get(), "can999", 6), -1);
  EXPECT_EQ(ChannelOf(table.get(), "can255", 6), 255);
}

}  // namespace
}  // namespace buslog_host
