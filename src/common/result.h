// How kelp's functions fail. A function whose caller decides what a failure means returns a
// Result: a value, or a refusal that says why in words fit for a warning, the subject (the
// entry, the container) left for the caller to name. A function that reports its own failure on
// standard error returns only whether it succeeded (bool). Exit codes are the named constants of
// common/exit_codes.h.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace kelp {

struct Refusal {
  std::string why;
};

template <typename T>
struct Result {
  Result(T value) : value(std::move(value)) {}
  Result(Refusal refusal) : refusal(std::move(refusal.why)) {}

  explicit operator bool() const { return value.has_value(); }
  T& operator*() { return *value; }
  T* operator->() { return &*value; }

  std::optional<T> value;
  std::string refusal;  // why there is no value
};

}  // namespace kelp
