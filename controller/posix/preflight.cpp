// What the system lets the sweep do, found out before it starts: whether the
// workers may send echo requests at all, and how many chains and name
// question sockets the descriptor limit carries.
#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>

#include "controller/errors.h"
#include "controller/name_queries.h"
#include "controller/platform_host.h"
#include "controller/posix/worker_file.h"

namespace hostsweep::controller {
namespace {

// Descriptors held whatever the sweep's size: the standard streams, the
// report socket, the signal descriptor, and some to spare (target files, the
// C library's own).
constexpr rlim_t kFixedDescriptors = 16;
// Per running chain: the read end of its standard error and a report
// connection for each of its up to three workers. One more is needed for the
// moment a chain starts (the write end of its pipe).
constexpr rlim_t kDescriptorsPerChain = 4;
// The name questions' share of what the fixed descriptors leave: their own,
// whatever -j is, so that few chains never make the questions queue.
constexpr rlim_t kNameSocketShare = 4;

// The descriptors left after the fixed ones; nothing for no limit.
std::optional<rlim_t> SpareDescriptors() {
  rlimit descriptors{};
  if (getrlimit(RLIMIT_NOFILE, &descriptors) != 0 || descriptors.rlim_cur == RLIM_INFINITY) {
    return std::nullopt;
  }
  return descriptors.rlim_cur > kFixedDescriptors ? descriptors.rlim_cur - kFixedDescriptors : 0;
}

bool EchoSocketOpens(int type) {
  const int socket = ::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (socket < 0) {
    return false;
  }
  close(socket);
  return true;
}

// The worker file's own right to raw sockets: the file capability
// CAP_NET_RAW, permitted and effective (a set-user-ID worker is refused
// before this); a file system mounted nosuid ignores it, and so does a
// controller started with no_new_privs (which its workers inherit), as a
// service manager may start it.
bool WorkerFileMayUseRawSockets(const WorkerFile& worker) {
  if (prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) == 1) {
    return false;
  }
  struct statvfs fileSystem {};
  if (fstatvfs(worker.Descriptor(), &fileSystem) == 0 && (fileSystem.f_flag & ST_NOSUID) != 0) {
    return false;
  }
  vfs_ns_cap_data capabilities{};  // the longest form; every form starts alike
  const ssize_t size = getxattr(worker.OpenedPath().c_str(), "security.capability", &capabilities,
                                sizeof capabilities);
  if (size < static_cast<ssize_t>(XATTR_CAPS_SZ_1)) {
    return false;
  }
  const std::uint32_t flags = le32toh(capabilities.magic_etc);
  const std::uint32_t permitted = le32toh(capabilities.data[0].permitted);
  return (flags & VFS_CAP_FLAGS_EFFECTIVE) != 0 && (permitted & CAP_TO_MASK(CAP_NET_RAW)) != 0;
}

std::string PingGroupRange() {
  std::ifstream file("/proc/sys/net/ipv4/ping_group_range");
  std::string low;
  std::string high;
  file >> low >> high;
  return file ? "\"" + low + " " + high + "\"" : "unknown";
}

}  // namespace

void CheckEchoRights(const WorkerFile& worker) {
  // The worker tries an ICMP datagram socket first, allowed to the groups in
  // net.ipv4.ping_group_range; it runs with the controller's groups.
  if (EchoSocketOpens(SOCK_DGRAM)) {
    return;
  }
  // Then a raw socket: the programs root starts get every capability the
  // bounding set keeps, whatever the controller itself has given up.
  if (geteuid() == 0 && prctl(PR_CAPBSET_READ, CAP_NET_RAW) == 1) {
    return;
  }
  if (WorkerFileMayUseRawSockets(worker)) {
    return;
  }
  throw SystemError(
      "the workers may not send echo requests here, so every address would read dead: group " +
      std::to_string(getegid()) + " is outside net.ipv4.ping_group_range (" + PingGroupRange() +
      ") and raw sockets need root or CAP_NET_RAW. Run hostsweep as root, or give the worker "
      "the right (setcap cap_net_raw+ep " +
      worker.Path() +
      "), or let the group send echo requests (sysctl -w net.ipv4.ping_group_range=\"0 "
      "2147483647\"); --names-only sends none");
}

std::size_t MostNameSockets() {
  const auto spare = SpareDescriptors();
  if (!spare) {
    return kNameSockets;
  }
  return std::clamp<std::size_t>(*spare / kNameSocketShare, 1, kNameSockets);
}

std::size_t MostChainsAtOnce() {
  const auto spare = SpareDescriptors();
  if (!spare) {
    return SIZE_MAX;
  }
  const rlim_t forNames = MostNameSockets();
  if (*spare < forNames + 1 + kDescriptorsPerChain) {
    return 1;
  }
  return (*spare - forNames - 1) / kDescriptorsPerChain;
}

}  // namespace hostsweep::controller
