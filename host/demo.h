// buslog-host demo: replays demo.candump and runs demo.script (the samples
// beside the program) into logs in the current folder, and shows them.
#pragma once

#include "buslog.h"
#include "command_line.h"

namespace buslog_host {

// Returns the exit status; `moduleDirectory` is the loaded module's folder,
// full, with its separator.
int RunDemo(const Options& options, const BuslogApi& api, const char* moduleDirectory);

}  // namespace buslog_host
