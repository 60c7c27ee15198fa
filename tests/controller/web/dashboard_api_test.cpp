#include "controller/web/dashboard_api.h"

#include <gtest/gtest.h>

#include <functional>

#include "controller/base/errors.h"
#include "controller/history/conflict_events.h"
#include "controller/model/json_fields.h"
#include "controller/state/recorder.h"
#include "controller/web/dashboard.h"
#include "controller/web/web_access.h"
#include "tests/case_name.h"
#include "tests/temporary_folder.h"

namespace hostsweep::controller {
namespace {

constexpr MacAddress kLaptop{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x01};
constexpr MacAddress kPrinter{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x02};
// Markup and a right-to-left override, as a device may call itself.
// NOLINTNEXTLINE(misc-misleading-bidirectional)
constexpr const char* kHostileName = "<img src=x onerror=alert(1)>\xE2\x80\xAEgnp.exe";

// The database after three sweeps a minute apart: the laptop stays, the
// printer (named hostile) leaves after the second, announcing one service
// less; gone after one miss. The laptop is never asked what it is.
// Between the last two, a MAC no device has answered for 20 addresses.
class CannedState {
 public:
  CannedState() {
    Database database(File(), StateAccess::kWrite);
    Recorder recorder(database, 1, [](const MacAddress&) { return std::string("Maker"); });
    const SeenHost laptop{
        .address = 0x0A000001U, .name = "laptop", .mac = kLaptop, .macSource = MacSource::kArp};
    SeenHost printer{.address = 0x0A000002U,
                     .name = kHostileName,
                     .mac = kPrinter,
                     .macSource = MacSource::kArp,
                     .type = "printer",
                     .model = "LaserJet"};
    const std::vector<Address> swept{0x0A000001U, 0x0A000002U};
    printer.services = {kHostileName, "_ipp._tcp"};
    recorder.Record({laptop, printer}, swept, false, kStart);
    printer.services = {"_ipp._tcp"};
    recorder.Record({laptop, printer}, swept, false, kStart + 60);
    const LinkConflict shared{.mac = {0x02, 0, 0x5E, 0, 0, 0x29}, .addresses = 20};
    recorder.RecordConflicts(
        ConflictEvents({.started = {shared}, .ended = {}}, recorder.Book().known, kStart + 90), {});
    recorder.Record({laptop}, swept, false, kStart + 120);
  }
  [[nodiscard]] std::filesystem::path File() const { return folder_ / "state.db"; }
  static constexpr std::int64_t kStart = 1'700'000'000;

 private:
  testing::TemporaryFolder folder_;
};

const Inventory kInventory = ParseInventory(
    "mac,address,alias,owner,expect,note\n00:1a:2b:3c:4d:02,,office printer,ann,always,\n");

struct ApiCase {
  const char* what;
  std::function<std::string(Database&)> answer;
  std::vector<std::pair<const char*, Json>> expected;  // JSON pointer: value
};

void PrintTo(const ApiCase& c, std::ostream* os) { *os << c.what; }

class DashboardApi : public ::testing::TestWithParam<ApiCase> {};

TEST_P(DashboardApi, AnswersWhatTheStateDatabaseKnowsUnderTheJsonNames) {
  const CannedState state;
  Database database(state.File(), StateAccess::kRead);
  const std::string text = GetParam().answer(database);
  // Every hostile character escaped as the other JSON documents escape it.
  // NOLINTNEXTLINE(misc-misleading-bidirectional)
  EXPECT_EQ(text.find("\xE2\x80\xAE"), std::string::npos) << text;
  const Json answer = Json::parse(text);
  for (const auto& [pointer, value] : GetParam().expected) {
    const Json::json_pointer at(pointer);
    EXPECT_EQ(answer.contains(at) ? answer.at(at) : Json(), value) << pointer << " in " << text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Web, DashboardApi,
    ::testing::Values(ApiCase{"device list",
                              [](Database& database) { return DevicesJson(database, &kInventory); },
                              {{"/0/id", 1},
                               {"/0/name", "laptop"},
                               {"/0/mac", "00:1a:2b:3c:4d:01"},
                               {"/0/vendor", "Maker"},
                               {"/0/present", true},
                               {"/0/since", "2023-11-14T22:13:20Z"},
                               {"/0/known", false},
                               {"/0/alias", nullptr},
                               {"/1/name", kHostileName},
                               {"/1/type", "printer"},
                               {"/1/alias", "office printer"},
                               {"/1/present", false},
                               {"/1/missing", true},
                               {"/1/since", "2023-11-14T22:14:20Z"},
                               {"/2", nullptr}}},
                      ApiCase{"a device with its sessions, values and events",
                              [](Database& database) { return *DeviceJson(database, 2, nullptr); },
                              {{"/address", "10.0.0.2"},
                               {"/sessions/0/began", "2023-11-14T22:13:20Z"},
                               {"/sessions/0/ended", "2023-11-14T22:14:20Z"},
                               {"/names/0/value", kHostileName},
                               {"/macs/0/value", "00:1a:2b:3c:4d:02"},
                               {"/services/0/type", kHostileName},
                               {"/services/0/last_seen", "2023-11-14T22:13:20Z"},
                               {"/services/1/last_seen", nullptr},
                               {"/services/2", nullptr},
                               {"/events/0/kind", "new"},
                               {"/events/1/kind", "gone"},
                               {"/events/1/device/model", "LaserJet"},
                               {"/events/2", nullptr}}},
                      ApiCase{"a device that is not there",
                              [](Database& database) {
                                return JsonText(DeviceJson(database, 3, nullptr).has_value());
                              },
                              {{"", false}}},
                      ApiCase{"the newest event",
                              [](Database& database) {
                                return EventsJson(
                                    EventsAfter(database, std::nullopt, 1, &kInventory));
                              },
                              {{"/0/id", 4},
                               {"/0/kind", "gone"},
                               {"/0/time", "2023-11-14T22:15:20Z"},
                               {"/0/device/id", 2},
                               {"/0/device/alias", "office printer"},
                               {"/0/device/known", true},
                               {"/1", nullptr}}},
                      ApiCase{"the events after the first",
                              [](Database& database) {
                                return EventsJson(EventsAfter(database, 1, 10, nullptr));
                              },
                              {{"/0/id", 2},
                               {"/0/device/name", kHostileName},
                               {"/1/kind", "conflict"},
                               {"/1/device/id", 0},
                               {"/1/conflict/macs/0", "02:00:5e:00:00:29"},
                               {"/1/conflict/addresses", 20},
                               {"/2/id", 4},
                               {"/3", nullptr}}}),
    testing::kNumberedName);

// A file that no watch has brought up to the conflicts' format is read as
// it is, beside the watch of an older hostsweep that may still write it.
TEST(OlderStateFile, HasItsEventsListedAndNoServices) {
  const CannedState state;
  Database(state.File(), StateAccess::kWrite)
      .Execute(
          "DROP TABLE device_services; DROP TABLE open_conflicts; "
          "ALTER TABLE events DROP COLUMN other_mac; "
          "ALTER TABLE events DROP COLUMN addresses; PRAGMA user_version = 3");
  Database database(state.File(), StateAccess::kRead);
  const Json events = Json::parse(EventsJson(EventsAfter(database, std::nullopt, 10, nullptr)));
  ASSERT_EQ(events.size(), 4U);
  EXPECT_EQ(events.at(3).at("id"), 4);
  EXPECT_EQ(Json::parse(*DeviceJson(database, 2, nullptr)).at("services"), Json::array());
}

struct AccessCase {
  const char* what;
  std::string address;
  std::string password;  // --web-password as given
  const char* refusal;   // the start of the message; empty: none
  std::string certificate{};
};

void PrintTo(const AccessCase& c, std::ostream* os) { *os << c.what; }

class DashboardStart : public ::testing::TestWithParam<AccessCase> {};

// Refused before anything listens: none of these opens a socket.
TEST_P(DashboardStart, RefusesWhatWouldExposeTheDashboard) {
  try {
    StartDashboard({.address = GetParam().address,
                    .password = GetParam().password,
                    .certificate = GetParam().certificate,
                    .key = GetParam().certificate,
                    .stateFile = "/nonexistent/state.db",
                    .watch = true});
    FAIL() << "started";
  } catch (const UsageError& error) {
    EXPECT_EQ(std::string(error.what()).substr(0, std::string(GetParam().refusal).size()),
              GetParam().refusal);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Web, DashboardStart,
    ::testing::Values(
        AccessCase{"every address without a password", "0.0.0.0:8080", "",
                   "--web 0.0.0.0: an address other machines reach needs --web-password @FILE"},
        AccessCase{"a LAN address without a password", "192.168.1.2:8080", "",
                   "--web 192.168.1.2: an address other machines reach needs"},
        AccessCase{"IPv6 everywhere without a password", "[::]:8080", "",
                   "--web ::: an address other machines reach needs"},
        AccessCase{"a password on the command line", "192.168.1.2:8080", "secret",
                   "--web-password takes @FILE"},
        AccessCase{"a name to look up", "localhost:8080", "",
                   "--web localhost:8080: the address "
                   "must be in numbers"},
        AccessCase{"port 0", "127.0.0.1:0", "", "--web 127.0.0.1:0: expected PORT"},
        AccessCase{"a certificate that is none", "127.0.0.1:9", "",
                   "--web-cert /nonexistent/cert.pem --web-key /nonexistent/cert.pem: not a PEM",
                   "/nonexistent/cert.pem"}),
    testing::kNumberedName);

struct BasicCase {
  const char* what;
  const char* authorization;
  bool admitted;
};

void PrintTo(const BasicCase& c, std::ostream* os) { *os << c.what; }

class BasicPassword : public ::testing::TestWithParam<BasicCase> {};

TEST_P(BasicPassword, AdmitsThePasswordWithAnyUserName) {
  EXPECT_EQ(WebPassword("s3cret:x").Admits(GetParam().authorization), GetParam().admitted);
}

INSTANTIATE_TEST_SUITE_P(
    Web, BasicPassword,
    ::testing::Values(BasicCase{"user and password", "Basic YWRtaW46czNjcmV0Ong=", true},
                      BasicCase{"no user", "Basic OnMzY3JldDp4", true},
                      BasicCase{"a wrong password", "Basic YWRtaW46czNjcmV0", false},
                      BasicCase{"no colon", "Basic czNjcmV0", false},
                      BasicCase{"not base64", "Basic !!!!", false},
                      BasicCase{"another scheme", "Bearer YWRtaW46czNjcmV0Ong=", false},
                      BasicCase{"nothing", "", false}),
    testing::kNumberedName);

struct ChangeCase {
  const char* what;
  ChangeHeaders headers;
  const char* refusal;  // empty: admitted
};

void PrintTo(const ChangeCase& c, std::ostream* os) { *os << c.what; }

class ChangeCheck : public ::testing::TestWithParam<ChangeCase> {};

constexpr const char* kToken = "4f1c0e";

TEST_P(ChangeCheck, AdmitsOnlyThePageItselfWithTheSessionsToken) {
  EXPECT_EQ(ChangeRefusal(GetParam().headers, kToken).value_or(""), GetParam().refusal);
}

constexpr ChangeHeaders kPage{.host = "127.0.0.1:8080",
                              .origin = "http://127.0.0.1:8080",
                              .fetchSite = "same-origin",
                              .contentType = "application/json",
                              .token = kToken};

ChangeHeaders With(ChangeHeaders headers, std::string_view ChangeHeaders::*field,
                   std::string_view value) {
  headers.*field = value;
  return headers;
}

INSTANTIATE_TEST_SUITE_P(
    Web, ChangeCheck,
    ::testing::Values(
        ChangeCase{"the page", kPage, ""},
        ChangeCase{"over TLS, from a browser without Sec-Fetch-Site",
                   With(With(kPage, &ChangeHeaders::origin, "https://127.0.0.1:8080"),
                        &ChangeHeaders::fetchSite, ""),
                   ""},
        ChangeCase{"JSON with its charset",
                   With(kPage, &ChangeHeaders::contentType, "application/json; charset=utf-8"), ""},
        ChangeCase{"no token", With(kPage, &ChangeHeaders::token, ""), "no token of this session"},
        ChangeCase{"another session's token", With(kPage, &ChangeHeaders::token, "4f1c0f"),
                   "no token of this session"},
        ChangeCase{"a longer token", With(kPage, &ChangeHeaders::token, "4f1c0e0"),
                   "no token of this session"},
        ChangeCase{"another site", With(kPage, &ChangeHeaders::origin, "http://evil.example"),
                   "not from this page's origin"},
        ChangeCase{"no origin", With(kPage, &ChangeHeaders::origin, ""),
                   "not from this page's origin"},
        ChangeCase{"a sibling site", With(kPage, &ChangeHeaders::fetchSite, "same-site"),
                   "not from this page's origin"},
        ChangeCase{"a form's post",
                   With(kPage, &ChangeHeaders::contentType, "application/x-www-form-urlencoded"),
                   "not JSON"}),
    testing::kNumberedName);

TEST(SessionToken, IsFreshEachRun) { EXPECT_NE(SessionToken(), SessionToken()); }

}  // namespace
}  // namespace hostsweep::controller
