// Reads forward through a datagram from the network; a read past its end
// fails and leaves the reader where it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace hostsweep::protocol {

class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::optional<std::span<const std::uint8_t>> Take(std::size_t count) {
    if (count > bytes_.size()) {
      return std::nullopt;
    }
    const auto taken = bytes_.first(count);
    bytes_ = bytes_.subspan(count);
    return taken;
  }
  std::optional<std::uint8_t> Byte() {
    const auto taken = Take(1);
    return taken ? std::optional<std::uint8_t>((*taken)[0]) : std::nullopt;
  }
  // Big-endian, as every DNS-style header field is.
  std::optional<std::uint16_t> Word() {
    const auto taken = Take(2);
    if (!taken) {
      return std::nullopt;
    }
    return static_cast<std::uint16_t>((*taken)[0] << 8 | (*taken)[1]);
  }
  [[nodiscard]] std::span<const std::uint8_t> Rest() const { return bytes_; }

 private:
  std::span<const std::uint8_t> bytes_;
};

inline std::uint16_t WordAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] << 8 | bytes[offset + 1]);
}

inline void PutWord(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

}  // namespace hostsweep::protocol
