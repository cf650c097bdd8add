// Opening a log by its UTF-8 path for reading: the reader library's one
// call into the system, with a file of its own for each platform
// (open_file_posix.cpp, open_file_win32.cpp; CMake picks one).
#pragma once

#include <cstdio>

namespace buslog_reader {

// The file at `path` (UTF-8), opened for reading in binary mode, or null
// with errno set.
FILE* OpenFileForReading(const char* path);

}  // namespace buslog_reader
