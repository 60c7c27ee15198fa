#include "controller/inventory/known_edit.h"

#include <gtest/gtest.h>

#include "controller/base/errors.h"
#include "controller/inventory/inventory.h"
#include "tests/case_name.h"

namespace hostsweep::controller {
namespace {

constexpr MacAddress kPhone{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x01};

SeenHost Phone() {
  SeenHost phone{.mac = kPhone};
  SetRowAddress(phone, "10.0.0.7");
  return phone;
}

struct EditCase {
  const char* what;
  std::string before;
  KnownFactsEdit facts;
  std::string after;  // empty: refused
};

void PrintTo(const EditCase& c, std::ostream* os) { *os << c.what; }

class KnownEdit : public ::testing::TestWithParam<EditCase> {};

// Every byte the edit does not concern stays: the file reads back as it was
// written, and as the user keeps it.
TEST_P(KnownEdit, ChangesTheDevicesRowAloneAndReadsBack) {
  const EditCase& c = GetParam();
  if (c.after.empty()) {
    EXPECT_THROW(EditedKnownText(c.before, Phone(), c.facts), UsageError);
    return;
  }
  const std::string edited = EditedKnownText(c.before, Phone(), c.facts);
  EXPECT_EQ(edited, c.after);
  const Inventory readBack = ParseInventory(edited);
  const KnownDevice* phone = readBack.Find(Phone());
  ASSERT_NE(phone, nullptr);
  EXPECT_EQ(phone->facts.alias, c.facts.alias);
  EXPECT_EQ(phone->note, c.facts.note);
}

const std::string kHeader = "mac,address,alias,owner,expect,note\n";
const std::string kOther = "\"00:1a:2b:3c:4d:09\",,\"tv\",,,\"quoted, kept\"\n";

INSTANTIATE_TEST_SUITE_P(
    Inventory, KnownEdit,
    ::testing::Values(
        EditCase{"an alias given, the other rows as they were",
                 kHeader + kOther + "00:1A:2B:3C:4D:01,,old,ann,,\n\n",
                 {.alias = "phone", .owner = "ann"},
                 kHeader + kOther + "00:1A:2B:3C:4D:01,,phone,ann,,\n\n"},
        EditCase{"nothing changed: the same bytes",
                 kHeader + "\"00:1a:2b:3c:4d:01\",,a,,always,\n",
                 {.alias = "a", .expect = "always"},
                 kHeader + "\"00:1a:2b:3c:4d:01\",,a,,always,\n"},
        EditCase{"a row keyed by address, CRLF and a byte order mark kept",
                 "\xEF\xBB\xBFmac,address,alias,owner,expect,note\r\n,10.0.0.7,,,,\r\n",
                 {.alias = "phone", .note = "a, b \"c\""},
                 "\xEF\xBB\xBFmac,address,alias,owner,expect,note\r\n,10.0.0.7,phone,,,\"a, b "
                 "\"\"c\"\"\"\r\n"},
        EditCase{"this device is mine: a row added, after a last line without an end",
                 kHeader + "00:1a:2b:3c:4d:09,,tv,,,",
                 {.alias = "phone"},
                 kHeader + "00:1a:2b:3c:4d:09,,tv,,,\n00:1a:2b:3c:4d:01,10.0.0.7,phone,,,\n"},
        EditCase{
            "the user's own columns kept, away_after set in its column",
            "mac,address,alias,owner,expect,note,away_after,room\n00:1a:2b:3c:4d:01,,,,,,,hall\n",
            {.alias = "phone", .awayAfter = "20m"},
            "mac,address,alias,owner,expect,note,away_after,room\n"
            "00:1a:2b:3c:4d:01,,phone,,,,20m,hall\n"},
        EditCase{"the first away_after adds its column to every row",
                 kHeader + "00:1a:2b:3c:4d:09,,tv,,,\n",
                 {.alias = "phone", .awayAfter = "1h"},
                 "mac,address,alias,owner,expect,note,away_after\n00:1a:2b:3c:4d:09,,tv,,,,\n"
                 "00:1a:2b:3c:4d:01,10.0.0.7,phone,,,,1h\n"},
        EditCase{"an expect the inventory does not know", kHeader, {.expect = "sometimes"}, ""},
        EditCase{"an away_after longer than a day", kHeader, {.awayAfter = "2d"}, ""},
        EditCase{"a file that is no inventory", "name,address\n", {.alias = "phone"}, ""}),
    testing::kNumberedName);

}  // namespace
}  // namespace hostsweep::controller
