// POSIX: paths are bytes, and UTF-8 ones pass as they are.
#include "open_file.h"

namespace buslog_reader {

FILE* OpenFileForReading(const char* path) { return fopen(path, "rb"); }

}  // namespace buslog_reader
