/*
 * buslog: the nine exports of the logging module, written down once for the
 * module and for every host that loads it.
 *
 * A host loads the module (buslog.dll or libbuslog.so) and calls the exports
 * one at a time, from any thread. Every export but PutFrame takes the same
 * argument block:
 *   count        number of 32-bit values at data, or of text bytes for
 *                Open and PutString
 *   data         the values or bytes (text is not zero-terminated)
 *   resultCount  set on every call: 1 for Open, ShareMode and Write, else 0
 *   resultPtr    Open, ShareMode and Write store the address of their result
 *                cell here (1, 4 and 1 bytes wide); the address never changes
 *                while the module is loaded
 * Close, PutString, PutFrameId, PutTimeStamp and PutError take no resultPtr.
 *
 * Example, one line of a CAN log:
 *   PutFrameId   {123}
 *   PutTimeStamp {1, 234567}
 *   PutFrame     0x3031, 4, 0, 0, 5, {01 23 02 AA BB}
 *   Write
 * writes "000000123,+1.234567,I,CAN     , 1,OK,0,1,23,2,AA,BB" and CR LF.
 */
#ifndef BUSLOG_H
#define BUSLOG_H

#include <stdint.h>

#if defined(BUSLOG_BUILDING_MODULE) && !defined(_WIN32)
#define BUSLOG_EXPORT __attribute__((visibility("default")))
#else
#define BUSLOG_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Open result codes (1 byte). */
enum {
  BUSLOG_OPEN_OK = 0,        /* the log file was created and is open */
  BUSLOG_OPEN_BAD_NAME = 1,  /* empty name, or directory and name too long */
  BUSLOG_OPEN_FAILED = 2,    /* the file could not be created */
  BUSLOG_OPEN_BUSY = 3       /* a log file is already open; nothing changed */
};

/* Frame record kind codes and bus codes that the module recognises. */
enum {
  BUSLOG_KIND_OUT = 0x3030,    /* O */
  BUSLOG_KIND_IN = 0x3031,     /* I */
  BUSLOG_KIND_PORT = 0x3033,   /* P */
  BUSLOG_KIND_ENV = 0x3131,    /* E */
  BUSLOG_KIND_MARKER = 0xFFFB  /* M */
};
enum {
  BUSLOG_BUS_PORT_IN = 0,
  BUSLOG_BUS_CAN = 4,
  BUSLOG_BUS_LIN = 12,
  BUSLOG_BUS_CXPI = 40,
  BUSLOG_BUS_PORT_OUT = 0x83,
  BUSLOG_BUS_NUMBERED = 128
};

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

BUSLOG_EXPORT BuslogOpenFn Open;
BUSLOG_EXPORT BuslogCloseFn Close;
BUSLOG_EXPORT BuslogPutErrorFn PutError;
BUSLOG_EXPORT BuslogPutFrameFn PutFrame;
BUSLOG_EXPORT BuslogPutFrameIdFn PutFrameId;
BUSLOG_EXPORT BuslogPutStringFn PutString;
BUSLOG_EXPORT BuslogPutTimeStampFn PutTimeStamp;
BUSLOG_EXPORT BuslogShareModeFn ShareMode;
BUSLOG_EXPORT BuslogWriteFn Write;

/* The exports as a host finds them in a loaded module. */
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

#ifdef __cplusplus
}
#endif

#endif /* BUSLOG_H */
