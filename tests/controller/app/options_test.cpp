#include "controller/app/options.h"

#include <gtest/gtest.h>

#include <sstream>

#include "controller/app/exit_status.h"
#include "tests/case_name.h"

namespace hostsweep::controller {
namespace {

ParsedCommandLine Parse(std::vector<const char*> arguments, std::string* err = nullptr,
                        std::ostream* output = nullptr) {
  arguments.insert(arguments.begin(), "hostsweep");
  std::ostringstream out;
  std::ostringstream errors;
  auto parsed = ParseCommandLine(static_cast<int>(arguments.size()), arguments.data(),
                                 output != nullptr ? *output : out, errors);
  if (err != nullptr) {
    *err = errors.str();
  }
  return parsed;
}

struct Refused {
  std::vector<const char*> arguments;
  const char* message;  // the first line on standard error
};

// A case of a table of command lines: its arguments.
void PrintArguments(const std::vector<const char*>& arguments, std::ostream* os) {
  for (const char* argument : arguments) {
    *os << argument << ' ';
  }
}

void PrintTo(const Refused& c, std::ostream* os) { PrintArguments(c.arguments, os); }

class UsageErrors : public ::testing::TestWithParam<Refused> {};

TEST_P(UsageErrors, SayWhatIsWrongInOurWordsAndEndWithTheUsageStatus) {
  std::string err;
  const auto parsed = Parse(GetParam().arguments, &err);
  EXPECT_FALSE(parsed.options.has_value());
  EXPECT_EQ(parsed.exitStatus, kExitUsage);
  EXPECT_EQ(err.substr(0, err.find('\n')), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Options, UsageErrors,
    ::testing::Values(
        Refused{{},
                "hostsweep: no targets given; try hostsweep --localnet, or hostsweep "
                "192.168.1.0/24"},
        Refused{{"--loclanet"}, "hostsweep: unknown option --loclanet; did you mean --localnet?"},
        Refused{{"10.0.0.1", "--jsno"}, "hostsweep: unknown option --jsno; did you mean --json?"},
        Refused{{"--names", "10.0.0.1"},
                "hostsweep: unknown option --names; did you mean --names-only?"},
        Refused{{"--frobnicate", "10.0.0.1"}, "hostsweep: unknown option --frobnicate"},
        Refused{{"-localnet"}, "hostsweep: -localnet: a long option takes two dashes: --localnet"},
        Refused{{"10.0.0.1", "-j"}, "hostsweep: --jobs needs a value"},
        Refused{{"-j", "0", "10.0.0.1"},
                "hostsweep: --jobs: \"0\" is not a whole number from 1 to 1024"},
        Refused{{"-j", "many", "10.0.0.1"},
                "hostsweep: --jobs: \"many\" is not a whole number from 1 to 1024"},
        Refused{{"--batch", "4", "10.0.0.1"},
                "hostsweep: --batch: \"4\" is not a whole number from 1 to 3"},
        Refused{{"--batch", "0", "10.0.0.1"},
                "hostsweep: --batch: \"0\" is not a whole number from 1 to 3"},
        Refused{{"--pause", "-1", "10.0.0.1"},
                "hostsweep: --pause: \"-1\" is not a whole number from 0 to 1000000"},
        Refused{{"--csv", "--json", "10.0.0.1"},
                "hostsweep: --csv and --json cannot be used together"},
        Refused{{"--alive", "--names-only", "10.0.0.1"},
                "hostsweep: --alive and --names-only cannot be used together"},
        Refused{{"-q", "-v", "10.0.0.1"},
                "hostsweep: --quiet and --verbose cannot be used together"},
        // Standard output carries one format; one file one document.
        Refused{{"--xml", "-", "--html", "-", "10.0.0.1"},
                "hostsweep: --xml - and --html - would both write to standard output"},
        Refused{{"-oX", "-", "--csv", "10.0.0.1"},
                "hostsweep: --xml - takes standard output, which --csv or --json would also write"},
        Refused{
            {"--html", "-", "--json", "10.0.0.1"},
            "hostsweep: --html - takes standard output, which --csv or --json would also write"},
        Refused{{"--xml", "out", "--html", "out", "10.0.0.1"},
                "hostsweep: --xml and --html name the same file: out"},
        // Intervals are a number and a unit, a second to a day.
        Refused{{"--watch", "0s", "10.0.0.1"},
                "hostsweep: --watch: \"0s\" is not an interval from 1s to 24h"},
        Refused{{"--watch", "5m", "--away-after", "2d", "10.0.0.1"},
                "hostsweep: --away-after \"2d\": not a duration such as 90s, 20m or 1h, at most a "
                "day"},
        Refused{{"--watch", "25h", "10.0.0.1"},
                "hostsweep: --watch: \"25h\" is not an interval from 1s to 24h"},
        Refused{{"--watch", "5", "10.0.0.1"},
                "hostsweep: --watch: the interval is missing or not a duration: \"5\" was given "
                "(it comes first, a number and s, m or h: --watch 5m TARGETS)"},
        Refused{{"--watch", "-5s", "10.0.0.1"},
                "hostsweep: --watch: the interval is missing or not a duration: \"-5s\" was given "
                "(it comes first, a number and s, m or h: --watch 5m TARGETS)"},
        // The interval forgotten: the target taken for it, or nothing left for it.
        Refused{{"--watch", "10.213.0.10"},
                "hostsweep: --watch: the interval is missing or not a duration: \"10.213.0.10\" "
                "was given (it comes first, a number and s, m or h: --watch 5m TARGETS)"},
        Refused{{"10.213.0.10", "--watch"}, "hostsweep: --watch needs a value"},
        Refused{{"--watch", "5s", "--csv", "10.0.0.1"},
                "hostsweep: --watch prints changes as lines (or JSON lines with --json): it takes "
                "no --csv, --xml, --html or --compare"},
        Refused{{"--changes-only", "10.0.0.1"},
                "hostsweep: --changes-only needs --compare or --state"},
        Refused{{"--gone-after", "2", "10.0.0.1"},
                "hostsweep: --gone-after and --away-after need --watch or --state"},
        Refused{{"--history", "nas"}, "hostsweep: --history needs --state FILE"},
        Refused{{"--state", "lan.db", "--history", "nas", "10.0.0.1"},
                "hostsweep: --history sweeps nothing: it takes no targets, --localnet, --watch, "
                "--compare, --xml or --html"},
        Refused{{"--unknown-only", "10.0.0.1"}, "hostsweep: --unknown-only needs --known"},
        // Queued events live in the state database; metrics need a sweep recorded or watched.
        Refused{{"--watch", "1m", "--webhook", "http://x/", "10.0.0.1"},
                "hostsweep: --on-event, --webhook and --mqtt need --state FILE: their events "
                "wait there until delivered"},
        Refused{{"--state", "s", "--webhook-format", "text", "10.0.0.1"},
                "hostsweep: --webhook-format needs --webhook"},
        Refused{{"--metrics", "m.prom", "10.0.0.1"},
                "hostsweep: --metrics and --metrics-listen need --watch or --state"},
        // The dashboard shows the state database, beside a watch or alone.
        Refused{{"--watch", "1m", "--web", "8080", "10.0.0.1"},
                "hostsweep: --web needs --state FILE (and no --history): the dashboard shows "
                "what it keeps"},
        Refused{{"--state", "s", "--web", "8080", "10.0.0.1"},
                "hostsweep: --web without --watch serves the --state database and sweeps "
                "nothing: it takes no targets, --localnet, events or metrics"},
        Refused{{"--state", "s", "--web-password", "@p", "10.0.0.1"},
                "hostsweep: --web-password needs --web"},
        Refused{{"--state", "s", "--web", "8080", "--web-cert", "c.pem"},
                "hostsweep: --web-cert and --web-key go together"},
        Refused{{"--state", "s", "--web-cert", "c.pem", "--web-key", "k.pem", "10.0.0.1"},
                "hostsweep: --web-cert and --web-key need --web"}),
    testing::kNumberedName);

class HelpAndVersion : public ::testing::TestWithParam<const char*> {};

TEST_P(HelpAndVersion, EndTheRunSuccessfullyOnlyWhenWritten) {
  const auto written = Parse({GetParam()});
  EXPECT_FALSE(written.options.has_value());
  EXPECT_EQ(written.exitStatus, 0);
  std::string err;
  std::ostream unwritable(nullptr);  // as standard output on a full disk
  const auto lost = Parse({GetParam()}, &err, &unwritable);
  EXPECT_FALSE(lost.options.has_value());
  EXPECT_EQ(lost.exitStatus, kExitSystem);
  EXPECT_NE(err.find("cannot write"), std::string::npos) << err;
}

INSTANTIATE_TEST_SUITE_P(Options, HelpAndVersion, ::testing::Values("--help", "-h", "--version"),
                         testing::kNumberedName);

// Read in 80 columns, with the value's name alone where CLI11 would add its
// types, ranges and exclusions, and nmap's -oX beside --xml.
TEST(Options, HelpFitsEightyColumnsWithoutTypeNoiseAndListsTheAlias) {
  std::ostringstream help;
  Parse({"--help"}, nullptr, &help);
  std::istringstream lines(help.str());
  for (std::string line; std::getline(lines, line);) {
    EXPECT_LE(line.size(), 80U) << line;
    for (const char* noise : {"UINT", "INT:", " in [", "TEXT", "Excludes", "Positionals", "=512"}) {
      EXPECT_EQ(line.find(noise), std::string::npos) << line;
    }
  }
  EXPECT_NE(help.str().find("\n  -oX,--xml FILE "), std::string::npos);
  EXPECT_NE(help.str().find("\nExamples:\n"), std::string::npos);
}

TEST(Options, DefaultsAndChoicesArrive) {
  const auto defaults = Parse({"10.0.0.1"});
  ASSERT_TRUE(defaults.options.has_value());
  EXPECT_EQ(defaults.options->format, Format::kTable);
  EXPECT_EQ(defaults.options->jobs, kDefaultJobs);
  EXPECT_FALSE(defaults.options->batchSize.has_value());
  EXPECT_TRUE(defaults.options->extraNames);
  EXPECT_TRUE(defaults.options->deviceTypes);

  const auto chosen =
      Parse({"--json",  "-j",    "8",      "--batch",  "2",        "--pause",          "5",
             "--alive", "-f",    "-",      "--worker", "/w",       "--no-extra-names", "--no-types",
             "-oX",     "a.xml", "--html", "p.html",   "10.0.0.1", "10.0.0.2-3"});
  ASSERT_TRUE(chosen.options.has_value());
  EXPECT_EQ(chosen.options->format, Format::kJson);
  EXPECT_EQ(chosen.options->jobs, 8U);
  EXPECT_EQ(chosen.options->batchSize, 2U);
  EXPECT_EQ(chosen.options->pause, 5U);
  EXPECT_TRUE(chosen.options->foundOnly);
  EXPECT_EQ(chosen.options->worker, "/w");
  EXPECT_FALSE(chosen.options->extraNames);
  EXPECT_FALSE(chosen.options->deviceTypes);
  EXPECT_EQ(chosen.options->xmlFile, "a.xml");
  EXPECT_EQ(chosen.options->htmlFile, "p.html");
  EXPECT_EQ(chosen.options->targets,
            (std::vector<TargetArgument>{{"-", true}, {"10.0.0.1", false}, {"10.0.0.2-3", false}}));
}

struct FileArguments {
  std::vector<const char*> arguments;
  std::vector<TargetArgument> targets;
};

void PrintTo(const FileArguments& c, std::ostream* os) { PrintArguments(c.arguments, os); }

class TargetOrder : public ::testing::TestWithParam<FileArguments> {};

TEST_P(TargetOrder, EachFileOptionTakesOneFileAndAllKeepTheirOrder) {
  const auto parsed = Parse(GetParam().arguments);
  ASSERT_TRUE(parsed.options.has_value());
  EXPECT_EQ(parsed.options->targets, GetParam().targets);
}

INSTANTIATE_TEST_SUITE_P(
    Options, TargetOrder,
    ::testing::Values(
        FileArguments{{"-f", "targets.txt"}, {{"targets.txt", true}}},
        FileArguments{{"-f", "list.txt", "10.0.0.11"}, {{"list.txt", true}, {"10.0.0.11", false}}},
        FileArguments{{"-f", "a", "-f", "b", "10.0.0.1", "10.0.0.2"},
                      {{"a", true}, {"b", true}, {"10.0.0.1", false}, {"10.0.0.2", false}}},
        FileArguments{{"10.0.0.1", "--file", "-", "10.0.0.2"},
                      {{"10.0.0.1", false}, {"-", true}, {"10.0.0.2", false}}},
        FileArguments{{"10.0.0.1", "--file=a", "10.0.0.2", "--file", "b", "--", "10.0.0.3"},
                      {{"10.0.0.1", false},
                       {"a", true},
                       {"10.0.0.2", false},
                       {"b", true},
                       {"10.0.0.3", false}}}),
    testing::kNumberedName);

}  // namespace
}  // namespace hostsweep::controller
