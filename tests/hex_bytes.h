// Captured frames and datagrams written as hex in the tests, and back.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace hostsweep::testing {

inline std::vector<std::uint8_t> Bytes(const std::string& hex) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

inline std::string Hex(std::span<const std::uint8_t> bytes) {
  constexpr const char* kDigits = "0123456789abcdef";
  std::string hex;
  for (const std::uint8_t byte : bytes) {
    hex += kDigits[byte >> 4U];
    hex += kDigits[byte & 0xfU];
  }
  return hex;
}

}  // namespace hostsweep::testing
