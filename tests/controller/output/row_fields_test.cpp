// The row fields' table drives every format: each field is where its entry
// says in each writer's output, and a field read back is taken by the
// readers of earlier sweeps.
#include "controller/output/row_fields.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sstream>

#include "controller/base/errors.h"
#include "controller/history/earlier_results.h"
#include "controller/output/csv_output.h"
#include "controller/output/html_output.h"
#include "controller/output/json_output.h"
#include "controller/output/table_output.h"
#include "controller/output/xml_output.h"
#include "tests/case_name.h"

namespace hostsweep::controller {
namespace {

// A row on which every field has something to say.
const HostView kEveryField{.address = 0x0A00000A,
                           .state = State::kAlive,
                           .echo = "alive",
                           .roundTripMs = 5,
                           .ttl = 64,
                           .name = "alpha.lab",
                           .nameSource = NameSource::kMdns,
                           .mac = ParseMac("00-22-72-00-00-0A"),
                           .macSource = MacSource::kArp,
                           .evidence = Evidence::kEchoReply,
                           .vendor = "Acme",
                           .workgroup = "HOME",
                           .netbiosMac = "00-22-72-00-00-0A",
                           .ipv6 = {"2001:db8::a"},
                           .macSharedBy = kMostAddressesPerHost + 1,
                           .device = {.type = "printer",
                                      .make = "Brother",
                                      .model = "HL-2270",
                                      .typeFrom = TypeSource::kMdns,
                                      .services = {"_ipp._tcp"}},
                           .change = RowChange{.change = Change::kMoved, .previous = "10.0.0.9"},
                           .known = KnownFacts{.known = true, .alias = "desk", .owner = "ann"}};

std::string Written(const std::unique_ptr<ResultWriter>& writer, const std::ostringstream& out) {
  writer->Write(kEveryField);
  writer->Finish(SweepEnd::kComplete);
  return out.str();
}

// The host read back, or nothing where the reader refuses the document.
std::optional<SeenHost> ReadBack(const std::string& document) {
  try {
    return ParseEarlierSweep(document).found.at(0);
  } catch (const EarlierResultsError&) {
    return std::nullopt;
  }
}

// Each field by its key.
std::vector<const char*> Keys() {
  std::vector<const char*> keys;
  for (const RowField& field : RowFields()) {
    keys.push_back(field.key);
  }
  return keys;
}

class EveryFormat : public ::testing::TestWithParam<const char*> {};

TEST_P(EveryFormat, CarriesTheFieldWhereItsEntrySaysAndReadsItBack) {
  const std::string key = GetParam();
  const RowField& field = *std::find_if(RowFields().begin(), RowFields().end(),
                                        [&key](const RowField& f) { return f.key == key; });
  Json line = Json::parse(JsonLine(kEveryField, true));
  EXPECT_EQ(line.at(key), field.value(kEveryField));
  const std::string csvHeader = "," + CsvHeader({.ipv6 = true, .change = true, .known = true});
  EXPECT_EQ(csvHeader.find("," + key + ",") != std::string::npos ||
                csvHeader.find("," + key + "\r") != std::string::npos,
            field.csv);
  const std::string table = Table({kEveryField}, std::nullopt, true);
  if (!field.heading.empty()) {
    EXPECT_LT(table.find(field.heading), table.find('\n'));
  }
  std::ostringstream page;
  EXPECT_EQ(Written(MakeHtmlWriter(page, {}), page)
                    .find("<th>" + std::string(field.page.heading) + "</th>") != std::string::npos,
            field.page.place > 0);
  std::ostringstream xml;
  const std::string document = Written(MakeXmlWriter(xml, {}), xml);
  const std::string element = "<elem key=\"" + std::string(field.xml.key) + "\">";
  EXPECT_EQ(document.find(element) != std::string::npos, !field.xml.table.empty());
  if (field.readBack == nullptr) {
    return;
  }
  const std::string full = line.dump();
  line.erase(key);
  EXPECT_NE(ReadBack(full), ReadBack(line.dump())) << "JSON lines";
  if (!field.xml.table.empty()) {
    std::string unread = document;
    unread.replace(unread.find(element), element.size(), "<elem key=\"unread\">");
    EXPECT_NE(ReadBack(document), ReadBack(unread)) << "XML";
  }
}

INSTANTIATE_TEST_SUITE_P(RowFields, EveryFormat, ::testing::ValuesIn(Keys()),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return testing::CaseName(info.param);
                         });

}  // namespace
}  // namespace hostsweep::controller
