// The DLL entry point: process attach records the module's directory,
// process detach resets the module. Thread notifications do nothing.
#include <windows.h>

#include "output/log_file.h"
#include "plugin/module_state.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    buslog::InitBaseDirectory(buslog::g_module.log, instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    buslog::ResetModule();
  }
  return TRUE;
}
