// kelp's exit codes.
#pragma once

namespace kelp {

// Everything written; some output could not be written or a limit stopped the walk; a usage
// error (nothing read or written); an error line was printed.
constexpr int exit_success = 0;
constexpr int exit_incomplete = 1;
constexpr int exit_usage = 2;
constexpr int exit_error = -1;

}  // namespace kelp
