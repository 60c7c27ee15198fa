#include "driver/hand_off.h"

#include "platform/os.h"

namespace hostsweep {
namespace {

// The pause count every successor gets, whatever this worker's was: a text
// that does not start with a number, so it reads as 0 and each pause is one
// yield. Successors of every version read this literal text; it is part of
// the request line the worker writes, not a setting.
constexpr const char* kSuccessorPause = "A(7)";

}  // namespace

std::string SuccessorRequestLine(const Fields& fields, int slot) {
  const std::string& window = Field(fields, kReplyWindow);
  if (slot == 1) {
    return window + "," + Field(fields, kAddress2) + "," + Field(fields, kLabel2) + "," +
           Field(fields, kAddress3) + "," + Field(fields, kLabel3) + ",,," + kSuccessorPause;
  }
  return window + "," + Field(fields, kAddress3) + "," + Field(fields, kLabel3) + ",,,,," +
         kSuccessorPause;
}

void HandOffRemaining(const Fields& fields, int slot) {
  const std::string folder = os::GetProgramFolder();
  const std::string name = os::GetProgramName();
  os::StartHiddenProcess(folder, name, SuccessorRequestLine(fields, slot));
}

}  // namespace hostsweep
