// Filters and triggers as the engine reads them, against candump's meaning
// (the kernel's can_id matching behind candump's filters): which frames a
// filter keeps, which problems a text has in words, the signals' values
// against a DBC reader's, and when a trigger fires.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "conditions.h"

namespace buslog_writer {
namespace {

struct TestFrame {
  char name;
  const char* interfaceName;
  uint8_t flags;
  uint32_t id;
  std::vector<uint8_t> data;
};

// One frame of each kind that candump's filters tell apart.
const std::vector<TestFrame>& Frames() {
  static const std::vector<TestFrame> frames = {
      {'A', "can0", 0, 0x123, {0x12, 0x34}},
      {'B', "can0", BUSLOG_FRAME_REMOTE, 0x123, {}},
      {'C', "can0", BUSLOG_FRAME_EXTENDED, 0x123, {0x55}},
      {'D', "can0", 0, 0x124, {0x12}},
      {'E', "can0", BUSLOG_FRAME_EXTENDED, 0x12345678, {}},
      {'F', "can0", 0, 0x400, {}},
      {'G', "can0", 0, 0x47F, {}},
      {'H', "can0", BUSLOG_FRAME_ERROR, 0x04, {0, 0, 0x04, 0, 0, 0, 0, 0}},  // controller problem
      {'I', "can0", BUSLOG_FRAME_ERROR, 0x40, {0, 0, 0, 0, 0, 0, 0, 0}},     // bus off
      {'J', "can0", BUSLOG_FRAME_FD, 0x123, {0x1F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {'K', "can1", 0, 0x123, {}},
      {'L', "can1", 0, 0x400, {}},
      {'M', "can1", BUSLOG_FRAME_ERROR, 0x04, {}},
  };
  return frames;
}

BuslogFrame Buslog(const TestFrame& frame) {
  BuslogFrame out = {};
  out.id = frame.id;
  out.flags = frame.flags;
  out.data = frame.data.data();
  out.dataLength = static_cast<uint32_t>(frame.data.size());
  out.interfaceName = frame.interfaceName;
  out.interfaceLength = static_cast<uint32_t>(strlen(frame.interfaceName));
  return out;
}

// The letters of the frames the filter keeps; an interface without a set
// is logged whole.
std::string Kept(const char* text) {
  ConditionSets sets;
  std::string why;
  if (!ParseConditions(text, SyntaxUse::kFilter, "filter", &sets, &why)) return "error: " + why;
  std::string kept;
  for (const TestFrame& frame : Frames()) {
    BuslogFrame buslog = Buslog(frame);
    const ConditionSet* set = SetFor(&sets, buslog.interfaceName, buslog.interfaceLength);
    if (set == nullptr || FilterKeeps(*set, ViewOf(buslog))) kept += frame.name;
  }
  return kept;
}

TEST(FilterTest, KeepsWhatCandumpKeeps) {
  struct Row {
    const char* filter;
    const char* kept;  // of ABCDEFGHIJ on can0 and KLM on can1
  } rows[] = {
      // candump's own examples
      {"123:7FF", "ABCJK"},            // "including EFF and RTR frames"
      {"123:C00007FF", "AJK"},         // "only SFF and non-RTR frames"
      {"12345678:DFFFFFFF", "E"},      // "only for extended CAN ID 12345678"
      {"0~0,#FFFFFFFF", "HIM"},        // "only error frames but no(!) data frames"
      {"0:0,#FFFFFFFF", "ABCDEFGHIJKLM"},
      {"123:7FF,400:700,#000000FF", "ABCFGHIJKLM"},
      {"400~7F0", "ABCDEGJK"},
      // masks and inversion
      {"400:700", "FGL"},
      {"123~7FF", "DEFGL"},
      {"123:FFFFFFFF", "AJK"},         // the error bit cleared, 11 bits compared
      {"00000123:1FFFFFFF", "ABCJK"},  // 8 digits, a mask without EFF: 29 bits compared
      {"0:80000000", "ABDFGJKL"},      // standard frames only
      {"80000000:80000000", "CE"},     // extended frames only (8 digits)
      {"0:40000000", "ACDEFGJKL"},     // no remote frames
      // error masks: an error frame is kept when its class has a bit of the mask
      {"#4", "ABCDEFGHJKLM"},
      {"#40", "ABCDEFGIJKL"},
      {"0~0,#FFFFFFFB", "I"},
      // j: every filter of the set
      {"j,123:7FF,0:C0000000", "AJK"},
      {"123:7FF,0:C0000000,j", "AJK"},
      {"J,123:7FF,100:700", "ABCJK"},
      {"j", "ABCDEFGJKL"},             // no identifier filter: every data frame, no error frame
      {"j,123:7FF,400:700", ""},
      {"j,123:7FF,#4", "ABCHJKM"},      // error frames go by their mask alone
      // bare identifiers and data
      {"123", "ABCJK"},
      {"12345678", "E"},
      {"123#10/F0", "AJ"},             // 12 under F0; B has no data, K none
      {"123#1234", "A"},
      {"123:7FF#12.34", "A"},
      {"123#1F", "J"},
      // sets per interface; an interface without a set is logged whole
      {"can0,123:7FF", "ABCJKLM"},
      {"can1,400:7FF", "ABCDEFGHIJL"},
      {"can0,123:7FF can1,0~0", "ABCJ"},
      {"can0,123:7FF any,400:700", "ABCJL"},
      {"400:700  can0,123:7FF", "ABCJL"},
      {"can0,123:7FF;can1,400:7FF", "ABCJL"},    // ';' between sets, for faces without blanks
      {"can0", "ABCDEFGJKLM"},          // a set without items: candump's default, no error frames
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.filter);
    EXPECT_EQ(Kept(row.filter), row.kept);
  }
}

std::string Problem(const char* text, SyntaxUse use, const char* label) {
  ConditionSets sets;
  std::string why;
  return ParseConditions(text, use, label, &sets, &why) ? std::string("(read)") : why;
}

TEST(FilterTest, ProblemsSayWhatIsAccepted) {
  struct Row {
    const char* text;
    SyntaxUse use;
    const char* why;
  } rows[] = {
      {"", SyntaxUse::kFilter, "filter: give at least one item, e.g. 123:7FF"},
      {"  ", SyntaxUse::kFilter, "filter: give at least one item, e.g. 123:7FF"},
      {"12Z:7FF", SyntaxUse::kFilter,
       "filter 12Z:7FF: 12Z is not an identifier: give 1 to 3 hex digits (up to 7FF), or 8 for an extended identifier"},
      {"1234", SyntaxUse::kFilter,
       "filter 1234: 1234 is not an identifier: give 1 to 3 hex digits (up to 7FF), or 8 for an extended identifier"},
      {"800", SyntaxUse::kFilter,
       "filter 800: 800 is not an identifier: give 1 to 3 hex digits (up to 7FF), or 8 for an extended identifier"},
      {"123:", SyntaxUse::kFilter, "filter 123:: the mask after the identifier must be 1 to 8 hex digits"},
      {"123:1FFFFFFFF", SyntaxUse::kFilter,
       "filter 123:1FFFFFFFF: the mask after the identifier must be 1 to 8 hex digits"},
      {"20000123:7FF", SyntaxUse::kFilter, "filter 20000123:7FF: bit 20000000 of an identifier is the kernel's "
                                           "inversion flag; write <id>~<mask> instead"},
      {"123,,456", SyntaxUse::kFilter, "filter: an empty item (two commas, or one at an end)"},
      {"123,", SyntaxUse::kFilter, "filter: an empty item (two commas, or one at an end)"},
      {"#", SyntaxUse::kFilter, "filter #: the error mask after # must be 1 to 8 hex digits"},
      {"#4,#8", SyntaxUse::kFilter, "filter #8: a set takes one error mask"},
      {"123:7FF 456:7FF", SyntaxUse::kFilter, "filter 456:7FF: a second set for every interface: separate items "
                                              "with commas (blanks separate the sets of different interfaces)"},
      {"can0,1 can0,2", SyntaxUse::kFilter, "filter can0,2: a second set for interface can0"},
      {"can0,vcan1", SyntaxUse::kFilter,
       "filter vcan1: vcan1 is not an identifier: give 1 to 3 hex digits (up to 7FF), or 8 for an extended identifier"},
      {"123~7FF#11", SyntaxUse::kFilter,
       "filter 123~7FF#11: a condition on the data takes <id> or <id>:<mask> before the #, not ~"},
      {"123#1", SyntaxUse::kFilter,
       "filter 123#1: the data after # must be 1 to 64 bytes of two hex digits each, e.g. 0210 or 02.10"},
      {"123#1122/FF", SyntaxUse::kFilter, "filter 123#1122/FF: the mask after / must have as many bytes as the data (2)"},
      {"123#11x", SyntaxUse::kFilter, "filter 123#11x: unexpected x after the data"},
      {"3E9#16|16@1+>100", SyntaxUse::kFilter, "filter 3E9#16|16@1+>100: a signal comparison belongs to a trigger, "
                                               "not a filter"},
      {"can0", SyntaxUse::kTrigger, "trigger can0: a trigger set needs an item that fires, e.g. 7E0"},
      {"j", SyntaxUse::kTrigger, "trigger j: a trigger set needs an item that fires, e.g. 7E0"},
      {"3E9#16|16@2+>1", SyntaxUse::kTrigger,
       "trigger 3E9#16|16@2+>1: a signal is START|LENGTH@ORDER SIGN, e.g. 16|16@1+ (@1 Intel, @0 Motorola; + "
       "unsigned, - signed), then *FACTOR, +OFFSET or -OFFSET, a comparison (< <= > >= == !=) and a number"},
      {"3E9#0|65@1+>1", SyntaxUse::kTrigger,
       "trigger 3E9#0|65@1+>1: a signal is START|LENGTH@ORDER SIGN, e.g. 16|16@1+ (@1 Intel, @0 Motorola; + "
       "unsigned, - signed), then *FACTOR, +OFFSET or -OFFSET, a comparison (< <= > >= == !=) and a number"},
      {"3E9#16|16@1+*x>1", SyntaxUse::kTrigger, "trigger 3E9#16|16@1+*x>1: the factor after * must be a number, e.g. 0.01"},
      {"3E9#16|16@1+-x>1", SyntaxUse::kTrigger,
       "trigger 3E9#16|16@1+-x>1: the offset must be a number after + or -, e.g. -40"},
      {"3E9#16|16@1+", SyntaxUse::kTrigger,
       "trigger 3E9#16|16@1+: a comparison (< <= > >= == !=) and a threshold must follow the signal"},
      {"3E9#16|16@1+>", SyntaxUse::kTrigger, "trigger 3E9#16|16@1+>: the threshold must be a number, e.g. 100 or -12.5"},
      {"3E9#16|16@1+>1e3", SyntaxUse::kTrigger,
       "trigger 3E9#16|16@1+>1e3: the threshold must be a number, e.g. 100 or -12.5"},
      {"3E9#504|16@1+>1", SyntaxUse::kTrigger, "trigger 3E9#504|16@1+>1: the signal's bits go past the 64th data byte"},
      {"3E9#7|16@0+>1", SyntaxUse::kTrigger, "(read)"},
      {"3E9#503|16@0+>1", SyntaxUse::kTrigger, "(read)"},  // bytes 62 and 63
      {"3E9#511|16@0+>1", SyntaxUse::kTrigger, "trigger 3E9#511|16@0+>1: the signal's bits go past the 64th data byte"},
      {"can0,3E9#16|16@1-*0.5-40<=-10.25,7E0#0210/FFF0,#1,j", SyntaxUse::kTrigger, "(read)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(Problem(row.text, row.use, row.use == SyntaxUse::kFilter ? "filter" : "trigger"), row.why);
  }
}

TEST(FilterTest, TextForTheMarker) {
  ConditionSets sets;
  std::string why;
  ASSERT_TRUE(ParseConditions("  can0,123:7FF \t any,#4  ", SyntaxUse::kFilter, "filter", &sets, &why));
  EXPECT_EQ(sets.text, "can0,123:7FF any,#4");
  EXPECT_EQ(sets.sets.size(), 2u);
  EXPECT_EQ(sets.anySet, 1);
}

// The values a DBC reader (canmatrix 0.9.5) gives these signals in the data
// 12 34 56 78 9A BC DE F0.
TEST(SignalTest, ValuesAsADbcReaderGivesThem) {
  struct Row {
    const char* item;
    double value;
  } rows[] = {
      {"100#0|8@1+>0", 18},
      {"100#16|16@1+*0.01>0", 308.06},
      {"100#7|16@0+>0", 4660},
      {"100#7|8@0-*0.5-40>0", -31},
      {"100#12|12@1->0", 1379},
      {"100#3|4@0+>0", 2},
      {"100#39|24@0->0", -6636322},
      {"100#0|64@1+>0", 17356517385562371090.0},
      {"100#60|4@1+>0", 15},
      {"100#2|12@0+>0", 1128},
      // signed: the top bit set
      {"100#32|8@1->0", -102},
      {"100#56|8@1-+1>0", -15},
      {"100#0|64@1->0", -1090226688147180526.0},
  };
  const uint8_t data[8] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.item);
    ConditionSets sets;
    std::string why;
    ASSERT_TRUE(ParseConditions(row.item, SyntaxUse::kTrigger, "trigger", &sets, &why)) << why;
    double value = 0;
    ASSERT_TRUE(SignalValue(sets.sets[0].conditions[0].signal, data, sizeof data, &value));
    EXPECT_DOUBLE_EQ(value, row.value);
  }
}

TEST(SignalTest, DataTooShortHasNoValue) {
  ConditionSets sets;
  std::string why;
  ASSERT_TRUE(ParseConditions("100#7|16@0+>0", SyntaxUse::kTrigger, "trigger", &sets, &why));
  const uint8_t data[1] = {0x12};
  double value;
  EXPECT_FALSE(SignalValue(sets.sets[0].conditions[0].signal, data, 1, &value));
}

// A signal fires where its comparison begins to hold; identifiers and data
// fire at every frame they match.
TEST(TriggerTest, FiresWhereTheConditionBeginsToHold) {
  struct Row {
    const char* trigger;
    std::vector<std::pair<uint32_t, uint8_t>> frames;  // identifier, first data byte
    const char* fires;                                  // a digit a frame: 1 fired
  } rows[] = {
      {"3E9#0|8@1+>100", {{0x3E9, 90}, {0x3E9, 101}, {0x3E9, 120}, {0x3E9, 99}, {0x3E9, 130}}, "01001"},
      {"3E9#0|8@1+>100", {{0x3E9, 120}, {0x3E9, 120}}, "10"},               // holds at the first frame
      {"3E9#0|8@1+>100", {{0x3E9, 90}, {0x100, 200}, {0x3E9, 110}}, "001"},  // other identifiers do not count
      {"3E9#0|8@1+==1", {{0x3E9, 1}, {0x3E9, 0}, {0x3E9, 1}}, "101"},
      {"3E9#0|8@1+!=0", {{0x3E9, 0}, {0x3E9, 3}, {0x3E9, 4}}, "010"},
      {"3E9#0|8@1+<=10", {{0x3E9, 11}, {0x3E9, 10}, {0x3E9, 9}}, "010"},
      {"3E9#0|8@1+>=10", {{0x3E9, 9}, {0x3E9, 10}}, "01"},
      {"3E9#0|8@1+<10", {{0x3E9, 9}, {0x3E9, 10}, {0x3E9, 1}}, "101"},
      {"7E0", {{0x7E0, 1}, {0x7E0, 2}, {0x7E8, 3}}, "110"},
      {"7E0#02/0F", {{0x7E0, 0x12}, {0x7E0, 0x13}, {0x7E0, 0xF2}}, "101"},
      {"7E0,3E9#0|8@1+>100", {{0x7E0, 0}, {0x3E9, 200}, {0x3E9, 200}}, "110"},
      {"j,3E9,3E9#0|8@1+>100", {{0x3E9, 1}, {0x3E9, 200}, {0x3E9, 200}}, "010"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.trigger);
    ConditionSets sets;
    std::string why;
    ASSERT_TRUE(ParseConditions(row.trigger, SyntaxUse::kTrigger, "trigger", &sets, &why)) << why;
    std::string fires;
    for (const auto& frame : row.frames) {
      BuslogFrame buslog = {};
      uint8_t data[8] = {frame.second};
      buslog.id = frame.first;
      buslog.data = data;
      buslog.dataLength = 8;
      fires += TriggerFires(&sets.sets[0], ViewOf(buslog)) ? '1' : '0';
    }
    EXPECT_EQ(fires, row.fires);
  }
}

TEST(TriggerTest, ErrorFramesFireOnlyByTheirMask) {
  ConditionSets sets;
  std::string why;
  ASSERT_TRUE(ParseConditions("7A0,#40", SyntaxUse::kTrigger, "trigger", &sets, &why));
  BuslogFrame busOff = {};
  busOff.flags = BUSLOG_FRAME_ERROR;
  busOff.id = 0x40;
  BuslogFrame other = busOff;
  other.id = 0x7A0;  // an error class without the bit, that looks like an identifier
  EXPECT_TRUE(TriggerFires(&sets.sets[0], ViewOf(busOff)));
  EXPECT_FALSE(TriggerFires(&sets.sets[0], ViewOf(other)));
}

}  // namespace
}  // namespace buslog_writer
