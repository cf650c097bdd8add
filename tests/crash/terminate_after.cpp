// Starts a command line, lets it run for the given milliseconds, then ends
// it with TerminateProcess, as a host that dies does on Windows. Exits 0 if
// the process was still running and was terminated, 3 if it had ended by
// itself first (then its own exit code is printed), 2 on bad use.
//   terminate_after MILLISECONDS COMMAND-LINE...
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: terminate_after MILLISECONDS COMMAND-LINE...\n");
    return 2;
  }
  DWORD milliseconds = static_cast<DWORD>(strtoul(argv[1], nullptr, 10));
  std::string commandLine;
  for (int i = 2; i < argc; ++i) {
    if (i > 2) commandLine += ' ';
    commandLine += '"';
    commandLine += argv[i];
    commandLine += '"';
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    fprintf(stderr, "terminate_after: cannot start %s (error %lu)\n", argv[2],
            static_cast<unsigned long>(GetLastError()));
    return 2;
  }
  int result = 0;
  if (WaitForSingleObject(process.hProcess, milliseconds) == WAIT_TIMEOUT) {
    TerminateProcess(process.hProcess, 9);
    WaitForSingleObject(process.hProcess, INFINITE);
  } else {
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    printf("ended by itself with exit code %lu\n", static_cast<unsigned long>(code));
    result = 3;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return result;
}
