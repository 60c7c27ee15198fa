// The programs that read nmap's XML, and a browser, given a real sweep of the
// lab: nmap's DTD, ndiff, xsltproc with nmap's stylesheet, headless chromium.
// Each skips, saying which package it lacks, when its program is missing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>

#include "tests/case_name.h"
#include "tests/integration/controller_run.h"
#include "tests/integration/document_tools.h"
#include "tests/integration/harness.h"

namespace hostsweep::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr int kExitFound = 0;
constexpr int kExitInterrupted = 130;
constexpr const char* kHostileName = R"(<b id="hostile">x</b>.local)";
constexpr const char* kHostileAddress = "10.213.0.149";  // one of the crowd's unnamed hosts
constexpr const char* kLongNamed = "10.213.0.148";       // another, named at length

namespace fs = std::filesystem;

void ForgetNeighbours() {
  ASSERT_EQ(RunProcess({"/bin/ip", "-4", "neigh", "flush", "dev", "br0"}).exitStatus, 0);
}

// As nmap writes a MAC in its XML: upper case.
std::string NmapMac(std::string mac) {
  std::transform(mac.begin(), mac.end(), mac.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return mac;
}

// 250 characters, in labels as long as DNS allows them.
std::string LongName() {
  return std::string(60, 'a') + "." + std::string(60, 'b') + "." + std::string(60, 'c') + "." +
         std::string(61, 'd') + ".local";
}

// One sweep of the lab's /24 as CSV on standard output, XML and HTML in files,
// with a crowd host whose mDNS name is markup.
struct LabSweep {
  fs::path xml;
  fs::path html;
  std::vector<std::vector<std::string>> found;  // CSV records of the hosts found
};

const LabSweep& SweepOnce() {
  static const LabSweep* sweep = [] {
    auto* result = new LabSweep{WorkFolder() / "lab.xml", WorkFolder() / "lab.html", {}};
    ChildProcess responder({HOSTSWEEP_LAB_SCRIPT, "hostexec", "crowd", HOSTSWEEP_MDNS_RESPONDER,
                            "--address", kHostileAddress, "--name", kHostileName});
    ChildProcess longNamed({HOSTSWEEP_LAB_SCRIPT, "hostexec", "crowd", HOSTSWEEP_MDNS_RESPONDER,
                            "--address", kLongNamed, "--name", LongName()});
    EXPECT_TRUE(responder.AwaitOutput("ready", milliseconds(5000)));
    EXPECT_TRUE(longNamed.AwaitOutput("ready", milliseconds(5000)));
    ForgetNeighbours();
    const auto run = RunController({"-q", "--csv", "--xml", result->xml.string(), "--html",
                                    result->html.string(), "10.213.0.0/24"});
    EXPECT_EQ(run.exitStatus, kExitFound) << run.standardError;
    for (const auto& record : ReadCsv(run.standardOutput)) {
      if (record.size() == 11 && (record[1] == "alive" || record[1] == "silent")) {
        result->found.push_back(record);
      }
    }
    return result;
  }();
  return *sweep;
}

class Toolbox : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!InLab()) {
      GTEST_SKIP() << "needs the lab's scanner namespace (run through tests/lab/lab.sh exec)";
    }
  }
};

TEST_F(Toolbox, XmlIsValidAndCarriesEachFoundHostsMacAndMaker) {
  if (const auto missing =
          Missing({{"/usr/bin/xmllint", "libxml2-utils"}, {kDtd, "nmap-common"}})) {
    GTEST_SKIP() << *missing;
  }
  const auto& sweep = SweepOnce();
  ExpectValid(sweep.xml);
  ASSERT_GT(sweep.found.size(), 50U);
  for (const auto& host : sweep.found) {
    const std::string at = "//host[address/@addr='" + host[0] + "']";
    EXPECT_EQ(XPath(sweep.xml, "string(" + at + "/status/@state)"), "up") << host[0];
    if (!host[5].empty()) {
      const std::string mac = at + "/address[@addrtype='mac']";
      EXPECT_EQ(XPath(sweep.xml, "string(" + mac + "/@addr)"), NmapMac(host[5]));
      EXPECT_EQ(XPath(sweep.xml, "string(" + mac + "/@vendor)"), host[6]) << host[0];
    }
  }
  EXPECT_EQ(XPath(sweep.xml, "string(//host[address/@addr='10.213.0.10']/status/@reason_ttl)"),
            "64");
  EXPECT_EQ(XPath(sweep.xml, "string(//host[address/@addr='" + std::string(kHostileAddress) +
                                 "']//hostname/@name)"),
            kHostileName);
}

// The inventory's alias as a host name of the user's and its word as a host
// script, beside a comparison's: still what nmap's DTD allows.
TEST_F(Toolbox, KnownDevicesAndTheirAbsenceKeepTheXmlValid) {
  if (const auto missing =
          Missing({{"/usr/bin/xmllint", "libxml2-utils"}, {kDtd, "nmap-common"}})) {
    GTEST_SKIP() << *missing;
  }
  const auto known = WorkFolder() / "known.csv";
  std::ofstream(known) << "mac,address,alias,owner,expect,note\n"
                       << ",10.213.0.10,\"<b id=\"\"hostile\"\">x</b>.local\",ann,,\n"
                       << ",10.213.0.16,gone for good,,always,\n";
  const auto before = WorkFolder() / "known-before.json";
  const auto first = RunController({"-q", "--json", "10.213.0.10-16"});
  std::ofstream(before) << first.standardOutput;
  const auto xml = WorkFolder() / "known.xml";
  const auto run = RunController({"-q", "--known", known.string(), "--compare", before.string(),
                                  "--xml", xml.string(), "10.213.0.10-16"});
  EXPECT_EQ(run.exitStatus, 2) << run.standardError;
  ExpectValid(xml);
  EXPECT_EQ(XPath(xml, "string(//host[address/@addr='10.213.0.10']//hostname[2]/@name)"),
            kHostileName);
  EXPECT_EQ(XPath(xml,
                  "string(//host[address/@addr='10.213.0.16']//table[@key='hostsweep-change']"
                  "/elem[@key='change'])"),
            "missing");
}

TEST_F(Toolbox, InterruptedSweepLeavesAValidFileThatSaysSo) {
  if (const auto missing =
          Missing({{"/usr/bin/xmllint", "libxml2-utils"}, {kDtd, "nmap-common"}})) {
    GTEST_SKIP() << *missing;
  }
  const auto xml = WorkFolder() / "interrupted.xml";
  const auto run = RunController({"-q", "--csv", "-oX", xml.string(), "10.213.0.0/24"},
                                 Interrupt::kAfterFirstRow);
  ASSERT_EQ(run.exitStatus, kExitInterrupted) << run.standardError;
  ExpectValid(xml);
  EXPECT_EQ(XPath(xml, "string(//finished/@exit)"), "error");
  EXPECT_THAT(XPath(xml, "string(//finished/@errormsg)"), HasSubstr("interrupted"));
}

struct FileProblem {
  const char* option;
  const char* path;
  int exitStatus;
  const char* message;
};

void PrintTo(const FileProblem& c, std::ostream* os) { *os << c.option << ' ' << c.path; }

class UnwritableFile : public Toolbox, public ::testing::WithParamInterface<FileProblem> {};

// One that cannot be created stops the run before it starts; one that fills
// up ends the sweep, as a failed standard output does.
TEST_P(UnwritableFile, EndsTheRunSayingWhichFile) {
  const auto run = RunController({"-q", GetParam().option, GetParam().path, "10.213.0.0/24"});
  EXPECT_EQ(run.exitStatus, GetParam().exitStatus);
  EXPECT_THAT(run.standardError, HasSubstr(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(
    Toolbox, UnwritableFile,
    ::testing::Values(FileProblem{"--xml", "/nonexistent/lab.xml", 3,
                                  "cannot write /nonexistent/lab.xml: No such file"},
                      FileProblem{"--html", "/nonexistent/lab.html", 3,
                                  "cannot write /nonexistent/lab.html: No such file"},
                      FileProblem{"-oX", "/dev/full", 4, "cannot write the results to /dev/full"},
                      FileProblem{"--html", "/dev/full", 4,
                                  "cannot write the results to /dev/full"}),
    testing::kNumberedName);

TEST_F(Toolbox, NdiffSeesOnlyTheHostTakenDownBetweenTwoSweeps) {
  if (const auto missing = Missing({{"/usr/bin/ndiff", "ndiff"}})) {
    GTEST_SKIP() << *missing;
  }
  const auto before = WorkFolder() / "before.xml";
  const auto after = WorkFolder() / "after.xml";
  ForgetNeighbours();
  ASSERT_EQ(RunController({"-q", "--xml", before.string(), "10.213.0.10-14"}).exitStatus, 0);
  const std::vector<std::string> delta{
      HOSTSWEEP_LAB_SCRIPT, "hostexec", "delta", "ip", "link", "set", "eth0", "down"};
  ASSERT_EQ(RunProcess(delta).exitStatus, 0);
  ForgetNeighbours();
  const auto second = RunController({"-q", "--xml", after.string(), "10.213.0.10-14"});
  auto up = delta;
  up.back() = "up";
  EXPECT_EQ(RunProcess(up).exitStatus, 0);
  ASSERT_EQ(second.exitStatus, 0) << second.standardError;

  const auto diff = RunProcess({"/usr/bin/ndiff", before.string(), after.string()});
  EXPECT_EQ(diff.exitStatus, 1) << diff.standardError;  // 1: the sweeps differ
  std::istringstream lines(diff.standardOutput);
  std::vector<std::string> changes;
  for (std::string line; std::getline(lines, line);) {
    if ((line.starts_with('-') || line.starts_with('+')) &&
        line.find("scan initiated") == std::string::npos) {
      changes.push_back(line);
    }
  }
  // delta, up with its name and MAC before, is down and nameless after.
  EXPECT_THAT(changes, ::testing::UnorderedElementsAre(
                           "+10.213.0.13:", "+Host is down.",
                           ::testing::MatchesRegex(R"(-delta \(10\.213\.0\.13, [0-9A-F:]+\):)"),
                           "-Host is up."))
      << diff.standardOutput;
}

TEST_F(Toolbox, NmapsStylesheetListsEveryFoundHostWithMacAndMaker) {
  if (const auto missing =
          Missing({{"/usr/bin/xsltproc", "xsltproc"}, {kStylesheet, "nmap-common"}})) {
    GTEST_SKIP() << *missing;
  }
  const auto& sweep = SweepOnce();
  const auto render = RunProcess({"/usr/bin/xsltproc", kStylesheet, sweep.xml.string()});
  ASSERT_EQ(render.exitStatus, 0) << render.standardError;
  EXPECT_THAT(render.standardError, IsEmpty());
  for (const auto& host : sweep.found) {
    EXPECT_TRUE(Holds(render.standardOutput, "id=\"hostblock_" + host[0] + "\"")) << host[0];
    if (!host[5].empty()) {
      // The lab's makers hold no character HTML would escape.
      EXPECT_TRUE(Holds(render.standardOutput, NmapMac(host[5]) + " - " + host[6]))
          << host[0] << " " << host[5] << " " << host[6];
    }
  }
}

// The page with a script of the test's own that writes into it the page's
// width and how many address and MAC cells break across lines; without its
// security policy when `policyRemoved`.
fs::path Measured(const fs::path& page, bool policyRemoved) {
  std::string text = ReadFile(page);
  if (policyRemoved) {
    const std::regex policy("<meta http-equiv=\"Content-Security-Policy\"[^>]*>");
    text = std::regex_replace(text, policy, "");
  }
  const std::string measure =
      "<script>document.body.dataset.width = document.documentElement.scrollWidth;"
      "document.body.dataset.broken = [...document.querySelectorAll('td.whole')].filter((td) => {"
      "const range = document.createRange(); range.selectNodeContents(td);"
      "return new Set([...range.getClientRects()].map((rect) => rect.top)).size > 1; }).length;"
      "</script>";
  text.insert(text.rfind("</body>"), measure);
  auto measured = WorkFolder() / (policyRemoved ? "measured-open.html" : "measured.html");
  std::ofstream(measured) << text;
  return measured;
}

// A 250-character name wraps instead of pushing MAC, maker, RTT and TTL off
// a 1280-pixel window, and no address or MAC breaks for it; the page's policy runs its own script
// (the headings become sortable) and refuses any other.
TEST_F(Toolbox, BrowserFitsALongNameAndRunsOnlyThePagesScript) {
  if (const auto missing = Missing({{"/usr/bin/chromium", "chromium"}})) {
    GTEST_SKIP() << *missing;
  }
  const auto& sweep = SweepOnce();
  ASSERT_TRUE(Holds(ReadFile(sweep.html), LongName())) << "the long-named host was not found";
  const auto guarded = BrowserDom(Measured(sweep.html, false));
  ASSERT_EQ(guarded.exitStatus, 0) << guarded.standardError;
  EXPECT_TRUE(Holds(guarded.standardOutput, R"(<table id="hosts" class="sortable">)"));
  EXPECT_FALSE(Holds(guarded.standardOutput, "data-width=")) << "a script not of the page ran";
  const auto open = BrowserDom(Measured(sweep.html, true));
  std::smatch width;
  ASSERT_TRUE(
      std::regex_search(open.standardOutput, width, std::regex(R"re(data-width="(\d+)")re")))
      << open.standardError;
  EXPECT_LE(std::stoi(width[1]), 1280);
  EXPECT_TRUE(Holds(open.standardOutput, R"(data-broken="0")")) << open.standardOutput;
  EXPECT_TRUE(Holds(open.standardOutput, R"(<p class="network">10.213.0.0/24</p>)"));
}

TEST_F(Toolbox, BrowserShowsEveryFoundHostAndAHostileNameAsText) {
  if (const auto missing = Missing({{"/usr/bin/chromium", "chromium"}})) {
    GTEST_SKIP() << *missing;
  }
  const auto& sweep = SweepOnce();
  const auto dump = BrowserDom(sweep.html);
  ASSERT_EQ(dump.exitStatus, 0) << dump.standardError;
  const std::string& dom = dump.standardOutput;
  const auto shows = [&dom](const std::string& text) { return Holds(dom, text); };
  EXPECT_TRUE(shows(R"(<table id="hosts" class="sortable">)"));
  for (const auto& host : sweep.found) {
    EXPECT_TRUE(shows(">" + host[0] + "</td>")) << host[0];
    EXPECT_TRUE(shows(R"(<td class="whole">)" + host[5] + "</td>")) << host[0] << " " << host[5];
  }
  // The browser parsed the name as text: no element of its making is in the page.
  EXPECT_TRUE(shows(R"(&lt;b id="hostile"&gt;x&lt;/b&gt;.local)")) << "the hostile name is missing";
  EXPECT_FALSE(shows(R"(<b id="hostile">)")) << "the hostile name became markup";
}

}  // namespace
}  // namespace hostsweep::testing
