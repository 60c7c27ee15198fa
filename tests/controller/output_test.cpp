#include "controller/output.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

namespace hostsweep::controller {
namespace {

HostResult Live(std::string name) {
  return {.address = 0x0A00000A,
          .state = State::kAlive,
          .roundTripMs = 3,
          .ttl = 64,
          .name = std::move(name),
          .netbiosMac = "02-00-5E-10-00-0A",
          .mac = "00-22-72-00-00-0A",
          .macSource = MacSource::kNeighbour,
          .vendor = "Maker, \"Q\""};
}

struct Quoting {
  const char* field;
  const char* csv;
};

class CsvQuoting : public ::testing::TestWithParam<Quoting> {};

TEST_P(CsvQuoting, QuotesOnlyWhatNeedsIt) { EXPECT_EQ(CsvField(GetParam().field), GetParam().csv); }

INSTANTIATE_TEST_SUITE_P(Output, CsvQuoting,
                         ::testing::Values(Quoting{"", ""}, Quoting{"alpha.lab", "alpha.lab"},
                                           Quoting{"a,b", "\"a,b\""},
                                           Quoting{"say \"hi\"", "\"say \"\"hi\"\"\""},
                                           Quoting{"two\nlines", "\"two\nlines\""},
                                           Quoting{"cr\r", "\"cr\r\""},
                                           Quoting{"no report", "no report"}));

TEST(Csv, RowsHaveTheHeaderColumnsAndEndInCrLf) {
  EXPECT_EQ(CsvHeader(), "address,state,rtt_ms,ttl,name,mac,vendor\r\n");
  EXPECT_EQ(CsvRow(Live("alpha.lab")),
            "10.0.0.10,alive,3,64,alpha.lab,00-22-72-00-00-0A,\"Maker, \"\"Q\"\"\"\r\n");
  EXPECT_EQ(CsvRow({.address = 0x0A000002, .state = State::kNoReport}),
            "10.0.0.2,no report,,,,,\r\n");
}

TEST(Json, OddHostNamesSurviveARoundTrip) {
  for (const std::string& name :
       {std::string("quote\"back\\slash"), std::string("tab\tnew\nline\x01"),
        std::string("caf\xC3\xA9"), std::string("{\"key\": [1]}")}) {
    const auto parsed = nlohmann::json::parse(JsonLine(Live(name)));
    EXPECT_EQ(parsed.at("name"), name);
  }
}

TEST(Json, BytesThatAreNotUtf8BecomeReplacementCharacters) {
  const auto parsed = nlohmann::json::parse(JsonLine(Live("pc\xE9")));
  EXPECT_EQ(parsed.at("name"), "pc\xEF\xBF\xBD");
}

TEST(Json, EveryKeyIsPresentInAFixedOrderWithNullForAbsentValues) {
  EXPECT_EQ(
      JsonLine({.address = 0x0A000002, .state = State::kNoReport}),
      R"({"address":"10.0.0.2","state":"no report","echo":null,"rtt_ms":null,"ttl":null,"name":null,"mac":null,"vendor":null,"mac_source":null,"netbios_mac":null})");
  EXPECT_EQ(
      JsonLine(Live("alpha.lab")),
      R"({"address":"10.0.0.10","state":"alive","echo":"alive","rtt_ms":3,"ttl":64,"name":"alpha.lab","mac":"00-22-72-00-00-0A","vendor":"Maker, \"Q\"","mac_source":"neighbour","netbios_mac":"02-00-5E-10-00-0A"})");
  EXPECT_EQ(
      JsonLine({.address = 0x0A000002,
                .state = State::kSilent,
                .mac = "00-D0-EF-00-00-0E",
                .macSource = MacSource::kNetbios}),
      R"({"address":"10.0.0.2","state":"silent","echo":"dead","rtt_ms":null,"ttl":null,"name":null,"mac":"00-D0-EF-00-00-0E","vendor":null,"mac_source":"netbios","netbios_mac":null})");
}

TEST(Table, ColumnsAlignAndControlBytesAreMasked) {
  const std::string table =
      Table({Live("alpha.lab"), {.address = 0x0A000002, .state = State::kDead}, Live("e\x1b[2J")});
  std::istringstream lines(table);
  std::string header;
  std::getline(lines, header);
  EXPECT_THAT(header, ::testing::StartsWith("ADDRESS    STATE  RTT(ms)  TTL  NAME"));
  const auto nameColumn = header.find("NAME");
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line.find("alpha.lab"), nameColumn);
  std::getline(lines, line);
  EXPECT_EQ(line, "10.0.0.2   dead");
  std::getline(lines, line);
  EXPECT_EQ(line.find("e?[2J"), nameColumn);
  EXPECT_EQ(table.find('\x1b'), std::string::npos);
}

TEST(Writers, CsvAndJsonWriteAtOnceTheTableAtTheEnd) {
  for (const Format format : {Format::kCsv, Format::kJson, Format::kTable}) {
    std::ostringstream out;
    const auto writer = MakeWriter(format, out);
    const std::size_t before = out.str().size();
    writer->Write(Live("alpha.lab"));
    const bool wroteAtOnce = out.str().find("alpha.lab") != std::string::npos;
    EXPECT_EQ(wroteAtOnce, format != Format::kTable);
    writer->Finish();
    EXPECT_NE(out.str().find("alpha.lab"), std::string::npos);
    EXPECT_GT(out.str().size(), before);
  }
}

}  // namespace
}  // namespace hostsweep::controller
