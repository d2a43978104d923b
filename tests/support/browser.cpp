#include "browser.h"

#include <stdexcept>

namespace kelp::test {

namespace {

constexpr const char* chromium = "/usr/bin/chromium";
constexpr std::string_view result_start = "<pre id=\"probe-result\">";

// The probe's JSON, with "<", ">" and "&" escaped so that the dumped DOM shows it unchanged.
// While the probe runs, a timer is always pending: the browser's virtual time (which skips ahead
// when nothing is pending) then waits for work off the page's thread, such as decoding images.
std::string probe_script(const std::string& probe) {
  return "<script>(async () => { let facts, done = false;"
         " (async () => {" +
         probe +
         "})().then((value) => { facts = value; },"
         " (error) => { facts = {probe_error: String(error)}; }).finally(() => { done = true; });"
         " while (!done) await new Promise((tick) => setTimeout(tick, 1));"
         " const result = document.createElement('pre'); result.id = 'probe-result';"
         " result.textContent = JSON.stringify(facts).replace(/</g, '\\\\u003c')"
         ".replace(/>/g, '\\\\u003e').replace(/&/g, '\\\\u0026');"
         " document.body.append(result); })();</script>";
}

}  // namespace

bool have_browser() {
  return fs::exists(chromium);
}

Browsed browse(const fs::path& page, const std::string& probe) {
  ByteVec bytes = read_file(page);
  std::string html(bytes.begin(), bytes.end());
  std::size_t end = html.rfind("</body>");
  if (end == std::string::npos) throw std::runtime_error("no </body> in " + page.string());
  html.insert(end, probe_script(probe));
  fs::path probed = page.parent_path() / "probe.html";
  write_file(probed, ByteVec(html.begin(), html.end()));
  TempDir profile;
  RunResult run =
      run_program(chromium, page.parent_path(),
                  {chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                   "--window-size=1280,2000", "--user-data-dir=" + profile.path.string(),
                   "--enable-logging=stderr", "--v=0", "--virtual-time-budget=600000", "--dump-dom",
                   "file://" + probed.string()});
  fs::remove(probed);
  Browsed browsed;
  std::size_t start = run.out.find(result_start);
  std::size_t stop = run.out.find("</pre>", start);
  if (run.exit_code != 0 || start == std::string::npos || stop == std::string::npos) {
    throw std::runtime_error("the browser gave no result: " + run.err);
  }
  start += result_start.size();
  browsed.facts = nlohmann::json::parse(run.out.substr(start, stop - start));
  for (std::size_t at = run.err.find("CONSOLE"); at != std::string::npos;
       at = run.err.find("CONSOLE", at + 1)) {
    browsed.console.push_back(run.err.substr(at, run.err.find('\n', at) - at));
  }
  return browsed;
}

}  // namespace kelp::test
