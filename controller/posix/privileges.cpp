// The controller's rights: CAP_NET_RAW is needed only to open the packet
// socket; every capability goes right after, before a file is read, a target
// parsed or a worker started.
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string>

#include "controller/errors.h"
#include "controller/platform_host.h"

namespace hostsweep::controller {

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
