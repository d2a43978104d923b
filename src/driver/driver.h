// The command-line driver: banner, usage, the choice of the source, and dispatch by extension.
#pragma once

#include <string_view>

#include "common/exit_codes.h"

namespace kelp {

constexpr std::string_view banner = "PS2 Orrery Converter\n\t\tkelp, by the kelp developers\n\n";
constexpr std::string_view usage = "kelp <option ...> <file ...>\n<type>\t<option>\n";
constexpr std::string_view error_source_not_found = "\tError\tsource file not found\n";

// Runs kelp with the process's arguments (args[0] is the invocation) and returns the exit code.
int run_kelp(int argc, const char* const* argv);

}  // namespace kelp
