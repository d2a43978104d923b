// kelp's exit codes.
#pragma once

namespace kelp {

// Everything written; some output could not be written or a limit stopped the walk; a usage
// error (nothing read or written); an error line was printed.
constexpr int exit_success = 0;
constexpr int exit_incomplete = 1;
constexpr int exit_usage = 2;
constexpr int exit_error = -1;

// The worse of two runs' exit codes: an error line, then usage, then a file not written whole.
constexpr int worst_exit(int a, int b) {
  return a == exit_error || b == exit_error ? exit_error : (a > b ? a : b);
}

}  // namespace kelp
