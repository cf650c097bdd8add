// The marker lines buslog-host writes into every log file (rotated files and
// the files a time jump begins too), so that the log says when and what:
//
//   000000000,+0.000000,M,Marker  , -,OK,buslog start 2023-11-14T22:13:20.001000Z
//   000000000,+0.000000,M,Marker  , -,OK,buslog writer buslog-host 0.2.0
//   000000000,+0.004000,M,Marker  , -,OK,buslog channel 1 can0
//   000000001,+0.004000,I,CAN     , 1,OK,0,1,23,2,AA,BB
//
// - start: the first line of the file, the UTC time of the file's first
//   frame, which its +0.000000 means;
// - writer: the second line, this program and its version;
// - channel N: before channel N's first frame in the file, with that frame's
//   time stamp, naming its candump interface.
// Each is one line of its own, PutFrameId(0), PutTimeStamp, PutFrame with a
// marker record, written as frames are (in the batch, batch.h): a marker
// line counts as written only when its Write succeeded, and it never counts
// as a frame (frame numbers count frames only, from 1). --no-markers leaves
// them out.
// reader/log_reader.h (rule 14) says how readers take them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "buslog.h"
#include "logger/batch.h"
#include "logger/frame_time.h"

namespace buslog_host {

// The longest marker text the host writes: "buslog channel 256 " and an
// interface name of at most 64 bytes.
constexpr size_t kMaxMarkerText = 96;

// "buslog start 2023-11-14T22:13:20.001000Z" for the file's first frame;
// false for a time past the year 9999, which the marker cannot show.
bool StartMarkerText(const FrameTime& first, char* out, size_t size);
// "buslog writer buslog-host <version>".
void WriterMarkerText(char* out, size_t size);
// "buslog channel <channel + 1> <name>".
void ChannelMarkerText(int32_t channel, const char* name, size_t length, char* out, size_t size);

// The marker line of `text` at `since` (frame number 0, kind M, bus 0: a
// channel of "-"), with its exact length, as a line that is no frame
// (LineKind::kOther). Its record goes into `record` (`size` bytes, at least
// BUSLOG_MARKER_RECORD_SIZE(strlen(text))), which must stay as it is until
// the line is added to a batch.
LogLine MarkerLine(const Elapsed& since, const char* text, uint8_t* record, size_t size);

}  // namespace buslog_host
