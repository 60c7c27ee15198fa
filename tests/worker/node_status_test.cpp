// Node status messages: the request on the wire, replies from hostile or
// broken peers, and the adapter status block a good reply becomes.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/posix/adapter_status.h"
#include "tests/case_name.h"
#include "tests/tools/node_status_answer.h"

namespace hostsweep::node_status {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ::testing::ElementsAreArray;

constexpr std::uint16_t kId = 0x4A17;
constexpr std::size_t kAdapterStatusSize = sizeof(os::ADAPTER_STATUS);
constexpr std::size_t kNameBufferSize = sizeof(os::NAME_BUFFER);

void Append(Bytes& out, std::initializer_list<int> values) {
  for (const int value : values) {
    out.push_back(static_cast<std::uint8_t>(value));
  }
}

void Append(Bytes& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
}

// "*" with zero padding, first-level encoded: "CK" and thirty "A".
const std::string kEncodedStar = "CK" + std::string(30, 'A');

std::array<std::uint8_t, kNetbiosNameSize> NetbiosName(const std::string& name, int suffix) {
  std::array<std::uint8_t, kNetbiosNameSize> bytes{};
  bytes.fill(' ');
  std::memcpy(bytes.data(), name.data(), std::min(name.size(), bytes.size() - 1));
  bytes.back() = static_cast<std::uint8_t>(suffix);
  return bytes;
}

// A reply written out field by field as RFC 1002 lays it out, so that tests
// can spoil one field at a time.
struct Reply {
  int id = kId;
  int flags = 0x8400;
  int questions = 0;
  int answers = 1;
  Bytes name = [] {
    Bytes bytes{32};
    Append(bytes, kEncodedStar);
    bytes.push_back(0);
    return bytes;
  }();
  int type = 0x21;
  int recordClass = 0x01;
  std::optional<int> dataLength;  // computed when not set
  std::optional<int> nameCount;   // computed when not set
  std::vector<std::pair<std::array<std::uint8_t, 16>, int>> names{
      {NetbiosName("ALPHA", 0x00), 0x0400}, {NetbiosName("WORKGROUP", 0x00), 0x8400}};
  Bytes statistics = [] {
    // Sized first: GCC 12 at -O3 warns (-Warray-bounds, a false alarm) when a
    // vector built from a list is grown.
    Bytes bytes(kStatisticsSize, 0);
    const std::initializer_list<std::uint8_t> unitId{0x02, 0x00, 0x5E, 0x10, 0x00, 0x0A};
    std::copy(unitId.begin(), unitId.end(), bytes.begin());
    return bytes;
  }();
  Bytes trailing;

  [[nodiscard]] Bytes Data() const {
    Bytes data;
    data.push_back(static_cast<std::uint8_t>(nameCount.value_or(static_cast<int>(names.size()))));
    for (const auto& [entry, entryFlags] : names) {
      data.insert(data.end(), entry.begin(), entry.end());
      Append(data, {entryFlags >> 8, entryFlags & 0xFF});
    }
    data.insert(data.end(), statistics.begin(), statistics.end());
    return data;
  }
  [[nodiscard]] Bytes Encode() const {
    Bytes out;
    Append(out, {id >> 8, id & 0xFF, flags >> 8, flags & 0xFF, questions >> 8, questions & 0xFF,
                 answers >> 8, answers & 0xFF, 0, 0, 0, 0});
    out.insert(out.end(), name.begin(), name.end());
    const Bytes data = Data();
    const int length = dataLength.value_or(static_cast<int>(data.size()));
    Append(out, {type >> 8, type & 0xFF, recordClass >> 8, recordClass & 0xFF, 0, 0, 0, 0,
                 length >> 8, length & 0xFF});
    out.insert(out.end(), data.begin(), data.end());
    out.insert(out.end(), trailing.begin(), trailing.end());
    return out;
  }
};

Bytes NameWithScope(const std::vector<std::string>& scope) {
  Bytes bytes{32};
  Append(bytes, kEncodedStar);
  for (const auto& label : scope) {
    bytes.push_back(static_cast<std::uint8_t>(label.size()));
    Append(bytes, label);
  }
  bytes.push_back(0);
  return bytes;
}

TEST(NodeStatusRequest, IsTheWildcardNodeStatusQuestion) {
  Bytes expected{0x4A, 0x17, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 32};
  Append(expected, kEncodedStar);
  Append(expected, {0x00, 0x00, 0x21, 0x00, 0x01});
  EXPECT_THAT(EncodeRequest(kId), ElementsAreArray(expected));
}

TEST(NodeStatusRequest, ResponderReadsItsTransactionIdAndName) {
  const auto request = ParseRequest(EncodeRequest(0xBEEF));
  ASSERT_TRUE(request.has_value());
  EXPECT_EQ(request->transactionId, 0xBEEF);
  EXPECT_THAT(request->questionName, ElementsAreArray(Reply{}.name));
}

TEST(NodeStatusRequest, ResponderIgnoresRepliesAndOtherQuestions) {
  EXPECT_FALSE(ParseRequest(Reply{}.Encode()).has_value());
  Bytes nameQuery = EncodeRequest(kId);
  nameQuery[nameQuery.size() - 3] = 0x20;  // NB instead of NBSTAT
  EXPECT_FALSE(ParseRequest(nameQuery).has_value());
}

TEST(NodeStatusReply, GoodReplyGivesNamesAndUnitId) {
  const auto status = ParseReply(Reply{}.Encode(), kId);
  ASSERT_TRUE(status.has_value());
  ASSERT_EQ(status->names.size(), 2U);
  EXPECT_EQ(status->names[0].name, NetbiosName("ALPHA", 0x00));
  EXPECT_EQ(status->names[1].flags, 0x8400);
  EXPECT_THAT(std::span(status->statistics).first(kUnitIdSize),
              ElementsAreArray({0x02, 0x00, 0x5E, 0x10, 0x00, 0x0A}));
}

TEST(NodeStatusReply, EncoderWritesWhatTheRfcLayoutSays) {
  const Reply reply;
  NodeStatus status{};
  for (const auto& [entry, flags] : reply.names) {
    status.names.push_back({entry, static_cast<std::uint16_t>(flags)});
  }
  std::copy(reply.statistics.begin(), reply.statistics.end(), status.statistics.begin());
  const auto request = ParseRequest(EncodeRequest(kId));
  ASSERT_TRUE(request.has_value());
  EXPECT_THAT(EncodeReply(*request, status), ElementsAreArray(reply.Encode()));

  Reply scoped;
  scoped.name = NameWithScope({"lab", "example"});
  EXPECT_THAT(EncodeReply(*request, status, {"lab", "example"}), ElementsAreArray(scoped.Encode()));
}

struct HostileReply {
  const char* what;
  std::function<void(Reply&)> spoil;
};

void PrintTo(const HostileReply& c, std::ostream* os) { *os << c.what; }

class HostileReplyTest : public ::testing::TestWithParam<HostileReply> {};

TEST_P(HostileReplyTest, IsIgnored) {
  Reply reply;
  GetParam().spoil(reply);
  EXPECT_FALSE(ParseReply(reply.Encode(), kId).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    NodeStatusReply, HostileReplyTest,
    ::testing::Values(
        HostileReply{"other transaction", [](Reply& r) { r.id = kId + 1; }},
        HostileReply{"question, not answer", [](Reply& r) { r.flags = 0x0000; }},
        HostileReply{"other opcode", [](Reply& r) { r.flags = 0x8400 | (5 << 11); }},
        HostileReply{"negative answer", [](Reply& r) { r.flags = 0x8403; }},
        HostileReply{"carries a question", [](Reply& r) { r.questions = 1; }},
        HostileReply{"no answer record", [](Reply& r) { r.answers = 0; }},
        HostileReply{"name query record", [](Reply& r) { r.type = 0x20; }},
        HostileReply{"other class", [](Reply& r) { r.recordClass = 0x03; }},
        HostileReply{"compression pointer",
                     [](Reply& r) {
                       r.name = {0xC0, 0x0C};
                     }},
        HostileReply{"pointer in the scope",
                     [](Reply& r) {
                       r.name.pop_back();
                       Append(r.name, {0xC0, 0x0C});
                     }},
        HostileReply{"reserved label type", [](Reply& r) { r.name[0] = 0x60; }},
        HostileReply{"first label not a NetBIOS name",
                     [](Reply& r) {
                       r.name = {3};
                       Append(r.name, "abc");
                       r.name.push_back(0);
                     }},
        HostileReply{
            "name longer than 255 bytes",
            [](Reply& r) { r.name = NameWithScope(std::vector(4, std::string(60, 'x'))); }},
        HostileReply{"name never ends", [](Reply& r) { r.name.pop_back(); }},
        HostileReply{"255 names announced, two sent", [](Reply& r) { r.nameCount = 255; }},
        HostileReply{"data length beyond the datagram", [](Reply& r) { r.dataLength = 0x4000; }},
        HostileReply{"data length without unit ID",
                     [](Reply& r) { r.dataLength = 1 + 2 * 18 + 5; }},
        HostileReply{"no unit ID", [](Reply& r) { r.statistics.resize(5); }},
        HostileReply{"empty record data", [](Reply& r) { r.dataLength = 0; }}),
    [](const auto& info) { return testing::CaseName(info.param.what); });

TEST(NodeStatusReply, EveryTruncationIsIgnored) {
  const Bytes whole = Reply{}.Encode();
  for (std::size_t length = 0; length < whole.size(); ++length) {
    EXPECT_FALSE(ParseReply(std::span(whole).first(length), kId).has_value()) << length;
  }
}

struct OddButGood {
  const char* what;
  std::function<void(Reply&)> change;
};

void PrintTo(const OddButGood& c, std::ostream* os) { *os << c.what; }

class OddButGoodReplyTest : public ::testing::TestWithParam<OddButGood> {};

TEST_P(OddButGoodReplyTest, GivesTheUnitId) {
  Reply reply;
  GetParam().change(reply);
  const auto status = ParseReply(reply.Encode(), kId);
  ASSERT_TRUE(status.has_value());
  EXPECT_THAT(std::span(status->statistics).first(kUnitIdSize),
              ElementsAreArray({0x02, 0x00, 0x5E, 0x10, 0x00, 0x0A}));
}

INSTANTIATE_TEST_SUITE_P(
    NodeStatusReply, OddButGoodReplyTest,
    ::testing::Values(
        OddButGood{"scope",
                   [](Reply& r) {
                     r.name = NameWithScope({"lab", "example", "org"});
                   }},
        OddButGood{"bytes after the record", [](Reply& r) { r.trailing = Bytes(3000, 0xEE); }},
        OddButGood{"bytes after the statistics", [](Reply& r) { r.statistics.resize(200, 7); }},
        OddButGood{"unit ID alone", [](Reply& r) { r.statistics.resize(kUnitIdSize); }},
        OddButGood{"no names", [](Reply& r) { r.names.clear(); }},
        OddButGood{"two answers", [](Reply& r) { r.answers = 2; }}),
    [](const auto& info) { return testing::CaseName(info.param.what); });

TEST(NodeStatusReply, MissingStatisticsReadAsZero) {
  Reply reply;
  reply.statistics.resize(kUnitIdSize);
  reply.statistics.resize(kUnitIdSize + 2, 0x99);
  const auto status = ParseReply(reply.Encode(), kId);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(status->statistics[7], 0x99);
  EXPECT_EQ(status->statistics[8], 0);
  EXPECT_EQ(status->statistics.back(), 0);
}

struct NamesCase {
  const char* what;
  std::vector<NameEntry> table;
  std::string workstation;
  std::string workgroup;
};

void PrintTo(const NamesCase& c, std::ostream* os) { *os << c.what; }

class HostNamesTest : public ::testing::TestWithParam<NamesCase> {};

TEST_P(HostNamesTest, AreTheFirstUniqueAndGroupNamesWithSuffixZero) {
  NodeStatus status{};
  status.names = GetParam().table;
  const auto names = NamesOf(status);
  EXPECT_EQ(names.workstation, GetParam().workstation);
  EXPECT_EQ(names.workgroup, GetParam().workgroup);
}

INSTANTIATE_TEST_SUITE_P(
    NodeStatus, HostNamesTest,
    ::testing::Values(NamesCase{"samba order",
                                {{NetbiosName("BRAVO", 0x00), 0x0400},
                                 {NetbiosName("BRAVO", 0x03), 0x0400},
                                 {NetbiosName("BRAVO", 0x20), 0x0400},
                                 {NetbiosName("LAB", 0x1E), 0x8400},
                                 {NetbiosName("LAB", 0x00), 0x8400}},
                                "BRAVO",
                                "LAB"},
                      NamesCase{"group first, then another unique name",
                                {{NetbiosName("WG", 0x00), 0x8400},
                                 {NetbiosName("FILES", 0x20), 0x0400},
                                 {NetbiosName("PC7", 0x00), 0x0400},
                                 {NetbiosName("PC8", 0x00), 0x0400}},
                                "PC7",
                                "WG"},
                      NamesCase{"only other suffixes", {{NetbiosName("PC", 0x20), 0x0400}}, "", ""},
                      NamesCase{"padding with zero bytes and a full fifteen characters",
                                {{{'A', 'B', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0x0400},
                                 {NetbiosName("FIFTEEN-LETTERS", 0x00), 0x8400}},
                                "AB",
                                "FIFTEEN-LETTERS"},
                      NamesCase{"no names", {}, "", ""}),
    [](const auto& info) { return testing::CaseName(info.param.what); });

struct CallNameAddressCase {
  std::array<os::UCHAR, 16> name;
  std::optional<std::string> address;
};

void PrintTo(const CallNameAddressCase& c, std::ostream* os) {
  *os << testing::Quoted(std::string(c.name.begin(), c.name.end()));
}

std::array<os::UCHAR, 16> CallName(const std::string& text) {
  std::array<os::UCHAR, 16> name{};
  name.fill(' ');
  std::memcpy(name.data(), text.data(), std::min(text.size(), name.size()));
  return name;
}

class CallNameAddressTest : public ::testing::TestWithParam<CallNameAddressCase> {};

TEST_P(CallNameAddressTest, GivesTheAddressItHolds) {
  os::UCHAR name[os::NCBNAMSZ];
  std::copy(GetParam().name.begin(), GetParam().name.end(), name);
  const auto address = CallNameAddress(name);
  ASSERT_EQ(address.has_value(), GetParam().address.has_value());
  if (address) {
    in_addr expected{};
    ASSERT_EQ(inet_pton(AF_INET, GetParam().address->c_str(), &expected), 1);
    EXPECT_EQ(*address, expected.s_addr);
  }
}

INSTANTIATE_TEST_SUITE_P(
    NodeStatus, CallNameAddressTest,
    ::testing::Values(
        CallNameAddressCase{CallName(std::string("10.0.0.1\0", 9)), "10.0.0.1"},
        CallNameAddressCase{CallName(std::string("192.168.100.200\0", 16)), "192.168.100.200"},
        CallNameAddressCase{CallName("10.213.0.10"), "10.213.0.10"},
        CallNameAddressCase{CallName(std::string("10.0.0.1\0garbage", 16)), "10.0.0.1"},
        CallNameAddressCase{CallName("192.168.100.2001"), std::nullopt},
        CallNameAddressCase{CallName(std::string(" 10.0.0.1\0", 10)), std::nullopt},
        CallNameAddressCase{CallName(std::string("\0", 1)), std::nullopt},
        CallNameAddressCase{CallName("*"), std::nullopt},
        CallNameAddressCase{CallName("BRAVO"), std::nullopt},
        CallNameAddressCase{CallName("256.0.0.1"), std::nullopt},
        CallNameAddressCase{CallName("10.0.1"), std::nullopt}),
    testing::kNumberedName);

NodeStatus ThreeNames() {
  NodeStatus status{};
  status.names = {{NetbiosName("ALPHA", 0x00), 0x0400},
                  {NetbiosName("WORKGROUP", 0x1E), 0x8400},
                  {NetbiosName("ALPHA", 0x20), 0x0C00}};
  const Bytes statistics{0x02, 0x00, 0x5E, 0x10, 0x00, 0x0A, 0, 0, 0x03, 0x01};
  std::copy(statistics.begin(), statistics.end(), status.statistics.begin());
  status.statistics[20] = 0x01;  // good sends 0x01000002
  status.statistics[23] = 0x02;
  return status;
}

struct BufferCase {
  os::WORD length;
  os::UCHAR code;
  std::size_t namesWritten;
};

void PrintTo(const BufferCase& c, std::ostream* os) { *os << c.length << " bytes"; }

class AdapterStatusBufferTest : public ::testing::TestWithParam<BufferCase> {};

TEST_P(AdapterStatusBufferTest, WritesWhatFitsAndNothingBeyond) {
  std::vector<os::UCHAR> buffer(1024, 0xEE);
  const auto written = WriteAdapterStatus(ThreeNames(), buffer.data(), GetParam().length);
  EXPECT_EQ(written.code, GetParam().code);
  const std::size_t expectedLength =
      GetParam().code == os::NRC_BUFLEN
          ? 0
          : kAdapterStatusSize + GetParam().namesWritten * kNameBufferSize;
  EXPECT_EQ(written.length, expectedLength);
  for (std::size_t i = expectedLength; i < buffer.size(); ++i) {
    ASSERT_EQ(buffer[i], 0xEE) << "byte " << i << " written";
  }
  if (written.length == 0) {
    return;
  }
  os::ADAPTER_STATUS header{};
  std::memcpy(&header, buffer.data(), sizeof header);
  EXPECT_THAT(header.adapter_address, ElementsAreArray({0x02, 0x00, 0x5E, 0x10, 0x00, 0x0A}));
  EXPECT_EQ(header.name_count, GetParam().namesWritten);
}

INSTANTIATE_TEST_SUITE_P(NodeStatus, AdapterStatusBufferTest,
                         ::testing::Values(BufferCase{680, os::NRC_GOODRET, 3},
                                           BufferCase{60 + 3 * 18, os::NRC_GOODRET, 3},
                                           BufferCase{60 + 3 * 18 - 1, os::NRC_INCOMP, 2},
                                           BufferCase{60 + 18, os::NRC_INCOMP, 1},
                                           BufferCase{60, os::NRC_INCOMP, 0},
                                           BufferCase{59, os::NRC_BUFLEN, 0},
                                           BufferCase{0, os::NRC_BUFLEN, 0}),
                         testing::kNumberedName);

TEST(NodeStatus, AdapterStatusCarriesNamesFlagsAndCounters) {
  std::vector<os::UCHAR> buffer(680);
  ASSERT_EQ(WriteAdapterStatus(ThreeNames(), buffer.data(), 680).code, os::NRC_GOODRET);
  os::ADAPTER_STATUS header{};
  std::memcpy(&header, buffer.data(), sizeof header);
  EXPECT_EQ(header.rev_major, 3);
  EXPECT_EQ(header.rev_minor, 1);
  EXPECT_EQ(header.xmit_success, 0x01000002U);
  std::array<os::NAME_BUFFER, 3> entries{};
  std::memcpy(entries.data(), buffer.data() + sizeof header, sizeof entries);
  EXPECT_THAT(entries[1].name, ElementsAreArray(NetbiosName("WORKGROUP", 0x1E)));
  EXPECT_EQ(entries[0].name_flags, os::REGISTERED);
  EXPECT_EQ(entries[1].name_flags, os::GROUP_NAME | os::REGISTERED);
  EXPECT_EQ(entries[2].name_flags, os::DUPLICATE);
  EXPECT_EQ(entries[0].name_num, 1);
  EXPECT_EQ(entries[2].name_num, 3);
}

TEST(NodeStatus, NoBufferGetsNothingWritten) {
  EXPECT_EQ(WriteAdapterStatus(ThreeNames(), nullptr, 680).code, os::NRC_BUFLEN);
}

}  // namespace
}  // namespace hostsweep::node_status
