// Each writer drives an instance of the module of its own: the module
// keeps one open log and one pending line in its statics, and a process
// that loads a module file twice gets the same instance. So the first
// writer of a process loads the file itself, and every further writer of
// that file (and a writer of a file the program loaded by itself) loads a
// private copy from a folder of its own in the temporary folder (on
// Windows, in the log's folder when the temporary one is on another
// drive), which goes when it is unloaded. The process-wide list of the module files its
// writers hold, and that of the logs they have open (log_files.cpp), are
// the engine's only shared state.
#pragma once

#include <string>

#include "buslog_loader.h"

namespace buslog_writer {

struct ModuleInstance {
  BuslogModule module;
  std::string directory;      // the module's folder, full, with its separator: where it opens logs
  std::string key;            // the original file's full path, in the process's list
  std::string privateFolder;  // a private copy's folder (and file), removed at unload
  std::string privateFile;
};

// Loads an instance of the module at `path` (null: the one beside this
// library) that can reach logs in `logFolder`. False with one line in
// `error`.
bool LoadModuleInstance(const char* path, const char* logFolder, ModuleInstance* instance, std::string* error);
void UnloadModuleInstance(ModuleInstance* instance);

}  // namespace buslog_writer
