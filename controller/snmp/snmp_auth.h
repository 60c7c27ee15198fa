// How hostsweep speaks to routers' SNMP agents (--snmp-auth): SNMPv2c with a
// community, or SNMPv3 with a user, with or without authentication and
// privacy.
#pragma once

#include <string>
#include <string_view>

namespace hostsweep::controller {

struct SnmpAuth {
  enum class Hash { kNone, kMd5, kSha };
  enum class Cipher { kNone, kDes, kAes };
  std::string community = "public";  // v2c's; unused with a user
  std::string user{};                // SNMPv3 when not empty
  Hash hash = Hash::kNone;
  std::string authPassphrase{};
  Cipher cipher = Cipher::kNone;
  std::string privPassphrase{};
};

// `line`, words apart by spaces: "v2c COMMUNITY", or "v3 USER" followed by
// "sha|md5 PASSPHRASE" and then "aes|des PASSPHRASE" where the user has
// them. Throws UsageError naming what is wrong, never the words given.
SnmpAuth ParseSnmpAuth(std::string_view line);

}  // namespace hostsweep::controller
