// Runs kelp.exe under Wine, when the build names one: a fresh Wine prefix in a temporary folder
// and one persistent wineserver for the whole test run, and a launcher that starts kelp.exe
// with a command line exactly as typed at cmd.exe.
#pragma once

#include <string>

#include "files.h"

namespace kelp::test {

// True when the build names a kelp.exe to test.
bool windows_build_given();

struct WindowsRun {
  std::string command_line;    // as typed, invocation included ("kelp base.bmp /bover.bmp")
  std::string held;            // a file that another process holds open, unshared, meanwhile
  bool code_page_932 = false;  // run in a Japanese locale, whose ANSI code page is 932
};

// Runs kelp.exe in `dir`. The Wine session starts at the first call.
RunResult run_windows(const fs::path& dir, const WindowsRun& run);

// The path of kelp.exe.
std::string windows_binary();

}  // namespace kelp::test
