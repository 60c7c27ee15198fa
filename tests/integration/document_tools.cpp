#include "tests/integration/document_tools.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

#include "tests/temporary_folder.h"

namespace hostsweep::testing {

namespace fs = std::filesystem;

fs::path WorkFolder() {
  static const TemporaryFolder folder;
  return folder.Path();
}

std::string ReadFile(const fs::path& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

std::optional<std::string> Missing(const std::vector<std::pair<const char*, const char*>>& needs) {
  for (const auto& [file, package] : needs) {
    if (!fs::exists(file)) {
      return std::string("needs ") + file + " (package " + package + ")";
    }
  }
  return std::nullopt;
}

bool Holds(const std::string& page, const std::string& text) {
  return page.find(text) != std::string::npos;
}

std::string XPath(const fs::path& file, const std::string& expression) {
  std::string value =
      RunProcess({"/usr/bin/xmllint", "--xpath", expression, file.string()}).standardOutput;
  if (value.ends_with('\n')) {
    value.pop_back();
  }
  return value;
}

namespace {

fs::path WidenedDtd() {
  const std::string dtd = ReadFile(kDtd);
  const std::regex scanner(R"((scanner\s+)\(nmap\))");
  EXPECT_EQ(
      std::distance(std::sregex_iterator(dtd.begin(), dtd.end(), scanner), std::sregex_iterator()),
      1);
  auto widened = WorkFolder() / "nmap-hostsweep.dtd";
  std::ofstream(widened) << std::regex_replace(dtd, scanner, "$1(nmap|hostsweep)");
  return widened;
}

}  // namespace

void ExpectValid(const fs::path& xml) {
  const auto check = RunProcess(
      {"/usr/bin/xmllint", "--noout", "--dtdvalid", WidenedDtd().string(), xml.string()});
  EXPECT_EQ(check.exitStatus, 0) << check.standardError;
  EXPECT_THAT(check.standardError, ::testing::IsEmpty());
}

namespace {

ProcessResult Chromium(const std::vector<std::string>& options, const std::string& url) {
  const auto profile = WorkFolder() / "chromium";
  // Inside the lab's namespace nothing could leave anyway; chromium's own
  // background traffic is switched off.
  std::vector<std::string> command{"/usr/bin/chromium",
                                   "--headless",
                                   "--no-sandbox",
                                   "--disable-gpu",
                                   "--disable-quic",
                                   "--no-first-run",
                                   "--disable-background-networking",
                                   "--disable-component-update",
                                   "--disable-sync",
                                   "--user-data-dir=" + profile.string()};
  command.insert(command.end(), options.begin(), options.end());
  command.push_back(url);
  return RunProcess(command);
}

}  // namespace

ProcessResult BrowserDom(const fs::path& page) {
  return Chromium({"--dump-dom", "--window-size=1280,800"}, "file://" + page.string());
}

ProcessResult BrowserDomAt(const std::string& url, int width, int budget) {
  return Chromium({"--dump-dom", "--window-size=" + std::to_string(width) + ",800",
                   "--virtual-time-budget=" + std::to_string(budget)},
                  url);
}

ProcessResult BrowserScreenshot(const std::string& url, const fs::path& png, int budget) {
  return Chromium({"--screenshot=" + png.string(), "--hide-scrollbars", "--window-size=1280,900",
                   "--virtual-time-budget=" + std::to_string(budget)},
                  url);
}

}  // namespace hostsweep::testing
