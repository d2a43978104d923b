// Starts a Windows program with a command line given verbatim, as cmd.exe passes what a user
// types, and ends with the program's exit code. Optionally holds a file open, unshared, while
// the program runs. Built with mingw-w64 and run under Wine by the end-to-end tests:
//   launcher.exe PROGRAM "COMMAND LINE" [FILE TO HOLD]
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: launcher PROGRAM \"COMMAND LINE\" [FILE TO HOLD]\n");
    return 126;
  }
  HANDLE held = INVALID_HANDLE_VALUE;
  if (argc == 4) {
    held = CreateFileA(argv[3], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
    if (held == INVALID_HANDLE_VALUE) {
      std::fprintf(stderr, "launcher: cannot hold %s\n", argv[3]);
      return 126;
    }
  }
  std::string command_line = argv[2];  // CreateProcessA may write into it
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(argv[1], command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    std::fprintf(stderr, "launcher: cannot start %s: error %lu\n", argv[1], GetLastError());
    return 127;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exit_code = 1;
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  std::fflush(stdout);
  ExitProcess(exit_code);
}
