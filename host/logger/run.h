// The logger's run: everything one replay or recording knows, in one
// struct that RunLogger owns and hands to each step of the replay loop.
#pragma once

#include <cstdint>

#include "buslog.h"
#include "logger/batch.h"
#include "logger/channels.h"
#include "logger/frame_time.h"
#include "logger/live_input.h"
#include "logger/log_files.h"
#include "logger/log_frame.h"
#include "logger/logger.h"
#include "logger/rotation.h"

namespace buslog_host {

struct ReplayTotals {
  uint64_t linesRead;
  uint64_t framesRead;
  uint64_t written;  // lines the module wrote (frames and other lines)
  uint64_t dataFrames, remoteFrames, fdFrames, errorFrames;  // frames logged, by kind
  uint64_t readData, readRemote, readFd, readErrorFrames;  // frames read, by kind
  uint64_t otherLines;      // lines written that are no frame (markers)
  uint64_t malformed;       // lines skipped as not a frame
  uint64_t tooLong;         // of those, lines too long to be a frame
  uint64_t tooManyChannels; // frames skipped: more interfaces than channels
  uint64_t timeWentBack;    // frames earlier than their file's first (stamped 0)
  uint64_t timeJumps;       // frames that began a new file with a new time base
  uint64_t writeFailures;   // lines whose Write failed
  uint64_t framesFailed;    // of them frames
  uint64_t notLogged;       // frames read but left at a second stop or a failed rotation
  int stops;                // stop requests seen
  bool stoppedEarly;        // strict mode met a malformed line
  bool logFailed;           // a rotation could not open the next log
  bool readError;
};

struct LoggerRun {
  const BuslogApi* api;
  const LoggerRequest* request;  // what the user asked for
  const char* traceName;         // "standard input" or the path
  uint64_t inputSize;            // bytes, 0 when not known (live input)
  bool progress;                 // show a progress line on standard error
  bool progressInPlace;          // rewrite it in place (standard error is a terminal)

  LogSet logs;                   // the log files, the open one last
  ChannelTable channels;         // interfaces met, for the channels and the summary

  // The open file.
  bool fileHasFrame;             // a frame went into it
  FrameTime fileFirst;           // its first frame's time stamp
  FrameTime fileLatest;          // its latest frame's time stamp
  bool fileMarked;               // its start marker is written (or cannot be)
  bool writerMarked;             // its writer marker is written
  bool channelMarked[kMaxChannels];  // its channel marker is written
  uint64_t writtenBefore;        // lines written into earlier files
  RotationState rotation;

  uint32_t frameNumber;          // the last PutFrameId, continued across files
  uint64_t warnings;             // malformed lines and channel faults said or counted
  bool screenFormatSaid;         // candump's screen format met, and what to do said
  ReplayTotals totals;
  LiveStats live;                // live input only
  LineBatch batch;               // the lines at hand, written with one Write
  CandumpFrame batchFrames[kBatchLines];  // the batch's frames, to try again one by one
  LiveQueue* queue;              // live input, or null
  Keeping keep;                  // the storage's failures, and what is missing
};

}  // namespace buslog_host
