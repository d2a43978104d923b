// Pages opened in a real browser: headless Chromium loads a page kelp wrote from file://.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "files.h"

namespace kelp::test {

struct Browsed {
  nlohmann::json facts;              // what the probe reported
  std::vector<std::string> console;  // the page's console lines, errors included
};

// Loads a copy of `page` (beside it, so that its images resolve) with `probe` added after the
// page's own script: the body of an async JavaScript function whose returned value comes back
// as `facts`. The browser runs until the page's work and the probe are done.
Browsed browse(const fs::path& page, const std::string& probe);

// Whether Chromium is installed; tests that need it fail without it.
bool have_browser();

}  // namespace kelp::test
