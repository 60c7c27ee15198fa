// --ipv6 on Linux: a raw ICMPv6 socket that takes in echo replies alone (the
// kernel's filter drops every other message), opened while the controller
// still holds CAP_NET_RAW; the MACs come from the IPv6 neighbour table, which
// the answers filled (each node resolved our address first).
#include "controller/system/ipv6_prober.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>

#include "common/posix/file_descriptor.h"
#include "controller/base/errors.h"
#include "controller/system/posix/ipv6_echo.h"

namespace hostsweep::controller {
namespace {

constexpr std::size_t kMostMessage = 1500;
// Messages read per turn of the loop: a flood of them delays no one.
constexpr int kReadsPerTurn = 64;
constexpr int kPrefixBits = 128;

// One swept interface: where requests go out and which sources are on it.
struct Ipv6Link {
  int index = 0;
  std::vector<Ipv6Bytes> sources;
  std::vector<Ipv6Prefix> prefixes;
};

Ipv6Bytes BytesOf(const sockaddr* address) {
  Ipv6Bytes bytes{};
  std::memcpy(bytes.data(), &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr,
              bytes.size());
  return bytes;
}

int PrefixLength(const Ipv6Bytes& mask) {
  int length = 0;
  for (const std::uint8_t byte : mask) {
    length += std::popcount(byte);
  }
  return std::min(length, kPrefixBits);
}

// The IPv6 addresses of each of `names` that has any, by interface index.
std::map<int, Ipv6Link> LinksOf(const std::vector<std::string>& names) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    throw SystemError(std::string("--ipv6: cannot list the interfaces: ") + std::strerror(errno));
  }
  const std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> owner(list, freeifaddrs);
  std::map<int, Ipv6Link> links;
  for (const ifaddrs* item = list; item != nullptr; item = item->ifa_next) {
    if (item->ifa_addr == nullptr || item->ifa_addr->sa_family != AF_INET6 ||
        (item->ifa_flags & IFF_UP) == 0 ||
        std::find(names.begin(), names.end(), item->ifa_name) == names.end()) {
      continue;
    }
    const int index = static_cast<int>(if_nametoindex(item->ifa_name));
    Ipv6Link& link = links[index];
    link.index = index;
    link.sources.push_back(BytesOf(item->ifa_addr));
    if (item->ifa_netmask != nullptr) {
      link.prefixes.push_back(
          {.address = link.sources.back(), .length = PrefixLength(BytesOf(item->ifa_netmask))});
    }
  }
  return links;
}

class RawIpv6Prober : public Ipv6Prober {
 public:
  explicit RawIpv6Prober(FileDescriptor fd)
      : fd_(std::move(fd)), identifier_(static_cast<std::uint16_t>(getpid())) {}
  RawIpv6Prober(const RawIpv6Prober&) = delete;
  RawIpv6Prober& operator=(const RawIpv6Prober&) = delete;
  ~RawIpv6Prober() override { Stop(); }

  // Each sweep of --watch starts a search of its own.
  void Start(EventLoop& loop, std::vector<std::string> interfaces,
             const Ipv6Settings& settings) override {
    Stop();
    answers_.clear();
    found_.reset();
    failure_ = nullptr;
    settings_ = settings;
    try {
      links_ = LinksOf(interfaces);
    } catch (const SystemError&) {
      failure_ = std::current_exception();
      return;
    }
    if (links_.empty()) {
      found_.emplace();
      return;
    }
    loop_ = &loop;
    loop_->Watch(fd_.Get(), kReadable, [this](unsigned /*ready*/) { ReadWaiting(); });
    SendTry(0);
  }

  std::optional<std::vector<Ipv6Neighbour>> Found() override {
    if (failure_) {
      std::rethrow_exception(std::exchange(failure_, nullptr));
    }
    return std::exchange(found_, std::nullopt);
  }

 private:
  void SendTry(int attempt) {
    for (const auto& [index, link] : links_) {
      for (const auto& source : link.sources) {
        Send(link.index, source, static_cast<std::uint16_t>(attempt));
      }
    }
    if (attempt + 1 == settings_.tries) {
      timer_ = loop_->After(settings_.lastWait, [this] { Finish(); });
    } else {
      timer_ = loop_->After(settings_.retryAfter, [this, attempt] { SendTry(attempt + 1); });
    }
  }

  // Ends a search still asking.
  void Stop() {
    if (loop_ != nullptr) {
      loop_->Unwatch(fd_.Get());
      loop_->Cancel(timer_);
      loop_ = nullptr;
    }
  }

  void Finish() {
    Stop();
    std::map<int, std::string> names;
    for (const auto& [index, link] : links_) {
      std::array<char, IF_NAMESIZE> name{};
      if (if_indextoname(static_cast<unsigned>(index), name.data()) != nullptr) {
        names.emplace(index, name.data());
      }
    }
    try {
      found_ = JoinAnswers({answers_.begin(), answers_.end()}, ReadIpv6NeighbourTable(), names);
    } catch (const SystemError&) {
      failure_ = std::current_exception();
    }
  }

  // To all nodes on one link, from one of its addresses, so that each node
  // answers from its own address of the same scope: from the link-local one
  // for ours, from its global ones for our global ones.
  void Send(int index, const Ipv6Bytes& source, std::uint16_t sequence) {
    const auto request = EchoRequest(identifier_, sequence);
    sockaddr_in6 allNodes{};
    allNodes.sin6_family = AF_INET6;
    inet_pton(AF_INET6, "ff02::1", &allNodes.sin6_addr);
    allNodes.sin6_scope_id = static_cast<std::uint32_t>(index);
    in6_pktinfo from{};
    std::memcpy(&from.ipi6_addr, source.data(), source.size());
    from.ipi6_ifindex = static_cast<unsigned>(index);
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(in6_pktinfo))> control{};
    iovec part{.iov_base = const_cast<std::uint8_t*>(request.data()), .iov_len = request.size()};
    msghdr message{.msg_name = &allNodes,
                   .msg_namelen = sizeof(allNodes),
                   .msg_iov = &part,
                   .msg_iovlen = 1,
                   .msg_control = control.data(),
                   .msg_controllen = control.size(),
                   .msg_flags = 0};
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = IPPROTO_IPV6;
    header->cmsg_type = IPV6_PKTINFO;
    header->cmsg_len = CMSG_LEN(sizeof(from));
    std::memcpy(CMSG_DATA(header), &from, sizeof(from));
    // A source still being checked for duplicates cannot send yet; the
    // others still do.
    sendmsg(fd_.Get(), &message, MSG_DONTWAIT);
  }

  // Reads the messages waiting, a bounded number per turn.
  void ReadWaiting() {
    for (int read = 0; read < kReadsPerTurn; ++read) {
      std::array<std::uint8_t, kMostMessage> bytes{};
      sockaddr_in6 from{};
      alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(in6_pktinfo))> control{};
      iovec part{.iov_base = bytes.data(), .iov_len = bytes.size()};
      msghdr message{.msg_name = &from,
                     .msg_namelen = sizeof(from),
                     .msg_iov = &part,
                     .msg_iovlen = 1,
                     .msg_control = control.data(),
                     .msg_controllen = control.size(),
                     .msg_flags = 0};
      const ssize_t size = recvmsg(fd_.Get(), &message, MSG_DONTWAIT);
      if (size < 0) {
        return;
      }
      const cmsghdr* header = size > 0 ? CMSG_FIRSTHDR(&message) : nullptr;
      if (header == nullptr || header->cmsg_level != IPPROTO_IPV6 ||
          header->cmsg_type != IPV6_PKTINFO ||
          !IsEchoReplyTo({bytes.data(), static_cast<std::size_t>(size)}, identifier_)) {
        continue;
      }
      in6_pktinfo to{};
      std::memcpy(&to, CMSG_DATA(header), sizeof(to));
      const auto link = links_.find(static_cast<int>(to.ipi6_ifindex));
      const Ipv6Bytes source = BytesOf(reinterpret_cast<const sockaddr*>(&from));
      if (link != links_.end() && IsOnLink(source, link->second.prefixes)) {
        answers_.insert({.address = source, .interfaceIndex = link->first});
      }
    }
  }

  FileDescriptor fd_;
  std::uint16_t identifier_;
  Ipv6Settings settings_{};
  std::map<int, Ipv6Link> links_;
  std::set<Ipv6Answer> answers_;
  EventLoop* loop_ = nullptr;  // while asking
  EventLoop::TimerId timer_ = 0;
  std::optional<std::vector<Ipv6Neighbour>> found_;
  std::exception_ptr failure_;
};

}  // namespace

std::unique_ptr<Ipv6Prober> OpenIpv6Prober(std::string& whyNot) {
  FileDescriptor fd(socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6));
  if (!fd.Valid()) {
    whyNot = std::string("--ipv6: cannot open a raw ICMPv6 socket (it needs CAP_NET_RAW): ") +
             std::strerror(errno);
    return nullptr;
  }
  icmp6_filter filter{};
  ICMP6_FILTER_SETBLOCKALL(&filter);
  ICMP6_FILTER_SETPASS(ICMP6_ECHO_REPLY, &filter);
  const int on = 1;
  const int off = 0;
  if (setsockopt(fd.Get(), IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof(filter)) != 0 ||
      setsockopt(fd.Get(), IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof(on)) != 0 ||
      setsockopt(fd.Get(), IPPROTO_IPV6, IPV6_MULTICAST_LOOP, &off, sizeof(off)) != 0) {
    whyNot = std::string("--ipv6: cannot set up the ICMPv6 socket: ") + std::strerror(errno);
    return nullptr;
  }
  return std::make_unique<RawIpv6Prober>(std::move(fd));
}

}  // namespace hostsweep::controller
