/*
 * buslog.h: what a host needs to drive the buslog logging module, in C99 or
 * C++. Everything here is named Buslog... or BUSLOG_..., so including it
 * cannot clash with a host's own names: the function-pointer types of the
 * nine exports, the BuslogApi table a loader fills (buslog_loader.h is one),
 * the result codes, the kind and bus codes, and builders for the bytes of
 * every record kind that PutFrame takes.
 *
 * CALLING CONVENTION
 * Every export but PutFrame takes the same argument block:
 *   count        number of 32-bit values at data, or of text bytes for
 *                Open and PutString
 *   data         the values (as the machine stores a uint32_t) or the bytes
 *                (text is not zero-terminated)
 *   resultCount  set on every call: 1 for Open, ShareMode and Write, else 0
 *   resultPtr    Open, ShareMode and Write store the address of their result
 *                cell here (1, 4 and 1 bytes wide: read it at that width);
 *                the address never changes while the module is loaded
 * Close, PutString, PutFrameId, PutTimeStamp and PutError take no resultPtr.
 * A call with fewer values than it needs adds nothing.
 *
 * CALLING ORDER
 *   ShareMode {1}        optional, before Open: others may read the log
 *   Open "name"          creates the log (an existing file is replaced)
 *   then for each line:
 *     PutFrameId {n}     "%09u", the field that opens a line
 *     PutTimeStamp {s,u} ",+%u.%06u" cut to 9 characters
 *     PutFrame ...       one record: header and body (layouts below)
 *     PutError {e}       ",(0:ERR=%08X)"
 *     PutString "text"   the bytes as they are (add your own comma)
 *     Write              CR LF; the line goes to the file whole, then is
 *                        emptied, written or not
 *   Close                closes the log; a line not yet written is dropped
 * Any field call may be left out or repeated; fields stand in call order.
 * A line keeps at most 4096 bytes before its CR LF; the rest is dropped.
 *
 * Example, one line of a CAN log:
 *   PutFrameId   {123}
 *   PutTimeStamp {1, 234567}
 *   PutFrame     BUSLOG_KIND_IN, BUSLOG_BUS_CAN, 0, 0, 5, {01 23 02 AA BB}
 *   Write
 * writes "000000123,+1.234567,I,CAN     , 1,OK,0,1,23,2,AA,BB" and CR LF.
 *
 * WHAT IS SAFE AND WHAT IS NOT
 * - Call the exports one at a time. Which thread calls does not matter, but
 *   two calls at once (from two threads) corrupt the line: use a lock.
 * - The module keeps no pointer into your data after a call returns.
 * - The module reads exactly the bytes a record's layout says. For CAN, LIN,
 *   CXPI, markers and the generic form that is the data length PutFrame is
 *   given; port and environment records carry their own extent and the
 *   data length is NOT read: a malformed one makes the module read past
 *   your buffer. The builders below always make well-formed records.
 * - Nothing the module writes passes its own line buffer, whatever a record
 *   or a count says.
 * - The log is created in the module's own folder, under the name given to
 *   Open, as it stands: a name holding ".." or folder separators reaches
 *   other folders, and an existing file of that name is replaced. Never pass
 *   a name you have not chosen yourself.
 * - Free text (PutString, marker text, environment names and values) is
 *   written as it is: a comma, a quote mark or CR LF in it is not escaped.
 */
#ifndef BUSLOG_H
#define BUSLOG_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#ifdef __cplusplus
#define BUSLOG_U8(value) static_cast<uint8_t>(value)
#define BUSLOG_U32(value) static_cast<uint32_t>(value)
#else
#define BUSLOG_U8(value) ((uint8_t)(value))
#define BUSLOG_U32(value) ((uint32_t)(value))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Limits. */
#define BUSLOG_MAX_LINE 4096u /* bytes a line keeps before its CR LF */
#define BUSLOG_MAX_PATH 259u  /* bytes of the module's folder and Open's name together */

/* Open result (1 byte). */
enum {
  BUSLOG_OPEN_OK = 0,        /* the log file was created and is open */
  BUSLOG_OPEN_BAD_NAME = 1,  /* empty name, or folder and name over 259 bytes */
  BUSLOG_OPEN_FAILED = 2,    /* the file could not be created */
  BUSLOG_OPEN_BUSY = 3       /* a log file is already open; nothing changed */
};

/* Write result (1 byte). Either way the line is emptied. */
enum {
  BUSLOG_WRITE_OK = 0,     /* the whole line and its CR LF are in the file */
  BUSLOG_WRITE_FAILED = 1  /* no log open, or the write failed; no part of
                              the line stays in the file (except in a pipe) */
};

/* ShareMode result (4 bytes). */
enum {
  BUSLOG_SHARE_MODE_SET = 0,     /* a call carried a value; stays so */
  BUSLOG_SHARE_MODE_UNSET = 1    /* no call carried a value yet */
};

/* Record kinds (PutFrame's kindCode) and the letter the log shows. */
enum {
  BUSLOG_KIND_OUT = 0x3030,    /* O: a frame this node sent */
  BUSLOG_KIND_IN = 0x3031,     /* I: a frame received */
  BUSLOG_KIND_PORT = 0x3033,   /* P: digital port pins */
  BUSLOG_KIND_ENV = 0x3131,    /* E: environment variable */
  BUSLOG_KIND_MARKER = 0xFFFB  /* M: marker */
};

/* Buses (PutFrame's busCode) and the name the log shows. */
enum {
  BUSLOG_BUS_PORT_IN = 0,       /* "P/I" with kind P */
  BUSLOG_BUS_CAN = 4,           /* "CAN", any recognised kind */
  BUSLOG_BUS_LIN = 12,          /* "LIN", any recognised kind */
  BUSLOG_BUS_CXPI = 40,         /* "CXPI", any recognised kind */
  BUSLOG_BUS_PORT_OUT = 0x83,   /* "P/O" with kind P */
  BUSLOG_BUS_NUMBERED = 128     /* kinds E and M: show the channel number */
};

/* A CAN frame as buslog's libraries describe it: the bits of the reader's
 * frameFlags column (buslog_reader.h) and of the writer's BuslogFrame
 * (buslog_writer.h). At most one of REMOTE, FD and ERROR; none: a classic
 * data frame. */
#define BUSLOG_FRAME_EXTENDED 0x01u /* 29-bit identifier (error frames: always) */
#define BUSLOG_FRAME_REMOTE 0x02u   /* remote frame: the length code is the length asked for */
#define BUSLOG_FRAME_FD 0x04u       /* CAN FD frame */
#define BUSLOG_FRAME_BRS 0x08u      /* CAN FD bit rate switch (flags digit bit 0) */
#define BUSLOG_FRAME_ESI 0x10u      /* CAN FD error state indicator (flags digit bit 1) */
#define BUSLOG_FRAME_ERROR 0x20u    /* error frame: the identifier is the error class */
#define BUSLOG_FRAME_SENT 0x40u     /* kind O: sent by this node (else received, kind I) */

/* PutFrame's status flag: 0 shows "OK", anything else "NG". */
enum { BUSLOG_STATUS_OK = 0, BUSLOG_STATUS_NG = 1 };

/* The nine exports. */
typedef void BuslogOpenFn(uint32_t count, const void* data, int32_t* resultCount, void** resultPtr);
typedef void BuslogCloseFn(uint32_t count, const void* data, int32_t* resultCount);
typedef void BuslogShareModeFn(uint32_t count, const void* data, int32_t* resultCount, void** resultPtr);
typedef void BuslogWriteFn(uint32_t count, const void* data, int32_t* resultCount, void** resultPtr);
typedef void BuslogPutStringFn(uint32_t count, const void* data, int32_t* resultCount);
typedef void BuslogPutFrameIdFn(uint32_t count, const void* data, int32_t* resultCount);
typedef void BuslogPutTimeStampFn(uint32_t count, const void* data, int32_t* resultCount);
typedef void BuslogPutErrorFn(uint32_t count, const void* data, int32_t* resultCount);
typedef void BuslogPutFrameFn(uint32_t kindCode, uint32_t busCode, int32_t channel, int32_t statusFlag,
                              uint32_t dataLength, const uint8_t* data, int32_t* resultCount);

/* The exports as a host finds them in a loaded module (by name, undecorated:
 * "Open", "Close", ... ; buslog_loader.h fills this table). */
typedef struct BuslogApi {
  BuslogOpenFn* Open;
  BuslogCloseFn* Close;
  BuslogPutErrorFn* PutError;
  BuslogPutFrameFn* PutFrame;
  BuslogPutFrameIdFn* PutFrameId;
  BuslogPutStringFn* PutString;
  BuslogPutTimeStampFn* PutTimeStamp;
  BuslogShareModeFn* ShareMode;
  BuslogWriteFn* Write;
} BuslogApi;

/* The module's own build defines the exports; a host never sees them. */
#ifdef BUSLOG_BUILDING_MODULE
#ifdef _WIN32
#define BUSLOG_EXPORT
#else
#define BUSLOG_EXPORT __attribute__((visibility("default")))
#endif
BUSLOG_EXPORT BuslogOpenFn Open;
BUSLOG_EXPORT BuslogCloseFn Close;
BUSLOG_EXPORT BuslogPutErrorFn PutError;
BUSLOG_EXPORT BuslogPutFrameFn PutFrame;
BUSLOG_EXPORT BuslogPutFrameIdFn PutFrameId;
BUSLOG_EXPORT BuslogPutStringFn PutString;
BUSLOG_EXPORT BuslogPutTimeStampFn PutTimeStamp;
BUSLOG_EXPORT BuslogShareModeFn ShareMode;
BUSLOG_EXPORT BuslogWriteFn Write;
#endif

/*
 * RECORDS
 * PutFrame(kindCode, busCode, channel, statusFlag, dataLength, data,
 * resultCount) adds one record. A recognised one is a 17-character header
 *   ,<kind letter>,<bus name padded to 8>,<channel>,<OK|NG>
 * and a body laid out per bus or kind (below). The channel shows channel + 1
 * right-aligned in 2 characters on buses 4, 12, 40 and 128 (a number that
 * needs more is printed whole), "-" elsewhere. Recognised records:
 *   kind O, I, P, E or M on bus 4, 12 or 40   CAN, LIN or CXPI body
 *   kind P on bus 0 or 0x83                   port body
 *   kind E on any other bus                   environment body
 *   kind M on any other bus                   marker body
 * Anything else takes the generic form, every argument in hexadecimal:
 *   ",%04X,%02X,%02X,%X" of kind, bus, channel and status, then ",%02X" of
 *   each of the dataLength bytes:
 *   0x1234, bus 7, channel 2, status 1, DE AD  ->  ",1234,07,02,1,DE,AD"
 *
 * Each builder below writes one record's bytes into buffer (size bytes) and
 * returns how many it wrote: the dataLength to pass to PutFrame with them.
 * It returns 0 and writes nothing when the buffer is too small or a value
 * does not fit its field (no record is 0 bytes long). The *_RECORD_SIZE
 * macros give the buffer size a record needs.
 */

/* ---- CAN (bus 4) -------------------------------------------------------
 * Standard form (11-bit identifier), 3 + n bytes:
 *   byte 0     bits 7..5: the three flag bits (below); bits 2..0: id 10..8
 *   byte 1     id 7..0
 *   byte 2     bits 3..0: length code (bits 7..4 unused)
 *   byte 3..   the n data bytes
 * Extended form (29-bit identifier), 5 + n bytes:
 *   byte 0     bits 7..5: the three flag bits; bits 4..0: id 28..24
 *   byte 1..3  id 23..16, id 15..8, id 7..0
 *   byte 4     bits 3..0: length code
 *   byte 5..   the n data bytes
 * The log's first body field, the flag value, is byte 0's bits 7..5 read in
 * reversed order: its bit 0 is byte 0's bit 7, the extended flag. Then the
 * identifier in the pieces the bytes hold ("%X" for the standard form's
 * top piece, "%02X" for the others), the length code ("%X", printed as
 * given, never compared with n) and ",%02X" of each data byte. Only
 * dataLength counts bytes.
 *   01 23 02 AA BB           -> ",I,CAN     , 1,OK,0,1,23,2,AA,BB"
 *                               (kind I, channel 0: id 0x123, 2 bytes)
 *   81 02 03 04 02 AA BB     -> ",I,CAN     , 1,OK,1,01,02,03,04,2,AA,BB"
 *                               (id 0x01020304, extended)
 *   07 FF 0C 11 .. 88        -> ",O,CAN     , 2,OK,0,7,FF,C,11,...,88"
 *                               (kind O, channel 1, length code C, 8 bytes)
 */
#define BUSLOG_CAN_EXTENDED 1u /* flag value bit 0: 29-bit identifier */
#define BUSLOG_CAN_RECORD_SIZE(extended, dataCount) (((extended) ? 5u : 3u) + (dataCount))

/* Writes a CAN record: `flags` is the flag value the log shows first (0 to
 * 7; BUSLOG_CAN_EXTENDED selects the extended form, the other two bits are
 * printed and mean what the host makes them mean), `identifier` up to
 * 0x7FF (standard) or 0x1FFFFFFF (extended), `lengthCode` 0 to 15, and
 * `dataCount` bytes from `data`. Needs BUSLOG_CAN_RECORD_SIZE(flags & 1,
 * dataCount) bytes. */
static inline uint32_t BuslogBuildCanRecord(uint8_t* buffer, size_t size, uint32_t flags, uint32_t identifier,
                                            uint32_t lengthCode, const uint8_t* data, uint32_t dataCount) {
  int extended = (flags & BUSLOG_CAN_EXTENDED) != 0;
  size_t lead = extended ? 5u : 3u;
  uint32_t top = ((flags & 1u) << 2) | (flags & 2u) | ((flags >> 2) & 1u); /* bits 7..5 of byte 0 */
  if (flags > 7u || lengthCode > 15u || identifier > (extended ? 0x1FFFFFFFu : 0x7FFu)) return 0;
  if (!buffer || size < lead || dataCount > size - lead || (dataCount > 0 && !data)) return 0;
  if (extended) {
    buffer[0] = BUSLOG_U8((top << 5) | (identifier >> 24));
    buffer[1] = BUSLOG_U8(identifier >> 16);
    buffer[2] = BUSLOG_U8(identifier >> 8);
    buffer[3] = BUSLOG_U8(identifier);
  } else {
    buffer[0] = BUSLOG_U8((top << 5) | (identifier >> 8));
    buffer[1] = BUSLOG_U8(identifier);
  }
  buffer[lead - 1] = BUSLOG_U8(lengthCode);
  if (dataCount > 0) memcpy(buffer + lead, data, dataCount);
  return BUSLOG_U32(lead + dataCount);
}

/* ---- LIN (bus 12) ------------------------------------------------------
 * 3 + n bytes, every byte printed whole, none interpreted or counted:
 *   byte 0 ",%X", byte 1 ",%02X", byte 2 ",%X", then ",%02X" of each
 *   further byte.
 *   0A 3C 08 01 02 C3        -> ",I,LIN     , 1,OK,A,3C,8,01,02,C3"
 */
#define BUSLOG_LIN_RECORD_SIZE(dataCount) (3u + (dataCount))

/* Writes a LIN record: the three leading bytes, then `dataCount` bytes
 * from `data`. Needs BUSLOG_LIN_RECORD_SIZE(dataCount) bytes. */
static inline uint32_t BuslogBuildLinRecord(uint8_t* buffer, size_t size, uint8_t byte0, uint8_t byte1,
                                            uint8_t byte2, const uint8_t* data, uint32_t dataCount) {
  if (!buffer || size < 3u || dataCount > size - 3u || (dataCount > 0 && !data)) return 0;
  buffer[0] = byte0;
  buffer[1] = byte1;
  buffer[2] = byte2;
  if (dataCount > 0) memcpy(buffer + 3, data, dataCount);
  return 3u + dataCount;
}

/* ---- CXPI (bus 40) -----------------------------------------------------
 * 3 + n bytes:
 *   byte 0     bits 1..0: a two-bit value, ",%X" (bits 7..2 not printed)
 *   byte 1     bit 7: parity bit ",%X"; bits 6..0: frame ID ",%02X"
 *   byte 2     bits 7..4: DLC, 3..2: NM, 1..0: CT, each ",%X" (the DLC is
 *              printed, never used to count bytes)
 *   byte 3..   ",%02X" each
 *   07 C5 B7 01 02           -> ",O,CXPI    , 2,OK,3,1,45,B,1,3,01,02"
 *                               (kind O, channel 1)
 */
#define BUSLOG_CXPI_RECORD_SIZE(dataCount) (3u + (dataCount))

/* Writes a CXPI record from its fields: `value` 0 to 3, `parity` 0 or 1,
 * `frameId` 0 to 0x7F, `dlc` 0 to 15, `nm` and `ct` 0 to 3, then
 * `dataCount` bytes from `data`. Needs BUSLOG_CXPI_RECORD_SIZE(dataCount)
 * bytes. */
static inline uint32_t BuslogBuildCxpiRecord(uint8_t* buffer, size_t size, uint32_t value, uint32_t parity,
                                             uint32_t frameId, uint32_t dlc, uint32_t nm, uint32_t ct,
                                             const uint8_t* data, uint32_t dataCount) {
  if (value > 3u || parity > 1u || frameId > 0x7Fu || dlc > 15u || nm > 3u || ct > 3u) return 0;
  if (!buffer || size < 3u || dataCount > size - 3u || (dataCount > 0 && !data)) return 0;
  buffer[0] = BUSLOG_U8(value);
  buffer[1] = BUSLOG_U8((parity << 7) | frameId);
  buffer[2] = BUSLOG_U8((dlc << 4) | (nm << 2) | ct);
  if (dataCount > 0) memcpy(buffer + 3, data, dataCount);
  return 3u + dataCount;
}

/* ---- Port (kind P, bus 0 "P/I" or 0x83 "P/O") --------------------------
 * 1 + 2n bytes: byte 0 the pair count n, then n pairs of bytes. Pair i
 * holds pins 8i+1 to 8i+8, bit b (b = 0 lowest) of both its bytes belongs
 * to pin 8i+b+1, and each pin is written ",P<pin>=<state>":
 *   first byte's bit   second byte's bit   state
 *        0                   0              0
 *        1                   1              1
 *        1                   0              +
 *        0                   1              -
 * The data length is not read. The module folds pairs past the fourth
 * onto the first four (pin 33 shows pin 1's state), so the builder takes
 * at most four.
 *   01 05 03                 -> ",P,P/I     , -,OK,P1=1,P2=-,P3=+,P4=0,P5=0,P6=0,P7=0,P8=0"
 *   00                       -> ",P,P/O     , -,OK" (bus 0x83, no pins)
 */
#define BUSLOG_PORT_MAX_PAIRS 4u
#define BUSLOG_PORT_RECORD_SIZE(pairCount) (1u + 2u * (pairCount))

/* Writes a port record of `pairCount` pairs (0 to 4): pair i is first[i],
 * second[i]. Needs BUSLOG_PORT_RECORD_SIZE(pairCount) bytes. */
static inline uint32_t BuslogBuildPortRecord(uint8_t* buffer, size_t size, const uint8_t* first,
                                             const uint8_t* second, uint32_t pairCount) {
  uint32_t i;
  if (pairCount > BUSLOG_PORT_MAX_PAIRS || (pairCount > 0 && (!first || !second))) return 0;
  if (!buffer || size < BUSLOG_PORT_RECORD_SIZE(pairCount)) return 0;
  buffer[0] = BUSLOG_U8(pairCount);
  for (i = 0; i < pairCount; ++i) {
    buffer[1 + 2 * i] = first[i];
    buffer[2 + 2 * i] = second[i];
  }
  return BUSLOG_PORT_RECORD_SIZE(pairCount);
}

/* ---- Environment variable (kind E, any bus but 4, 12, 40) --------------
 * k + 3 + L bytes: the name's k bytes, a zero byte, the value length L in
 * two bytes (most significant first), the L value bytes. Written
 * ",<name>,\"<value>\"", nothing escaped. The data length is not read.
 * Bus 128 shows the channel number, any other bus "-".
 *   'A' 00 00 02 '1' '2'     -> ",E,Env     , -,OK,A,\"12\""
 */
#define BUSLOG_ENV_MAX_VALUE 65535u
#define BUSLOG_ENV_RECORD_SIZE(nameLength, valueLength) ((nameLength) + 3u + (valueLength))

/* Writes an environment record: `name` up to its zero byte, and
 * `valueLength` (at most 65535) bytes from `value`. Needs
 * BUSLOG_ENV_RECORD_SIZE(strlen(name), valueLength) bytes. */
static inline uint32_t BuslogBuildEnvRecord(uint8_t* buffer, size_t size, const char* name, const void* value,
                                            uint32_t valueLength) {
  size_t nameLength;
  if (!name || valueLength > BUSLOG_ENV_MAX_VALUE || (valueLength > 0 && !value) || !buffer) return 0;
  nameLength = strlen(name);
  if (size < 3u || nameLength > size - 3u || valueLength > size - 3u - nameLength) return 0;
  if (nameLength > 0xFFFF0000u) return 0; /* the size must fit in 32 bits */
  memcpy(buffer, name, nameLength + 1);
  buffer[nameLength + 1] = BUSLOG_U8(valueLength >> 8);
  buffer[nameLength + 2] = BUSLOG_U8(valueLength);
  if (valueLength > 0) memcpy(buffer + nameLength + 3, value, valueLength);
  return BUSLOG_U32(nameLength + 3u + valueLength);
}

/* ---- Marker (kind M, any bus but 4, 12, 40) ----------------------------
 * The text's bytes, ending at the first zero byte or after dataLength
 * bytes, written ",<text>", nothing escaped. Bus 128 shows the channel
 * number, any other bus "-".
 *   "Start of test" 00       -> ",M,Marker  , -,OK,Start of test"
 */
#define BUSLOG_MARKER_RECORD_SIZE(textLength) ((textLength) + 1u)

/* Writes a marker record: `text` with its zero byte. Needs
 * BUSLOG_MARKER_RECORD_SIZE(strlen(text)) bytes. */
static inline uint32_t BuslogBuildMarkerRecord(uint8_t* buffer, size_t size, const char* text) {
  size_t length;
  if (!text || !buffer) return 0;
  length = strlen(text);
  if (length >= size || length >= 0x7FFFFFFFu) return 0;
  memcpy(buffer, text, length + 1);
  return BUSLOG_U32(length + 1u);
}

#ifdef __cplusplus
}
#endif

#endif /* BUSLOG_H */
