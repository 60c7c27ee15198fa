// The controller's rights: CAP_NET_RAW is needed only to open the packet
// socket; every capability goes right after, before a file is read, a target
// parsed or a worker started.
#include "controller/system/privileges.h"

#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

#include "controller/base/errors.h"
#include "controller/system/posix/worker_file.h"

namespace hostsweep::controller {
namespace {

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

std::string WhyNoEchoRights(const WorkerFile& worker) {
  // The worker tries an ICMP datagram socket first, allowed to the groups in
  // net.ipv4.ping_group_range; it runs with the controller's groups.
  if (EchoSocketOpens(SOCK_DGRAM)) {
    return {};
  }
  // Then a raw socket: the programs root starts get every capability the
  // bounding set keeps, whatever the controller itself has given up.
  if (geteuid() == 0 && prctl(PR_CAPBSET_READ, CAP_NET_RAW) == 1) {
    return {};
  }
  if (WorkerFileMayUseRawSockets(worker)) {
    return {};
  }
  return "the workers may not send echo requests here, so every address would read dead: group " +
         std::to_string(getegid()) + " is outside net.ipv4.ping_group_range (" + PingGroupRange() +
         ") and raw sockets need root or CAP_NET_RAW. Run hostsweep as root, or give the worker "
         "the right (setcap cap_net_raw+ep " +
         worker.Path() +
         "), or let the group send echo requests (sysctl -w net.ipv4.ping_group_range=\"0 "
         "2147483647\"); --names-only sends none";
}

void DropPrivileges() {
  // Kernels without ambient capabilities have none to clear.
  prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
  __user_cap_header_struct header{.version = _LINUX_CAPABILITY_VERSION_3, .pid = 0};
  std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> none{};
  if (syscall(SYS_capset, &header, none.data()) != 0) {
    throw SystemError(std::string("cannot give up capabilities: ") + std::strerror(errno));
  }
}

bool MaySetAnyArpRate() { return geteuid() == 0; }

void ForbidGainingRights() {
  // Root's programs get every right on exec in any case; what is guarded is an
  // ordinary user starting another program with a capability or set-user-ID
  // bit through hostsweep.
  if (geteuid() == 0) {
    return;
  }
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
    throw SystemError(std::string("cannot lock the worker's rights: ") + std::strerror(errno));
  }
}

}  // namespace hostsweep::controller
