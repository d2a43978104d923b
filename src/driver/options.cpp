#include "driver/options.h"

#include <array>
#include <charconv>
#include <string_view>
#include <utility>

#include "common/path.h"
#include "common/pool.h"

namespace kelp {

namespace {

using platform::ArgumentRole;

struct KnownOption {
  char short_name;  // 0: long form only
  std::string_view long_name;
  bool Options::*flag = nullptr;
  std::string Options::*value = nullptr;
};

constexpr std::array option_table{
    KnownOption{'o', "output", nullptr, &Options::output_folder},
    KnownOption{'l', "list", &Options::list},
    KnownOption{0, "json", &Options::json},
    KnownOption{0, "raw", &Options::raw},
    KnownOption{0, "png", &Options::png},
    KnownOption{0, "gallery", &Options::gallery},
    KnownOption{0, "import", nullptr, &Options::import_folder},
    KnownOption{0, "dither", &Options::dither},
    KnownOption{'j', "jobs", nullptr, &Options::jobs_text},
    KnownOption{'h', "help", &Options::help},
    KnownOption{'V', "version", &Options::version},
};

const KnownOption* find_option(std::string_view argument) {
  for (const KnownOption& known : option_table) {
    if (argument.starts_with("--") ? argument.substr(2) == known.long_name
                                   : argument.size() == 2 && argument[1] == known.short_name) {
      return &known;
    }
  }
  return nullptr;
}

bool is_option(std::string_view argument) {
  return argument.size() > 1 && argument[0] == '-' && !platform::path_exists(std::string(argument));
}

// Reads the option at argv[index] (and its value, which may be the next argument); returns the
// index of the last argument it took, or the usage error.
int take_option(int argc, const char* const* argv, int index, CommandLine& line) {
  std::string_view argument = argv[index];
  bool long_form = argument.starts_with("--");
  std::size_t equals = long_form ? argument.find('=') : std::string_view::npos;
  std::string_view name = argument.substr(0, equals);
  const KnownOption* known = find_option(long_form ? name : argument.substr(0, 2));
  bool attached = !long_form && argument.size() > 2;  // "-oDIR"
  if (known == nullptr || (attached && known->value == nullptr)) {
    line.usage_error = "unknown option " + std::string(long_form ? name : argument);
    return index;
  }
  Options& options = line.options;
  options.any_option = true;
  options.roles[index] = ArgumentRole::kelp_option;
  if (known->flag != nullptr) {
    if (equals != std::string_view::npos) {
      line.usage_error = "option " + std::string(name) + " takes no value";
    }
    options.*(known->flag) = true;
    return index;
  }
  bool inline_value = equals != std::string_view::npos || attached;
  if (inline_value) {
    options.*(known->value) = argument.substr(equals != std::string_view::npos ? equals + 1 : 2);
  } else if (index + 1 < argc) {
    options.*(known->value) = argv[++index];
    options.roles[index] = ArgumentRole::kelp_option;
  }
  if ((options.*(known->value)).empty()) {
    line.usage_error = "option " + std::string(name) + " needs a value";
  }
  return index;
}

// The folder must exist, or be one level below one that does.
std::string check_output_folder(const std::string& folder, CodePage code_page) {
  if (platform::path_exists(folder)) {
    return platform::is_directory(folder) ? "" : "--output: " + folder + " is not a folder";
  }
  std::string parent = parent_folder(folder, code_page);
  if (parent.empty() || platform::is_directory(parent)) return "";
  return "--output: " + parent + ": no such folder";
}

std::string check_import(const Options& options, const std::string& source,
                         const std::string& extension) {
  for (auto [given, name] : {std::pair{options.png, "--png"}, {options.raw, "--raw"}}) {
    if (given) return std::string("--import and ") + name + " cannot be combined";
  }
  if (!platform::is_directory(options.import_folder)) {
    return "--import: " + options.import_folder + " is not a folder";
  }
  bool readable = extension == ".img" || extension == ".dat" || extension == ".iso";
  if (!readable && !platform::is_directory(source)) {
    return "--import takes an .img, .dat or .iso source, or a folder";
  }
  return "";
}

// --jobs: a number of workers, 1 (one thread) to max_jobs, digits only.
std::string read_jobs(Options& options) {
  options.jobs = default_jobs();
  if (options.jobs_text.empty()) return "";
  const std::string& text = options.jobs_text;
  unsigned jobs = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), jobs);
  if (error != std::errc() || end != text.data() + text.size() || jobs < 1 || jobs > max_jobs) {
    return "--jobs takes a number from 1 to " + std::to_string(max_jobs) + ", not " + text;
  }
  options.jobs = jobs;
  return "";
}

std::string check_combination(const Options& options, const char* const* argv, CodePage code_page) {
  if (options.help || options.version) return "";
  if (options.source == 0) return "no source file named";
  if (!options.output_folder.empty()) {
    std::string problem = check_output_folder(options.output_folder, code_page);
    if (!problem.empty()) return problem;
  }
  std::string extension = ascii_lower(split_path(argv[options.source], code_page).extension);
  std::string list = options.json ? "--json" : "--list";
  if (!options.import_folder.empty()) return check_import(options, argv[options.source], extension);
  if (options.dither) return "--dither applies only to --import";
  if (extension == ".bmp" && (options.list || options.png || options.gallery)) {
    return (options.png       ? "--png"
            : options.gallery ? "--gallery"
                              : list) +
           " does not apply to a .bmp source";
  }
  if (options.png && options.list) return "--png and " + list + " cannot be combined";
  if (options.gallery && options.list) return "--gallery and " + list + " cannot be combined";
  if (options.gallery && !options.png) return "--gallery applies only to --png or --import";
  return "";
}

}  // namespace

CommandLine parse_command_line(int argc, const char* const* argv, CodePage code_page) {
  CommandLine line;
  Options& options = line.options;
  options.roles.assign(static_cast<std::size_t>(argc), ArgumentRole::file);
  options.roles[0] = ArgumentRole::invocation;
  bool options_ended = false;
  for (int index = 1; index < argc && line.usage_error.empty(); ++index) {
    std::string argument = argv[index];
    if (!options_ended && argument == "--") {
      options.roles[index] = ArgumentRole::kelp_option;
      options_ended = true;
    } else if (!options_ended && is_option(argument)) {
      index = take_option(argc, argv, index, line);
    } else if (argument[0] == '/' && !platform::slash_argument_is_path(argument)) {
      options.roles[index] = ArgumentRole::slash_option;
    } else if (options.source == 0) {
      options.source = index;
      options.roles[index] = ArgumentRole::source;
    } else {
      options.more_sources.push_back(index);
    }
  }
  if (options.json) options.list = true;
  if (line.usage_error.empty()) line.usage_error = read_jobs(options);
  if (line.usage_error.empty() && options.any_option) {
    line.usage_error = check_combination(options, argv, code_page);
    Options each = options;
    for (int source : options.more_sources) {
      if (!line.usage_error.empty()) break;
      each.source = source;
      line.usage_error = check_combination(each, argv, code_page);
    }
  }
  return line;
}

}  // namespace kelp
