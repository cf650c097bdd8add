// The module-wide statics and their reset at process detach.
#include "plugin/module_state.h"

namespace buslog {

// Constant-initialised: the state is in place before any code of the module
// runs, and a fresh load of the module starts from these values again.
ModuleState g_module = {
    {kNoFile, /*shareModeResult=*/1, /*baseDirectory=*/{}, /*shareRead=*/0, /*openResult=*/0},
    {/*bytes=*/{}, /*length=*/0, /*writeResult=*/0},
};

void ResetModule() {
  CloseLogFile(g_module.log);
  g_module.log.baseDirectory[0] = '\0';
  DiscardLine(g_module.line);
  g_module.log.shareRead = 0;
}

}  // namespace buslog
