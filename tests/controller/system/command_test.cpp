#include "controller/system/command.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/case_name.h"

namespace hostsweep::controller {
namespace {

struct Run {
  const char* what;
  const char* command;
  bool succeeded;
  const char* why;
  std::vector<std::string> lines;
  // Bytes past the event, more than any pipe or socket holds: a command
  // that ends without reading them must cost the writer no signal.
  std::size_t unread = 0;
};

void PrintTo(const Run& run, std::ostream* os) { *os << run.what; }

class ShellCommand : public ::testing::TestWithParam<Run> {};

// What --on-event's command gets (its input, its environment, its three
// descriptors alone) and what its end says.
TEST_P(ShellCommand, GetsItsInputAndEnvironmentAloneAndIsBounded) {
  // A descriptor of ours, open across exec, that a careless start would hand on.
  constexpr int kOurs = 60;
  const int opened = open("/dev/null", O_RDONLY);
  ASSERT_EQ(dup2(opened, kOurs), kOurs);
  close(opened);
  std::vector<std::string> lines;
  const CommandOutcome outcome =
      RunShellCommand({.command = GetParam().command,
                       .input = "{\"id\":7}\n" + std::string(GetParam().unread, ' '),
                       .environment = {{"HOSTSWEEP_EVENT_KIND", "new"}, {"HOME", "/nowhere"}},
                       .bound = std::chrono::milliseconds(500)},
                      [&lines](std::string_view line) { lines.emplace_back(line); });
  close(kOurs);
  EXPECT_EQ(outcome.succeeded, GetParam().succeeded);
  EXPECT_EQ(outcome.why, GetParam().why);
  EXPECT_EQ(lines, GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ShellCommand,
    ::testing::Values(
        Run{"input and environment",
            "read -r event; echo \"$event $HOSTSWEEP_EVENT_KIND $HOME\"; echo err >&2",
            true,
            "",
            {"{\"id\":7} new /nowhere", "err"}},
        Run{"none of our descriptors",
            "[ -e /proc/$$/fd/60 ] && echo inherited || echo closed",
            true,
            "",
            {"closed"}},
        Run{"a failure", "echo partial; exit 3", false, "exit status 3", {"partial"}},
        Run{"a command that hangs, killed at its bound",
            "sleep 30 & echo started; wait",
            false,
            "still running after 500 ms: killed",
            {"started"}},
        Run{"its input left unread", "exit 0", true, "", {}},
        Run{"much input left unread", "exit 0", true, "", {}, std::size_t{4} << 20}),
    testing::kNumberedName);

}  // namespace
}  // namespace hostsweep::controller
