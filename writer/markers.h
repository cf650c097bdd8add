// The marker lines' texts. Every file the engine writes begins with
//
//   000000000,+0.000000,M,Marker  , -,OK,buslog start 2023-11-14T22:13:20.001000Z
//   000000000,+0.000000,M,Marker  , -,OK,buslog writer buslog-host 0.1.0
//   000000000,+0.004000,M,Marker  , -,OK,buslog channel 1 can0
//   000000001,+0.004000,I,CAN     , 1,OK,0,1,23,2,AA,BB
//
// - start: what +0.000000 means from here on: the UTC time of the frame that
//   began the time base (time_base.h), the file's first line; a later one
//   begins a new base in the same file. For a source whose times are its
//   own clock, not a date (before BUSLOG_WRITER_FIRST_DATE), "buslog start
//   relative 12.345678": seconds on that clock, no date;
// - writer: the second line, the program and its version;
// - channel N NAME: before channel N's first frame in the file, with that
//   frame's time stamp, naming its interface.
// reader/log_reader.h (rule 14) says how readers take them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame.h"

namespace buslog_writer {

// Room for the longest marker text: a record's words or a channel's name
// (255 bytes each) and what goes before them.
constexpr size_t kMaxMarkerText = 512;

// The start marker of a base at `time`; false for a time past the year
// 9999, which a start marker cannot show (the base then has none).
bool StartMarkerText(const FrameTime& time, char* out, size_t size);
// True when `time` is on a source's own clock, not a date.
bool RelativeTime(const FrameTime& time);
// "buslog writer <program and version>".
void WriterMarkerText(const char* writer, char* out, size_t size);
// "buslog channel <channel + 1> <name>".
void ChannelMarkerText(uint32_t channel, const char* name, char* out, size_t size);

}  // namespace buslog_writer
