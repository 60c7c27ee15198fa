#include "controller/system/posix/route_dump.h"

#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "common/posix/file_descriptor.h"
#include "controller/base/errors.h"

namespace hostsweep::controller {
namespace {

constexpr std::size_t kDumpBufferSize = 32768;
constexpr std::size_t kIpv4Bytes = 4;

struct DumpRequest {
  nlmsghdr header;
  rtgenmsg message;
};

void Send(int fd, const nlmsghdr& request, const std::string& what) {
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (sendto(fd, &request, request.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
             sizeof(kernel)) < 0) {
    throw SystemError("cannot " + what + ": send: " + std::strerror(errno));
  }
}

FileDescriptor OpenRouteSocket(const std::string& what) {
  FileDescriptor fd(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
  if (!fd.Valid()) {
    throw SystemError("cannot " + what + ": socket: " + std::strerror(errno));
  }
  return fd;
}

}  // namespace

void DumpRoute(std::uint16_t type, const std::string& what,
               const std::function<void(const nlmsghdr&)>& take, unsigned char family) {
  const auto fail = [&what](const char* step) {
    throw SystemError("cannot read " + what + ": " + step + ": " + std::strerror(errno));
  };
  const FileDescriptor fd = OpenRouteSocket("read " + what);
  DumpRequest request{};
  request.header.nlmsg_len = sizeof(request);
  request.header.nlmsg_type = type;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.header.nlmsg_seq = 1;
  request.message.rtgen_family = family;
  Send(fd.Get(), request.header, "read " + what);
  alignas(nlmsghdr) std::array<char, kDumpBufferSize> buffer{};
  for (;;) {
    const ssize_t received = recv(fd.Get(), buffer.data(), buffer.size(), 0);
    if (received < 0) {
      if (errno == EINTR) {
        continue;
      }
      fail("receive");
    }
    auto remaining = static_cast<unsigned>(received);
    for (const auto* header = reinterpret_cast<const nlmsghdr*>(buffer.data());
         NLMSG_OK(header, remaining); header = NLMSG_NEXT(header, remaining)) {
      if (header->nlmsg_type == NLMSG_DONE) {
        return;
      }
      if (header->nlmsg_type == NLMSG_ERROR) {
        errno = -static_cast<const nlmsgerr*>(NLMSG_DATA(header))->error;
        fail("dump");
      }
      take(*header);
    }
  }
}

void ForEachAttribute(
    const nlmsghdr& header, std::size_t fixed,
    const std::function<void(unsigned short, const unsigned char*, std::size_t)>& take) {
  if (header.nlmsg_len < NLMSG_LENGTH(fixed)) {
    return;
  }
  int length = static_cast<int>(header.nlmsg_len - NLMSG_LENGTH(NLMSG_ALIGN(fixed)));
  for (const auto* attribute = reinterpret_cast<const rtattr*>(
           static_cast<const char*>(NLMSG_DATA(&header)) + NLMSG_ALIGN(fixed));
       RTA_OK(attribute, length); attribute = RTA_NEXT(attribute, length)) {
    take(attribute->rta_type, static_cast<const unsigned char*>(RTA_DATA(attribute)),
         RTA_PAYLOAD(attribute));
  }
}

std::optional<Address> Ipv4Of(const unsigned char* data, std::size_t size) {
  if (size != kIpv4Bytes) {
    return std::nullopt;
  }
  return Address{data[0]} << 24 | Address{data[1]} << 16 | Address{data[2]} << 8 | Address{data[3]};
}

}  // namespace hostsweep::controller
