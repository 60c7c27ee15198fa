// The lab's devices (lab.sh devices: python3-zeroconf, minidlna, miniupnpd,
// Samba's nmbd, a hostile device) swept once in every format: what each says
// it is, where every reader finds it; a host that says nothing, and one that
// lies in every way, left blank, and the liar costing the sweep no time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/case_name.h"
#include "tests/integration/controller_run.h"
#include "tests/integration/document_tools.h"
#include "tests/integration/harness.h"

namespace hostsweep::testing {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;

const std::vector<std::string> kTargets{"10.213.0.12", "10.213.3.10-14", "10.213.3.20-21",
                                        "10.213.3.30", "10.213.3.40"};

// What a device says of itself; make and model are parts of what is shown
// (the rule table words them), an empty one expected to be empty only on a
// row with no type.
struct Device {
  const char* address;
  const char* kind;  // as lab.sh lists it in $STATE/devices; empty for a plain lab host
  const char* type;
  const char* make;
  const char* model;
  const char* from;
  const char* name = "";  // the name it gives itself, and where from
  const char* nameFrom = "";
};

void PrintTo(const Device& device, std::ostream* out) { *out << device.address; }

// A table cell: its text without the padding.
std::string Trimmed(std::string text) {
  text.erase(text.find_last_not_of(' ') + 1);
  text.erase(0, text.find_first_not_of(' '));
  return text;
}

struct Sweeps {
  ProcessResult baseline;  // --no-types: what the sweep costs without asking
  ProcessResult csv;       // with -oX and --html files
  ProcessResult json;      // with -oX and an inventory of the file server
  ProcessResult table;     // piped
  fs::path unknownXml = WorkFolder() / "devices-unknown.xml";  // the CSV sweep's
  fs::path xml = WorkFolder() / "devices.xml";
  fs::path html = WorkFolder() / "devices.html";
  std::map<std::string, std::vector<std::string>> csvRows;
  std::map<std::string, nlohmann::json> jsonRows;
  std::map<std::string, std::string> tableRows;
  std::string tableHeader;
  std::string devicesUp;  // $STATE/devices
  std::string rendered;   // by xsltproc with nmap's stylesheet, where installed
  std::string dom;        // the page as headless chromium holds it, where installed
};

std::vector<std::string> Arguments(std::vector<std::string> options) {
  options.insert(options.end(), kTargets.begin(), kTargets.end());
  return options;
}

Sweeps* Sweep() {
  auto* sweeps = new Sweeps;
  sweeps->baseline = RunController(Arguments({"-q", "--csv", "--no-types"}));
  sweeps->csv = RunController(Arguments(
      {"-q", "--csv", "-oX", sweeps->unknownXml.string(), "--html", sweeps->html.string()}));
  const auto known = WorkFolder() / "devices-known.csv";
  std::ofstream(known) << "mac,address,alias,owner,expect,note\n,10.213.3.30,files,,,\n";
  sweeps->json = RunController(
      Arguments({"-q", "--json", "--known", known.string(), "-oX", sweeps->xml.string()}));
  sweeps->table = RunController(Arguments({"-q"}));
  for (auto& record : ReadCsv(sweeps->csv.standardOutput)) {
    sweeps->csvRows[record.front()] = record;
  }
  std::istringstream lines(sweeps->json.standardOutput);
  for (std::string line; std::getline(lines, line);) {
    const auto object = nlohmann::json::parse(line, nullptr, false);
    if (object.is_object()) {
      sweeps->jsonRows[object.value("address", "")] = object;
    }
  }
  std::istringstream table(sweeps->table.standardOutput);
  std::getline(table, sweeps->tableHeader);
  for (std::string line; std::getline(table, line);) {
    sweeps->tableRows[line.substr(0, line.find(' '))] = line;
  }
  if (const char* state = std::getenv("HOSTSWEEP_LAB_STATE")) {
    sweeps->devicesUp = ReadFile(fs::path(state) / "devices");
  }
  if (!Missing({{"/usr/bin/xsltproc", "xsltproc"}, {kStylesheet, "nmap-common"}})) {
    sweeps->rendered =
        RunProcess({"/usr/bin/xsltproc", kStylesheet, sweeps->xml.string()}).standardOutput;
  }
  if (!Missing({{"/usr/bin/chromium", "chromium"}})) {
    sweeps->dom = BrowserDom(sweeps->html).standardOutput;
  }
  return sweeps;
}

// The devices are started, and every sweep made, once for all the tests.
Sweeps* labSweeps = nullptr;

class LabDevices : public ::testing::Environment {
 public:
  void SetUp() override {
    if (InLab()) {
      started_ = RunProcess({HOSTSWEEP_LAB_SCRIPT, "devices"});
      labSweeps = started_.exitStatus == 0 ? Sweep() : nullptr;
    }
  }
  void TearDown() override {
    if (InLab()) {
      RunProcess({HOSTSWEEP_LAB_SCRIPT, "undevices"});
    }
  }
  static ProcessResult started_;
};

ProcessResult LabDevices::started_{};
[[maybe_unused]] ::testing::Environment* const kLabDevices =
    ::testing::AddGlobalTestEnvironment(new LabDevices);

class DevicesInLab : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!InLab()) {
      GTEST_SKIP() << "needs the lab's scanner namespace (run through tests/lab/lab.sh exec)";
    }
    ASSERT_NE(labSweeps, nullptr) << "lab.sh devices failed: "
                                  << LabDevices::started_.standardError;
    for (const auto* run :
         {&labSweeps->baseline, &labSweeps->csv, &labSweeps->json, &labSweeps->table}) {
      ASSERT_EQ(run->exitStatus, 0) << run->standardError;
    }
  }
};

class DeviceRow : public DevicesInLab, public ::testing::WithParamInterface<Device> {};

TEST_P(DeviceRow, SaysWhatItIsInEveryFormat) {
  const Device& device = GetParam();
  const std::string address = device.address;
  const Sweeps& sweeps = *labSweeps;
  if (*device.kind != '\0' &&
      !Holds(sweeps.devicesUp, address + " " + std::string(device.kind) + "\n")) {
    GTEST_SKIP() << "lab.sh devices did not start the " << device.kind
                 << " (python3-zeroconf, minidlna, miniupnpd, samba)";
  }
  const bool blank = *device.type == '\0';
  const auto expect = [&](const std::string& format, const std::string& type,
                          const std::string& make, const std::string& model) {
    EXPECT_EQ(type, device.type) << format;
    if (blank) {
      EXPECT_EQ(make + model, "") << format;
    } else {
      EXPECT_THAT(make + " " + model, HasSubstr(device.make)) << format;
      EXPECT_THAT(model, HasSubstr(device.model)) << format;
    }
  };

  ASSERT_TRUE(sweeps.csvRows.contains(address));
  const auto& csv = sweeps.csvRows.at(address);
  ASSERT_EQ(csv.size(), 11U);
  expect("CSV", csv[7], csv[8], csv[9]);
  EXPECT_EQ(csv[10], blank ? "" : device.from);

  ASSERT_TRUE(sweeps.jsonRows.contains(address));
  const auto& json = sweeps.jsonRows.at(address);
  const auto text = [&json](const char* key) {
    return json.contains(key) && json[key].is_string() ? json[key].get<std::string>() : "";
  };
  expect("JSON", text("type"), text("make"), text("model"));
  EXPECT_EQ(text("type_from"), blank ? "" : device.from);
  if (*device.name != '\0') {
    EXPECT_EQ(text("name"), device.name);
    EXPECT_EQ(text("name_source"), device.nameFrom);
  }

  ASSERT_TRUE(sweeps.tableRows.contains(address));
  // No TYPE column: no row has a type to show.
  const auto typeAt = sweeps.tableHeader.find("TYPE");
  const auto modelAt = sweeps.tableHeader.find("MODEL");
  if (typeAt == std::string::npos) {
    expect("table", "", "", "");
  } else {
    const std::string row = sweeps.tableRows.at(address) + std::string(modelAt, ' ');
    expect("table", Trimmed(row.substr(typeAt, modelAt - typeAt)), "",
           Trimmed(row.substr(modelAt)));
  }

  const std::string host = "//host[address/@addr='" + address + "']";
  if (const auto missing = Missing({{"/usr/bin/xmllint", "libxml2-utils"}})) {
    GTEST_SKIP() << *missing;
  }
  expect("XML", XPath(sweeps.xml, "string(" + host + "/os/osmatch/osclass/@type)"),
         XPath(sweeps.xml, "string(" + host + "/os/osmatch/osclass/@vendor)"),
         XPath(sweeps.xml, "string(" + host + "//elem[@key='model'])"));

  if (const auto missing =
          Missing({{"/usr/bin/xsltproc", "xsltproc"}, {kStylesheet, "nmap-common"}})) {
    GTEST_SKIP() << *missing;
  }
  const std::string& page = sweeps.rendered;
  const auto block = page.find("id=\"hostblock_" + address + "\"");
  ASSERT_NE(block, std::string::npos) << address;
  const std::string shown = page.substr(block, page.find("id=\"hostblock_", block + 1) - block);
  EXPECT_EQ(Holds(shown, "OS match"), !blank);
  const std::string type = device.type;
  EXPECT_TRUE(Holds(shown, "<pre>" + type) || Holds(shown, "\n" + type) || blank) << shown;

  if (const auto missing = Missing({{"/usr/bin/chromium", "chromium"}})) {
    GTEST_SKIP() << *missing;
  }
  const std::string& dom = sweeps.dom;
  const auto cell = dom.find(">" + address + "</td>");
  ASSERT_NE(cell, std::string::npos) << address;
  const std::string tableRow = dom.substr(cell, dom.find("</tr>", cell) - cell);
  EXPECT_TRUE(Holds(tableRow, "<td>" + std::string(device.type) + "</td>")) << tableRow;
  EXPECT_TRUE(Holds(tableRow, device.model)) << tableRow;
}

INSTANTIATE_TEST_SUITE_P(
    Lab, DeviceRow,
    ::testing::Values(Device{"10.213.3.10", "printer", "printer", "", "HL-L2350DW", "mdns",
                             "labprinter.local", "mdns"},
                      Device{"10.213.3.11", "cast", "media device", "", "Chromecast Ultra", "mdns",
                             "labcast.local", "mdns"},
                      Device{"10.213.3.12", "nas", "storage-misc", "", "Xserve", "mdns"},
                      Device{"10.213.3.13", "camera", "webcam", "", "", "mdns"},
                      Device{"10.213.3.14", "workstation", "general purpose", "", "", "mdns"},
                      Device{"10.213.3.20", "media", "media device", "Justin Maggard",
                             "Lab Media Server", "ssdp", "Lab Media", "upnp"},
                      Device{"10.213.3.21", "gateway", "router", "Lab Networks", "Lab Router 1",
                             "ssdp"},
                      // Samba's nmbd registers the name of a file server, <20>.
                      Device{"10.213.3.30", "fileserver", "general purpose", "", "", "netbios"},
                      // Says nothing about itself.
                      Device{"10.213.0.12", "", "", "", "", ""},
                      Device{"10.213.3.40", "hostile", "", "", "", ""}),
    testing::kNumberedName);

// The hostile device's endless description and answer floods cost only its
// own row: a wide guard, not a timing (benchmarks measure the stage's cost).
TEST_F(DevicesInLab, StayValidAndTheHostileDeviceSlowsNothing) {
  constexpr auto kGenerous = std::chrono::seconds(5);
  EXPECT_LT(labSweeps->csv.elapsed, labSweeps->baseline.elapsed + kGenerous);
  if (const auto missing =
          Missing({{"/usr/bin/xmllint", "libxml2-utils"}, {kDtd, "nmap-common"}})) {
    GTEST_SKIP() << *missing;
  }
  ExpectValid(labSweeps->xml);
}

// The file server gave its NetBIOS name and said what it is, and the JSON
// sweep's inventory knows it: one host script (nmap's DTD and stylesheet read
// it above), which the ndiff Debian ships (it stops at two) compares.
TEST_F(DevicesInLab, NmapsToolsReadAHostThatTellsSeveralThings) {
  if (!Holds(labSweeps->devicesUp, "10.213.3.30 fileserver\n")) {
    GTEST_SKIP() << "lab.sh devices did not start the fileserver (samba)";
  }
  if (const auto missing = Missing({{"/usr/bin/ndiff", "ndiff"}})) {
    GTEST_SKIP() << *missing;
  }
  const auto diff =
      RunProcess({"/usr/bin/ndiff", labSweeps->unknownXml.string(), labSweeps->xml.string()});
  EXPECT_EQ(diff.exitStatus, 1) << diff.standardError;  // 1: the sweeps differ
  EXPECT_THAT(diff.standardError, ::testing::Not(HasSubstr("Traceback")));
  EXPECT_THAT(diff.standardOutput, HasSubstr("+|_ known device, alias: files"));
}

}  // namespace
}  // namespace hostsweep::testing
