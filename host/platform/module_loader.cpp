// The host's loader calls are the public loader's, so that the host, the
// examples and the tests load the module one way.
#include "platform/module_loader.h"

namespace buslog_host {

const char* ModuleFileName() { return BUSLOG_MODULE_FILE_NAME; }

bool LoadModule(const char* path, LoadedModule* module, char* error, size_t errorSize) {
  return BuslogLoadModule(path, module, error, errorSize) != 0;
}

void UnloadModule(LoadedModule* module) { BuslogUnloadModule(module); }

}  // namespace buslog_host
