#include "controller/app/options.h"

#include <gtest/gtest.h>

#include <sstream>

#include "controller/app/exit_status.h"

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
};

class UsageErrors : public ::testing::TestWithParam<Refused> {};

TEST_P(UsageErrors, EndTheRunWithTheUsageStatusAndAMessage) {
  std::string err;
  const auto parsed = Parse(GetParam().arguments, &err);
  EXPECT_FALSE(parsed.options.has_value());
  EXPECT_EQ(parsed.exitStatus, kExitUsage);
  EXPECT_FALSE(err.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Options, UsageErrors,
    ::testing::Values(
        Refused{{}}, Refused{{"--csv", "--json", "10.0.0.1"}},
        Refused{{"--alive", "--names-only", "10.0.0.1"}}, Refused{{"-q", "-v", "10.0.0.1"}},
        Refused{{"-j", "0", "10.0.0.1"}}, Refused{{"-j", "many", "10.0.0.1"}},
        Refused{{"--batch", "4", "10.0.0.1"}}, Refused{{"--batch", "0", "10.0.0.1"}},
        Refused{{"--pause", "-1", "10.0.0.1"}}, Refused{{"--frobnicate", "10.0.0.1"}},
        // Standard output carries one format; one file one document.
        Refused{{"--xml", "-", "--html", "-", "10.0.0.1"}},
        Refused{{"-oX", "-", "--csv", "10.0.0.1"}}, Refused{{"--html", "-", "--json", "10.0.0.1"}},
        Refused{{"--xml", "out", "--html", "out", "10.0.0.1"}},
        // Intervals are a number and a unit, a second to a day.
        Refused{{"--watch", "0s", "10.0.0.1"}}, Refused{{"--watch", "5", "10.0.0.1"}},
        Refused{{"--watch", "5d", "10.0.0.1"}}, Refused{{"--watch", "25h", "10.0.0.1"}},
        Refused{{"--watch", "-5s", "10.0.0.1"}}, Refused{{"--watch", "5s", "--csv", "10.0.0.1"}},
        Refused{{"--changes-only", "10.0.0.1"}}, Refused{{"--state", "known", "10.0.0.1"}}));

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

INSTANTIATE_TEST_SUITE_P(Options, HelpAndVersion, ::testing::Values("--help", "-h", "--version"));

TEST(Options, DefaultsAndChoicesArrive) {
  const auto defaults = Parse({"10.0.0.1"});
  ASSERT_TRUE(defaults.options.has_value());
  EXPECT_EQ(defaults.options->format, Format::kTable);
  EXPECT_EQ(defaults.options->jobs, kDefaultJobs);
  EXPECT_FALSE(defaults.options->batchSize.has_value());
  EXPECT_TRUE(defaults.options->extraNames);

  const auto chosen = Parse({"--json", "-j", "8", "--batch", "2", "--pause", "5", "--alive", "-f",
                             "-", "--worker", "/w", "--no-extra-names", "-oX", "a.xml", "--html",
                             "p.html", "10.0.0.1", "10.0.0.2-3"});
  ASSERT_TRUE(chosen.options.has_value());
  EXPECT_EQ(chosen.options->format, Format::kJson);
  EXPECT_EQ(chosen.options->jobs, 8U);
  EXPECT_EQ(chosen.options->batchSize, 2U);
  EXPECT_EQ(chosen.options->pause, 5U);
  EXPECT_TRUE(chosen.options->foundOnly);
  EXPECT_EQ(chosen.options->worker, "/w");
  EXPECT_FALSE(chosen.options->extraNames);
  EXPECT_EQ(chosen.options->xmlFile, "a.xml");
  EXPECT_EQ(chosen.options->htmlFile, "p.html");
  EXPECT_EQ(chosen.options->targets,
            (std::vector<TargetArgument>{{"-", true}, {"10.0.0.1", false}, {"10.0.0.2-3", false}}));
}

struct FileArguments {
  std::vector<const char*> arguments;
  std::vector<TargetArgument> targets;
};

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
                       {"10.0.0.3", false}}}));

}  // namespace
}  // namespace hostsweep::controller
