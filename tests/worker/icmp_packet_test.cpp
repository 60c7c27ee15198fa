// ICMP echo messages: the request on the wire, and which packets answer it on
// either kind of socket.
#include "platform/posix/icmp_packet.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/ip_icmp.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace hostsweep::icmp_packet {
namespace {

using Bytes = std::vector<unsigned char>;
using ::testing::ElementsAreArray;

os::IPAddr AddressOf(const char* text) {
  in_addr address{};
  inet_pton(AF_INET, text, &address);
  return address.s_addr;
}

const os::IPAddr kHost = AddressOf("127.0.0.2");
const os::IPAddr kRouter = AddressOf("127.0.0.9");
const os::IPAddr kSelf = AddressOf("127.0.0.1");
constexpr std::uint16_t kOurs = 0x1234;
constexpr std::uint16_t kSequence = 7;
const Request kRequest{kHost, kOurs, kSequence};
const Bytes kData{'p', 'i', 'n', 'g'};

struct Ip {
  int words = 5;  // header length in 32-bit words
  int ttl = 64;
  int protocol = IPPROTO_ICMP;
  os::IPAddr source = kHost;
  os::IPAddr destination = kSelf;
};

Bytes IpHeader(const Ip& ip) {
  // A header that claims fewer than 20 bytes still has its addresses.
  Bytes header(static_cast<std::size_t>(std::max(ip.words, 5)) * 4);
  header[0] = static_cast<unsigned char>(0x40 | ip.words);
  header[8] = static_cast<unsigned char>(ip.ttl);
  header[9] = static_cast<unsigned char>(ip.protocol);
  std::memcpy(&header[12], &ip.source, 4);
  std::memcpy(&header[16], &ip.destination, 4);
  return header;
}

Bytes Icmp(int type, int code, std::uint16_t identifier, std::uint16_t sequence,
           const Bytes& rest) {
  Bytes message{static_cast<unsigned char>(type),
                static_cast<unsigned char>(code),
                0,
                0,
                static_cast<unsigned char>(identifier >> 8),
                static_cast<unsigned char>(identifier),
                static_cast<unsigned char>(sequence >> 8),
                static_cast<unsigned char>(sequence)};
  message.insert(message.end(), rest.begin(), rest.end());
  return message;
}

Bytes Join(Bytes first, const Bytes& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

Bytes Cut(Bytes bytes, std::size_t size) {
  bytes.resize(size);
  return bytes;
}

Bytes Reply(const Ip& ip, std::uint16_t identifier, std::uint16_t sequence) {
  return Join(IpHeader(ip), Icmp(ICMP_ECHOREPLY, 0, identifier, sequence, kData));
}

// An error from the router quoting a request (`quoted` is its IP header).
Bytes Error(int type, int code, const Ip& quoted, int quotedType, std::uint16_t identifier) {
  const Bytes request = Join(IpHeader(quoted), Icmp(quotedType, 0, identifier, kSequence, {}));
  return Join(IpHeader({.source = kRouter}), Icmp(type, code, 0, 0, request));
}

const Ip kOurRequest{.source = kSelf, .destination = kHost};

TEST(IcmpChecksum, MatchesTheRfcExampleAndZeroesAnEncodedRequest) {
  // RFC 1071, section 3: these bytes sum to 0xDDF2.
  EXPECT_EQ(Checksum(Bytes{0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7}), 0xFFFF - 0xDDF2);
  for (const std::size_t size : {0U, 1U, 2U, 31U, 56U, 1473U}) {
    Bytes data(size);
    for (std::size_t i = 0; i < size; ++i) {
      data[i] = static_cast<unsigned char>(0xFF - i * 7);
    }
    const auto message = EncodeEchoRequest(kRequest, data);
    SCOPED_TRACE(size);
    EXPECT_EQ(Checksum(message), 0);
    auto header = Icmp(ICMP_ECHO, 0, kOurs, kSequence, data);
    std::copy(message.begin() + 2, message.begin() + 4, header.begin() + 2);
    EXPECT_THAT(message, ElementsAreArray(header));
  }
}

// A packet as a raw socket reads it, and what it answers (nothing when it
// answers something else).
struct RawCase {
  std::string name;
  Bytes packet;
  std::optional<os::ULONG> status;
  os::IPAddr from = kHost;
};

void PrintTo(const RawCase& c, std::ostream* os) { *os << c.name; }

std::vector<RawCase> RawCases() {
  const Ip elsewhere{.source = kSelf, .destination = kRouter};
  const Ip udp{.protocol = IPPROTO_UDP, .source = kSelf, .destination = kHost};
  // Cut just before the quoted identifier.
  const auto cutError =
      Cut(Error(ICMP_DEST_UNREACH, ICMP_HOST_UNREACH, kOurRequest, ICMP_ECHO, kOurs), 52);
  return {
      {"our_reply", Reply({}, kOurs, kSequence), os::IP_SUCCESS},
      {"reply_after_ip_options", Reply({.words = 7}, kOurs, kSequence), os::IP_SUCCESS},
      {"reply_to_another_process", Reply({}, kOurs + 1, kSequence), {}},
      {"late_reply_to_an_earlier_request", Reply({}, kOurs, kSequence - 1), {}},
      {"reply_from_another_host", Reply({.source = kRouter}, kOurs, kSequence), {}},
      {"our_own_request_looped_back",
       Join(IpHeader({}), Icmp(ICMP_ECHO, 0, kOurs, kSequence, kData)),
       {}},
      {"header_length_below_twenty", Reply({.words = 4}, kOurs, kSequence), {}},
      {"cut_inside_the_icmp_header", Cut(Reply({}, kOurs, kSequence), 25), {}},
      {"host_unreachable",
       Error(ICMP_DEST_UNREACH, ICMP_HOST_UNREACH, kOurRequest, ICMP_ECHO, kOurs),
       os::IP_DEST_HOST_UNREACHABLE, kRouter},
      {"net_unreachable", Error(ICMP_DEST_UNREACH, ICMP_NET_UNREACH, kOurRequest, ICMP_ECHO, kOurs),
       os::IP_DEST_NET_UNREACHABLE, kRouter},
      {"port_unreachable",
       Error(ICMP_DEST_UNREACH, ICMP_PORT_UNREACH, kOurRequest, ICMP_ECHO, kOurs),
       os::IP_DEST_PORT_UNREACHABLE, kRouter},
      {"time_exceeded", Error(ICMP_TIME_EXCEEDED, 0, kOurRequest, ICMP_ECHO, kOurs),
       os::IP_TTL_EXPIRED_TRANSIT, kRouter},
      {"error_about_another_process",
       Error(ICMP_DEST_UNREACH, ICMP_HOST_UNREACH, kOurRequest, ICMP_ECHO, kOurs + 1),
       {}},
      {"error_about_another_destination",
       Error(ICMP_DEST_UNREACH, ICMP_HOST_UNREACH, elsewhere, ICMP_ECHO, kOurs),
       {}},
      {"error_about_a_datagram",
       Error(ICMP_DEST_UNREACH, ICMP_HOST_UNREACH, udp, ICMP_ECHO, kOurs),
       {}},
      {"error_quoting_a_reply",
       Error(ICMP_DEST_UNREACH, ICMP_HOST_UNREACH, kOurRequest, ICMP_ECHOREPLY, kOurs),
       {}},
      {"error_cut_inside_the_quote", cutError, {}},
      {"redirect", Error(ICMP_REDIRECT, 0, kOurRequest, ICMP_ECHO, kOurs), {}},
  };
}

class RawPacketTest : public ::testing::TestWithParam<RawCase> {};

TEST_P(RawPacketTest, MatchesOnlyTheAnswerToItsRequest) {
  const auto& test = GetParam();
  const auto outcome = MatchRaw(test.packet, kRequest);
  ASSERT_EQ(outcome.has_value(), test.status.has_value());
  if (outcome) {
    EXPECT_EQ(outcome->status, *test.status);
    EXPECT_EQ(outcome->from, test.from);
    EXPECT_EQ(outcome->ttl, 64);
    EXPECT_EQ(outcome->data.size(), *test.status == os::IP_SUCCESS ? kData.size() : 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Packets, RawPacketTest, ::testing::ValuesIn(RawCases()),
                         [](const auto& info) { return info.param.name; });

struct DatagramCase {
  std::string name;
  Bytes icmp;
  os::IPAddr source;
  std::optional<os::ULONG> status;
};

// The kernel fills in a datagram socket's identifier and delivers it only
// replies carrying it, so any identifier here is ours.
TEST(IcmpDatagram, MatchesTheReplyFromTheDestinationWithOurSequence) {
  const std::vector<DatagramCase> cases{
      {"reply", Icmp(ICMP_ECHOREPLY, 0, 99, kSequence, kData), kHost, os::IP_SUCCESS},
      {"earlier_sequence", Icmp(ICMP_ECHOREPLY, 0, 99, kSequence - 1, kData), kHost, {}},
      {"other_source", Icmp(ICMP_ECHOREPLY, 0, 99, kSequence, kData), kRouter, {}},
      {"not_a_reply", Icmp(ICMP_ECHO, 0, 99, kSequence, kData), kHost, {}},
      {"short", Bytes(7, 0), kHost, {}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    const auto outcome = MatchDatagram(test.icmp, test.source, 57, kRequest);
    ASSERT_EQ(outcome.has_value(), test.status.has_value());
    if (outcome) {
      EXPECT_EQ(outcome->status, *test.status);
      EXPECT_EQ(outcome->ttl, 57);
      EXPECT_THAT(outcome->data, ElementsAreArray(kData));
    }
  }
}

struct QueuedCase {
  std::string name;
  Bytes quoted;
  os::IPAddr target;
  std::optional<QueuedError> error;
  std::optional<os::ULONG> status;
};

TEST(IcmpDatagram, TurnsAQueuedErrorAboutOurRequestIntoItsStatus) {
  const Bytes ours = Icmp(ICMP_ECHO, 0, 99, kSequence, kData);
  const QueuedError unreachable{true, ICMP_DEST_UNREACH, ICMP_PORT_UNREACH, 0};
  const std::vector<QueuedError> locals{{false, 0, 0, EHOSTUNREACH}, {false, 0, 0, ENETUNREACH}};
  const std::vector<QueuedCase> cases{
      {"icmp_error", ours, kHost, unreachable, os::IP_DEST_PORT_UNREACHABLE},
      {"expired", ours, kHost, QueuedError{true, ICMP_TIME_EXCEEDED, 0, 0},
       os::IP_TTL_EXPIRED_TRANSIT},
      {"local_host_unreachable", ours, kHost, locals[0], os::IP_DEST_HOST_UNREACHABLE},
      {"local_net_unreachable", ours, kHost, locals[1], os::IP_DEST_NET_UNREACHABLE},
      {"local_other", ours, kHost, QueuedError{false, 0, 0, EPERM}, os::IP_GENERAL_FAILURE},
      {"other_target", ours, kRouter, unreachable, {}},
      {"earlier_sequence", Icmp(ICMP_ECHO, 0, 99, kSequence - 1, {}), kHost, unreachable, {}},
      {"no_error_record", ours, kHost, std::nullopt, {}},
      {"short", Bytes(7, 0), kHost, unreachable, {}},
  };
  // A datagram socket's identifier is the kernel's (99 here), not compared.
  const Request datagram{kHost, 0, kSequence};
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    const auto outcome = MatchQueuedError(test.quoted, test.target, test.error, datagram);
    ASSERT_EQ(outcome.has_value(), test.status.has_value());
    if (outcome) {
      EXPECT_EQ(outcome->status, *test.status);
      EXPECT_EQ(outcome->from, kHost);
    }
  }
  // A raw socket connected to the host hears of every process's requests to it.
  EXPECT_FALSE(MatchQueuedError(ours, kHost, unreachable, kRequest));
  EXPECT_TRUE(
      MatchQueuedError(Icmp(ICMP_ECHO, 0, kOurs, kSequence, kData), kHost, unreachable, kRequest));
}

}  // namespace
}  // namespace hostsweep::icmp_packet
