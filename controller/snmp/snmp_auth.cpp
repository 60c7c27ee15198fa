#include "controller/snmp/snmp_auth.h"

#include <sstream>
#include <vector>

#include "controller/base/errors.h"

namespace hostsweep::controller {
namespace {

// net-snmp turns a passphrase into a key only from 8 characters up.
constexpr std::size_t kShortestPassphrase = 8;

[[noreturn]] void Refuse(const std::string& why) { throw UsageError("--snmp-auth: " + why); }

std::string Passphrase(const std::string& word) {
  if (word.size() < kShortestPassphrase) {
    Refuse("a passphrase of fewer than 8 characters");
  }
  return word;
}

}  // namespace

SnmpAuth ParseSnmpAuth(std::string_view line) {
  std::istringstream words{std::string(line)};
  std::vector<std::string> w;
  for (std::string word; words >> word;) {
    w.push_back(word);
  }
  SnmpAuth auth;
  if (w.size() == 2 && w[0] == "v2c") {
    auth.community = w[1];
    return auth;
  }
  if (w.size() < 2 || w[0] != "v3" || w.size() % 2 != 0 || w.size() > 6) {
    Refuse(R"(not "v2c COMMUNITY" or "v3 USER [sha|md5 PASSPHRASE [aes|des PASSPHRASE]]")");
  }
  auth.user = w[1];
  if (w.size() >= 4) {
    if (w[2] != "sha" && w[2] != "md5") {
      Refuse("the authentication is sha or md5");
    }
    auth.hash = w[2] == "sha" ? SnmpAuth::Hash::kSha : SnmpAuth::Hash::kMd5;
    auth.authPassphrase = Passphrase(w[3]);
  }
  if (w.size() == 6) {
    if (w[4] != "aes" && w[4] != "des") {
      Refuse("the privacy is aes or des");
    }
    auth.cipher = w[4] == "aes" ? SnmpAuth::Cipher::kAes : SnmpAuth::Cipher::kDes;
    auth.privPassphrase = Passphrase(w[5]);
  }
  return auth;
}

}  // namespace hostsweep::controller
