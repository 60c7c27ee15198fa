// Placeholder until the node-status stand-in lands.
#include "platform/os.h"

namespace hostsweep::os {

UCHAR Netbios(NCB* control) {
  return control != nullptr && control->ncb_command == NCBRESET ? NRC_GOODRET : NRC_NOCALL;
}

}  // namespace hostsweep::os
