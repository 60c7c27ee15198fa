#include "net/name_lookup.h"

#include <gtest/gtest.h>

#include "tests/case_name.h"
#include "tests/worker/fake_fixture.h"

namespace hostsweep {
namespace {

using NameLookupTest = FakePlatformTest;

TEST_F(NameLookupTest, NameIsCopiedBeforeTheLibraryIsReleased) {
  os().hostNames["10.0.0.7"] = "Seven.Example.Lan";
  EXPECT_EQ(LookupHostName("10.0.0.7"), "Seven.Example.Lan");
  EXPECT_EQ(os().calls, (std::vector<std::string>{"WSAStartup", "inet_addr", "gethostbyaddr",
                                                  "lstrlenA", "RtlMoveMemory", "WSACleanup"}));
}

TEST_F(NameLookupTest, NamesPassThroughUnchanged) {
  for (const std::string name : {"x", " Spaced Name ", "\xE9t\xE9", "a.b.c.d.e."}) {
    fake::Reset();
    os().hostNames["10.0.0.7"] = name;
    EXPECT_EQ(LookupHostName("10.0.0.7"), name);
  }
}

TEST_F(NameLookupTest, NoEntryOrEmptyNameGivesEmptyTextAndReleases) {
  EXPECT_EQ(LookupHostName("10.0.0.8"), "");
  EXPECT_EQ(os().socketStarts, 0);
  os().hostNames["10.0.0.9"] = "";
  EXPECT_EQ(LookupHostName("10.0.0.9"), "");
  EXPECT_EQ(os().socketStarts, 0);
  EXPECT_EQ(os().Count("WSACleanup"), 2U);
}

class RejectedLookupTest : public FakePlatformTest,
                           public ::testing::WithParamInterface<const char*> {};

TEST_P(RejectedLookupTest, ReleasesOnceAndAsksNoResolver) {
  EXPECT_EQ(LookupHostName(GetParam()), "");
  EXPECT_EQ(os().Count("WSACleanup"), 1U);
  EXPECT_EQ(os().Count("gethostbyaddr"), 0U);
  EXPECT_EQ(os().socketStarts, 0);
}

INSTANTIATE_TEST_SUITE_P(NotAnAddress, RejectedLookupTest,
                         ::testing::Values("255.255.255.255", "letters", "1.2.3.4.5", " 1.2.3.4",
                                           ""),
                         testing::kNumberedName);

TEST_F(NameLookupTest, FailedStartIsNeverReleased) {
  os().wsaStartupResult = 10091;
  EXPECT_EQ(LookupHostName("10.0.0.7"), "");
  EXPECT_EQ(os().calls, std::vector<std::string>{"WSAStartup"});
}

TEST_F(NameLookupTest, FailureInsideTheLookupReleasesOnceAndGivesEmptyText) {
  os().hostNames["10.0.0.7"] = "seven";
  os().unloadable = {"gethostbyaddr"};
  EXPECT_EQ(LookupHostName("10.0.0.7"), "");
  EXPECT_EQ(os().Count("WSACleanup"), 1U);
  EXPECT_EQ(os().socketStarts, 0);
}

TEST_F(NameLookupTest, EachLookupStartsAndReleasesItsOwn) {
  os().hostNames["10.0.0.7"] = "seven";
  EXPECT_EQ(LookupHostName("10.0.0.7"), "seven");
  EXPECT_EQ(LookupHostName("10.0.0.7"), "seven");
  EXPECT_EQ(os().Count("WSAStartup"), 2U);
  EXPECT_EQ(os().Count("gethostbyaddr"), 2U);
  EXPECT_EQ(os().socketStarts, 0);
}

}  // namespace
}  // namespace hostsweep
