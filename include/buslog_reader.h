/*
 * buslog_reader.h: reading buslog logs back, from C, C++ and any language
 * that calls C (Python through ctypes). The reader library
 * (libbuslog-reader.so, buslog-reader.dll) reads a log by the reading rules
 * of the project's reader (the rules are written down once, in
 * reader/log_reader.h, and docs/reading-logs.md says them for users) and
 * hands out many lines per call, as columns: one array per field, filled
 * by the library into the caller's memory.
 *
 *   BuslogReader* reader;
 *   if (BuslogReaderOpenFile("run.buslog", &reader) != BUSLOG_READER_OK) {
 *     fprintf(stderr, "%s\n", BuslogReaderErrorText(reader));  // "run.buslog: No such file or directory"
 *     BuslogReaderClose(reader);
 *     return 1;
 *   }
 *   int64_t times[1024];
 *   uint32_t ids[1024];
 *   BuslogColumns columns;
 *   memset(&columns, 0, sizeof columns);
 *   columns.size = sizeof columns;
 *   columns.capacity = 1024;
 *   columns.time = times;
 *   columns.identifier = ids;
 *   while (BuslogReaderRead(reader, &columns, BUSLOG_ROWS_FRAMES) == BUSLOG_READER_OK) {
 *     for (uint32_t i = 0; i < columns.count; ++i) printf("%lld %X\n", (long long)times[i], ids[i]);
 *   }
 *   BuslogReaderClose(reader);
 *
 * Every function returns at once with a result code; none throws, none
 * keeps state outside its handle, and a handle is used by one thread at a
 * time. C99 and C++; every name begins with Buslog or BUSLOG_.
 */
#ifndef BUSLOG_READER_H
#define BUSLOG_READER_H

#include <stddef.h>
#include <stdint.h>

#include "buslog.h"

#if defined(_WIN32)
#if defined(BUSLOG_READER_BUILDING)
#define BUSLOG_READER_API __declspec(dllexport)
#else
#define BUSLOG_READER_API __declspec(dllimport)
#endif
#else
#define BUSLOG_READER_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The version of this interface: BuslogReaderVersion returns it. Columns
 * and kinds are only ever added, so a caller built against an older
 * version keeps working with a newer library. */
#define BUSLOG_READER_VERSION 1u

/* Result codes. BuslogReaderResultText gives each in words. */
#define BUSLOG_READER_OK 0          /* done; rows may have been handed out */
#define BUSLOG_READER_END 1         /* the log has no more lines; no row was handed out */
#define BUSLOG_READER_BAD_ARGUMENT 2 /* a null handle or pointer, or a struct of unknown size */
#define BUSLOG_READER_OPEN_FAILED 3 /* the file could not be opened (BuslogReaderErrorText says why) */
#define BUSLOG_READER_READ_FAILED 4 /* reading failed; the lines before were handed out */
#define BUSLOG_READER_NO_MEMORY 5   /* memory could not be had */

/* What a line is: BuslogColumns.rowKind. A reader hands out the kinds the
 * caller asks for (BUSLOG_ROWS_...), and counts every line. */
#define BUSLOG_ROW_FRAME 1     /* a complete CAN record: identifier, length and data */
#define BUSLOG_ROW_RECORD 2    /* any other record: LIN, CXPI, port, environment, generic form,
                                  a CAN record without identifier or length */
#define BUSLOG_ROW_MARKER 3    /* a marker record, the log's own buslog markers included */
#define BUSLOG_ROW_ERROR 4     /* an error field and no record */
#define BUSLOG_ROW_EMPTY 5     /* nothing between line ends */
#define BUSLOG_ROW_TEXT 6      /* text that is no record (what PutString or another program wrote) */
#define BUSLOG_ROW_MALFORMED 7 /* a line meant as a log line that breaks its rules, a cut last line */

/* Masks of row kinds for BuslogReaderRead's `wanted`. */
#define BUSLOG_ROWS(kind) (1u << (kind))
#define BUSLOG_ROWS_FRAMES BUSLOG_ROWS(BUSLOG_ROW_FRAME)
#define BUSLOG_ROWS_ALL 0xFFFFFFFFu

/* The record type of a row (BuslogColumns.recordType); 0 for lines that
 * are no record. */
#define BUSLOG_RECORD_NONE 0
#define BUSLOG_RECORD_CAN 1
#define BUSLOG_RECORD_LIN 2
#define BUSLOG_RECORD_CXPI 3
#define BUSLOG_RECORD_PORT 4
#define BUSLOG_RECORD_ENV 5
#define BUSLOG_RECORD_MARKER 6
#define BUSLOG_RECORD_GENERIC 7

/* BuslogColumns.frameFlags (BUSLOG_ROW_FRAME rows): BUSLOG_FRAME_EXTENDED
 * and the rest of buslog.h. */

/* Bits of BuslogColumns.lineFlags (every row). */
#define BUSLOG_LINE_LOG 0x01u      /* a log line: a record, an error field, or a frame number and a time stamp */
#define BUSLOG_LINE_FULL 0x02u     /* exactly 4096 bytes: the module may have cut it */
#define BUSLOG_LINE_LONG 0x04u     /* longer than 64 KiB: only its start was read */
#define BUSLOG_LINE_UNENDED 0x08u  /* the file's last line, without its line end: cut */
#define BUSLOG_LINE_TIME_CUT 0x10u /* a time of 8 whole digits and no point: the whole part may be longer */

/* What a buslog marker line says (BuslogColumns.marker). Later versions
 * add kinds (loss records, ...) after these, up to 255: a caller treats a
 * kind it does not know as BUSLOG_MARKER_OTHER, and has its text. */
#define BUSLOG_MARKER_NONE 0         /* not a buslog marker (an ordinary marker, or no marker) */
#define BUSLOG_MARKER_START 1        /* "buslog start <UTC>": absoluteTime is the new time base */
#define BUSLOG_MARKER_START_UNREAD 2 /* a start marker whose time cannot be read: no time base */
#define BUSLOG_MARKER_WRITER 3       /* "buslog writer <program> <version>": value is the rest */
#define BUSLOG_MARKER_CHANNEL 4      /* "buslog channel N NAME": channel N, value NAME, interfaceIndex its index */
#define BUSLOG_MARKER_OTHER 5        /* any other "buslog " marker: kept and ignored */
#define BUSLOG_MARKER_START_RELATIVE 6 /* "buslog start relative S.ffffff": absoluteTime is the new time base,
                                          seconds on the source's own clock, not a date */
#define BUSLOG_MARKER_LOST 7         /* "buslog lost FIRST-LAST REASON": value is REASON */
#define BUSLOG_MARKER_GONE 8         /* "buslog gone FIRST-LAST CAUSE NAME": value is CAUSE NAME */
#define BUSLOG_MARKER_REMOVED 9      /* "buslog removed FIRST-LAST": frames the ring removed, as asked */
#define BUSLOG_MARKER_DROPPED 10     /* "buslog dropped COUNT TOTAL NAME": value is NAME */
#define BUSLOG_MARKER_CLAMPED 11     /* "buslog clamped S.ffffff": the next line was that much earlier than its
                                        time stamp; its absoluteTime says when it was */

/* "No value" in the columns. */
#define BUSLOG_NO_TIME INT64_MIN     /* time, absoluteTime */
#define BUSLOG_NO_CHANNEL INT32_MIN  /* channel: "-", or no record */
#define BUSLOG_NO_NUMBER (-1)        /* frameNumber, error, interfaceIndex */

/* Bytes of BuslogColumns.data a row takes: the longest CAN FD frame. */
#define BUSLOG_ROW_DATA 64u
/* The least textCapacity: a marker's whole text fits. */
#define BUSLOG_MIN_TEXT 8192u

typedef struct BuslogReader BuslogReader;

/* The caller's arrays, one a column, each of `capacity` rows (`data`:
 * capacity * BUSLOG_ROW_DATA bytes; `text`: textCapacity bytes). A null
 * array is a column not wanted: the library skips it. Set `size` to
 * sizeof(BuslogColumns) and everything else to 0 before filling in what
 * you want; the library fills `count` and `textUsed`. */
typedef struct BuslogColumns {
  uint32_t size;         /* sizeof(BuslogColumns) as the caller was built */
  uint32_t capacity;     /* rows each array holds (at least 1) */
  uint32_t count;        /* out: rows handed out by the last call */
  uint32_t textCapacity; /* bytes `text` holds: 0, or at least BUSLOG_MIN_TEXT */
  uint32_t textUsed;     /* out: bytes of `text` used */
  uint8_t* rowKind;      /* BUSLOG_ROW_... */
  uint8_t* lineFlags;    /* BUSLOG_LINE_... */
  uint64_t* lineNumber;  /* from 1 in the file */
  int64_t* frameNumber;  /* the line's frame number; BUSLOG_NO_NUMBER where it has none */
  int64_t* time;         /* the time stamp in microseconds, as written (the digits it kept);
                            BUSLOG_NO_TIME where the line has none */
  int64_t* absoluteTime; /* microseconds since 1970-01-01 UTC: the time base of the file's last
                            start marker plus the time stamp; BUSLOG_NO_TIME without either */
  int32_t* channel;      /* the channel number the record shows (the channel + 1; a channel
                            marker: its N); BUSLOG_NO_CHANNEL for "-" and lines with none */
  int32_t* interfaceIndex; /* the interface name of the channel, as an index for
                            BuslogReaderInterface; BUSLOG_NO_NUMBER where the file has not named it */
  uint8_t* kind;         /* kind letter 'O' 'I' 'P' 'E' 'M'; 0 for the generic form and non-records */
  uint8_t* recordType;   /* BUSLOG_RECORD_...; for a malformed line, the type its frame header
                            named (a record whose body breaks its rule) */
  uint32_t* identifier;  /* CAN frames: the identifier; error frames: the error class */
  uint8_t* frameFlags;   /* BUSLOG_FRAME_... */
  uint8_t* dlc;          /* CAN frames: the length nibble */
  uint16_t* length;      /* CAN frames: how many data bytes (0 to 64; more only for a classic
                            record that holds more data bytes than CAN carries) */
  uint8_t* data;         /* CAN frames: the data bytes, BUSLOG_ROW_DATA bytes a row; a frame of
                            more bytes has them all in `text` instead (textStart, textLength) */
  int64_t* error;        /* the line's error field; BUSLOG_NO_NUMBER where it has none */
  uint8_t* marker;       /* BUSLOG_MARKER_... */
  uint32_t* textStart;   /* where the row's text begins in `text`: a marker's text, a text
                            line's reason (why it is no record) */
  uint32_t* textLength;
  uint32_t* valueStart;  /* buslog markers: the part of the text they say (writer, interface
                            name) in `text`; length 0 for the others */
  uint32_t* valueLength;
  char* text;            /* the rows' texts, one after another, not NUL-terminated */
} BuslogColumns;

/* What the reader has read so far, counted over every line. */
typedef struct BuslogCounts {
  uint32_t size;            /* sizeof(BuslogCounts) as the caller was built */
  uint32_t timeBases;       /* start markers (read or not) */
  uint64_t lines;
  uint64_t logLines;        /* of them log lines: a file with lines and none is no log */
  uint64_t malformedLines;
  uint64_t markerLines;     /* buslog markers */
  uint64_t frames;          /* BUSLOG_ROW_FRAME lines */
  uint64_t bytes;           /* bytes of the file read into lines */
} BuslogCounts;

/* A caller's source of bytes for BuslogReaderOpenSource: reads up to `size`
 * bytes into `buffer` and returns how many, 0 at the end, or -1 when the
 * reading failed. */
typedef int64_t (*BuslogReadFunction)(void* context, void* buffer, size_t size);

/* Opens the log at `path` (UTF-8) for reading. Sets *reader to a new
 * handle, also when the file cannot be opened (BUSLOG_READER_OPEN_FAILED,
 * BuslogReaderErrorText says why): close it either way. *reader is null
 * only for BUSLOG_READER_NO_MEMORY and BUSLOG_READER_BAD_ARGUMENT. */
BUSLOG_READER_API int BuslogReaderOpenFile(const char* path, BuslogReader** reader);
/* Opens a reader over `size` bytes at `bytes`, which stay the caller's and
 * must stay unchanged until BuslogReaderClose. */
BUSLOG_READER_API int BuslogReaderOpenMemory(const void* bytes, size_t size, BuslogReader** reader);
/* Opens a reader over the bytes `read` hands out; `context` goes to it. */
BUSLOG_READER_API int BuslogReaderOpenSource(BuslogReadFunction read, void* context, BuslogReader** reader);
/* Closes the reader and its file (never the caller's source). Null is fine. */
BUSLOG_READER_API void BuslogReaderClose(BuslogReader* reader);

/* Reads lines into `columns` until `capacity` rows of the kinds in
 * `wanted` (a mask of BUSLOG_ROWS(kind)) are filled, the text buffer is
 * full, or the file ends. Lines of other kinds are read, counted and taken
 * in (their markers still set the time base and names) without a row.
 * Returns BUSLOG_READER_OK with count > 0; BUSLOG_READER_END with count 0
 * at the end; BUSLOG_READER_READ_FAILED when the file could not be read
 * (the rows before the failure are handed out first, with OK). */
BUSLOG_READER_API int BuslogReaderRead(BuslogReader* reader, BuslogColumns* columns, uint32_t wanted);

/* The interface name of `index` (BuslogColumns.interfaceIndex): the name a
 * buslog channel marker gave, valid until the reader is closed; not
 * NUL-terminated. BUSLOG_READER_BAD_ARGUMENT for an index never handed out. */
BUSLOG_READER_API int BuslogReaderInterface(const BuslogReader* reader, int32_t index, const char** name,
                                            size_t* length);
/* The counts so far into *counts (set counts->size first). */
BUSLOG_READER_API int BuslogReaderCounts(const BuslogReader* reader, BuslogCounts* counts);
/* Why the last open or read failed, in words ("run.buslog: No such file or
 * directory"); "" when nothing failed. Valid until the next call. */
BUSLOG_READER_API const char* BuslogReaderErrorText(const BuslogReader* reader);
/* A result code in words. */
BUSLOG_READER_API const char* BuslogReaderResultText(int result);
/* BUSLOG_READER_VERSION of the library. */
BUSLOG_READER_API uint32_t BuslogReaderVersion(void);

/* ---- verifying a run's logs (reader/verify.h has the rules) ------------- */

typedef struct BuslogVerification BuslogVerification;

/* What a gap in the frame numbers is. */
#define BUSLOG_GAP_REMOVED 0     /* the ring removed them, as asked: no loss */
#define BUSLOG_GAP_LOST 1        /* a record says the writer lost them, and why */
#define BUSLOG_GAP_GONE 2        /* a record says the log holding them went */
#define BUSLOG_GAP_UNEXPLAINED 3 /* no record says why */

/* The verdict, also verify's exit status. */
#define BUSLOG_VERIFY_INTACT 0      /* nothing lost */
#define BUSLOG_VERIFY_EXPLAINED 1   /* frames lost, a record explains every loss */
#define BUSLOG_VERIFY_UNEXPLAINED 3 /* anything unexplained: a gap without a record, a cut line, a
                                       frame number twice, a file that is no log */

typedef struct BuslogVerifySummary {
  uint32_t size;       /* sizeof(BuslogVerifySummary) as the caller was built */
  int32_t verdict;     /* BUSLOG_VERIFY_... */
  uint32_t numbered;   /* the highest frame number the logs name */
  uint32_t files, gaps, drops;  /* for the getters below */
  uint64_t present;    /* frames present, each number once */
  uint64_t removed, lost, gone, unexplained;  /* frames of the gaps, by what they are */
  uint64_t twice;      /* frame numbers that stand more than once */
  uint64_t dropped;    /* frames the kernel dropped before they were numbered */
} BuslogVerifySummary;

typedef struct BuslogVerifyFile {
  uint32_t size;
  const char* path;    /* valid until BuslogVerificationFree */
  const char* writer;  /* its writer marker's program and version; "" when none */
  uint64_t lines, frames, records, malformed;
  uint32_t firstFrame, lastFrame;  /* 0: no frame */
  int32_t cutEnd;      /* its last line has no line end */
  int32_t noLog;       /* it has lines, but no log line */
} BuslogVerifyFile;

typedef struct BuslogVerifyGap {
  uint32_t size;
  uint32_t first, last;
  int32_t cause;       /* BUSLOG_GAP_... */
  const char* why;     /* lost: the reason; gone: "deleted run.buslog"; else "" */
} BuslogVerifyGap;

typedef struct BuslogVerifyDrops {
  uint32_t size;
  const char* interfaceName;
  uint64_t count;
  const char* path;    /* the record's file and line */
  uint64_t line;
} BuslogVerifyDrops;

/* Reads the `count` logs or folders at `paths` (UTF-8) as the files of one
 * run, in any order, and accounts for its frames. BUSLOG_READER_OK with
 * `*verification` set, or another code with one line in `error`. */
BUSLOG_READER_API int BuslogVerify(const char* const* paths, uint32_t count, BuslogVerification** verification,
                                   char* error, size_t errorSize);
BUSLOG_READER_API int BuslogVerificationSummary(const BuslogVerification* verification, BuslogVerifySummary* summary);
BUSLOG_READER_API int BuslogVerificationFile(const BuslogVerification* verification, uint32_t index,
                                             BuslogVerifyFile* file);
BUSLOG_READER_API int BuslogVerificationGap(const BuslogVerification* verification, uint32_t index,
                                            BuslogVerifyGap* gap);
BUSLOG_READER_API int BuslogVerificationDrops(const BuslogVerification* verification, uint32_t index,
                                              BuslogVerifyDrops* drops);
BUSLOG_READER_API void BuslogVerificationFree(BuslogVerification* verification);

#ifdef __cplusplus
}
#endif

#endif /* BUSLOG_READER_H */
