#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "controller/base/printable.h"
#include "controller/output/csv_output.h"
#include "controller/output/json_output.h"
#include "controller/output/result_stream.h"
#include "controller/output/table_output.h"
#include "tests/case_name.h"

namespace hostsweep::controller {
namespace {

HostView Live(std::string name) {
  return {.address = 0x0A00000A,
          .state = State::kAlive,
          .echo = "alive",
          .roundTripMs = 3,
          .ttl = 64,
          .name = std::move(name),
          .nameSource = NameSource::kDns,
          .mac = ParseMac("00-22-72-00-00-0A"),
          .macSource = MacSource::kNeighbour,
          .vendor = "Maker, \"Q\"",
          .netbiosMac = "02:00:5e:10:00:0a"};
}

// A device that said what it is, over DNS-SD.
HostView Typed() {
  HostView view = Live("printer.lan");
  view.device = {.type = "printer",
                 .make = "Brother",
                 .model = "Brother HL-L2350DW, \"duplex\"",
                 .typeFrom = TypeSource::kMdns,
                 .services = {"_ipp._tcp", "_printer._tcp"}};
  return view;
}

struct Quoting {
  const char* field;
  const char* csv;
};

void PrintTo(const Quoting& c, std::ostream* os) { *os << testing::Quoted(c.field); }

class CsvQuoting : public ::testing::TestWithParam<Quoting> {};

TEST_P(CsvQuoting, QuotesOnlyWhatNeedsIt) { EXPECT_EQ(CsvField(GetParam().field), GetParam().csv); }

INSTANTIATE_TEST_SUITE_P(
    Output, CsvQuoting,
    ::testing::Values(Quoting{"", ""}, Quoting{"alpha.lab", "alpha.lab"}, Quoting{"a,b", "\"a,b\""},
                      Quoting{"say \"hi\"", "\"say \"\"hi\"\"\""},
                      Quoting{"two\nlines", "two?lines"}, Quoting{"no report", "no report"},
                      // Formulas stay text; control bytes are masked.
                      Quoting{"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
                      Quoting{"+1", "'+1"}, Quoting{"-1", "'-1"}, Quoting{"@SUM(A1)", "'@SUM(A1)"},
                      Quoting{"\tx", "'?x"}, Quoting{"\rx", "'?x"}, Quoting{"a-b", "a-b"},
                      Quoting{"e\x1b[2J", "e?[2J"}),
    testing::kNumberedName);

struct Masking {
  const char* text;
  const char* shown;
};

void PrintTo(const Masking& c, std::ostream* os) { *os << testing::Quoted(c.text); }

class Masked : public ::testing::TestWithParam<Masking> {};

// What reaches a terminal or a spreadsheet from a host name or a worker.
TEST_P(Masked, ControlAndDirectionCharactersBecomeQuestionMarks) {
  EXPECT_EQ(Printable(GetParam().text), GetParam().shown);
  EXPECT_EQ(CsvField(GetParam().text), GetParam().shown);
  // Standard error: a message written in pieces, a character split between them.
  std::stringbuf terminal;
  {
    PrintableLines lines(terminal);
    std::ostream errors(&lines);
    for (const char* at = GetParam().text; *at != '\0'; ++at) {
      errors << *at << std::flush;
    }
    errors << '\n' << GetParam().text;
  }
  EXPECT_EQ(terminal.str(), std::string(GetParam().shown) + "\n" + GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(Output, Masked,
                         ::testing::Values(Masking{"a\x01\x1f\x7f"
                                                   "b",
                                                   "a???b"},
                                           Masking{"c1\xC2\x9B"
                                                   "2J",
                                                   "c1?2J"},  // U+009B
                                           Masking{"raw\x9B"
                                                   "2J",
                                                   "raw?2J"},  // lone 8-bit CSI
                                           // NOLINTNEXTLINE(misc-misleading-bidirectional)
                                           Masking{"txt.\xE2\x80\xAE"
                                                   "exe",
                                                   "txt.?exe"},  // U+202E
                                           Masking{"\xE2\x81\xA6"
                                                   "x\xE2\x81\xA9",
                                                   "?x?"},                // U+2066, U+2069
                                           Masking{"\xC0\x9B", "\xC0?"},  // overlong form
                                           Masking{"caf\xC3\xA9 \xE6\x97\xA5",
                                                   "caf\xC3\xA9 \xE6\x97\xA5"},  // UTF-8
                                           Masking{"pc\xE9", "pc\xE9"}),
                         testing::kNumberedName);  // the system's code page

// What the device said it is comes last, after every column readers had before.
TEST(Csv, RowsHaveTheHeaderColumnsAndEndInCrLf) {
  EXPECT_EQ(CsvHeader(), "address,state,rtt_ms,ttl,name,mac,vendor,type,make,model,type_from\r\n");
  EXPECT_EQ(CsvRow(Live("alpha.lab")),
            "10.0.0.10,alive,3,64,alpha.lab,00:22:72:00:00:0a,\"Maker, \"\"Q\"\"\",,,,\r\n");
  EXPECT_EQ(CsvRow({.address = 0x0A000002, .state = State::kNoReport}),
            "10.0.0.2,no report,,,,,,,,,\r\n");
  EXPECT_THAT(
      CsvRow(Typed()),
      ::testing::EndsWith(",printer,Brother,\"Brother HL-L2350DW, \"\"duplex\"\"\",mdns\r\n"));
  auto compared = Typed();
  compared.change = RowChange{.change = Change::kRetyped, .previous = "printer/HL-2270"};
  EXPECT_THAT(CsvRow(compared), ::testing::HasSubstr(",retyped,printer/HL-2270,printer,Brother,"));
}

struct JsonEscape {
  const char* text;
  const char* escaped;  // how the line writes it
};

void PrintTo(const JsonEscape& c, std::ostream* os) { *os << testing::Quoted(c.text); }

class JsonControls : public ::testing::TestWithParam<JsonEscape> {};

// JSON keeps the exact text; nothing in a line may act on the terminal or
// page that shows it.
TEST_P(JsonControls, AreWrittenAsEscapesAndReadBackExactly) {
  HostView result = Live(GetParam().text);
  result.vendor = GetParam().text;
  result.workgroup = GetParam().text;
  const std::string line = JsonLine(result);
  EXPECT_EQ(Printable(line), line);
  const auto parsed = nlohmann::json::parse(line);
  for (const char* key : {"name", "vendor", "workgroup"}) {
    EXPECT_EQ(parsed.at(key), GetParam().text) << key;
    EXPECT_NE(line.find(std::string("\"") + key + "\":\"" + GetParam().escaped + "\""),
              std::string::npos)
        << line;
  }
}

INSTANTIATE_TEST_SUITE_P(Output, JsonControls,
                         ::testing::Values(JsonEscape{"a\x7f"
                                                      "b",
                                                      "a\\u007fb"},
                                           JsonEscape{"c1\xC2\x9B"
                                                      "2J",
                                                      "c1\\u009b2J"},
                                           // NOLINTNEXTLINE(misc-misleading-bidirectional)
                                           JsonEscape{"txt.\xE2\x80\xAE"
                                                      "exe",
                                                      "txt.\\u202eexe"},
                                           JsonEscape{"\xE2\x81\xA6"
                                                      "x\xE2\x81\xA9",
                                                      "\\u2066x\\u2069"},
                                           JsonEscape{"e\x1b[2J", "e\\u001b[2J"},
                                           JsonEscape{"caf\xC3\xA9", "caf\xC3\xA9"}),
                         testing::kNumberedName);

TEST(Json, EveryKeyIsPresentInAFixedOrderWithNullForAbsentValues) {
  EXPECT_EQ(
      JsonLine({.address = 0x0A000002, .state = State::kNoReport}),
      R"({"address":"10.0.0.2","state":"no report","echo":null,"rtt_ms":null,"ttl":null,"name":null,"mac":null,"vendor":null,"mac_source":null,"netbios_mac":null,"name_source":null,"workgroup":null,"evidence":null})");
  auto named = Live("alpha.local");
  named.nameSource = NameSource::kMdns;
  named.workgroup = "LAB";
  EXPECT_EQ(
      JsonLine(named),
      R"({"address":"10.0.0.10","state":"alive","echo":"alive","rtt_ms":3,"ttl":64,"name":"alpha.local","mac":"00:22:72:00:00:0a","vendor":"Maker, \"Q\"","mac_source":"neighbour","netbios_mac":"02:00:5e:10:00:0a","name_source":"mdns","workgroup":"LAB","evidence":null})");
  EXPECT_EQ(
      JsonLine({.address = 0x0A000002,
                .state = State::kSilent,
                .echo = "dead",
                .mac = ParseMac("00-D0-EF-00-00-0E"),
                .macSource = MacSource::kNetbios}),
      R"({"address":"10.0.0.2","state":"silent","echo":"dead","rtt_ms":null,"ttl":null,"name":null,"mac":"00:d0:ef:00:00:0e","vendor":null,"mac_source":"netbios","netbios_mac":null,"name_source":null,"workgroup":null,"evidence":null})");
  // A device that said what it is: its keys after the others, null where unsaid.
  auto typed = Typed();
  typed.device.make.clear();
  EXPECT_THAT(
      JsonLine(typed),
      ::testing::EndsWith(
          R"("evidence":null,"type":"printer","make":null,"model":"Brother HL-L2350DW, \"duplex\"","type_from":"mdns","services":["_ipp._tcp","_printer._tcp"]})"));
}

TEST(Table, ColumnsAlignAndControlBytesAreMasked) {
  const std::string table = Table({Live("alpha.lab"),
                                   {.address = 0x0A000002, .state = State::kDead},
                                   Live("e\x1b[2J\xC2\x9B")});
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
  EXPECT_EQ(line.find("e?[2J?"), nameColumn);
  EXPECT_EQ(table.find('\x1b'), std::string::npos);
  EXPECT_THAT(table, ::testing::Not(::testing::HasSubstr("TYPE")));
  // A device that said what it is brings its type and model after the maker.
  EXPECT_THAT(Table({Typed(), {.address = 0x0A000002, .state = State::kDead}}),
              ::testing::ContainsRegex("VENDOR +TYPE +MODEL\n.*\"Q\" +printer +Brother "
                                       "HL-L2350DW, \"duplex\"\n10\\.0\\.0\\.2 +dead\n"));
  // A type alone: piped, both columns as ever; on a terminal no empty MODEL.
  auto typeOnly = Live("pc");
  typeOnly.device.type = "general purpose";
  EXPECT_THAT(Table({typeOnly}), ::testing::ContainsRegex("TYPE +MODEL\n"));
  EXPECT_THAT(Table({typeOnly}, 132), ::testing::ContainsRegex("VENDOR +TYPE\n"));
}

// --ipv6: a CSV field and a JSON list only when asked, a table column only
// when a host has an address, and a device heard over IPv6 alone shown by it.
TEST(Ipv6Addresses, AppearWhereAskedAndNameTheirOwnRows) {
  auto dual = Live("alpha.lab");
  dual.ipv6 = {"2001:db8::a", "fe80::a%br0"};
  EXPECT_THAT(CsvHeader({.ipv6 = true}),
              ::testing::StartsWith("address,state,rtt_ms,ttl,name,mac,vendor,ipv6,type,"));
  EXPECT_THAT(CsvRow(dual, true), ::testing::EndsWith("\",2001:db8::a fe80::a%br0,,,,\r\n"));
  EXPECT_THAT(CsvRow(dual), ::testing::EndsWith("\"Maker, \"\"Q\"\"\",,,,\r\n"));
  EXPECT_EQ(nlohmann::json::parse(JsonLine(dual, true)).at("ipv6"),
            nlohmann::json({"2001:db8::a", "fe80::a%br0"}));
  EXPECT_FALSE(nlohmann::json::parse(JsonLine(dual)).contains("ipv6"));
  EXPECT_EQ(nlohmann::json::parse(JsonLine(Live("a"), true)).at("ipv6"), nlohmann::json::array());
  EXPECT_THAT(Table({Live("a")}), ::testing::Not(::testing::HasSubstr("IPV6")));
  auto only = dual;
  only.ipv6Only = true;
  const std::string table = Table({Live("a"), only});
  EXPECT_THAT(table, ::testing::HasSubstr("IPV6"));
  EXPECT_THAT(table, ::testing::HasSubstr("\n2001:db8::a "));
  EXPECT_THAT(table, ::testing::HasSubstr("  2001:db8::a fe80::a%br0\n"));
}

TEST(Writers, CsvAndJsonWriteAtOnceTheTableAtTheEnd) {
  for (const Format format : {Format::kCsv, Format::kJson, Format::kTable}) {
    std::ostringstream out;
    const auto writer = MakeWriter(format, out);
    const std::size_t before = out.str().size();
    writer->Write(Live("alpha.lab"));
    const bool wroteAtOnce = out.str().find("alpha.lab") != std::string::npos;
    EXPECT_EQ(wroteAtOnce, format != Format::kTable);
    writer->Finish(SweepEnd::kComplete);
    EXPECT_NE(out.str().find("alpha.lab"), std::string::npos);
    EXPECT_GT(out.str().size(), before);
  }
}

}  // namespace
}  // namespace hostsweep::controller
