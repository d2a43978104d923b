// Diagnostics on standard error, one line each, naming what they are about. A hostile file can
// raise millions of warnings, so a run prints at most max_warning_lines of them and then counts
// the rest, reported at the end by reason.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kelp {

constexpr std::size_t max_warning_lines = 1000;

// "kelp: <subject>: <message>", unless the run has printed max_warning_lines warnings already.
void warn(std::string_view subject, std::string_view message);
// "kelp: <line>", a warning that names its subject itself, bounded as above.
void warn(std::string_view line);

// One line per reason of the warnings left out: how many there were. Ends the count.
void report_left_out_warnings();

// A line on standard error that is not a warning and is never left out: "kelp: <text>".
void note(std::string_view text);

// A warning or note kept back, to be printed later in the order of a one-thread run.
struct Diagnostic {
  enum class Kind { warning_about, warning, note } kind;  // the three calls above
  std::string subject;                                    // warning_about only
  std::string text;
};
using DiagnosticLog = std::vector<Diagnostic>;

// While `log` is set (on this thread only), warnings and notes are kept in it instead of
// printed; nullptr prints them again. Returns the log that was set before.
DiagnosticLog* hold_diagnostics(DiagnosticLog* log);

// Prints what was kept, as warn and note would have printed it then.
void print_diagnostics(const DiagnosticLog& log);

}  // namespace kelp
