// The answers of a host's DNS-SD responder read from canned bytes, the
// well-formed and the hostile alike.
#include "controller/devices/dns_sd_message.h"

#include <gtest/gtest.h>

#include <ostream>

#include "tests/case_name.h"
#include "tests/controller/devices/dns_sd_answer.h"

namespace hostsweep::controller {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint16_t kId = 0x4242;

const DnsName kIppType{"_ipp", "_tcp", "local"};
const DnsName kPrinter{"Office 2.1", "_ipp", "_tcp", "local"};

struct MessageCase {
  const char* what;
  Bytes datagram;
  std::optional<std::size_t> records;  // none: refused whole
  std::vector<std::string> text{};     // the last record's TXT strings
  DnsName target{};                    // the first record's PTR target
  std::optional<Address> address{};    // the last record's A address
};

void PrintTo(const MessageCase& c, std::ostream* os) { *os << c.what; }

// A PTR answer whose owner is the question's name, pointed to, and whose
// target points into the owner.
Bytes Compressed() {
  Bytes out = DnsSdAnswer(kId, {});
  out[5] = 1;                      // one question
  out[7] = 1;                      // one answer
  mdns::PutLabels(out, kIppType);  // the question, at 12
  protocol::PutWord(out, kPtrRecord);
  protocol::PutWord(out, 1);
  for (const int word : {0xC00C, int{kPtrRecord}, 1, 0, 10, 9}) {
    protocol::PutWord(out, static_cast<std::uint16_t>(word));
  }
  out.insert(out.end(), {6, 'O', 'f', 'f', 'i', 'c', 'e', 0xC0, 12});
  return out;
}

Bytes WithByte(Bytes bytes, std::size_t at, std::uint8_t value) {
  bytes.at(at) = value;
  return bytes;
}

std::vector<MessageCase> Cases() {
  const Bytes ptr = DnsSdAnswer(kId, {{kIppType, kPtrRecord, kPrinter}});
  const Bytes txt = DnsSdAnswer(kId, {}, {{kPrinter, kTxtRecord, {}, {"ty=HP", "", "pdl=x"}}});
  std::vector<FakeRecord> many(100, FakeRecord{kIppType, kPtrRecord, kPrinter});
  Bytes countsLie = ptr;
  countsLie[6] = countsLie[7] = 0xFF;
  const Bytes host = DnsSdAnswer(kId, {}, {{{"lab", "local"}, kAddressRecord, {}, {}, 0x0A000005}});
  Bytes loop = Compressed();
  loop[loop.size() - 1] = static_cast<std::uint8_t>(loop.size() - 2);  // points at itself
  return {
      {"a PTR record, a label with dots kept whole", ptr, 1, {}, kPrinter},
      {"compression", Compressed(), 1, {}, {"Office", "_ipp", "_tcp", "local"}},
      {"TXT in the additional section, empty strings left out", txt, 1, {"ty=HP", "pdl=x"}},
      {"TXT of more strings than read",
       DnsSdAnswer(kId, {{kPrinter, kTxtRecord, {}, std::vector<std::string>(40, "k=v")}}), 1,
       std::vector<std::string>(kMostTextStrings, "k=v")},
      {"TXT string longer than its record", WithByte(txt, txt.size() - 6, 200), 1, {"ty=HP"}},
      {"an A record", host, 1, {}, {}, 0x0A000005},
      {"an A record of another length", WithByte(host, host.size() - 5, 5), std::nullopt},
      {"more records than read", DnsSdAnswer(kId, many), kMostRecordsPerAnswer, {}, kPrinter},
      {"counts larger than the datagram", countsLie, std::nullopt},
      {"cut short", Bytes(ptr.begin(), ptr.end() - 3), std::nullopt},
      {"pointer loop", loop, std::nullopt},
      {"another ID", DnsSdAnswer(kId + 1, {{kIppType, kPtrRecord, kPrinter}}), std::nullopt},
      {"a question, not an answer", WithByte(ptr, 2, 0), std::nullopt},
      {"an error code", WithByte(ptr, 3, 0x03), std::nullopt},
      {"shorter than a header", Bytes(7, 0), std::nullopt},
  };
}

class DnsSdMessage : public ::testing::TestWithParam<MessageCase> {};

TEST_P(DnsSdMessage, ReadsWhatIsWellFormedAndBoundsTheRest) {
  const auto& param = GetParam();
  const auto records = ParseDnsSdAnswer(param.datagram, kId);
  ASSERT_EQ(records.has_value(), param.records.has_value());
  if (!records) {
    return;
  }
  ASSERT_EQ(records->size(), *param.records);
  if (!param.target.empty()) {
    EXPECT_EQ(records->front().target, param.target);
  }
  EXPECT_EQ(records->back().text, param.text);
  EXPECT_EQ(records->back().address, param.address);
}

INSTANTIATE_TEST_SUITE_P(Answers, DnsSdMessage, ::testing::ValuesIn(Cases()),
                         testing::kNumberedName);

}  // namespace
}  // namespace hostsweep::controller
