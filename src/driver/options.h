// kelp's own options ("-" and "--" arguments) and the choice of the source. "/" arguments are
// the overlay options, read from the command line as one text by the compositor.
#pragma once

#include <string>
#include <vector>

#include "common/path.h"
#include "platform/platform.h"

namespace kelp {

struct Options {
  std::string output_folder;  // empty: the current folder
  bool list = false;
  bool json = false;
  bool raw = false;
  bool png = false;
  bool gallery = false;       // a page of the textures (--png), or of an import's changes
  std::string import_folder;  // --import: the folder of edited images
  bool dither = false;
  std::string jobs_text;  // --jobs as given
  unsigned jobs = 1;      // workers that write the files
  bool help = false;
  bool version = false;
  bool any_option = false;        // some kelp option was given
  int source = 0;                 // the source's index among the arguments; 0: the invocation
  std::vector<int> more_sources;  // later file arguments: sources too when a kelp option is given
  std::vector<platform::ArgumentRole> roles;  // one per argument
};

struct CommandLine {
  Options options;
  std::string usage_error;  // empty, or one line naming the culprit
};

// Reads the arguments. A "-" argument that names an existing file is that file, and "--" ends
// kelp's options; an option's value is never the source. Checks what can be checked before
// anything is read: unknown options, missing values, the output folder, options that do not
// apply to the source's kind.
CommandLine parse_command_line(int argc, const char* const* argv, CodePage code_page);

}  // namespace kelp
