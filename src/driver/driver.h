// The command-line driver: banner, usage, the choice of the source, and dispatch by extension.
#pragma once

#include <string_view>

namespace kelp {

constexpr std::string_view banner = "PS2 Orrery Converter\n\t\tkelp, by the kelp developers\n\n";
constexpr std::string_view usage = "kelp <option ...> <file ...>\n<type>\t<option>\n";
constexpr std::string_view error_source_not_found = "\tError\tsource file not found\n";

// Exit codes: everything written; some output could not be written or a limit stopped the walk;
// a usage error (nothing read or written); an error line was printed.
constexpr int exit_success = 0;
constexpr int exit_incomplete = 1;
constexpr int exit_usage = 2;
constexpr int exit_error = -1;

// Runs kelp with the process's arguments (args[0] is the invocation) and returns the exit code.
int run_kelp(int argc, const char* const* argv);

}  // namespace kelp
