#include "driver/hand_off.h"

#include "platform/os.h"

namespace hostsweep {

std::string SuccessorRequestLine(const Fields& fields, int slot) {
  const std::string& window = Field(fields, kReplyWindow);
  if (slot == 1) {
    return window + "," + Field(fields, kAddress2) + "," + Field(fields, kLabel2) + "," +
           Field(fields, kAddress3) + "," + Field(fields, kLabel3) + ",,,A(7)";
  }
  return window + "," + Field(fields, kAddress3) + "," + Field(fields, kLabel3) + ",,,,,A(7)";
}

void HandOffRemaining(const Fields& fields, int slot) {
  const std::string folder = os::GetProgramFolder();
  const std::string name = os::GetProgramName();
  os::StartHiddenProcess(folder, name, SuccessorRequestLine(fields, slot));
}

}  // namespace hostsweep
