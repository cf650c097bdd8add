// Windows: a UTF-8 path is made UTF-16 for _wfopen, so that names outside
// the ANSI code page open too.
#include "open_file.h"

#include <windows.h>

#include <cerrno>
#include <vector>

namespace buslog_reader {

FILE* OpenFileForReading(const char* path) {
  int wide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
  if (wide <= 0) {
    errno = EINVAL;
    return nullptr;
  }
  std::vector<wchar_t> name(static_cast<size_t>(wide));
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, name.data(), wide);
  return _wfopen(name.data(), L"rb");
}

}  // namespace buslog_reader
