// Windows: a UTF-8 path is made UTF-16 for _wfopen, so that names outside
// the ANSI code page open too.
#include "open_file.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace buslog_reader {
namespace {

// `path` (UTF-8) as UTF-16; empty when it is not UTF-8.
std::vector<wchar_t> Wide(const char* path) {
  int wide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
  if (wide <= 0) return std::vector<wchar_t>();
  std::vector<wchar_t> name(static_cast<size_t>(wide));
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, name.data(), wide);
  return name;
}

std::string Narrow(const wchar_t* name) {
  int length = WideCharToMultiByte(CP_UTF8, 0, name, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return std::string();
  std::string text(static_cast<size_t>(length - 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, name, -1, &text[0], length, nullptr, nullptr);
  return text;
}

}  // namespace

FILE* OpenFileForReading(const char* path) {
  std::vector<wchar_t> name = Wide(path);
  if (name.empty()) {
    errno = EINVAL;
    return nullptr;
  }
  return _wfopen(name.data(), L"rb");
}

bool FilesOfFolder(const char* path, const char* ending, std::vector<std::string>* files) {
  std::vector<wchar_t> name = Wide(path);
  if (name.empty()) return false;
  DWORD attributes = GetFileAttributesW(name.data());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
  files->clear();
  std::string prefix = path;
  if (prefix.empty() || (prefix.back() != '\\' && prefix.back() != '/')) prefix += '\\';
  std::vector<wchar_t> pattern = Wide((prefix + "*").c_str());
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern.data(), &found);
  if (search == INVALID_HANDLE_VALUE) return true;
  std::string tail = ending;
  do {
    std::string entry = Narrow(found.cFileName);
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || entry.size() <= tail.size()) continue;
    if (entry.compare(entry.size() - tail.size(), tail.size(), tail) == 0) files->push_back(prefix + entry);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(files->begin(), files->end());
  return true;
}

}  // namespace buslog_reader
