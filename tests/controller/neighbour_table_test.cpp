// The neighbour table's rtnetlink dump, read from canned datagrams: which
// entries count, what each says, and that malformed ones are passed over.
#include "controller/posix/neighbour_table.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <vector>

#include "controller/errors.h"

namespace hostsweep::controller {
namespace {

struct Attribute {
  unsigned short type;
  std::vector<unsigned char> data;
};

// One netlink message: header, `body`, then the attributes, each aligned.
class Datagram {
 public:
  Datagram& Neighbour(unsigned char family, unsigned short state,
                      const std::vector<Attribute>& attributes,
                      unsigned short type = RTM_NEWNEIGH) {
    ndmsg message{};
    message.ndm_family = family;
    message.ndm_state = state;
    std::vector<char> body(NLMSG_ALIGN(sizeof message));
    std::memcpy(body.data(), &message, sizeof message);
    for (const auto& [kind, data] : attributes) {
      rtattr header{static_cast<unsigned short>(RTA_LENGTH(data.size())), kind};
      const std::size_t at = body.size();
      body.resize(at + RTA_SPACE(data.size()));
      std::memcpy(body.data() + at, &header, sizeof header);
      std::memcpy(body.data() + at + RTA_LENGTH(0), data.data(), data.size());
    }
    return Message(type, body);
  }
  Datagram& Message(unsigned short type, const std::vector<char>& body) {
    nlmsghdr header{};
    header.nlmsg_len = NLMSG_LENGTH(body.size());
    header.nlmsg_type = type;
    const std::size_t at = used_;
    used_ += NLMSG_SPACE(body.size());
    std::memcpy(bytes_.data() + at, &header, sizeof header);
    std::memcpy(bytes_.data() + at + NLMSG_HDRLEN, body.data(), body.size());
    return *this;
  }
  [[nodiscard]] std::span<const char> Bytes() const { return {bytes_.data(), used_}; }

 private:
  alignas(nlmsghdr) std::array<char, 4096> bytes_{};
  std::size_t used_ = 0;
};

const Attribute kDestination{NDA_DST, {10, 0, 0, 7}};
const Attribute kMac{NDA_LLADDR, {0x00, 0x22, 0x72, 0x00, 0x00, 0x07}};

Attribute ConfirmedTicksAgo(unsigned ticks) {
  nda_cacheinfo info{};
  info.ndm_confirmed = ticks;
  std::vector<unsigned char> data(sizeof info);
  std::memcpy(data.data(), &info, sizeof info);
  return {NDA_CACHEINFO, data};
}

struct DumpCase {
  const char* name;
  unsigned char family;
  unsigned short state;
  std::vector<Attribute> attributes;
  bool counts;
  bool reachable = false;
  std::optional<long> sinceConfirmedMs{};
};

class NeighbourDump : public ::testing::TestWithParam<DumpCase> {};

TEST_P(NeighbourDump, KeepsOnlyUsableIpv4EntriesWithAnEthernetAddress) {
  const auto& c = GetParam();
  Datagram datagram;
  datagram.Neighbour(c.family, c.state, c.attributes);
  std::vector<NeighbourEntry> entries;
  EXPECT_FALSE(ReadNeighbourDatagram(datagram.Bytes(), entries));
  ASSERT_EQ(entries.size(), c.counts ? 1U : 0U);
  if (c.counts) {
    EXPECT_EQ(entries[0].address, 0x0A000007U);
    EXPECT_EQ(FormatMac(entries[0].mac), "00-22-72-00-00-07");
    EXPECT_EQ(entries[0].reachable, c.reachable);
    const auto& age = entries[0].sinceConfirmed;
    EXPECT_EQ(age ? std::optional(age->count()) : std::nullopt, c.sinceConfirmedMs);
  }
}

const long kTicksPerSecond = sysconf(_SC_CLK_TCK);

INSTANTIATE_TEST_SUITE_P(
    Netlink, NeighbourDump,
    ::testing::Values(
        DumpCase{"Reachable", AF_INET, NUD_REACHABLE, {kDestination, kMac}, true, true},
        DumpCase{
            "StaleWithItsAge",
            AF_INET,
            NUD_STALE,
            {kDestination, kMac, ConfirmedTicksAgo(static_cast<unsigned>(kTicksPerSecond * 3))},
            true,
            false,
            3000},
        DumpCase{"Permanent", AF_INET, NUD_PERMANENT, {kDestination, kMac}, true},
        DumpCase{"StillResolving", AF_INET, NUD_INCOMPLETE, {kDestination, kMac}, false},
        DumpCase{"Failed", AF_INET, NUD_FAILED, {kDestination, kMac}, false},
        DumpCase{"Ipv6", AF_INET6, NUD_REACHABLE, {kDestination, kMac}, false},
        DumpCase{"NoLinkAddress", AF_INET, NUD_REACHABLE, {kDestination}, false},
        DumpCase{"NoDestination", AF_INET, NUD_REACHABLE, {kMac}, false},
        DumpCase{"ShortLinkAddress",
                 AF_INET,
                 NUD_REACHABLE,
                 {kDestination, {NDA_LLADDR, {1, 2}}},
                 false},
        DumpCase{"Ipv6SizedDestination",
                 AF_INET,
                 NUD_REACHABLE,
                 {{NDA_DST, std::vector<unsigned char>(16, 1)}, kMac},
                 false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NeighbourDump, EndsAtDoneAndAnErrorIsASystemError) {
  Datagram done;
  done.Neighbour(AF_INET, NUD_REACHABLE, {kDestination, kMac}).Message(NLMSG_DONE, {0, 0, 0, 0});
  std::vector<NeighbourEntry> entries;
  EXPECT_TRUE(ReadNeighbourDatagram(done.Bytes(), entries));
  EXPECT_EQ(entries.size(), 1U);

  nlmsgerr error{};
  error.error = -EPERM;
  std::vector<char> body(sizeof error);
  std::memcpy(body.data(), &error, sizeof error);
  Datagram refused;
  refused.Message(NLMSG_ERROR, body);
  EXPECT_THROW(ReadNeighbourDatagram(refused.Bytes(), entries), SystemError);

  Datagram truncated;
  truncated.Message(RTM_NEWNEIGH, {1, 2});  // shorter than its ndmsg
  EXPECT_FALSE(ReadNeighbourDatagram(truncated.Bytes(), entries));
  EXPECT_EQ(entries.size(), 1U);
}

}  // namespace
}  // namespace hostsweep::controller
