// The calling thread's last-error value, as the stand-ins leave it.
#pragma once

#include "platform/os.h"

namespace hostsweep::os {

void SetLastError(DWORD error);

}  // namespace hostsweep::os
