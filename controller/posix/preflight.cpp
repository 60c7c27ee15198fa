// What the system lets the sweep do, found out before it starts: whether the
// workers may send echo requests at all, and how many chains the descriptor
// limit carries.
#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "controller/errors.h"
#include "controller/platform_host.h"

namespace hostsweep::controller {
namespace {

// Descriptors held whatever the sweep's size: the standard streams, the
// report socket, the signal descriptor, and some to spare (target files, the
// C library's own).
constexpr rlim_t kFixedDescriptors = 16;
// Per running chain: the read end of its standard error, a report
// connection for each of its up to three workers, and a socket for the name
// questions (they get no more sockets than there are chains). One more is
// needed for the moment a chain starts (the write end of its pipe).
constexpr rlim_t kDescriptorsPerChain = 5;

bool EchoSocketOpens(int type) {
  const int socket = ::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (socket < 0) {
    return false;
  }
  close(socket);
  return true;
}

// The worker file's own right to raw sockets: set-user-ID root, or the file
// capability CAP_NET_RAW, permitted and effective; a file system mounted
// nosuid ignores both, and so does a controller started with no_new_privs
// (which its workers inherit), as a service manager may start it.
bool WorkerFileMayUseRawSockets(const std::string& path) {
  if (prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) == 1) {
    return false;
  }
  struct statvfs fileSystem {};
  if (statvfs(path.c_str(), &fileSystem) == 0 && (fileSystem.f_flag & ST_NOSUID) != 0) {
    return false;
  }
  struct stat file {};
  if (stat(path.c_str(), &file) == 0 && file.st_uid == 0 && (file.st_mode & S_ISUID) != 0) {
    return true;
  }
  vfs_ns_cap_data capabilities{};  // the longest form; every form starts alike
  const ssize_t size =
      getxattr(path.c_str(), "security.capability", &capabilities, sizeof capabilities);
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

void CheckEchoRights(const std::string& workerPath) {
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
  if (WorkerFileMayUseRawSockets(workerPath)) {
    return;
  }
  throw SystemError(
      "the workers may not send echo requests here, so every address would read dead: group " +
      std::to_string(getegid()) + " is outside net.ipv4.ping_group_range (" + PingGroupRange() +
      ") and raw sockets need root or CAP_NET_RAW. Run hostsweep as root, or give the worker "
      "the right (setcap cap_net_raw+ep " +
      workerPath +
      "), or let the group send echo requests (sysctl -w net.ipv4.ping_group_range=\"0 "
      "2147483647\"); --names-only sends none");
}

std::size_t MostChainsAtOnce() {
  rlimit descriptors{};
  if (getrlimit(RLIMIT_NOFILE, &descriptors) != 0 || descriptors.rlim_cur == RLIM_INFINITY) {
    return SIZE_MAX;
  }
  if (descriptors.rlim_cur < kFixedDescriptors + 1 + kDescriptorsPerChain) {
    return 1;
  }
  return (descriptors.rlim_cur - kFixedDescriptors - 1) / kDescriptorsPerChain;
}

}  // namespace hostsweep::controller
