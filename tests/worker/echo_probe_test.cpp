#include "net/echo_probe.h"

#include <gtest/gtest.h>

#include "tests/case_name.h"
#include "tests/worker/fake_fixture.h"

namespace hostsweep {
namespace {

using EchoProbeTest = FakePlatformTest;

TEST_F(EchoProbeTest, ReplyGivesRoundTripAndTtl) {
  os().echoAnswers["10.0.0.1"] = {fake::Reply(12, 128)};
  std::int16_t ttl = -1;
  EXPECT_EQ(ProbeHost("10.0.0.1", ttl), "12");
  EXPECT_EQ(ttl, 128);
  EXPECT_EQ(os().calls, (std::vector<std::string>{"inet_addr", "IcmpCreateFile", "IcmpSendEcho",
                                                  "IcmpCloseHandle"}));
  EXPECT_EQ(os().icmpHandles, 0);
}

TEST_F(EchoProbeTest, RequestCarries32BytesOfAWithoutOptions) {
  std::int16_t ttl = 0;
  ProbeHost("10.0.0.1", ttl);
  ASSERT_EQ(os().echoRequests.size(), 1U);
  const auto& request = os().echoRequests[0];
  EXPECT_EQ(request.payload, std::string(32, '\x41'));
  EXPECT_FALSE(request.hasOptions);
  EXPECT_EQ(request.replySize, 32028U);
  EXPECT_EQ(request.timeout, 1000U);
}

TEST_F(EchoProbeTest, ZeroRoundTripAndTtl255AreKept) {
  os().echoAnswers["10.0.0.1"] = {fake::Reply(0, 255)};
  std::int16_t ttl = 0;
  EXPECT_EQ(ProbeHost("10.0.0.1", ttl), "0");
  EXPECT_EQ(ttl, 255);
}

TEST_F(EchoProbeTest, NoReplyLeavesTtlUntouched) {
  os().echoAnswers["10.0.0.1"] = {fake::TimedOut()};
  std::int16_t ttl = 77;
  EXPECT_EQ(ProbeHost("10.0.0.1", ttl), kNoReply);
  EXPECT_EQ(ttl, 77);
}

TEST_F(EchoProbeTest, SpacesAroundTheAddressAreRemovedButTabsAreNot) {
  os().echoAnswers["10.0.0.1"] = {fake::Reply(3, 64)};
  std::int16_t ttl = 0;
  EXPECT_EQ(ProbeHost("  10.0.0.1 ", ttl), "3");
  EXPECT_EQ(os().echoRequests.at(0).destination, "10.0.0.1");
}

class RejectedAddressTest : public FakePlatformTest,
                            public ::testing::WithParamInterface<const char*> {};

TEST_P(RejectedAddressTest, OpensAndSendsNothing) {
  std::int16_t ttl = 5;
  EXPECT_EQ(ProbeHost(GetParam(), ttl), kNoReply);
  EXPECT_EQ(ttl, 5);
  EXPECT_EQ(os().calls, std::vector<std::string>{"inet_addr"});
}

INSTANTIATE_TEST_SUITE_P(NotAnAddress, RejectedAddressTest,
                         ::testing::Values("255.255.255.255", "999.1.1.1", "host.example",
                                           "10.0.0.1.5", "", "\t"),
                         testing::kNumberedName);

TEST_F(EchoProbeTest, ZeroAddressIsSentAndThePlatformDecides) {
  os().echoAnswers["0.0.0.0"] = {fake::Reply(0, 64)};
  std::int16_t ttl = 0;
  EXPECT_EQ(ProbeHost("0.0.0.0", ttl), "0");
  EXPECT_EQ(os().Count("IcmpSendEcho"), 1U);
}

TEST_F(EchoProbeTest, NoHandleMeansNoReplyAndNothingSent) {
  for (const os::HANDLE handle : {os::HANDLE{nullptr}, os::INVALID_HANDLE_VALUE}) {
    fake::Reset();
    os().icmpHandle = handle;
    std::int16_t ttl = 9;
    EXPECT_EQ(ProbeHost("10.0.0.1", ttl), kNoReply);
    EXPECT_EQ(ttl, 9);
    EXPECT_EQ(os().Count("IcmpSendEcho"), 0U);
  }
}

// A request that writes no reply must not be taken for the earlier reply still
// in the buffer.
TEST_F(EchoProbeTest, RequestWithoutReplyNeverReadsAsLive) {
  fake::EchoAnswer silent{};
  silent.returns = 0;
  silent.writesReply = false;
  silent.lastError = 0;
  os().echoAnswers["10.0.0.1"] = {fake::Reply(4, 64), silent};
  std::int16_t ttl = 0;
  EXPECT_EQ(ProbeHost("10.0.0.1", ttl), "4");
  EXPECT_EQ(ProbeHost("10.0.0.1", ttl), kNoReply);
}

TEST_F(EchoProbeTest, StatusOfAFailedRequest) {
  EchoReply reply{};
  fake::EchoAnswer noReplyNoError{os::IP_SUCCESS, 0, 0, 0, 0, true};
  fake::EchoAnswer lastErrorOnly{os::IP_SUCCESS, 0, 0, 0, os::IP_DEST_HOST_UNREACHABLE, true};
  os().echoAnswers["10.0.0.1"] = {fake::TimedOut(), noReplyNoError, lastErrorOnly};
  EXPECT_EQ(SendEcho("10.0.0.1", kEchoPayload, reply, 1000), 11010);
  EXPECT_EQ(SendEcho("10.0.0.1", kEchoPayload, reply, 1000), 11010);
  EXPECT_EQ(SendEcho("10.0.0.1", kEchoPayload, reply, 1000), 11003);
  EXPECT_EQ(os().icmpHandles, 0);
}

TEST_F(EchoProbeTest, FailureInsideTheCoreGivesMinusOne) {
  EchoReply reply{};
  for (const char* call : {"inet_addr", "IcmpCreateFile", "IcmpSendEcho"}) {
    fake::Reset();
    os().unloadable = {call};
    EXPECT_EQ(SendEcho("10.0.0.1", kEchoPayload, reply, 1000), kEchoFailed) << call;
    EXPECT_EQ(os().icmpHandles, 0) << call << ": the handle is left open";
  }
}

}  // namespace
}  // namespace hostsweep
