#include "controller/options.h"

#include <gtest/gtest.h>

#include <sstream>

#include "controller/exit_status.h"

namespace hostsweep::controller {
namespace {

ParsedCommandLine Parse(std::vector<const char*> arguments, std::string* err = nullptr) {
  arguments.insert(arguments.begin(), "hostsweep");
  std::ostringstream out;
  std::ostringstream errors;
  auto parsed = ParseCommandLine(static_cast<int>(arguments.size()), arguments.data(), out, errors);
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
    ::testing::Values(Refused{{}}, Refused{{"--csv", "--json", "10.0.0.1"}},
                      Refused{{"--alive", "--names-only", "10.0.0.1"}},
                      Refused{{"-q", "-v", "10.0.0.1"}}, Refused{{"-j", "0", "10.0.0.1"}},
                      Refused{{"-j", "many", "10.0.0.1"}}, Refused{{"--batch", "4", "10.0.0.1"}},
                      Refused{{"--batch", "0", "10.0.0.1"}}, Refused{{"--pause", "-1", "10.0.0.1"}},
                      Refused{{"--frobnicate", "10.0.0.1"}},
                      // Standard output carries one format; one file one document.
                      Refused{{"--xml", "-", "--html", "-", "10.0.0.1"}},
                      Refused{{"-oX", "-", "--csv", "10.0.0.1"}},
                      Refused{{"--html", "-", "--json", "10.0.0.1"}},
                      Refused{{"--xml", "out", "--html", "out", "10.0.0.1"}}));

TEST(Options, HelpAndVersionEndTheRunSuccessfully) {
  for (const char* option : {"--help", "-h", "--version"}) {
    const auto parsed = Parse({option});
    EXPECT_FALSE(parsed.options.has_value()) << option;
    EXPECT_EQ(parsed.exitStatus, 0) << option;
  }
}

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
  EXPECT_EQ(chosen.options->targetFiles, std::vector<std::string>{"-"});
  EXPECT_EQ(chosen.options->worker, "/w");
  EXPECT_FALSE(chosen.options->extraNames);
  EXPECT_EQ(chosen.options->xmlFile, "a.xml");
  EXPECT_EQ(chosen.options->htmlFile, "p.html");
  EXPECT_EQ(chosen.options->targets, (std::vector<std::string>{"10.0.0.1", "10.0.0.2-3"}));
}

struct FileArguments {
  std::vector<const char*> arguments;
  std::vector<std::string> files;
  std::vector<std::string> targets;
};

class TargetFiles : public ::testing::TestWithParam<FileArguments> {};

TEST_P(TargetFiles, EachFileOptionTakesOneFileAndTargetsMayFollow) {
  const auto parsed = Parse(GetParam().arguments);
  ASSERT_TRUE(parsed.options.has_value());
  EXPECT_EQ(parsed.options->targetFiles, GetParam().files);
  EXPECT_EQ(parsed.options->targets, GetParam().targets);
}

INSTANTIATE_TEST_SUITE_P(
    Options, TargetFiles,
    ::testing::Values(
        FileArguments{{"-f", "targets.txt"}, {"targets.txt"}, {}},
        FileArguments{{"-f", "list.txt", "10.0.0.11"}, {"list.txt"}, {"10.0.0.11"}},
        FileArguments{
            {"-f", "a", "-f", "b", "10.0.0.1", "10.0.0.2"}, {"a", "b"}, {"10.0.0.1", "10.0.0.2"}},
        FileArguments{{"10.0.0.1", "--file", "-", "10.0.0.2"}, {"-"}, {"10.0.0.1", "10.0.0.2"}}));

}  // namespace
}  // namespace hostsweep::controller
