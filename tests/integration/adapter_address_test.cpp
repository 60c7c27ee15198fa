// Adapter addresses over real sockets in the lab: the worker against the
// lab's NetBIOS hosts (the project's responder, Samba's nmbd, a closed port, a
// silent port), and the Netbios stand-in against responders that answer badly.
#include "net/adapter_address.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/os.h"
#include "tests/integration/harness.h"

namespace hostsweep::testing {
namespace {

using ::testing::MatchesRegex;

constexpr milliseconds kPatience{15000};
constexpr const char* kAlphaUnitId = "02-00-5E-10-00-0A";

// A responder started by a test on a loopback address of the scanner
// namespace, ended when the test is done.
class Responder {
 public:
  explicit Responder(std::vector<std::string> arguments)
      : process_(WithProgram(std::move(arguments))),
        // It says "ready" once its port is bound.
        ready_(process_.AwaitOutput("ready\n", kPatience)) {}
  [[nodiscard]] bool ready() const { return ready_; }

 private:
  static std::vector<std::string> WithProgram(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), HOSTSWEEP_NBNS_RESPONDER_PATH);
    return arguments;
  }

  ChildProcess process_;
  bool ready_;
};

class AdapterAddressInLab : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!InLab()) {
      GTEST_SKIP() << "needs the lab's scanner namespace (run through tests/lab/lab.sh exec)";
    }
  }

  // The worker's single report for `address` under label `label`.
  std::string ReportFor(const std::string& address, const std::string& label) {
    ReportReceiver receiver;
    const auto run = RunWorkerProcess(std::to_string(receiver.handle()) + "," + address + "," +
                                      label + ",,,,,0");
    EXPECT_EQ(run.exitStatus, 0) << run.standardError;
    RecordProperty(label + "_worker_ms", static_cast<int>(run.elapsed.count()));
    const auto reports = receiver.WaitFor(1, kPatience);
    return reports.size() == 1 ? reports[0].Text() : std::to_string(reports.size()) + " reports";
  }
};

TEST_F(AdapterAddressInLab, ResponderHostGivesItsUnitId) {
  EXPECT_THAT(ReportFor("10.213.0.10", "A"),
              MatchesRegex(std::string("A,[0-9]+,64,alpha\\.lab,") + kAlphaUnitId));
}

TEST_F(AdapterAddressInLab, SambaHostGivesAnAllZeroUnitId) {
  if (!std::filesystem::exists("/usr/sbin/nmbd")) {
    GTEST_SKIP() << "Samba's nmbd is not installed (package samba)";
  }
  EXPECT_THAT(ReportFor("10.213.0.11", "B"), MatchesRegex("B,[0-9]+,64,bravo,00-00-00-00-00-00"));

  // Its name table arrives too: the server name and the workgroup.
  std::array<os::UCHAR, kAdapterStatusSize> buffer{};
  os::NCB control{};
  control.ncb_command = os::NCBASTAT;
  control.ncb_buffer = buffer.data();
  control.ncb_length = buffer.size();
  const auto name = CallName("10.213.0.11");
  std::copy(name.begin(), name.end(), control.ncb_callname);
  ASSERT_EQ(os::Netbios(&control), os::NRC_GOODRET);
  os::ADAPTER_STATUS header{};
  std::memcpy(&header, buffer.data(), sizeof header);
  std::vector<std::string> names;
  for (std::size_t i = 0; i < header.name_count; ++i) {
    os::NAME_BUFFER entry{};
    std::memcpy(&entry, buffer.data() + sizeof header + i * sizeof entry, sizeof entry);
    names.emplace_back(entry.name, entry.name + os::NCBNAMSZ - 1);
  }
  EXPECT_THAT(names, ::testing::IsSupersetOf({"BRAVO          ", "LAB            "}));
}

TEST_F(AdapterAddressInLab, ClosedPortGivesAnEmptyItem) {
  EXPECT_THAT(ReportFor("10.213.0.13", "D"), MatchesRegex("D,[0-9]+,64,delta,"));
}

TEST_F(AdapterAddressInLab, SilentPortGivesAnEmptyItem) {
  EXPECT_THAT(ReportFor("10.213.0.14", "F"), MatchesRegex("F,[0-9]+,64,foxtrot,"));
}

// The status request itself, with the buffer and codes a caller sees.
struct StatusCase {
  const char* what;
  const char* callName;
  os::WORD length;
  os::UCHAR code;
};

void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.what; }

class StatusRequestTest : public AdapterAddressInLab,
                          public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StatusRequestTest, ReturnsThePlatformCode) {
  std::vector<os::UCHAR> buffer(1024, 0xEE);
  os::NCB control{};
  control.ncb_command = os::NCBASTAT;
  control.ncb_buffer = buffer.data();
  control.ncb_length = GetParam().length;
  const auto name = CallName(GetParam().callName);
  std::copy(name.begin(), name.end(), control.ncb_callname);
  const os::WORD length = control.ncb_length;

  EXPECT_EQ(os::Netbios(&control), GetParam().code);
  EXPECT_EQ(control.ncb_retcode, GetParam().code);
  const std::size_t written =
      GetParam().code == os::NRC_GOODRET || GetParam().code == os::NRC_INCOMP ? control.ncb_length
                                                                              : 0;
  EXPECT_LE(written, length);
  for (std::size_t i = written; i < buffer.size(); ++i) {
    ASSERT_EQ(buffer[i], 0xEE) << "byte " << i << " written";
  }
  if (written != 0) {
    os::ADAPTER_STATUS header{};
    std::memcpy(&header, buffer.data(), sizeof header);
    EXPECT_EQ(FormatAdapterAddress(header.adapter_address), kAlphaUnitId);
    EXPECT_EQ(written, sizeof header + header.name_count * sizeof(os::NAME_BUFFER));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lab, StatusRequestTest,
    ::testing::Values(StatusCase{"all_names", "10.213.0.10", 680, os::NRC_GOODRET},
                      StatusCase{"two_names_fit", "10.213.0.10", 60 + 2 * 18, os::NRC_INCOMP},
                      StatusCase{"no_room_for_the_header", "10.213.0.10", 59, os::NRC_BUFLEN},
                      StatusCase{"not_an_address", "ALPHA", 680, os::NRC_NOCALL},
                      StatusCase{"port_unreachable", "10.213.0.13", 680, os::NRC_NOCALL},
                      StatusCase{"silent", "10.213.0.14", 680, os::NRC_CMDTMO}),
    [](const auto& info) { return std::string(info.param.what); });

// Replies from a responder on loopback, well or badly formed.
struct ReplyCase {
  const char* reply;
  bool answered;
};

void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.reply; }

class BadRepliesTest : public AdapterAddressInLab,
                       public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(BadRepliesTest, AreIgnoredAndGoodOnesTaken) {
  const std::string address = "127.0.0.2";
  const Responder responder({"--address", address, "--unit-id", kAlphaUnitId, "--name", "LOOP",
                             "--reply", GetParam().reply});
  ASSERT_TRUE(responder.ready()) << "the responder did not start";
  EXPECT_EQ(QueryAdapterAddress(address), GetParam().answered ? kAlphaUnitId : "");
}

INSTANTIATE_TEST_SUITE_P(Lab, BadRepliesTest,
                         ::testing::Values(ReplyCase{"good", true}, ReplyCase{"scope", true},
                                           ReplyCase{"extra-bytes", true}, ReplyCase{"flood", true},
                                           ReplyCase{"truncated", false},
                                           ReplyCase{"wrong-id", false},
                                           ReplyCase{"huge-count", false}),
                         [](const auto& info) {
                           std::string name = info.param.reply;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
}  // namespace hostsweep::testing
