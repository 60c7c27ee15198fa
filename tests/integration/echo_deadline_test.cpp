// The worker's echo over a real socket in the lab: a reply the kernel has
// queued by the time the echo's deadline passes is the answer, however late
// the worker comes to read it (a busy machine's scheduler may keep it waiting
// past the deadline between sending and reading).
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "platform/os.h"
#include "tests/integration/harness.h"

namespace hostsweep::testing {
namespace {

TEST(EchoDeadlineInLab, AReplyQueuedByAnElapsedDeadlineIsTaken) {
  if (!InLab()) {
    GTEST_SKIP() << "needs the lab's scanner namespace (run through tests/lab/lab.sh exec)";
  }
  const os::HANDLE icmp = os::IcmpCreateFile();
  ASSERT_NE(icmp, os::INVALID_HANDLE_VALUE);
  std::array<unsigned char, 32> data{};
  std::array<unsigned char, 256> reply{};
  // Loopback answers within the send itself, so with no time at all to
  // wait the reply is already queued when the deadline is looked at.
  const os::DWORD replies =
      os::IcmpSendEcho(icmp, os::inet_addr("127.0.0.1"), data.data(), data.size(), nullptr,
                       reply.data(), reply.size(), /*timeout=*/0);
  os::IcmpCloseHandle(icmp);
  ASSERT_EQ(replies, 1U);
  os::ICMP_ECHO_REPLY header{};
  std::memcpy(&header, reply.data(), sizeof header);
  EXPECT_EQ(header.Status, os::IP_SUCCESS);
}

}  // namespace
}  // namespace hostsweep::testing
