// Reading buslog logs back: a line reader over a log file and a parser that
// hands out each line as typed fields. Used by buslog-host's convert and
// stats commands, the tests and the fuzzer. Nothing here allocates per line:
// the reader owns one buffer, and a parsed line points into it.
//
// THE LINE FORMS. The module writes CSV lines ending CR LF, at most 4096
// bytes before the line end. A host writes the fields in the order it
// calls the exports; the usual line is
//
//   FRAME,TIME,RECORD[,ERROR]
//
//   000000123,+1.234567,I,CAN     , 1,OK,0,1,23,2,AA,BB
//   000000007,+0.000700,(0:ERR=0000001F)
//
//   FRAME   frame number: 9 or 10 decimal digits ("%09u"), no comma before it
//   TIME    time stamp: ",+" then 8 characters, the text "+%u.%06u" cut to 9
//           characters. "+1.234567" keeps 6 fractional digits, "+12.34567"
//           5, "+1234567." none, and "+12345678" (no point) shows the first
//           8 digits of a whole part that may have had more.
//   ERROR   error field: ",(0:ERR=" 8 upper-case hex digits ")"
//   RECORD  a frame header ",K,BUS     ,CH,ST" and a body, or the generic form:
//     K   kind letter O (sent), I (received), P, E or M
//     BUS bus name padded with blanks to 8: CAN, LIN, CXPI, P/I, P/O, Env,
//         Marker
//     CH  channel: the channel + 1 in decimal, or "-"; right-aligned in 2
//         characters, or wider when the number needs it (blanks ignored)
//     ST  status: OK or NG
//
//   body of       fields after the header                  example
//   CAN standard  flags,id10..8,id7..0,nibble,data...      ,0,1,23,2,AA,BB
//   CAN extended  flags,id28..24,..,id7..0,nibble,data...  ,1,1A,BC,DE,F0,1,01
//   LIN           byte0 (%X),byte1 (%02X),byte2 (%X),data  ,A,3C,8,01,02
//   CXPI          bits,parity,frame id,DLC,NM,CT,data       ,3,1,45,B,1,3,01
//   port          P1=c,P2=c,... with c one of 0 1 + -      ,P1=1,P2=-,P3=+
//   environment   name,"value"                              ,EngineSpeed,"1500"
//   marker        text                                      ,Start of test
//   generic form  kind(%04X),bus(%02X),channel(%02X),status(%X),data...
//                                                           ,1234,07,02,1,DE,AD
//
// The CAN flag value's bit 0 is the extended flag: an odd flag value is the
// extended form. A CAN body may stop early (a record of 1 to 4 bytes): it
// is then read as an incomplete CAN record without identifier or length.
// buslog-host's replay adds fields a CAN record cannot show alone:
//   ,RTR                        remote frame
//   ,FD,<flags digit>           CAN FD frame (length nibble 9..F above 8 bytes)
//   status NG and ,(0:ERR=...)  error frame, its class in the error field
//
// HOW A LINE IS READ (the same rules serve every reader of these logs):
//  1. A line is split at LF; one CR before the LF is dropped. NUL and every
//     other byte are text. A last line that ends in LF, with or without the
//     CR, is a whole line. A last line without its LF (the file ends
//     inside it: its writer stopped in the middle of it, or is still
//     writing it) is cut, whatever it holds, a CR at its end included: it
//     is read by the rules below for FRAME and TIME only, and is a
//     malformed text line (rule 12e) whose `why` says "last line cut (no
//     line end)".
//  2. A line longer than 4096 bytes is not the module's: form kText.
//  3. FRAME: the line starts with 9 or 10 decimal digits followed by a comma
//     or the end of the line, and the value fits 32 bits.
//  4. TIME: the next field is "+" and 8 characters that are digits with at
//     most one point, the point not first; followed by a comma or the end.
//  5. The rest of the line, from the comma after FRAME/TIME on, is the body.
//     Empty, or not starting with a comma: form kText.
//     Exactly one error field: form kError.
//     A frame header (K in OIPEM, one of the seven bus names blank-padded
//     to exactly 8 characters, a channel of "-" or -?digits after leading
//     blanks, OK or NG) followed by the end of the line or a comma: a record
//     whose body is everything after that comma, read by the rules below.
//     Otherwise at least four fields of 4..8, 2..8, 2..8 and 1..8 hex digits
//     and then 2-digit data bytes: the generic form.
//     Anything else, or a body that breaks its rule: form kText, with `why`
//     saying what did not fit, and FRAME and TIME kept.
//  6. Hex digits may be upper or lower case. Data bytes are always exactly
//     two hex digits; every other fixed field has exactly the width above
//     (CAN flags 1, standard id10..8 1, other id pieces 2, nibble 1; LIN
//     byte0 and byte2 1 or 2; CXPI 1,1,2,1,1,1). CAN flags are 0..7, the
//     first identifier piece at most 7 (standard) or 1F (extended). A body
//     may stop after a whole group of fields: a CAN body anywhere before its
//     nibble (an incomplete record), a LIN body after 0 to 3 fields, a CXPI
//     body after 0, 1, 3 or 6 fields.
//  7. Trailing error field. For CAN, LIN, CXPI, port and generic records, a
//     last field that is an error field is the line's error field (hasError)
//     and is not part of the body.
//  8. Complete CAN records. Let F be the fields after the length nibble
//     (the error field of rule 7 already taken off).
//     a. status NG and an error field was taken off: an error frame; its
//        error class is the error value (candump identifier = class |
//        0x20000000); every field of F is a data byte.
//     b. else, the last field of F is "RTR": a remote frame; the nibble is
//        the requested length; F must hold nothing else.
//     c. else, the last two fields of F are "FD" and a single hex digit, and
//        the count of the fields before them equals the CAN FD length of the
//        nibble (0..8 the same, 9..F 12,16,20,24,32,48,64): a CAN FD frame
//        with those flags; the fields before them are its data bytes.
//     d. otherwise every field of F is a data byte: a classic frame. A
//        nibble of 9..F with 8 data bytes is candump's "_X" form.
//     So a data byte FD is never taken for the suffix: the suffix ends in a
//     single digit, which no data byte is.
//  9. Environment records. The name is everything from the body's start up
//     to the first `,"`; the value starts after that quote mark and ends at
//     the last `"` of the line. If the line ends in `"` followed by an error
//     field, that error field is the line's and the value ends at that `"`.
//     No `,"`, no closing quote mark, or text after the closing quote mark
//     (other than that error field): form kText. Names and values may hold
//     commas and quote marks; a name holding `,"` is not told apart.
// 10. Marker records: the text is the rest of the line after the header's
//     comma, everything included (commas, quote marks, a trailing error
//     field).
// 11. Port records: fields P1=c, P2=c, ... numbered from 1 without a gap.
//
// 12. Malformed lines. A kText line is malformed (`malformed`) when
//     a. it is longer than 4096 bytes (rule 2), or
//     b. its frame header was read (rule 5) and its body broke its rule
//        (rules 6 to 11), or
//     c. FRAME was read and the next field begins with ",+" but is not a
//        time stamp by rule 4 ("+1e3", "+nan", "+.1234567"), or
//     d. it does not start with FRAME, and from its first decimal digit on
//        it reads by rules 3 to 11 as a line with FRAME and TIME and a
//        record or an error field: a log line behind leading bytes (the NUL
//        bytes a crash or a second writer left). `why` says "log line behind
//        leading bytes"; the record is not handed out.
//     e. it is a cut last line (rule 1), `unended`.
//     Every other kText line is text (what PutString or another program
//     wrote) and never counts as malformed.
// 13. Log lines. A line of form kRecord or kError, or one with FRAME and
//     TIME, is a log line (`logLine`). A file that has lines but no log line
//     is no log (a candump trace, say): the tools say so and write nothing.
// 14. Buslog markers (`marker`). A kRecord marker record (kind M, bus
//     Marker) with frame number 0 whose text starts with "buslog " is a
//     buslog marker: the writer's word about the log, not a frame. It does
//     not count as a frame, as a record of the log's content or as
//     malformed, and plays no part in gap detection (a gap is a jump in
//     frame numbers between consecutive frame lines, across files read as
//     one). Other marker records, also with frame number 0, are ordinary
//     markers. The text after "buslog " is read as:
//     a. "start YYYY-MM-DDTHH:MM:SS.ffffffZ" (exactly: UTC, years 1970 to
//        9999, six fractional digits, nothing after the Z): the absolute
//        time that +0.000000 means for the lines after it, up to the next
//        start marker or the end of the file (kStart). The marker's own
//        time stamp (+0.000000) is not looked at. A start marker of any
//        other form (kStartUnread) leaves the time base of the lines after
//        it unknown: they are not given the earlier start.
//     b. "writer " and at least one byte: the program and version that
//        wrote the log, e.g. "buslog-host 0.2.0" (kWriter).
//     c. "channel N NAME": N in decimal as the frame header shows channels
//        (1 to 2147483647, no leading zero, no sign), one blank, and NAME,
//        the rest of the line (at least one byte, no NUL): the interface
//        name of channel N (candump's "can0", python-can's channel) for
//        the rest of the file (kChannel). A later channel marker for the
//        same N names it anew.
//     d. "start relative S.ffffff" (S decimal, no leading zero, six
//        fractional digits): like a, but on the source's own clock, not a
//        date (kStartRelative); the writers use it for times before
//        2000-01-01, which are a device's time since power-on.
//     e. the records of what the frame lines cannot show (FIRST-LAST is a
//        range of frame numbers, 1 to 4294967295, or one number FIRST):
//        "lost FIRST-LAST REASON": frames numbered and given up by the
//          writer, REASON at least one byte (kLost);
//        "gone FIRST-LAST CAUSE NAME": frames written into the log NAME
//          that was deleted or became unreachable (kGone);
//        "removed FIRST-LAST", nothing after it: frames the ring removed
//          so far, as asked, not a loss (kRemoved);
//        "dropped COUNT TOTAL NAME": candump's drop report, COUNT frames
//          (TOTAL so far) on the interface NAME that never reached the
//          writer (kDropped);
//        "clamped S.ffffff" (S at most 86400): the line right after it was
//          that much earlier than its time stamp says (kClamped); its
//          absolute time (rule 15) is moved back by it.
//        A record of another form is kOther.
//     f. anything else, including a channel marker of another form: a
//        marker kept and ignored (kOther).
//     What the markers say holds for one file: a reader that goes on with
//     another file forgets the start, the writer and the names.
// 15. Absolute times. A line's absolute time is the start of its time base
//     plus its time stamp (rule 4: the digits the field kept, so 1 us
//     within the first 10 s, 100 us within the first 1000 s); without a
//     start marker before it in its file it has none.
//
// HOW PRECISE THE TIME FIELD IS. "+%u.%06u" cut to 9 characters keeps, for
// a time T since the file's time base (cut, not rounded):
//     T below 10 s          1 us     "+9.999999"
//     T below 100 s        10 us     "+99.99999"
//     T below 1,000 s     100 us     "+999.9999"
//     T below 10,000 s      1 ms     "+9999.999"
//     T below 100,000 s    10 ms     "+99999.99"
//     T below 1,000,000 s 100 ms     "+999999.9"
//     T below 10,000,000 s   1 s     "+9999999."
//     T below 100,000,000 s  1 s     "+99999999" (no point)
//     later                wrong     the first 8 digits of a longer number
// buslog-host never writes a time of 100,000,000 s or more after a file's
// time base: it starts a new file with a new time base. `--rotate-seconds
// 600` (files of 10 minutes) keeps every time to 100 us.
//
// THE BUSLOG MARKERS that buslog-host and the python-can writer write
// (rule 14), each one line PutFrameId(0), PutTimeStamp, PutFrame(marker
// record), Write:
//
//   000000000,+0.000000,M,Marker  , -,OK,buslog start 2023-11-14T22:13:20.001000Z
//   000000000,+0.000000,M,Marker  , -,OK,buslog writer buslog-host 0.2.0
//   000000000,+0.004000,M,Marker  , -,OK,buslog channel 1 can0
//   000000001,+0.004000,I,CAN     , 1,OK,0,1,23,2,AA,BB
//
//   - the start marker is the first line of every file (each rotated file
//     has its own): the absolute time of the file's first frame, which its
//     +0.000000 means. A start marker later in a file starts a new time
//     base: the writers begin one every 10 s, so that every time keeps its
//     microseconds, and at a time jump (with one time base a file, a new
//     file begins instead).
//   - the writer marker is the second line: "buslog-host <version>" or
//     "buslog-python <version>", the only line in which the two writers'
//     logs of the same frames differ.
//   - a channel marker stands before channel N's first frame in each file,
//     with that frame's time stamp.
//   - frame numbers count frames only (from 1, without gaps): marker lines
//     carry frame number 0.
//   - a writer option leaves every marker line out (buslog-host
//     --no-markers, the python-can writer's markers=False).
//
// tests/reader/expected/rules.log holds every ambiguous case above as a log
// line, and rules.jsonl its reading (buslog-host convert --to jsonl).
//
// A line of exactly 4096 bytes may have been cut by the module; `full` says
// so, and its last record may be short (an environment value, a marker text
// or data bytes missing at the end).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "line_source.h"

namespace buslog_reader {

// The module's longest line, without its line end.
constexpr size_t kLogLineLimit = 4096;
// Longest line handed out whole; a longer one is handed out cut to this.
constexpr size_t kMaxKeptLine = kMaxLineLength;
// Most data bytes a line of kLogLineLimit bytes can hold (",XX" each).
constexpr size_t kMaxRecordData = kLogLineLimit / 3 + 1;
// Most pins a line can hold (",P1=0" is the shortest pin field).
constexpr size_t kMaxPins = kLogLineLimit / 5 + 1;
// CAN error frames carry this flag in their candump identifier.
constexpr uint32_t kCanErrorFlag = 0x20000000;

enum class LineForm : uint8_t {
  kEmpty,   // nothing between line ends
  kRecord,  // a frame record (header and body, or the generic form)
  kError,   // an error field and no record
  kText,    // anything else: kept as text, never a failure
};

enum class RecordType : uint8_t { kNone, kCan, kLin, kCxpi, kPort, kEnv, kMarker, kGeneric };

enum class CanType : uint8_t { kData, kRemote, kFd, kError };

struct Text {
  const char* text;  // points into the line
  size_t length;
};

struct LogTime {
  uint64_t seconds;    // whole seconds as written
  uint32_t fraction;   // the fractional digits kept, as a number
  uint8_t digits;      // how many fractional digits the field kept (0 to 6)
  bool wholeMayBeCut;  // no point: 8 digits of a whole part that may be longer
};

// The time's fraction in microseconds ("+12.34567" gives 345670).
uint32_t MicrosOf(const LogTime& time);
// The CAN FD data length of a length nibble: 0..8, 12, 16, 20, 24, 32, 48, 64.
uint32_t FdLengthOf(uint8_t nibble);

struct CanRecord {
  bool complete;        // identifier and length nibble present
  uint8_t flags;        // flag value 0 to 7; bit 0 is the extended flag
  bool extended;
  uint32_t id;          // identifier (for incomplete records: the pieces read)
  uint8_t dlc;          // length nibble
  CanType type;
  uint8_t fdFlags;      // CAN FD flags digit
  uint32_t errorClass;  // error frames: the error value
};

struct LinRecord {
  uint8_t fields;  // 0 to 3: how many of byte0..byte2 are present
  uint8_t byte0, byte1, byte2;
};

struct CxpiRecord {
  uint8_t fields;  // 0, 1, 3 or 6: how many of the six values are present
  uint8_t bits, parity, frameId, dlc, nm, ct;
};

struct GenericRecord {
  uint32_t kindCode, busCode, channel, status;
};

struct LogRecord {
  RecordType type;
  char kind;            // O, I, P, E or M; 0 for the generic form
  Text bus;             // bus name without its padding ("CAN", "P/I")
  Text channelText;     // channel as written, without blanks ("1", "-")
  bool hasChannel;      // the channel is a number
  int32_t channel;      // the number shown: the channel + 1
  bool ok;              // status OK (false: NG)
  CanRecord can;
  LinRecord lin;
  CxpiRecord cxpi;
  GenericRecord generic;
  Text name;            // environment variable name
  Text value;           // environment value, without its quote marks
  Text text;            // marker text
  uint32_t pinCount;    // port records: pins[k] is pin k + 1: '0' '1' '+' '-'
  char pins[kMaxPins];
  uint32_t dataCount;   // data bytes of CAN, LIN, CXPI and generic records
  uint8_t data[kMaxRecordData];
};

// What a buslog marker line is (rule 14).
enum class BuslogMarker : uint8_t {
  kNone,           // not a buslog marker
  kStart,          // "buslog start <UTC time>": startSeconds, startMicros
  kStartUnread,    // "buslog start" with a time that cannot be read
  kWriter,         // "buslog writer <program> <version>": markerValue
  kChannel,        // "buslog channel N NAME": markerChannel, markerValue
  kOther,          // any other "buslog " marker: kept and ignored
  kStartRelative,  // "buslog start relative S.ffffff": startSeconds, startMicros on the source's clock
  kLost,           // "buslog lost FIRST-LAST REASON": markerFirst, markerLast, markerValue
  kGone,           // "buslog gone FIRST-LAST CAUSE NAME": markerFirst, markerLast, markerValue (CAUSE NAME)
  kRemoved,        // "buslog removed FIRST-LAST": markerFirst, markerLast
  kDropped,        // "buslog dropped COUNT TOTAL NAME": markerCount, markerTotal, markerValue
  kClamped,        // "buslog clamped S.ffffff": startSeconds, startMicros (how much earlier)
};

struct LogLine {
  const char* text;  // the line without its line end
  size_t length;
  uint64_t number;   // 1 for the first line
  bool cut;          // longer than kMaxKeptLine: text is its start only
  bool unended;      // a cut last line: the file ended without its LF (rule 1)
  bool full;         // exactly kLogLineLimit bytes: the module may have cut it
  LineForm form;
  const char* why;   // kText: why the line is not a record (a short phrase)
  bool hasFrameNumber;
  uint32_t frameNumber;
  bool hasTime;
  LogTime time;
  bool hasError;
  uint32_t error;
  Text rest;         // kText: the line after FRAME and TIME (without a leading comma)
  bool malformed;    // kText: meant to be a log line but breaks its rules (rule 12)
  RecordType headerType;  // the record type a frame header named, also when
                          // its body broke its rule (rule 12b); else kNone
  bool logLine;      // a log line (rule 13)
  BuslogMarker marker;     // rule 14
  uint64_t startSeconds;   // kStart: Unix time of +0.000000 from here on;
  uint32_t startMicros;    // kClamped: how much earlier the next line was
  int32_t markerChannel;   // kChannel: N
  Text markerValue;        // kWriter: program and version; kChannel: NAME; kLost: REASON;
                           // kGone: CAUSE NAME; kDropped: NAME
  uint32_t markerFirst;    // kLost, kGone, kRemoved: the frames FIRST to LAST
  uint32_t markerLast;
  uint64_t markerCount;    // kDropped: COUNT and TOTAL
  uint64_t markerTotal;
  LogRecord record;  // kRecord
};

// Parses one line (without its line end) into `line`. Never fails: what
// is not a record comes out as kText. `line->number` is left as it is.
void ParseLogLine(const char* text, size_t length, LogLine* line);

// What the buslog markers of one file have said so far (rules 14 and 15),
// and the counts that tell a log from other text (rules 12 and 13). A
// LogReader keeps one for its file and updates it with every line; a reader
// of its own lines calls UpdateLogContext for each.
struct LogContext {
  uint64_t lines;           // lines read
  uint64_t logLines;        // of them log lines (rule 13)
  uint64_t malformedLines;  // of them malformed (rule 12)
  uint64_t markerLines;     // of them buslog markers (rule 14)
  uint64_t ignoredMarkers;  // of those kOther and kStartUnread
  uint32_t timeBases;       // start markers read (kStart and kStartUnread)
  bool haveStart;           // the lines from here on have a known time base
  bool startRelative;       // on the source's own clock, not a date
  uint64_t startSeconds;    // its Unix time (or seconds on that clock)
  uint32_t startMicros;
  std::string writer;       // "buslog-host 0.2.0"; empty when not said
  std::vector<std::pair<int32_t, std::string>> names;  // by channel, sorted
  uint64_t clampedLines;    // lines a clamp marker stood before (rule 14e)
  // In microseconds: how much earlier the line taken in last was than its
  // time stamp says (a clamp marker before it), and what the clamp marker
  // just read says of the next line.
  uint64_t earlierMicros;
  uint64_t clampNextMicros;

  // A file with lines but no log line is no log (rule 13).
  bool NoLog() const { return lines > 0 && logLines == 0; }
  // The absolute time of the time stamp of the line taken in last (rule
  // 15; a clamp marker before it moves it back); false without a known
  // time base.
  bool AbsoluteTime(const LogTime& time, uint64_t* seconds, uint32_t* micros) const;
  // The interface name of `channel` (as the frame header shows it), or
  // null when the file has not named it.
  const std::string* InterfaceName(int32_t channel) const;
};

// Forgets everything: a new file begins.
void ResetLogContext(LogContext* context);
// Takes in one parsed line.
void UpdateLogContext(LogContext* context, const LogLine& line);

// "2023-11-14T22:13:20.001000Z" for a Unix time (years 1970 to 9999):
// writes 27 characters and a NUL into `out` (28 bytes); false for a year
// past 9999. The writers' start marker is "buslog start " and this.
constexpr size_t kUtcTextLength = 27;
bool FormatUtc(uint64_t seconds, uint32_t micros, char* out);
// The reverse, for exactly kUtcTextLength characters.
bool ParseUtc(const char* text, size_t length, uint64_t* seconds, uint32_t* micros);

// Reads a log file block by block and hands out its lines
// (line_source.h), and keeps what its buslog markers said.
struct LogReader : LineSource {
  LogContext context;  // updated by NextLogLine
};

// Prepares `reader` for `file` (opened in binary mode). False when the
// buffer cannot be had.
bool OpenLogReader(LogReader* reader, FILE* file);
void CloseLogReader(LogReader* reader);

// The next line without its line end; false at the end of the file (or
// after a read error: see reader->readError). `*cut` is set for a line
// longer than kMaxKeptLine, of which the first kMaxKeptLine bytes are
// handed out. The text stays valid until the next call.
bool NextRawLine(LogReader* reader, const char** text, size_t* length, bool* cut);

// The next line, parsed, and taken into reader->context; false at the end
// of the file. A last line without its LF comes out cut (rule 1).
bool NextLogLine(LogReader* reader, LogLine* line);

// Why a cut last line is not read (rule 1): "last line cut (no line end)".
extern const char kUnendedWhy[];
// Makes a parsed line the cut last line of its file (rule 1, rule 12e).
void MarkUnended(LogLine* line);

}  // namespace buslog_reader
