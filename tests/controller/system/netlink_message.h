// rtnetlink messages laid out as the kernel sends them, for the tests of
// what the controller's Linux half reads from it.
#pragma once

#include <linux/netlink.h>
#include <linux/rtnetlink.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "controller/base/address.h"

namespace hostsweep::controller {

// One rtnetlink message: header, fixed part, attributes, each 4-byte aligned.
class Message {
 public:
  template <typename Fixed>
  Message(std::uint16_t type, const Fixed& fixed) {
    Append(&fixed, sizeof(fixed));
    header().nlmsg_type = type;
  }
  Message& Attribute(std::uint16_t type, const void* data, std::size_t size) {
    const rtattr attribute{static_cast<unsigned short>(RTA_LENGTH(size)), type};
    Append(&attribute, sizeof(attribute));
    Append(data, size);
    return *this;
  }
  Message& Ipv4(std::uint16_t type, Address address) {
    const std::array<unsigned char, 4> bytes{
        static_cast<unsigned char>(address >> 24U), static_cast<unsigned char>(address >> 16U),
        static_cast<unsigned char>(address >> 8U), static_cast<unsigned char>(address)};
    return Attribute(type, bytes.data(), bytes.size());
  }
  [[nodiscard]] const nlmsghdr* Get() const {
    return reinterpret_cast<const nlmsghdr*>(bytes_.data());
  }

 private:
  nlmsghdr& header() { return *reinterpret_cast<nlmsghdr*>(bytes_.data()); }
  void Append(const void* data, std::size_t size) {
    const std::size_t at = bytes_.size() * sizeof(std::uint32_t);
    const std::size_t end = NLMSG_ALIGN(at + size);
    bytes_.resize(end / sizeof(std::uint32_t));
    std::memcpy(reinterpret_cast<char*>(bytes_.data()) + at, data, size);
    header().nlmsg_len = static_cast<std::uint32_t>(end);
  }

  std::vector<std::uint32_t> bytes_ = std::vector<std::uint32_t>(NLMSG_HDRLEN / 4);
};

}  // namespace hostsweep::controller
