// Opening a log by its UTF-8 path for reading, and the logs of a folder:
// the reader library's calls into the system, with a file of its own for each platform
// (open_file_posix.cpp, open_file_win32.cpp; CMake picks one).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace buslog_reader {

// The file at `path` (UTF-8), opened for reading in binary mode, or null
// with errno set.
FILE* OpenFileForReading(const char* path);

// When `path` is a folder: true, and the full paths of the files in it
// whose names end in `ending`, sorted by name. False for anything else.
bool FilesOfFolder(const char* path, const char* ending, std::vector<std::string>* files);

}  // namespace buslog_reader
