// The module's whole state: one log file and one pending line, created with
// the module and gone with it. The exports are its only users.
#pragma once

#include "output/line_buffer.h"
#include "output/log_file.h"

namespace buslog {

struct ModuleState {
  LogFile log;
  LineBuffer line;
};

extern ModuleState g_module;

// Process detach: closes a log file that is still open, forgets the base
// directory, the pending line (unwritten) and the share choice. The result
// cells keep their values.
void ResetModule();

}  // namespace buslog
