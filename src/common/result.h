// How kelp's functions fail: a value, or a refusal that says why in words fit for a warning.
// Callers name the subject (the entry, the file) when they print it.
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
  const T& operator*() const { return *value; }
  T* operator->() { return &*value; }
  const T* operator->() const { return &*value; }

  std::optional<T> value;
  std::string refusal;  // why there is no value
};

}  // namespace kelp
