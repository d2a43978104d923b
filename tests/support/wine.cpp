#include "wine.h"

#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace kelp::test {

namespace {

// The Wine prefix, its wineserver and the Japanese locale, for the whole test run.
struct WineSession {
  TempDir prefix;
  TempDir locales;
  WineSession();
  ~WineSession();
};

void shell(const std::string& command) {
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

WineSession::WineSession() {
  ::setenv("WINEPREFIX", prefix.path.c_str(), 1);
  ::setenv("WINEDEBUG", "-all", 1);
  // No Mono or Gecko installer dialogs, no debugger on a crash.
  ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=;winedbg.exe=d;winemenubuilder.exe=d", 1);
  shell("wineserver -p");
  shell("localedef -i ja_JP -f UTF-8 " + (locales.path / "ja_JP.UTF-8").string() +
        " >/dev/null 2>&1 || test -d " + (locales.path / "ja_JP.UTF-8").string());
  // The prefix is made by the first run; kelp.exe on an empty file keeps that out of the tests.
  write_file(prefix.path / "empty.img", {});
  RunResult warm_up =
      run_program("/usr/bin/env", prefix.path, {"env", "wine", windows_binary(), "empty.img"}, {});
  if (warm_up.exit_code != 0) throw std::runtime_error("kelp.exe does not start under Wine");
}

WineSession::~WineSession() {
  std::system("wineserver -k");
  std::system("wineserver -w");
}

WineSession& wine_session() {
  static std::unique_ptr<WineSession> session = std::make_unique<WineSession>();
  return *session;
}

}  // namespace

bool windows_build_given() {
  return !std::string(KELP_WINDOWS_EXE).empty();
}

std::string windows_binary() {
  return KELP_WINDOWS_EXE;
}

RunResult run_windows(const fs::path& dir, const WindowsRun& run) {
  WineSession& session = wine_session();
  std::vector<std::string> args{"env", "wine", KELP_LAUNCHER, windows_binary(), run.command_line};
  if (!run.held.empty()) args.push_back(run.held);
  RunOptions options;
  if (run.code_page_932) {
    options.environment = {"LOCPATH=" + session.locales.path.string(), "LANG=ja_JP.UTF-8",
                           "LC_ALL=ja_JP.UTF-8"};
  }
  return run_program("/usr/bin/env", dir, args, options);
}

}  // namespace kelp::test
