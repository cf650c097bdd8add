// Names of the files buslog writes: joined paths, counters for rotation,
// free names beside a user's files. The rules the writer, the host's script
// runner and its demo share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace buslog_files {

// Room for a path in a buffer.
constexpr size_t kPathSize = 4096;

// Writes a followed by b into out; false if that does not fit.
bool JoinPath(char* out, size_t size, const char* a, const char* b);

// The way from a folder down to a path under a common folder: one `up`
// ("../" or "..\\") for each folder of `below` (the rest of the start
// folder under the common one, each folder ending in a separator, as
// `isSeparator` says), then `rest`. False with the reason when it does not
// fit in `out`.
bool UpThenDown(const char* below, bool (*isSeparator)(char), const char* up, const char* rest, char* out, size_t size,
                char* reason, size_t reasonSize);

// Index of the file name in `path` (after its last / or \).
size_t NameStart(const std::string& path);

// The file name with a counter before its extension: run.buslog, 3 ->
// run-003.buslog.
std::string NumberedName(const std::string& path, uint32_t number);

// `name` (relative to the current directory) when nothing of that name
// exists, else the first free of name-2.ext, name-3.ext ... (up to -999):
// the default log's name, the demo's logs. False when none is free.
bool FreeName(const char* name, char* out, size_t size);

}  // namespace buslog_files
