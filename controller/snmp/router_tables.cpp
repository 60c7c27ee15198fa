#include "controller/snmp/router_tables.h"

// clang-format off: the configuration header comes first
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
// clang-format on

#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "controller/snmp/neighbour_rows.h"

namespace hostsweep::controller {
namespace {

// Rows asked for in one request: a routed /24 in a handful of round trips.
constexpr long kRowsPerRequest = 50;

// The library reads no configuration, MIB or stored state of the machine's:
// what it does is what this file tells it.
void StartLibrary() {
  static std::once_flag started;
  std::call_once(started, [] {
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
    // No MIB is needed (every name asked for is numeric), and the library's
    // log would only be its complaints of missing ones: the faults that
    // matter are said by the walk.
    netsnmp_set_mib_directory("");
    netsnmp_register_loghandler(NETSNMP_LOGHANDLER_NONE, LOG_EMERG);
    init_snmp("hostsweep");
  });
}

// Turns a passphrase into the key `session` needs for `hash`.
bool SetKey(netsnmp_session& session, const std::string& passphrase, u_char* key,
            std::size_t* length) {
  *length = USM_AUTH_KU_LEN;
  std::string copy = passphrase;
  return generate_Ku(session.securityAuthProto, session.securityAuthProtoLen,
                     reinterpret_cast<u_char*>(copy.data()), copy.size(), key,
                     length) == SNMPERR_SUCCESS;
}

bool SetUser(netsnmp_session& session, const SnmpAuth& auth) {
  session.version = SNMP_VERSION_3;
  session.securityName = const_cast<char*>(auth.user.c_str());
  session.securityNameLen = auth.user.size();
  session.securityLevel = SNMP_SEC_LEVEL_NOAUTH;
  if (auth.hash == SnmpAuth::Hash::kNone) {
    return true;
  }
  const bool sha = auth.hash == SnmpAuth::Hash::kSha;
  session.securityAuthProto = sha ? usmHMACSHA1AuthProtocol : usmHMACMD5AuthProtocol;
  session.securityAuthProtoLen = USM_AUTH_PROTO_SHA_LEN;
  session.securityLevel = SNMP_SEC_LEVEL_AUTHNOPRIV;
  if (!SetKey(session, auth.authPassphrase, session.securityAuthKey, &session.securityAuthKeyLen)) {
    return false;
  }
  if (auth.cipher == SnmpAuth::Cipher::kNone) {
    return true;
  }
  const bool aes = auth.cipher == SnmpAuth::Cipher::kAes;
  session.securityPrivProto = aes ? usmAESPrivProtocol : usmDESPrivProtocol;
  session.securityPrivProtoLen = USM_PRIV_PROTO_AES_LEN;
  session.securityLevel = SNMP_SEC_LEVEL_AUTHPRIV;
  return SetKey(session, auth.privPassphrase, session.securityPrivKey, &session.securityPrivKeyLen);
}

struct CloseSession {
  void operator()(void* session) const { snmp_sess_close(session); }
};
using Session = std::unique_ptr<void, CloseSession>;
struct FreePdu {
  void operator()(netsnmp_pdu* pdu) const { snmp_free_pdu(pdu); }
};
using Pdu = std::unique_ptr<netsnmp_pdu, FreePdu>;

// The library's words for the session's last fault.
std::string LastFault(void* session) {
  int library = 0;
  int system = 0;
  char* text = nullptr;
  snmp_sess_error(session, &library, &system, &text);
  std::string fault = text != nullptr ? text : "an unknown fault";
  // A v3 session's first request asks the agent's engine ID: its timeout
  // comes back as a fault, in the library's words for one.
  if (library == SNMPERR_TIMEOUT || fault == snmp_api_errstring(SNMPERR_TIMEOUT)) {
    fault = "no answer";
  }
  SNMP_FREE(text);
  return fault;
}

// What one walk of a column gave: whether the agent answered (one that did
// not is not asked again this sweep), and how many neighbours it listed.
struct Walk {
  bool answered = true;
  std::size_t neighbours = 0;
};

// One agent's walk of one column, its rows into `found` (the first listing
// of an address holds); a fault into `fault`.
Walk WalkColumn(void* session, std::span<const std::uint64_t> column,
                std::chrono::steady_clock::time_point deadline, std::size_t& rowsLeft,
                RouterNeighbours& found, std::string& fault) {
  Walk walk;
  std::array<oid, MAX_OID_LEN> next{};
  std::copy(column.begin(), column.end(), next.begin());
  std::size_t nextLength = column.size();
  while (rowsLeft > 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      fault = "the walk took too long; the rows read so far are kept";
      return walk;
    }
    netsnmp_pdu* request = snmp_pdu_create(SNMP_MSG_GETBULK);
    request->non_repeaters = 0;
    request->max_repetitions = kRowsPerRequest;
    snmp_add_null_var(request, next.data(), nextLength);
    netsnmp_pdu* raw = nullptr;
    const int status = snmp_sess_synch_response(session, request, &raw);
    const Pdu response(raw);
    if (status != STAT_SUCCESS) {
      fault = status == STAT_TIMEOUT ? "no answer" : LastFault(session);
      walk.answered = false;
      return walk;
    }
    if (response->errstat != SNMP_ERR_NOERROR) {
      fault = snmp_errstring(static_cast<int>(response->errstat));
      return walk;
    }
    for (auto* row = response->variables; row != nullptr; row = row->next_variable) {
      const SnmpOid name(row->name, row->name_length);
      // Past the column, the table's end, or an agent going backwards: done.
      if (row->type == SNMP_ENDOFMIBVIEW || row->type == SNMP_NOSUCHOBJECT ||
          row->type == SNMP_NOSUCHINSTANCE || name.size() <= column.size() ||
          !std::equal(column.begin(), column.end(), name.begin()) ||
          snmp_oid_compare(row->name, row->name_length, next.data(), nextLength) <= 0 ||
          name.size() > next.size() || rowsLeft == 0) {
        return walk;
      }
      --rowsLeft;
      std::copy(name.begin(), name.end(), next.begin());
      nextLength = name.size();
      if (row->type != ASN_OCTET_STR) {
        continue;
      }
      if (const auto neighbour = NeighbourOfRow(name, {row->val.string, row->val_len})) {
        found.macs.try_emplace(neighbour->address, neighbour->mac);
        ++walk.neighbours;
      }
    }
  }
  return walk;
}

}  // namespace

RouterTables::RouterTables(std::vector<std::string> agents, SnmpAuth auth)
    : agents_(std::move(agents)), auth_(std::move(auth)) {
  StartLibrary();
}

RouterNeighbours RouterTables::Read() const {
  RouterNeighbours found;
  for (const std::string& agent : agents_) {
    const auto said = [&found, &agent](const std::string& fault) {
      found.problems.emplace_back("--snmp ").append(agent).append(": ").append(fault);
    };
    netsnmp_session settings{};
    snmp_sess_init(&settings);
    const std::string peer = "udp:" + agent;
    settings.peername = const_cast<char*>(peer.c_str());
    settings.timeout = kSnmpTimeoutMicroseconds;
    settings.retries = kSnmpRetries;
    if (auth_.user.empty()) {
      settings.version = SNMP_VERSION_2c;
      settings.community = reinterpret_cast<u_char*>(const_cast<char*>(auth_.community.c_str()));
      settings.community_len = auth_.community.size();
    } else if (!SetUser(settings, auth_)) {
      said("the v3 passphrases could not be made into keys");
      continue;
    }
    // A v3 session asks the agent its engine ID as it opens: a silent agent
    // costs the same bounded wait there.
    const Session session(snmp_sess_open(&settings));
    if (!session) {
      said("cannot be asked: " + std::string(snmp_api_errstring(snmp_errno)));
      continue;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(kSnmpWalkLimitSeconds);
    std::size_t rowsLeft = kMostSnmpRows;
    std::string fault;
    // The older table only where the newer one gave nothing.
    const Walk newer =
        WalkColumn(session.get(), kIpNetToPhysicalMac, deadline, rowsLeft, found, fault);
    if (newer.answered && newer.neighbours == 0) {
      fault.clear();
      WalkColumn(session.get(), kIpNetToMediaMac, deadline, rowsLeft, found, fault);
    }
    if (!fault.empty()) {
      said(fault);
    }
  }
  return found;
}

std::function<RouterNeighbours()> ReadBeside(const RouterTables& routers) {
  auto reading = std::make_shared<std::future<RouterNeighbours>>(
      std::async(std::launch::async, [&routers] { return routers.Read(); }));
  return [reading] { return reading->get(); };
}

}  // namespace hostsweep::controller
