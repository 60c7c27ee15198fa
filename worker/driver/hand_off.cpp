#include "driver/hand_off.h"

#include "platform/os.h"

namespace hostsweep {

std::string SuccessorRequestLine(const Fields& fields, int slot) {
  std::vector<SlotRequest> rest;
  if (slot == 1) {
    rest.push_back({Field(fields, kAddress2), Field(fields, kLabel2)});
  }
  rest.push_back({Field(fields, kAddress3), Field(fields, kLabel3)});
  return FormatRequestLine(Field(fields, kReplyWindow), rest, kSuccessorPause);
}

void HandOffRemaining(const Fields& fields, int slot) {
  const std::string folder = os::GetProgramFolder();
  const std::string name = os::GetProgramName();
  os::StartHiddenProcess(folder, name, SuccessorRequestLine(fields, slot));
}

}  // namespace hostsweep
