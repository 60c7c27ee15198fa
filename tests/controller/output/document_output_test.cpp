// nmap's XML, the HTML page and the terminal table, written from canned
// results: what importers and browsers read, and what a hostile name cannot do.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "controller/base/printable.h"
#include "controller/history/earlier_results.h"
#include "controller/history/watch.h"
#include "controller/output/csv_output.h"
#include "controller/output/html_output.h"
#include "controller/output/json_output.h"
#include "controller/output/result_stream.h"
#include "controller/output/sort_script.h"
#include "controller/output/table_output.h"
#include "controller/output/xml_output.h"
#include "tests/case_name.h"

namespace hostsweep::controller {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const SweepRun kRun{.commandLine = "hostsweep --xml - 10.0.0.0/29",
                    .start = std::chrono::system_clock::now(),
                    .addressCount = 6};

HostView Live(std::string name, NameSource source = NameSource::kDns) {
  return {.address = 0x0A00000A,
          .state = State::kAlive,
          .echo = "alive",
          .roundTripMs = 3,
          .ttl = 64,
          .name = std::move(name),
          .nameSource = source,
          .mac = ParseMac("00-22-72-00-00-0A"),
          .macSource = MacSource::kNeighbour,
          .vendor = "Maker & Sons"};
}

std::string Document(ResultWriter& writer, std::ostringstream& out,
                     const std::vector<HostView>& results, SweepEnd end = SweepEnd::kComplete) {
  for (const auto& result : results) {
    writer.Write(result);
  }
  writer.Finish(end);
  return out.str();
}

std::string Xml(const std::vector<HostView>& results, SweepEnd end = SweepEnd::kComplete) {
  std::ostringstream out;
  return Document(*MakeXmlWriter(out, kRun), out, results, end);
}

std::string Html(const std::vector<HostView>& results) {
  std::ostringstream out;
  return Document(*MakeHtmlWriter(out, kRun), out, results);
}

// The text between `before` and the next `after`, entities decoded.
std::string Between(const std::string& text, const std::string& before, const std::string& after) {
  const auto start = text.find(before);
  if (start == std::string::npos) {
    return "(missing)";
  }
  const auto from = start + before.size();
  std::string raw = text.substr(from, text.find(after, from) - from);
  std::string decoded;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    bool replaced = false;
    for (const auto& [entity, c] : {std::pair{"&amp;", '&'},
                                    {"&lt;", '<'},
                                    {"&gt;", '>'},
                                    {"&quot;", '"'},
                                    {"&#39;", '\''}}) {
      if (raw.compare(i, std::string_view(entity).size(), entity) == 0) {
        decoded += c;
        i += std::string_view(entity).size() - 1;
        replaced = true;
        break;
      }
    }
    if (!replaced) {
      decoded += raw[i];
    }
  }
  return decoded;
}

struct Hostile {
  const char* name;
  const char* shown;  // as the other formats mask it
};

void PrintTo(const Hostile& c, std::ostream* os) { *os << testing::Quoted(c.name); }

class HostileName : public ::testing::TestWithParam<Hostile> {};

// The name can neither close the attribute or element it is in nor open one:
// it reads back exactly as the table shows it, in valid UTF-8.
// A device's model is its own word too.
TEST_P(HostileName, ReadsBackAsMaskedTextInXmlAndHtml) {
  auto host = Live(GetParam().name);
  host.device = {.type = "printer", .model = GetParam().name};
  const std::string xml = Xml({host});
  EXPECT_EQ(Between(xml, "<hostname name=\"", "\" type="), GetParam().shown);
  EXPECT_EQ(Between(xml, "<hostname name=\"", "\" type=").find_first_of("<>\""),
            std::string(GetParam().shown).find_first_of("<>\""));
  EXPECT_EQ(Between(xml, "<osmatch name=\"", "\" accuracy="), GetParam().shown);
  EXPECT_EQ(Between(xml, "<elem key=\"model\">", "</elem>"), GetParam().shown);
  const std::string html = Html({host});
  EXPECT_EQ(Between(html, "alive</td><td>", "</td>"), GetParam().shown);
  EXPECT_EQ(Between(html, "<td>printer</td><td>", "</td>"), GetParam().shown);
  EXPECT_EQ(html.find("<script>alert"), std::string::npos);
  EXPECT_EQ(xml.find('\x1b'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Markup, HostileName,
    ::testing::Values(Hostile{"<script>alert(1)</script>", "<script>alert(1)</script>"},
                      Hostile{"\"><b onmouseover='x'>&amp;", "\"><b onmouseover='x'>&amp;"},
                      Hostile{"esc\x1b[2J\x01", "esc?[2J?"},
                      Hostile{"pc\xE9 caf\xC3\xA9", "pc\xEF\xBF\xBD caf\xC3\xA9"},
                      // A surrogate's encoding: its last byte reads as a lone C1 control.
                      Hostile{"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD?"}),
    testing::kNumberedName);

struct HostCase {
  HostView result;
  std::vector<std::string> parts;  // each in the host element, in this order
};

void PrintTo(const HostCase& c, std::ostream* os) { *os << c.result.name; }

class XmlHost : public ::testing::TestWithParam<HostCase> {};

// Debian's ndiff stops at a host with two host scripts: whatever a host
// tells, it has one at most.
TEST_P(XmlHost, CarriesWhatImportersRead) {
  const std::string xml = Xml({GetParam().result});
  std::size_t at = xml.find("<host>");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(xml.find("<script ", xml.find("<script ") + 1), std::string::npos) << xml;
  for (const auto& part : GetParam().parts) {
    const auto found = xml.find(part, at);
    EXPECT_NE(found, std::string::npos) << part << " after " << at << " in\n" << xml;
    at = found == std::string::npos ? at : found;
  }
}

HostView NetbiosNamed() {
  auto result = Live("GOLF", NameSource::kNetbios);
  result.workgroup = "LAB<GROUP>";
  result.roundTripMs = 0;
  return result;
}

// A device with IPv6 addresses: beside an IPv4 row, or heard over IPv6 alone.
HostView Dual(bool ipv6Only) {
  auto result = Live("");
  result.ipv6 = {"2001:db8::a", "fe80::a%br0"};
  result.ipv6Only = ipv6Only;
  return result;
}

// A NetBIOS name, a type, a change and the inventory's word: one script.
HostView Moved() {
  auto result = NetbiosNamed();
  result.device = {.type = "printer"};
  result.change = RowChange{.change = Change::kMoved, .previous = "10.0.0.23"};
  result.known = KnownFacts{.known = true, .alias = "desk"};
  return result;
}

// What a device said it is: where nmap's OS detection puts a type, and a
// script of our own with the rest.
HostView Printer() {
  auto result = Live("printer.lan");
  result.device = {.type = "printer",
                   .make = "Brother",
                   .model = "HL-L2350DW",
                   .typeFrom = TypeSource::kMdns,
                   .services = {"_ipp._tcp", "_printer._tcp"}};
  result.change = RowChange{.change = Change::kRetyped, .previous = "printer/HL-2270"};
  return result;
}

INSTANTIATE_TEST_SUITE_P(
    Markup, XmlHost,
    ::testing::Values(
        HostCase{Live("alpha.lab"),
                 {R"(<status state="up" reason="echo-reply" reason_ttl="64"/>)",
                  R"(<address addr="10.0.0.10" addrtype="ipv4"/>)",
                  R"(<address addr="00:22:72:00:00:0A" addrtype="mac" vendor="Maker &amp; Sons"/>)",
                  R"(<hostname name="alpha.lab" type="PTR"/>)",
                  R"(<times srtt="3000" rttvar="1500" to="100000"/>)", "</host>"}},
        HostCase{
            NetbiosNamed(),
            {R"(<hostname name="GOLF" type="user"/>)",
             R"(<script id="nbstat" output="NetBIOS name: GOLF, Workgroup: LAB&lt;GROUP&gt;">)",
             R"(<elem key="server_name">GOLF</elem><elem key="workgroup">LAB&lt;GROUP&gt;</elem>)",
             R"(<times srtt="0")"}},
        HostCase{Moved(),
                 {R"(<hostscript><script id="nbstat" output="NetBIOS name: GOLF, Workgroup: )",
                  R"(LAB&lt;GROUP&gt;&#10;printer&#10;moved, was 10.0.0.23&#10;known device, )",
                  R"(<elem key="server_name">GOLF</elem>)",
                  R"(<table key="hostsweep-services"><elem key="type">printer</elem></table>)",
                  R"(<table key="hostsweep-change"><elem key="change">moved</elem>)",
                  R"(<table key="hostsweep-known">)", "</table></script></hostscript>"}},
        HostCase{{.address = 0x0A00000F,
                  .state = State::kSilent,
                  .mac = ParseMac("00-D0-EF-00-00-0E"),
                  .vendor = "IGT"},
                 {R"(<status state="up" reason="arp-response" reason_ttl="0"/>)",
                  R"(<address addr="00:D0:EF:00:00:0E" addrtype="mac" vendor="IGT"/>)",
                  "<hostnames>\n</hostnames>\n</host>"}},
        HostCase{{.address = 0x0A000002, .state = State::kDead},
                 {R"(<status state="down" reason="no-response" reason_ttl="0"/>)",
                  R"(<address addr="10.0.0.2" addrtype="ipv4"/>)", "</hostnames>\n</host>"}},
        HostCase{{.address = 0x0A000003, .state = State::kNoReport},
                 {R"(<status state="unknown")"}},
        HostCase{Dual(false),
                 {R"(<address addr="10.0.0.10" addrtype="ipv4"/>)", R"(addrtype="mac")",
                  R"(<address addr="2001:db8::a" addrtype="ipv6"/>)",
                  R"(<address addr="fe80::a%br0" addrtype="ipv6"/>)", "<hostnames>"}},
        HostCase{
            Printer(),
            {"</hostnames>\n<os>", R"(<osmatch name="HL-L2350DW" accuracy="100" line="0">)",
             R"(<osclass type="printer" vendor="Brother" osfamily="" accuracy="100"/>)",
             "</osmatch></os>\n<hostscript>",
             R"(<script id="hostsweep" output="printer (Brother HL-L2350DW); )",
             R"(services: _ipp._tcp _printer._tcp&#10;retyped, was printer/HL-2270">)",
             R"(<table key="hostsweep-services"><elem key="type">printer</elem>)",
             R"(<elem key="make">Brother</elem><elem key="model">HL-L2350DW</elem>)",
             R"(<elem key="type_from">mdns</elem><elem key="service">_ipp._tcp</elem>)",
             R"(<elem key="service">_printer._tcp</elem></table><table key="hostsweep-change">)",
             "</script></hostscript>\n<times"}},
        HostCase{Dual(true),
                 {R"(<address addr="2001:db8::a" addrtype="ipv6"/>)", R"(addrtype="mac")",
                  R"(<address addr="fe80::a%br0" addrtype="ipv6"/>)", "<hostnames>"}}),
    testing::kNumberedName);

TEST(XmlRun, CountsEveryAddressAndSaysWhenInterrupted) {
  std::ostringstream out;
  const auto writer = MakeXmlWriter(out, kRun);
  EXPECT_THAT(out.str(), HasSubstr(R"(<nmaprun scanner="hostsweep" args="hostsweep --xml - )"));
  EXPECT_THAT(out.str(), HasSubstr(R"(xmloutputversion="1.05">)"));
  writer->Write(Live("alpha.lab"));
  // Written as the sweep goes: an interrupted sweep has its hosts on disk.
  EXPECT_THAT(out.str(), HasSubstr("alpha.lab"));
  writer->Skip({.address = 0x0A000002, .state = State::kDead});
  writer->Write({.address = 0x0A000003, .state = State::kSilent});
  writer->Finish(SweepEnd::kInterrupted);
  EXPECT_THAT(out.str(),
              HasSubstr(R"(exit="error" errormsg="interrupted: 3 of 6 addresses done")"));
  EXPECT_THAT(out.str(), HasSubstr(R"(<hosts up="2" down="1" total="3"/>)"));
  EXPECT_THAT(out.str(), ::testing::EndsWith("</runstats>\n</nmaprun>\n"));
  EXPECT_THAT(Xml({Live("a")}), HasSubstr(R"(exit="success"/><hosts up="1" down="0" total="1"/>)"));
}

TEST(HtmlPage, GridHasEveryAddressTableOnlyTheShownOnes) {
  std::ostringstream out;
  const auto writer = MakeHtmlWriter(out, kRun);
  writer->Write(Live("alpha.lab"));
  writer->Skip({.address = 0x0A000002, .state = State::kDead});
  writer->Finish(SweepEnd::kComplete);
  const std::string page = out.str();
  EXPECT_THAT(page, HasSubstr(R"(<span class="alive" title="10.0.0.10 alive alpha.lab" )"
                              R"(style="grid-area: 1 / 11">10</span>)"));
  EXPECT_THAT(page, HasSubstr(R"(<span class="dead" title="10.0.0.2 dead" )"
                              R"(style="grid-area: 1 / 3">2</span>)"));
  EXPECT_THAT(page, HasSubstr("<td>Maker &amp; Sons</td><td></td><td></td>"));
  EXPECT_THAT(page, Not(HasSubstr(">10.0.0.2</td>")));
  EXPECT_THAT(
      page,
      HasSubstr(
          R"(<p class="legend"><span class="alive">alive</span><span class="dead">dead</span></p>)"));
  EXPECT_THAT(page, HasSubstr("2 of 6 addresses swept, 1 found"));
  // Self-contained: nothing to fetch, and fetching forbidden.
  EXPECT_THAT(page, HasSubstr("default-src 'none'"));
  EXPECT_THAT(page, Not(::testing::ContainsRegex("(src|href)=")));
  // Its one script allowed by its hash: no other inline script runs.
  EXPECT_THAT(page, HasSubstr("script-src '" + std::string(kSortScriptHash) + "'\""));
  EXPECT_THAT(page, HasSubstr("<script>" + std::string(kSortScript) + "</script>"));
}

// A sweep over /24s (a /20, mixed targets): each its own square under its
// label, every address at its own offset, and no address or MAC broken.
TEST(HtmlPage, GridIsASquarePerLabelledSlash24) {
  std::ostringstream out;
  const auto writer = MakeHtmlWriter(out, kRun);
  writer->Skip({.address = 0x0A0000FF, .state = State::kDead});
  writer->Write(Live("alpha.lab"));
  writer->Skip({.address = 0xC0A80100, .state = State::kDead});
  writer->Skip({.address = 0x0A000100, .state = State::kDead});
  writer->Finish(SweepEnd::kComplete);
  const std::string page = out.str();
  const std::size_t first = page.find(R"(<p class="network">10.0.0.0/24</p>)");
  const std::size_t second = page.find(R"(<p class="network">10.0.1.0/24</p>)");
  const std::size_t third = page.find(R"(<p class="network">192.168.1.0/24</p>)");
  EXPECT_LT(first, second);
  EXPECT_LT(second, third);
  EXPECT_NE(third, std::string::npos);
  const std::size_t last = page.find(R"(title="10.0.0.255 dead" style="grid-area: 16 / 16">255<)");
  const std::size_t next = page.find(R"(title="10.0.1.0 dead" style="grid-area: 1 / 1">0<)");
  EXPECT_LT(first, last);
  EXPECT_LT(last, second);
  EXPECT_LT(second, next);
  EXPECT_THAT(page, HasSubstr(R"(<td class="whole" data-key="167772170">10.0.0.10</td>)"));
  EXPECT_THAT(page, HasSubstr("td.whole { white-space: nowrap;"));
}

std::size_t DisplayColumns(const std::string& line) {
  return static_cast<std::size_t>(
      std::count_if(line.begin(), line.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

class TerminalTable : public ::testing::TestWithParam<std::size_t> {};

// One 250-character name must not push every row's MAC and maker aside.
TEST_P(TerminalTable, FitsTheWidthAndKeepsColumnsInPlace) {
  const std::size_t width = GetParam();
  auto longName = Live(std::string(250, 'n'));
  longName.roundTripMs = 0;
  auto longMaker = Live("alpha.lab");
  longMaker.vendor = std::string(90, 'v');
  longMaker.device = {.type = "printer", .model = std::string(90, 'm')};
  longMaker.known = KnownFacts{.known = true, .alias = std::string(60, 'a')};
  const std::vector<HostView> results{
      Live("alpha.lab"), longName, longMaker, {.address = 0x0A000002, .state = State::kDead}};
  std::istringstream lines(Table(results, width));
  std::vector<std::string> rows;
  for (std::string line; std::getline(lines, line);) {
    EXPECT_LE(DisplayColumns(line), width) << line;
    rows.push_back(line);
  }
  ASSERT_EQ(rows.size(), 5U);
  const auto macColumn = rows[0].find("MAC");
  for (const std::size_t row : {1, 2, 3}) {
    EXPECT_EQ(DisplayColumns(rows[row].substr(0, rows[row].find("00:22:72"))),
              DisplayColumns(rows[0].substr(0, macColumn)))
        << rows[row];
  }
  EXPECT_THAT(rows[2], HasSubstr("n\xE2\x80\xA6"));
  // The model gives way like the maker; too narrow for both, it is left out.
  EXPECT_EQ(rows[0].find("TYPE") != std::string::npos, width > 100) << rows[0];
  EXPECT_THAT(rows[2], ::testing::MatchesRegex("10\\.0\\.0\\.10 +alive +<1 +64 .*"));
  // Only the table cuts: the other formats keep the whole name.
  EXPECT_THAT(CsvRow(longName), HasSubstr(std::string(250, 'n')));
}

INSTANTIATE_TEST_SUITE_P(Output, TerminalTable, ::testing::Values(72, 80, 132),
                         testing::kNumberedName);

struct ByNeed {
  const char* name;
  std::size_t width;
  std::vector<std::string> shown;  // a value cut ends in its ellipsis
};

class TerminalTableByNeed : public ::testing::TestWithParam<ByNeed> {};

// Three controllers from one maker, a laptop with one long name, and the one
// device that says its model: the long values give way, not every row.
TEST_P(TerminalTableByNeed, CutsTheFewestValuesAndOnlyWhenTheRowsDoNotFit) {
  std::vector<HostView> rows;
  for (const char* name : {"alpha.lab", "bravo.lab", "carol.lab"}) {
    rows.push_back(Live(name));
    rows.back().vendor = "Rockwell Automation";
  }
  rows.push_back(Live("desktop-4f2k9qx.office.lab"));
  rows.back().device = {.type = "plc", .make = "Brother", .model = "HL-L2350DW series"};
  const std::string table = Table(rows, GetParam().width);
  std::istringstream lines(table);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_LE(DisplayColumns(line), GetParam().width) << line;
  }
  for (const auto& value : GetParam().shown) {
    EXPECT_THAT(table, HasSubstr(value)) << table;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Output, TerminalTableByNeed,
    ::testing::Values(ByNeed{"RoomForEverything",
                             132,
                             {"alpha.lab", "desktop-4f2k9qx.office.lab", "Rockwell Automation",
                              "Brother HL-L2350DW series"}},
                      ByNeed{"OneLongNameAndModelGiveWay",
                             100,
                             {"alpha.lab", "Rockwell Automation", "desktop-4f2…", "Brother…"}},
                      ByNeed{"MakersGiveWayOnlyWhenNothingElseCan",
                             80,
                             {"alpha.lab", "bravo.lab", "desktop-…", "Rockwell Automati…"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PipedTable, CapsTheNameAndKeepsZeroRoundTrips) {
  auto longName = Live(std::string(250, 'n'));
  longName.roundTripMs = 0;
  EXPECT_THAT(Table({longName}),
              ::testing::ContainsRegex("alive +0 +64 +n{37}\\.\\.\\.  00:22:72"));
}

// The inventory's facts (--known) in every format, its text masked and
// escaped as names are; a device it does not know says so.
TEST(KnownFactsInEveryOutput, CarryAliasOwnerAndKnown) {
  auto host = Live("alpha.lab");
  host.known = KnownFacts{.known = true, .alias = "desk, \"A\"\x1b", .owner = "=ann"};
  auto stranger = Live("beta.lab");
  stranger.known = KnownFacts{};
  EXPECT_EQ(
      CsvHeader({.known = true}),
      "address,state,rtt_ms,ttl,name,mac,vendor,type,make,model,type_from,alias,owner,known\r\n");
  EXPECT_THAT(CsvRow(host), ::testing::EndsWith(",\"desk, \"\"A\"\"?\",'=ann,true\r\n"));
  EXPECT_THAT(CsvRow(stranger), ::testing::EndsWith("Sons,,,,,,,false\r\n"));
  EXPECT_THAT(JsonLine(host),
              ::testing::EndsWith(R"("alias":"desk, \"A\"\u001b","owner":"=ann","known":true})"));
  EXPECT_THAT(JsonLine(stranger),
              ::testing::EndsWith(R"("alias":null,"owner":null,"known":false})"));
  EXPECT_THAT(Table({host, stranger}), HasSubstr("VENDOR        ALIAS\n"));
  EXPECT_THAT(Table({host, stranger}), HasSubstr("Maker & Sons  desk, \"A\"?\n"));
  EXPECT_THAT(Table({stranger}), Not(HasSubstr("ALIAS")));
  EXPECT_THAT(Xml({host}), HasSubstr(R"(<hostname name="alpha.lab" type="PTR"/>
<hostname name="desk, &quot;A&quot;?" type="user"/>)"));
  EXPECT_THAT(Xml({host}),
              HasSubstr(R"(="known device, alias: desk, &quot;A&quot;?, owner: =ann">)"));
  EXPECT_THAT(Xml({stranger}), HasSubstr(R"(output="unknown device">)"));
  EXPECT_THAT(Html({host}), HasSubstr("<th>Name</th><th>Alias</th>"));
  EXPECT_THAT(Html({host}), HasSubstr("<td>alpha.lab</td><td>desk, &quot;A&quot;?</td>"));
  EXPECT_THAT(Html({Live("a")}), Not(HasSubstr("Alias")));
}

// One MAC text in every output, so that one search finds a host in all of
// them; nmap's XML alone writes it as nmap does, for ndiff and importers.
TEST(MacInEveryOutput, IsWrittenOneWay) {
  const HostView host = Live("alpha.lab");
  const SeenHost seen{
      .address = host.address, .name = host.name, .mac = host.mac, .macSource = host.macSource};
  const VendorOf vendorOf = [](const MacAddress&) { return std::string(); };
  const std::vector<std::pair<std::string, std::string>> outputs{
      {"piped table", Table({host})},
      {"terminal table", Table({host}, 80)},
      {"CSV", CsvRow(host)},
      {"JSON", JsonLine(host)},
      {"HTML", Html({host})},
      {"watch", WatchLine({.change = Change::kNew, .host = seen}, vendorOf, WatchLineForm::kTabs)},
      {"state", StateDocument({{.host = seen}})},
      {"nmap's XML", Xml({host})}};
  for (const auto& [output, text] : outputs) {
    EXPECT_THAT(text, HasSubstr(output == "nmap's XML" ? "00:22:72:00:00:0A" : "00:22:72:00:00:0a"))
        << output;
  }
}

}  // namespace
}  // namespace hostsweep::controller
