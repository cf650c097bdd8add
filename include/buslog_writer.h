/*
 * buslog_writer.h: the logging engine, for hosts in C99, C++ or any language
 * that can call C (Python through ctypes). A host hands it CAN frames with
 * their absolute times and interface names; the engine turns them into log
 * lines through the buslog module's nine exports and owns everything in
 * between, once for every host:
 *   - frame numbers (from 1, without gaps: a frame that cannot be logged
 *     keeps its number and is named as lost), channels numbered by each
 *     interface's first appearance, and the interfaces' names;
 *   - the time base: every line's time since the latest `buslog start`
 *     marker, a new one begun before the time field would lose a digit and
 *     at a time jump, so that times keep microseconds;
 *   - the marker lines (start, writer, interfaces);
 *   - group commit: the lines at hand go to the module with one Write;
 *   - the log files: names, no file replaced unless asked, rotation by size
 *     and age, a ring of the newest files;
 *   - the storage's failures: said once with the system's reason, tried
 *     again, a new file where the open one cannot go on (a file-size limit,
 *     a log deleted or renamed under the writer), the frames given up;
 *   - the counts, and the list of frames that could not be logged and why;
 *   - filters and triggers: which frames are logged (candump's filter
 *     syntax), and the windows around trigger frames, with the frames
 *     before a trigger held in memory until it comes.
 *
 *   BuslogWriterOptions options;
 *   BuslogWriter* writer;
 *   char error[512];
 *   BuslogWriterDefaults(&options);
 *   options.output = "run.buslog";
 *   options.writer = "my-tool 1.0";
 *   if (BuslogWriterOpen(&options, &writer, error, sizeof error) != BUSLOG_WRITER_OK) {
 *     fprintf(stderr, "%s\n", error);       // "run.buslog exists; ..."
 *     return 1;
 *   }
 *   for (each frame) BuslogWriterAdd(writer, &frame);
 *   BuslogWriterReport report;
 *   if (BuslogWriterClose(writer, &report) != BUSLOG_WRITER_OK) fprintf(stderr, "%s\n", report.text);
 *   BuslogWriterFree(writer);
 *
 * Every function returns a code (below) and hands results back through
 * pointers; none throws, none keeps a pointer into the caller's data after
 * it returns, and writers share nothing: several may log at once in one
 * process, each with its own instance of the module (the engine loads a
 * private copy of the module file for each writer after the first).
 * BuslogWriterAdd may be called from several threads; every other
 * function of one writer from one thread at a time (BuslogWriterAbandon
 * and BuslogWriterGetCounts from any).
 */
#ifndef BUSLOG_WRITER_H
#define BUSLOG_WRITER_H

#include <stddef.h>
#include <stdint.h>

#include "buslog.h"

#if defined(BUSLOG_WRITER_BUILDING) && !defined(_WIN32)
#define BUSLOG_WRITER_API __attribute__((visibility("default")))
#else
#define BUSLOG_WRITER_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results. */
enum {
  BUSLOG_WRITER_OK = 0,
  BUSLOG_WRITER_BAD_ARGUMENT = 1, /* an option or a frame the log cannot take; nothing was done */
  BUSLOG_WRITER_NO_MODULE = 2,    /* the module could not be found or loaded */
  BUSLOG_WRITER_NO_LOG = 3,       /* the first log could not be opened */
  BUSLOG_WRITER_LOST = 4,         /* frames were lost since the last report: see the report */
  BUSLOG_WRITER_GAVE_UP = 5,      /* the storage failed for good: this and every later frame is lost */
  BUSLOG_WRITER_CLOSED = 6,       /* no more frames are taken (closed, input ended or abandoned) */
  BUSLOG_WRITER_NO_MEMORY = 7
};

/* ---- frames ------------------------------------------------------------ */

typedef struct BuslogFrame {
  uint64_t seconds;          /* the frame's time: whole seconds since 1970-01-01 UTC */
  uint32_t micros;           /* and microseconds, 0 to 999999 */
  uint32_t id;               /* identifier (up to 0x7FF, or 0x1FFFFFFF extended), or the error class */
  uint8_t flags;             /* BUSLOG_FRAME_* of buslog.h: EXTENDED, SENT, and at most one of REMOTE, FD
                                and ERROR (none: a classic data frame) */
  uint8_t lengthCode;        /* remote: the length asked for (0 to 15); data and error frames with 8
                                bytes: a length code of 9 to 15 (candump's "_X") is kept, any other
                                value is ignored; FD: ignored */
  uint8_t fdFlags;           /* CAN FD: the flags digit the log shows (0 to 15; bit 0 BRS, bit 1 ESI);
                                0 takes it from BUSLOG_FRAME_BRS and BUSLOG_FRAME_ESI */
  uint8_t reserved;          /* 0 */
  uint32_t dataLength;       /* bytes at data: up to 8 (64 for CAN FD, padded with zero bytes to a
                                CAN FD length); a remote frame's are not read */
  const uint8_t* data;
  const char* interfaceName; /* its bytes ("can0"), not zero-terminated; null or empty: no name */
  uint32_t interfaceLength;
} BuslogFrame;

/* Times before 2000-01-01 are taken as a source's own clock, not a date
 * (a trace of a device without a real-time clock, a replayed file with
 * relative times): their start markers say "relative" and give no date. */
#define BUSLOG_WRITER_FIRST_DATE 946684800u

/* Interfaces: at most 256 in a run, each name kept up to 255 bytes. */
#define BUSLOG_WRITER_MAX_CHANNELS 256u
#define BUSLOG_WRITER_MAX_INTERFACE 255u

/* ---- opening ----------------------------------------------------------- */

/* How frames reach the log. */
enum {
  BUSLOG_WRITER_QUEUED = 0,        /* Add queues the frame and returns; a thread of the writer logs the
                                      frames at hand, several lines a Write. For live input. */
  BUSLOG_WRITER_WRITE_THROUGH = 1, /* Add returns when the frame is on the device, or lost (a frame held
                                      for a trigger window: when the trigger's Add returns) */
  BUSLOG_WRITER_REPLAY = 2         /* Add logs in the caller's thread, several frames a Write; a file's
                                      frames wait while the storage fails, up to 5 s, then are lost */
};

/* Time bases. */
enum {
  BUSLOG_TIME_PRECISE = 0,  /* a new time base (a start marker line) before a time would lose a digit
                               (10 s after the base) and at a time jump: microseconds throughout */
  BUSLOG_TIME_PER_FILE = 1  /* one time base a file, the module's own way (for tools that read the
                               time column alone): times keep fewer digits the longer a file runs, said
                               once; a time jump begins a new file */
};

typedef struct BuslogWriterOptions {
  const char* module;     /* the module file; null: the one beside this library */
  const char* output;     /* the log, relative to the current directory or absolute; a folder: a
                             default name in it; null: a default name in the current directory
                             (buslog-YYYY-MM-DD_HHMMSS.buslog, local time) */
  const char* moduleName; /* instead of output: the log relative to the module's folder */
  const char* writer;     /* the writer marker's program and version; null: "buslog-writer <version>" */
  const char* input;      /* a file the log must never replace, even with overwrite ("-": standard
                             input); null: none */
  int32_t mode;           /* BUSLOG_WRITER_QUEUED ... */
  int32_t syncEveryFrame; /* one Write (one sync) a frame */
  int32_t markers;        /* marker lines (1); 0 writes frames only, one time base a file */
  int32_t timeBase;       /* BUSLOG_TIME_PRECISE or BUSLOG_TIME_PER_FILE */
  int32_t overwrite;      /* an existing file of the log's name may be replaced (never `input`) */
  int32_t share;          /* others may read the log while it is open (the module's ShareMode 1) */
  uint64_t rotateBytes;   /* a new file once one has this many bytes; 0: no limit */
  double rotateSeconds;   /* a new file before the first frame this long after the file's first; 0: none */
  uint32_t maxFiles;      /* with rotation: a ring of at most this many files of this writer; 0: none */
  uint64_t maxTotal;      /* with rotation by size: a ring of at most this many bytes; 0: none */
  uint64_t queueFrames;   /* QUEUED: frames held while the log catches up (default 1,000,000) */
  /* Asked while the writer waits for failing storage; nonzero gives up, at
   * once, every frame not yet written, as BuslogWriterAbandon does (a stop
   * request in a host). Null: never. */
  int (*interrupted)(void* context);
  void* interruptedContext;
  /* Filters and triggers, in candump's filter syntax and the items a
   * trigger adds (docs/logger.md); null: none. Frames that are not logged
   * get no frame number. Each file of a filtered or windowed log says so in
   * a marker line at its head ("buslog filter ...", "buslog trigger ..."). */
  const char* filter;       /* the frames to log: "123:7FF,400:700", "can0,#1FFFFFFF can1,0~0" */
  const char* trigger;      /* frames that open a window from preSeconds before them to postSeconds
                               after: "7E0", "7E0#0210/FFF0", "3E9#16|16@1+*0.01>100" */
  const char* startTrigger; /* logging begins at a frame that fires it (preSeconds before it) */
  const char* stopTrigger;  /* and ends postSeconds after one that fires this */
  double preSeconds;        /* 0 to 1000000, fractions allowed; default 0 */
  double postSeconds;
  uint64_t preBytes;        /* memory for the frames before a trigger (with preSeconds > 0), taken at
                               open, at least 64 KiB; a frame takes 22 bytes and its data. 0 (the
                               default): 300,000 bytes a second of preSeconds (10,000 frames of 8
                               bytes), at least 1 MiB */
} BuslogWriterOptions;

/* Fills `options` with the defaults: QUEUED, markers on, PRECISE, no
 * rotation, a queue of 1,000,000 frames, no filter or trigger. Call it
 * first: fields added in later versions get their defaults this way. */
BUSLOG_WRITER_API void BuslogWriterDefaults(BuslogWriterOptions* options);

/* Checks `options` as BuslogWriterOpen does, without opening anything:
 * OK, or BAD_ARGUMENT with one line in `why` that names the option and
 * what is accepted, e.g. "filter 12Z:7FF: 12Z is not an identifier: give 1
 * to 3 hex digits (up to 7FF), or 8 for an extended identifier". */
BUSLOG_WRITER_API int BuslogWriterCheckOptions(const BuslogWriterOptions* options, char* why, size_t whySize);

typedef struct BuslogWriter BuslogWriter;

/* Loads the module, works out the log's name and opens the first log
 * file. On failure returns the code, leaves nothing created and `*writer`
 * null, and writes one line into `error` (`errorSize` bytes), e.g.
 * "run.buslog exists; give overwrite to replace it, or choose another
 * name" or "cannot load: ...: No such file or directory". */
BUSLOG_WRITER_API int BuslogWriterOpen(const BuslogWriterOptions* options, BuslogWriter** writer, char* error,
                                       size_t errorSize);

/* ---- logging ----------------------------------------------------------- */

/* Takes a frame: numbers it and logs it as the mode says (QUEUED: the
 * writer's thread numbers it). Returns OK (the frame is taken: numbered,
 * or left out by the filter, or held for a trigger window, or outside
 * every window; whether it reached the log, the counts and reports say),
 * BAD_ARGUMENT (a frame the log cannot show: not numbered, nothing
 * logged; BuslogWriterCheckFrame says why), GAVE_UP (REPLAY or
 * WRITE_THROUGH: the storage failed for good, the frame is lost) or CLOSED.
 * QUEUED: waits while the queue is full and the storage works (the log
 * falls behind); while the storage fails, the oldest queued frame is given
 * up instead. */
BUSLOG_WRITER_API int BuslogWriterAdd(BuslogWriter* writer, const BuslogFrame* frame);

/* Candump's drop report (a DROPCOUNT line): the kernel dropped `count`
 * frames on the interface `interfaceName` (`interfaceLength` bytes) that
 * never reached the writer, `total` so far. The log carries it as a record
 * among the frames (buslog dropped COUNT TOTAL NAME), where it came. */
BUSLOG_WRITER_API int BuslogWriterAddDrops(BuslogWriter* writer, const char* interfaceName, uint32_t interfaceLength,
                                           uint64_t count, uint64_t total);

/* Why BuslogWriterAdd would refuse `frame`: OK, or BAD_ARGUMENT with one
 * line in `why`, e.g. "a classic CAN frame carries at most 8 data bytes,
 * not 9". */
BUSLOG_WRITER_API int BuslogWriterCheckFrame(const BuslogFrame* frame, char* why, size_t whySize);

typedef struct BuslogWriterReport {
  uint64_t lost;        /* frames lost since the last report */
  uint32_t firstLoss;   /* index of their first loss range (BuslogWriterGetLoss) */
  uint32_t lossCount;   /* and how many ranges */
  int32_t error;        /* the system's error number of the first, 0 when none */
  char text[512];       /* "could not log frames 312-548 to /m/run.buslog: No space left on device" */
} BuslogWriterReport;

/* Returns when every frame added before the call is in the log, or lost:
 * OK, or LOST with what was lost since the last report (Flush or Close)
 * in `report` (may be null). While the storage fails, the frames are kept
 * and tried again (QUEUED: until the queue is full), so Flush waits as long
 * as that lasts; BuslogWriterWait waits at most a given time. */
BUSLOG_WRITER_API int BuslogWriterFlush(BuslogWriter* writer, BuslogWriterReport* report);

/* No more frames will come (a first stop): the writer logs what it holds
 * and Add says CLOSED from now on. Returns at once. */
BUSLOG_WRITER_API void BuslogWriterEndInput(BuslogWriter* writer);

/* Waits at most `milliseconds` for every frame added to be in the log, or
 * lost. Returns 1 when they are, 0 when the time ran out. */
BUSLOG_WRITER_API int BuslogWriterWait(BuslogWriter* writer, uint32_t milliseconds);

/* Gives up every frame not yet written (a second stop): they are lost
 * "left at a second stop", and waits end. Safe from any thread. */
BUSLOG_WRITER_API void BuslogWriterAbandon(BuslogWriter* writer);

/* Logs every frame added, closes the log (removing a file that got no
 * line) and ends the writer's thread. Returns OK, or LOST as Flush does.
 * The writer stays readable (counts, files, losses) until Free. */
BUSLOG_WRITER_API int BuslogWriterClose(BuslogWriter* writer, BuslogWriterReport* report);

/* Releases the writer (closing it first if need be) and its module. */
BUSLOG_WRITER_API void BuslogWriterFree(BuslogWriter* writer);

/* The next message for the user, oldest first, e.g. "cannot write the log
 * /m/run.buslog at frame 2996: No space left on device; trying again".
 * Copies it into `text` (zero-terminated, cut to `size`) and returns its
 * level, or 0 when there is none. The engine says each kind of trouble
 * once and losses at most once a second; it keeps the latest 256. */
enum { BUSLOG_MESSAGE_NOTE = 1, BUSLOG_MESSAGE_WARNING = 2, BUSLOG_MESSAGE_ERROR = 3 };
BUSLOG_WRITER_API int BuslogWriterNextMessage(BuslogWriter* writer, char* text, size_t size);

/* ---- what happened ----------------------------------------------------- */

typedef struct BuslogWriterCounts {
  uint64_t framesAdded;     /* numbered frames */
  uint64_t framesLogged;    /* of them in the log files that are still there */
  uint64_t framesLost;      /* of them lost (the losses say which and why) */
  uint64_t framesRemoved;   /* of them logged into files the ring removed: intended, not lost */
  uint64_t framesPending;   /* of them not yet written (queued, or in a batch) */
  uint64_t loggedByType[4]; /* framesLogged by type: data, remote, CAN FD, error */
  uint64_t lines;           /* lines the module wrote, marker lines included */
  uint64_t markerLines;
  uint64_t writes;          /* module Writes */
  uint64_t writeFailures;   /* Writes that failed */
  uint64_t timeBases;       /* time bases begun inside a file (start markers after its first) */
  uint64_t timeJumps;       /* frames a time jump began a new time base or file at */
  uint64_t clamped;         /* frames earlier than their time base, stamped +0.000000 */
  uint64_t queueDeepest;    /* QUEUED: the most frames queued at once */
  double queueWaited;       /* QUEUED: seconds Add waited for room */
  uint32_t files;           /* log files begun (BuslogWriterGetFile) */
  uint32_t filesRemoved;    /* of them removed by the ring */
  uint32_t losses;          /* loss ranges (BuslogWriterGetLoss) */
  uint32_t channels;        /* interfaces met (BuslogWriterGetChannel) */
} BuslogWriterCounts;

BUSLOG_WRITER_API int BuslogWriterGetCounts(BuslogWriter* writer, BuslogWriterCounts* counts);

/* What the filter and the trigger windows left out. None of these frames
 * has a number: framesAdded above counts the numbered ones. */
typedef struct BuslogWriterSelectionCounts {
  uint64_t framesFiltered;    /* frames the filter left out */
  uint64_t framesOutside;     /* frames the filter kept, outside every trigger window */
  uint64_t windows;           /* trigger windows opened (windows that merged count once) */
  uint64_t framesGivenUp;     /* frames the full pre-trigger buffer gave up */
  uint64_t framesGivenUpLost; /* of them in a window: numbered and lost (among framesLost) */
  uint64_t preBytes;          /* the pre-trigger buffer's size; 0: none */
  uint64_t preMostUsed;       /* the most bytes it held */
} BuslogWriterSelectionCounts;

BUSLOG_WRITER_API int BuslogWriterGetSelectionCounts(BuslogWriter* writer, BuslogWriterSelectionCounts* counts);

/* What became of a log file. */
enum {
  BUSLOG_FILE_KEPT = 0,        /* in place (or renamed: path is where it is now) */
  BUSLOG_FILE_DELETED = 1,     /* deleted under the writer: its frames are lost */
  BUSLOG_FILE_UNREACHABLE = 2, /* its name leads elsewhere or nowhere: its frames count as lost */
  BUSLOG_FILE_REMOVED = 3      /* removed by the ring, as asked */
};

typedef struct BuslogWriterFile {
  char path[1024];       /* full path */
  uint64_t lines;        /* lines written into it */
  uint64_t bytes;
  uint32_t firstFrame;   /* frame numbers of its first and last frame; 0: no frame */
  uint32_t lastFrame;
  int32_t fate;          /* BUSLOG_FILE_* */
  int32_t cutEnd;        /* it ends in a part of a line that could not be taken back */
  int32_t haveStart;     /* its first frame's time is known: */
  int32_t relative;      /* on the source's own clock, not a date */
  uint64_t startSeconds;
  uint32_t startMicros;
} BuslogWriterFile;

/* File `index` (0 to counts.files - 1), in the order they were begun. A
 * QUEUED writer answers only once closed (its thread changes the list until
 * then); the other modes between two calls. */
BUSLOG_WRITER_API int BuslogWriterGetFile(BuslogWriter* writer, uint32_t index, BuslogWriterFile* file);

/* What lost a range of frames. */
enum {
  BUSLOG_LOSS_STORAGE = 0,    /* the storage refused them, or there was no room to hold them */
  BUSLOG_LOSS_INTERFACES = 1, /* their interface found no channel */
  BUSLOG_LOSS_STOP = 2,       /* left at a second stop */
  BUSLOG_LOSS_GONE = 3        /* in a log deleted or no longer reached */
};

typedef struct BuslogWriterLoss {
  uint32_t firstFrame;  /* frames firstFrame to lastFrame are not in the logs */
  uint32_t lastFrame;
  int32_t error;        /* the system's error number, 0 when none */
  char reason[256];     /* "No space left on device", "left at a second stop", "the log x was deleted" */
  int32_t kind;         /* BUSLOG_LOSS_... */
} BuslogWriterLoss;

/* Loss range `index` (0 to counts.losses - 1), in the order they became
 * known; neighbours for the same reason are one range. */
BUSLOG_WRITER_API int BuslogWriterGetLoss(BuslogWriter* writer, uint32_t index, BuslogWriterLoss* loss);

typedef struct BuslogWriterChannel {
  uint32_t channel;      /* from 0; the log shows channel + 1 */
  uint32_t nameLength;   /* 0: the frames had no interface name */
  char name[BUSLOG_WRITER_MAX_INTERFACE + 1];
} BuslogWriterChannel;

BUSLOG_WRITER_API int BuslogWriterGetChannel(BuslogWriter* writer, uint32_t index, BuslogWriterChannel* channel);

/* Reads a size as users write it ("500k", "1.5M", "10MB", "2GiB": k, M, G
 * are powers of 1024, in any case; a number alone is bytes) into `bytes`:
 * OK, or BAD_ARGUMENT with what is accepted in `why`. */
BUSLOG_WRITER_API int BuslogWriterParseSize(const char* text, uint64_t* bytes, char* why, size_t whySize);

/* The engine's version, "0.1.0". */
BUSLOG_WRITER_API const char* BuslogWriterVersion(void);

#ifdef __cplusplus
}
#endif

#endif /* BUSLOG_WRITER_H */
