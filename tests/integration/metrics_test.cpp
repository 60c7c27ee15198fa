// --metrics and --metrics-listen in the lab: a watch writes the textfile and
// serves the page, both of which Prometheus's own checker must accept, with
// the live gauge of a lab host; idle clients keep no scrape waiting, and a
// second watch cannot take the port.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/integration/controller_run.h"
#include "tests/integration/harness.h"
#include "tests/temporary_folder.h"

namespace hostsweep::testing {
namespace {

using ::testing::HasSubstr;

constexpr int kExitSystemError = 4;
constexpr int kExitInterrupted = 130;
constexpr const char* kListen = "127.0.0.1:9798";

// Alpha's gauge, up, with its identity alone, and what it was seen as beside it.
bool ShowsAlphaUp(const std::string& text) {
  static const std::regex up(
      R"(\nhostsweep_device_up\{device="\d+",mac="00:22:72:00:00:0a"\} 1\n)");
  static const std::regex info(
      R"(\nhostsweep_device_info\{device="\d+",mac="00:22:72:00:00:0a",address="10.213.0.10",)"
      R"(name="alpha.lab",alias="",type=""\} 1\n)");
  return std::regex_search(text, up) && std::regex_search(text, info);
}

std::string FileText(const std::filesystem::path& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

// Runs promtool on `path`'s text; its complaints, or empty.
std::string PromtoolComplaints(const std::filesystem::path& path) {
  const auto check =
      RunProcess({"/bin/sh", "-c", "/usr/bin/promtool check metrics < \"$0\" 2>&1", path.string()});
  return check.exitStatus == 0 ? "" : "promtool: " + check.standardOutput;
}

TEST(MetricsInLab, TextfileAndPageOfAWatch) {
  if (!InLab()) {
    GTEST_SKIP() << "needs the lab's scanner namespace (run through tests/lab/lab.sh exec)";
  }
  for (const char* tool : {"/usr/bin/promtool", "/usr/bin/curl"}) {
    if (!std::filesystem::exists(tool)) {
      GTEST_SKIP() << tool << " is missing (scripts/install-deps test: prometheus, curl)";
    }
  }
  const TemporaryFolder folder;
  const auto textfile = folder / "hostsweep.prom";
  const auto page = folder / "page.txt";
  const auto watch = [&folder, &textfile](const std::string& state) {
    return ControllerCommand({"-q", "--no-types", "--watch", "1s", "--state",
                              (folder / state).string(), "--metrics", textfile.string(),
                              "--metrics-listen", kListen, "10.213.0.10-15"});
  };
  ChildProcess watching(watch("state.db"));
  // The page is published after each sweep, as the textfile is written.
  ProcessResult scraped;
  for (int tries = 0; tries < 600; ++tries) {
    scraped =
        RunProcess({"/usr/bin/curl", "-sS", "-o", page.string(), "-w",
                    "%{http_code} %{content_type}", std::string("http://") + kListen + "/metrics"});
    if (std::filesystem::exists(textfile) && ShowsAlphaUp(FileText(page))) {
      break;
    }
    std::this_thread::sleep_for(milliseconds(100));
  }
  EXPECT_EQ(scraped.standardOutput, "200 text/plain; version=0.0.4; charset=utf-8")
      << scraped.standardError;
  // Idle clients by the hundred (bash's, connected and silent) keep no scrape
  // waiting past curl's own bound.
  const auto busy =
      RunProcess({"/bin/bash", "-c",
                  "for i in $(seq 300); do exec {idle}<>/dev/tcp/${0/://} || exit; done; exec "
                  "/usr/bin/curl -sS --max-time 2 -o /dev/null -w %{http_code} http://$0/metrics",
                  kListen});
  EXPECT_EQ(busy.standardOutput, "200") << busy.standardError;
  const auto elsewhere = RunProcess({"/usr/bin/curl", "-sS", "-o", "/dev/null", "-w",
                                     "%{http_code}", std::string("http://") + kListen + "/"});
  EXPECT_EQ(elsewhere.standardOutput, "404");
  // The port is this watch's: another one stops before it sweeps.
  const auto second = RunProcess(watch("other.db"));
  EXPECT_EQ(second.exitStatus, kExitSystemError) << second.standardError;
  EXPECT_THAT(second.standardError, HasSubstr("9798"));

  kill(watching.pid(), SIGINT);
  const auto ended = watching.Finish();
  EXPECT_EQ(ended.exitStatus, kExitInterrupted) << ended.standardError;

  for (const auto& written : {textfile, page}) {
    EXPECT_EQ(PromtoolComplaints(written), "") << written;
    EXPECT_TRUE(ShowsAlphaUp(FileText(written))) << written << ":\n" << FileText(written);
  }
  struct stat status {};
  ASSERT_EQ(stat(textfile.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0644U);
  // Nothing left beside it: no temporary file, nothing listening.
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
    EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << entry.path();
  }
  const auto after = RunProcess({"/usr/bin/curl", "-sS", std::string("http://") + kListen + "/"});
  EXPECT_NE(after.exitStatus, 0);
}

}  // namespace
}  // namespace hostsweep::testing
