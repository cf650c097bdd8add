// POSIX: paths are bytes, and UTF-8 ones pass as they are.
#include "open_file.h"

#include <dirent.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>

namespace buslog_reader {

FILE* OpenFileForReading(const char* path) { return fopen(path, "rb"); }

bool FilesOfFolder(const char* path, const char* ending, std::vector<std::string>* files) {
  struct stat st;
  if (stat(path, &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  files->clear();
  DIR* folder = opendir(path);
  if (folder == nullptr) return true;
  std::string prefix = path;
  if (prefix.empty() || prefix.back() != '/') prefix += '/';
  size_t endingLength = strlen(ending);
  while (struct dirent* entry = readdir(folder)) {
    size_t length = strlen(entry->d_name);
    if (length <= endingLength || strcmp(entry->d_name + length - endingLength, ending) != 0) continue;
    files->push_back(prefix + entry->d_name);
  }
  closedir(folder);
  std::sort(files->begin(), files->end());
  return true;
}

}  // namespace buslog_reader
