// Process attach and detach for the POSIX module: a constructor and a
// destructor run when the library is loaded and unloaded (dlopen, dlclose,
// process start and exit).
#include "output/log_file.h"
#include "plugin/module_state.h"

namespace {

__attribute__((constructor)) void AttachProcess() {
  // Any address inside this library tells dladdr which file it came from.
  buslog::InitBaseDirectory(buslog::g_module.log, reinterpret_cast<const void*>(&AttachProcess));
}

__attribute__((destructor)) void DetachProcess() { buslog::ResetModule(); }

}  // namespace
