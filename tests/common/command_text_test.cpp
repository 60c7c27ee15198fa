#include "common/command_text.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/case_name.h"

namespace hostsweep {
namespace {

struct PathCase {
  const char* path;
  const char* folder;
  const char* name;
};

void PrintTo(const PathCase& c, std::ostream* os) { *os << c.path; }

class SplitProgramPathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(SplitProgramPathTest, GivesFolderAndNameWithoutExtension) {
  const ProgramPath split = SplitProgramPath(GetParam().path);
  EXPECT_EQ(split.folder, GetParam().folder);
  EXPECT_EQ(split.name, GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, SplitProgramPathTest,
    ::testing::Values(PathCase{"C:\\Tools\\hostsweep-worker.exe", "C:\\Tools", "hostsweep-worker"},
                      PathCase{"C:\\hostsweep-worker.exe", "C:\\", "hostsweep-worker"},
                      PathCase{"D:\\Scan Tools\\v1.2\\worker.x.exe", "D:\\Scan Tools\\v1.2",
                               "worker.x"},
                      PathCase{"\\\\server\\share\\worker.exe", "\\\\server\\share", "worker"},
                      PathCase{"C:\\Tools\\worker", "C:\\Tools", "worker"}),
    testing::kNumberedName);

struct CommandCase {
  const char* folder;
  const char* name;
  const char* arguments;
  const char* command;
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.folder << ' ' << c.name; }

class ProgramCommandTextTest : public ::testing::TestWithParam<CommandCase> {};

TEST_P(ProgramCommandTextTest, QuotesTheProgramPathAndAppendsTheArguments) {
  EXPECT_EQ(ProgramCommandText(GetParam().folder, GetParam().name, GetParam().arguments),
            GetParam().command);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ProgramCommandTextTest,
    ::testing::Values(
        CommandCase{"C:\\Tools", "hostsweep-worker", "525,10.0.0.2,B,10.0.0.3,C,,,A(7)",
                    "\"C:\\Tools\\hostsweep-worker.exe\" 525,10.0.0.2,B,10.0.0.3,C,,,A(7)"},
        // A drive root already ends in "\": no second one.
        CommandCase{"C:\\", "hostsweep-worker", "525,10.0.0.3,C,,,,,A(7)",
                    "\"C:\\hostsweep-worker.exe\" 525,10.0.0.3,C,,,,,A(7)"},
        CommandCase{"D:\\Scan Tools", "worker", "1,2", "\"D:\\Scan Tools\\worker.exe\" 1,2"},
        CommandCase{"C:\\Tools", "worker", "", "\"C:\\Tools\\worker.exe\" "}),
    testing::kNumberedName);

struct ArgumentCase {
  const char* commandLine;
  const char* arguments;
};

void PrintTo(const ArgumentCase& c, std::ostream* os) { *os << testing::Quoted(c.commandLine); }

class ArgumentTextOfTest : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(ArgumentTextOfTest, SkipsTheProgramPathAndTheBlanksAfterIt) {
  EXPECT_EQ(ArgumentTextOf(GetParam().commandLine), GetParam().arguments);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ArgumentTextOfTest,
    ::testing::Values(ArgumentCase{"\"D:\\Scan Tools\\worker.exe\" 525,a,b", "525,a,b"},
                      ArgumentCase{"C:\\Tools\\worker.exe 525,a b,c", "525,a b,c"},
                      ArgumentCase{"worker.exe \t 525, x ", "525, x "},
                      ArgumentCase{"\"C:\\w.exe\"525", "525"}, ArgumentCase{"worker.exe", ""},
                      ArgumentCase{"\"C:\\never closed", ""}, ArgumentCase{"", ""}),
    testing::kNumberedName);

// What the starter writes, the successor reads back unchanged, whatever folder
// it runs from.
TEST(CommandTextRoundTripTest, TheSuccessorReadsBackItsRequestLine) {
  for (const char* path : {R"(C:\hostsweep-worker.exe)",
                           R"(C:\Program Files\hs\hostsweep-worker.exe)", R"(Z:\a b\c d\w.exe)"}) {
    const ProgramPath split = SplitProgramPath(path);
    const std::string request = "525,10.0.0.3,C,,,,,A(7)";
    EXPECT_EQ(ArgumentTextOf(ProgramCommandText(split.folder, split.name, request)), request)
        << path;
  }
}

}  // namespace
}  // namespace hostsweep
