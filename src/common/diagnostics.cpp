#include "common/diagnostics.h"

#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace kelp {

namespace {

// Reasons are kept apart up to this many; further ones are counted together.
constexpr std::size_t max_left_out_reasons = 64;

struct LeftOut {
  std::size_t printed = 0;
  std::vector<std::pair<std::string, std::uint64_t>> by_reason;
  std::uint64_t other_reasons = 0;
};

LeftOut& left_out() {
  static LeftOut counts;
  return counts;
}

void count_left_out(std::string_view message) {
  LeftOut& counts = left_out();
  for (auto& [reason, count] : counts.by_reason) {
    if (reason == message) {
      ++count;
      return;
    }
  }
  if (counts.by_reason.size() < max_left_out_reasons) {
    counts.by_reason.emplace_back(message, 1);
  } else {
    ++counts.other_reasons;
  }
}

thread_local DiagnosticLog* held = nullptr;

bool keep(Diagnostic::Kind kind, std::string_view subject, std::string_view text) {
  if (held == nullptr) return false;
  held->push_back({kind, std::string(subject), std::string(text)});
  return true;
}

// Prints "kelp: <line>" unless the run has printed max_warning_lines warnings already; what is
// left out is counted by `reason`.
void print_warning(const std::string& line, std::string_view reason) {
  LeftOut& counts = left_out();
  if (counts.printed == max_warning_lines) return count_left_out(reason);
  ++counts.printed;
  platform::error_line("kelp: " + line);
}

}  // namespace

void warn(std::string_view subject, std::string_view message) {
  if (keep(Diagnostic::Kind::warning_about, subject, message)) return;
  print_warning(std::string(subject) + ": " + std::string(message), message);
}

void warn(std::string_view line) {
  if (keep(Diagnostic::Kind::warning, {}, line)) return;
  print_warning(std::string(line), line);
}

void report_left_out_warnings() {
  LeftOut& counts = left_out();
  for (const auto& [reason, count] : counts.by_reason) {
    note(std::to_string(count) + (count == 1 ? " more warning" : " more warnings") +
         " left out: " + reason);
  }
  if (counts.other_reasons > 0) {
    note(std::to_string(counts.other_reasons) + " more warnings of other reasons left out");
  }
  counts = {};
}

void note(std::string_view text) {
  if (keep(Diagnostic::Kind::note, {}, text)) return;
  platform::error_line("kelp: " + std::string(text));
}

DiagnosticLog* hold_diagnostics(DiagnosticLog* log) {
  return std::exchange(held, log);
}

void print_diagnostics(const DiagnosticLog& log) {
  for (const Diagnostic& line : log) {
    if (line.kind == Diagnostic::Kind::warning_about) {
      warn(line.subject, line.text);
    } else if (line.kind == Diagnostic::Kind::warning) {
      warn(line.text);
    } else {
      note(line.text);
    }
  }
}

}  // namespace kelp
