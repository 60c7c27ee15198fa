// mDNS reverse lookups: the query on the wire, and answers from hostile or
// broken responders, each spoiling one thing in an otherwise good answer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/case_name.h"
#include "tests/tools/mdns_answer.h"

namespace hostsweep::mdns {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kId = 0x5A11;
const std::string kQuestion = "10.0.213.10.in-addr.arpa";

void Append(Bytes& out, std::initializer_list<int> values) {
  for (const int value : values) {
    out.push_back(static_cast<std::uint8_t>(value));
  }
}

// A name as uncompressed labels, written here independently of the codec.
Bytes Labels(const std::string& name) {
  Bytes out;
  std::size_t start = 0;
  while (start < name.size()) {
    const auto dot = std::min(name.find('.', start), name.size());
    out.push_back(static_cast<std::uint8_t>(dot - start));
    out.insert(out.end(), name.begin() + static_cast<std::ptrdiff_t>(start),
               name.begin() + static_cast<std::ptrdiff_t>(dot));
    start = dot + 1;
  }
  out.push_back(0);
  return out;
}

struct Record {
  Bytes owner = Labels(kQuestion);
  int type = 12;
  int recordClass = 0x8001;  // cache-flush bit, as multicast responders set it
  Bytes data = Labels("alpha.local");
  std::optional<int> dataLength;  // the length of `data` when not set
};

// An answer laid out field by field, as RFC 1035 4.1 does.
struct Answer {
  int id = kId;
  int flags = 0x8400;
  std::vector<Bytes> questions{Labels(kQuestion)};
  std::vector<Record> records{Record{}};
  std::optional<int> answerCount;

  [[nodiscard]] Bytes Wire() const {
    Bytes out;
    const int answers = answerCount.value_or(static_cast<int>(records.size()));
    Append(out, {id >> 8, id & 0xFF, flags >> 8, flags & 0xFF, 0,
                 static_cast<int>(questions.size()), answers >> 8, answers & 0xFF, 0, 0, 0, 0});
    for (const auto& question : questions) {
      out.insert(out.end(), question.begin(), question.end());
      Append(out, {0, 12, 0x80, 1});
    }
    for (const auto& record : records) {
      out.insert(out.end(), record.owner.begin(), record.owner.end());
      const int length = record.dataLength.value_or(static_cast<int>(record.data.size()));
      Append(out, {record.type >> 8, record.type & 0xFF, record.recordClass >> 8,
                   record.recordClass & 0xFF, 0, 0, 0, 10, length >> 8, length & 0xFF});
      out.insert(out.end(), record.data.begin(), record.data.end());
    }
    return out;
  }
};

struct AnswerCase {
  std::string what;
  std::function<void(Answer&)> spoil;
  std::optional<std::string> name;
};

void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.what; }

class PtrAnswer : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(PtrAnswer, GivesTheNameOnlyFromAWellFormedAnswerToTheQuestion) {
  Answer answer;
  GetParam().spoil(answer);
  EXPECT_EQ(ParsePtrAnswer(answer.Wire(), kId, kQuestion), GetParam().name);
}

Bytes Pointer(int offset) {
  return {static_cast<std::uint8_t>(0xC0 | offset >> 8), static_cast<std::uint8_t>(offset & 0xFF)};
}

// The answer's owner reached through `hops` pointers: the owner itself, then
// a chain held by a record of another type before it, each pointer to the one
// before, the first to the question.
std::function<void(Answer&)> OwnerThroughHops(int hops) {
  return [hops](Answer& a) {
    Record chain;
    chain.owner = Labels("x");
    chain.type = 16;
    chain.data.clear();
    const int start = 12 + static_cast<int>(Labels(kQuestion).size()) + 4 +
                      static_cast<int>(chain.owner.size()) + 10;
    for (int hop = 0; hop + 1 < hops; ++hop) {
      const auto pointer = Pointer(hop == 0 ? 12 : start + 2 * (hop - 1));
      chain.data.insert(chain.data.end(), pointer.begin(), pointer.end());
    }
    a.records.insert(a.records.begin(), chain);
    a.records[1].owner = Pointer(start + 2 * (hops - 2));
  };
}

// The answer after `count` records for another address.
std::function<void(Answer&)> AfterOtherRecords(int count) {
  return [count](Answer& a) {
    Record other;
    other.owner = Labels("11.0.213.10.in-addr.arpa");
    a.records.insert(a.records.begin(), static_cast<std::size_t>(count), other);
  };
}

// Four of these and ".local" are 259 octets on the wire.
const std::string kLongLabel(62, 'x');

INSTANTIATE_TEST_SUITE_P(
    Answers, PtrAnswer,
    ::testing::Values(
        AnswerCase{"good", [](Answer&) {}, "alpha.local"},
        AnswerCase{"without the question, as multicast answers come",
                   [](Answer& a) { a.questions.clear(); }, "alpha.local"},
        AnswerCase{"owner and target compressed",
                   [](Answer& a) {
                     a.records[0].owner = Pointer(12);
                     // "alpha" then the question's "arpa"
                     a.records[0].data = {5, 'a', 'l', 'p', 'h', 'a'};
                     const auto arpa = Pointer(12 + static_cast<int>(Labels(kQuestion).size()) - 6);
                     a.records[0].data.insert(a.records[0].data.end(), arpa.begin(), arpa.end());
                   },
                   "alpha.arpa"},
        AnswerCase{"owner in other letter case",
                   [](Answer& a) { a.records[0].owner = Labels("10.0.213.10.IN-ADDR.ARPA"); },
                   "alpha.local"},
        AnswerCase{"another address's record first",
                   [](Answer& a) {
                     Record other;
                     other.owner = Labels("11.0.213.10.in-addr.arpa");
                     other.data = Labels("bravo.local");
                     a.records.insert(a.records.begin(), other);
                   },
                   "alpha.local"},
        AnswerCase{"control characters are the caller's to mask",
                   [](Answer& a) { a.records[0].data = Labels("a\x1b[2Jb.local"); },
                   "a\x1b[2Jb.local"},
        AnswerCase{"another ID", [](Answer& a) { a.id ^= 1; }, std::nullopt},
        AnswerCase{"a query, not an answer", [](Answer& a) { a.flags = 0; }, std::nullopt},
        AnswerCase{"an error code", [](Answer& a) { a.flags |= 3; }, std::nullopt},
        AnswerCase{"only another address's record",
                   [](Answer& a) { a.records[0].owner = Labels("11.0.213.10.in-addr.arpa"); },
                   std::nullopt},
        AnswerCase{"an address record", [](Answer& a) { a.records[0].type = 1; }, std::nullopt},
        AnswerCase{"another class", [](Answer& a) { a.records[0].recordClass = 3; }, std::nullopt},
        AnswerCase{"record data past the datagram",
                   [](Answer& a) { a.records[0].dataLength = 200; }, std::nullopt},
        AnswerCase{"target running past its record",
                   [](Answer& a) {
                     a.records[0].dataLength = 3;
                     a.records.push_back(Record{});
                   },
                   std::nullopt},
        AnswerCase{"more answers announced than sent",
                   [](Answer& a) {
                     a.answerCount = 2;
                     a.records[0].type = 1;
                   },
                   std::nullopt},
        AnswerCase{"target pointing at itself",
                   [](Answer& a) {
                     const auto at = static_cast<int>(a.Wire().size() - a.records[0].data.size());
                     a.records[0].data = Pointer(at);
                   },
                   std::nullopt},
        AnswerCase{"label loop through a backward pointer",
                   [](Answer& a) {
                     const auto at = static_cast<int>(a.Wire().size() - a.records[0].data.size());
                     a.records[0].data = {1, 'a'};
                     const auto back = Pointer(at);
                     a.records[0].data.insert(a.records[0].data.end(), back.begin(), back.end());
                   },
                   std::nullopt},
        AnswerCase{"reserved label type",
                   [](Answer& a) {
                     a.records[0].data = {0x41, 'a', 0};
                   },
                   std::nullopt},
        AnswerCase{"target longer than 255 octets",
                   [](Answer& a) {
                     a.records[0].data = Labels(kLongLabel + "." + kLongLabel + "." + kLongLabel +
                                                "." + kLongLabel + ".local");
                   },
                   std::nullopt},
        // A message costs a bounded number of steps, however it is built.
        AnswerCase{"owner through 127 pointer hops", OwnerThroughHops(127), "alpha.local"},
        AnswerCase{"owner through 128 pointer hops", OwnerThroughHops(128), std::nullopt},
        AnswerCase{"answer as the sixteenth name read", AfterOtherRecords(14), "alpha.local"},
        AnswerCase{"answer past the sixteenth name read", AfterOtherRecords(15), std::nullopt},
        AnswerCase{"empty target", [](Answer& a) { a.records[0].data = {0}; }, std::nullopt},
        AnswerCase{"cut inside the header",
                   [](Answer& a) {
                     a.questions.clear();
                     a.records.clear();
                     a.id = 0;
                   },
                   std::nullopt}),
    [](const auto& info) { return testing::CaseName(info.param.what); });

TEST(PtrQuery, AsksForTheReverseNameWithTheUnicastResponseBitAndSurvivesTheResponder) {
  struct Case {
    std::uint32_t address;
    std::string name;
  };
  for (const auto& [address, name] :
       {Case{0x0AD5000A, "10.0.213.10.in-addr.arpa"}, Case{0, "0.0.0.0.in-addr.arpa"},
        Case{0xFF010203, "3.2.1.255.in-addr.arpa"}}) {
    EXPECT_EQ(ReverseName(address), name);
    Bytes expected;
    Append(expected, {kId >> 8, kId & 0xFF, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0});
    const auto labels = Labels(name);
    expected.insert(expected.end(), labels.begin(), labels.end());
    Append(expected, {0, 12, 0x80, 1});
    const auto query = EncodePtrQuery(kId, name);
    EXPECT_EQ(query, expected) << name;
    const auto received = ParsePtrQuery(query);
    ASSERT_TRUE(received.has_value()) << name;
    EXPECT_EQ(received->id, kId);
    EXPECT_EQ(received->name, name);
    EXPECT_EQ(ParsePtrAnswer(EncodePtrAnswer(*received, "host.local"), kId, name), "host.local");
  }
  // An answer is not a query.
  EXPECT_FALSE(ParsePtrQuery(Answer{}.Wire()).has_value());
}

}  // namespace
}  // namespace hostsweep::mdns
