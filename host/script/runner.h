// buslog-host run: a call script file through the module, line by line,
// with the judgement whether a failed Write was meant, and its summary.
#pragma once

#include <cstddef>

#include "buslog.h"
#include "command_line.h"

namespace buslog_host {

// Runs the call script at `script` (options: --strict, --overwrite,
// --share). Its Open names are relative to the module's folder
// (`moduleDirectory`, full, with its separator), or, given `logFolder` (the
// current directory's path from there), put into the current directory;
// `shownLog` gets the full path of the latest log. Returns the exit status.
int RunScript(const Options& options, const BuslogApi& api, const char* moduleDirectory, const char* script,
              const char* logFolder, char* shownLog, size_t shownSize);

}  // namespace buslog_host
