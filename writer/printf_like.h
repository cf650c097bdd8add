// BUSLOG_PRINTF_LIKE: lets the compiler check a printf-style function's
// format against its arguments, for the writer's messages and the host's.
#pragma once

#if defined(__MINGW32__)
// mingw-w64's C++ runtime formats with its own printf (C99: %zu, %llu).
#define BUSLOG_PRINTF_LIKE(formatIndex, firstArgument) \
  __attribute__((format(__MINGW_PRINTF_FORMAT, formatIndex, firstArgument)))
#elif defined(__GNUC__)
#define BUSLOG_PRINTF_LIKE(formatIndex, firstArgument) \
  __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define BUSLOG_PRINTF_LIKE(formatIndex, firstArgument)
#endif
