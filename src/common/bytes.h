// Bounds-checked access to little-endian byte buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace kelp {

using Bytes = std::span<const std::uint8_t>;

// The characters of a text as bytes.
inline Bytes text_bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// True when `count` bytes from `offset` on lie inside `bytes`.
constexpr bool fits(Bytes bytes, std::uint64_t offset, std::uint64_t count) {
  return offset <= bytes.size() && count <= bytes.size() - offset;
}

// The bytes from `offset` to the end; empty when `offset` lies past the end.
constexpr Bytes tail(Bytes bytes, std::uint64_t offset) {
  return offset <= bytes.size() ? bytes.subspan(static_cast<std::size_t>(offset)) : Bytes{};
}

// Reads an unsigned little-endian field; nothing when the field would cross the end.
template <typename T>
constexpr std::optional<T> read_le(Bytes bytes, std::uint64_t offset) {
  if (!fits(bytes, offset, sizeof(T))) return std::nullopt;
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    value = static_cast<T>(value | T{bytes[offset + i]} << (8 * i));
  }
  return value;
}

// Stores an unsigned little-endian field at `at`, which the caller has sized.
template <typename T>
constexpr void put_le(std::uint8_t* at, T value) {
  for (std::size_t i = 0; i < sizeof(T); ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace kelp
