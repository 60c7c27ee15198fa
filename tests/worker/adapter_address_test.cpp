#include "net/adapter_address.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>

#include "tests/case_name.h"
#include "tests/worker/fake_fixture.h"

namespace hostsweep {
namespace {

std::string Bytes(const os::UCHAR* bytes, std::size_t size) {
  return {reinterpret_cast<const char*>(bytes), size};
}

struct CallNameCase {
  std::string text;
  std::string field;  // all 16 bytes
};

void PrintTo(const CallNameCase& c, std::ostream* os) { *os << "\"" << c.text << "\""; }

class CallNameTest : public ::testing::TestWithParam<CallNameCase> {};

TEST_P(CallNameTest, TextZeroByteThenSpacesOrCut) {
  const auto name = CallName(GetParam().text);
  EXPECT_EQ(Bytes(name.data(), name.size()), GetParam().field);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CallNameTest,
    ::testing::Values(CallNameCase{"10.0.0.1", std::string("10.0.0.1\0       ", 16)},
                      CallNameCase{"192.168.100.200", std::string("192.168.100.200\0", 16)},
                      CallNameCase{"1234567890123456", "1234567890123456"},
                      CallNameCase{"12345678901234567890", "1234567890123456"},
                      CallNameCase{"", std::string("\0               ", 16)},
                      CallNameCase{" 10.0.0.1", std::string(" 10.0.0.1\0      ", 16)}),
    testing::kNumberedName);

struct FormatCase {
  std::array<os::UCHAR, 6> bytes;
  const char* text;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.text; }

class FormatAdapterAddressTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatAdapterAddressTest, TwoUpperCaseDigitsEach) {
  os::UCHAR bytes[6];
  std::memcpy(bytes, GetParam().bytes.data(), 6);
  EXPECT_EQ(FormatAdapterAddress(bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, FormatAdapterAddressTest,
    ::testing::Values(FormatCase{{0x00, 0x0A, 0xFF, 0x10, 0x2B, 0xC3}, "00-0A-FF-10-2B-C3"},
                      FormatCase{{0, 0, 0, 0, 0, 0}, "00-00-00-00-00-00"},
                      FormatCase{{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "FF-FF-FF-FF-FF-FF"}),
    testing::kNumberedName);

class AdapterQueryTest : public FakePlatformTest {
 protected:
  // The status request succeeds with `mac` at the start of the buffer.
  static void Answer(std::array<os::UCHAR, 6> mac, os::UCHAR resetCode = 0) {
    os().netbios = [mac, resetCode](os::NCB& control) -> os::UCHAR {
      if (control.ncb_command == os::NCBRESET) {
        return resetCode;
      }
      std::copy(mac.begin(), mac.end(), control.ncb_buffer);
      return os::NRC_GOODRET;
    };
  }
};

TEST_F(AdapterQueryTest, ResetThenStatusRequestOnAdapterZero) {
  Answer({0x00, 0x0A, 0xFF, 0x10, 0x2B, 0xC3});
  EXPECT_EQ(QueryAdapterAddress("10.0.0.1"), "00-0A-FF-10-2B-C3");
  EXPECT_EQ(os().calls, (std::vector<std::string>{"Netbios", "GetProcessHeap", "HeapAlloc",
                                                  "Netbios", "RtlMoveMemory", "HeapFree"}));
  ASSERT_EQ(os().netbiosRequests.size(), 2U);
  const os::NCB& reset = os().netbiosRequests[0];
  EXPECT_EQ(reset.ncb_command, os::NCBRESET);
  EXPECT_EQ(reset.ncb_buffer, nullptr);
  EXPECT_EQ(reset.ncb_length, 0);
  EXPECT_EQ(Bytes(reset.ncb_callname, 16), std::string(16, '\0'));
  const os::NCB& status = os().netbiosRequests[1];
  EXPECT_EQ(status.ncb_command, os::NCBASTAT);
  EXPECT_EQ(status.ncb_lana_num, 0);
  EXPECT_EQ(status.ncb_length, 680);
  EXPECT_NE(status.ncb_buffer, nullptr);
  EXPECT_EQ(status.ncb_post, nullptr);
  EXPECT_EQ(status.ncb_event, nullptr);
  EXPECT_EQ(Bytes(status.ncb_callname, 16), std::string("10.0.0.1\0       ", 16));
  EXPECT_EQ(os().heapBlocks, 0);
}

TEST_F(AdapterQueryTest, AllZeroAddressIsStillAnAnswer) {
  Answer({0, 0, 0, 0, 0, 0});
  EXPECT_EQ(QueryAdapterAddress("10.0.0.1"), "00-00-00-00-00-00");
}

TEST_F(AdapterQueryTest, FailedResetDoesNotStopTheStatusRequest) {
  Answer({1, 2, 3, 4, 5, 6}, os::NRC_SYSTEM);
  EXPECT_EQ(QueryAdapterAddress("10.0.0.1"), "01-02-03-04-05-06");
}

TEST_F(AdapterQueryTest, RefusedStatusRequestGivesEmptyTextAndFreesTheBuffer) {
  for (const os::UCHAR code : {os::NRC_CMDTMO, os::NRC_NOCALL, os::NRC_INCOMP, os::UCHAR{0xFF}}) {
    fake::Reset();
    os().netbios = [code](os::NCB& control) -> os::UCHAR {
      return control.ncb_command == os::NCBRESET ? 0 : code;
    };
    EXPECT_EQ(QueryAdapterAddress("10.0.0.1"), "");
    EXPECT_EQ(os().Count("RtlMoveMemory"), 0U);
    EXPECT_EQ(os().Count("HeapFree"), 1U);
    EXPECT_EQ(os().heapBlocks, 0);
  }
}

TEST_F(AdapterQueryTest, NoMemoryMeansNoStatusRequest) {
  Answer({1, 2, 3, 4, 5, 6});
  os().heapAllocFails = true;
  EXPECT_EQ(QueryAdapterAddress("10.0.0.1"), "");
  EXPECT_EQ(os().Count("Netbios"), 1U);
  EXPECT_EQ(os().Count("HeapFree"), 0U);
}

TEST_F(AdapterQueryTest, MissingLibraryGivesEmptyTextAndNeverLeaksTheBuffer) {
  Answer({1, 2, 3, 4, 5, 6});
  os().unloadable = {"RtlMoveMemory"};
  EXPECT_EQ(QueryAdapterAddress("10.0.0.1"), "");
  EXPECT_EQ(os().heapBlocks, 0);
  fake::Reset();
  os().unloadable = {"Netbios"};
  EXPECT_EQ(QueryAdapterAddress("10.0.0.1"), "");
}

}  // namespace
}  // namespace hostsweep
