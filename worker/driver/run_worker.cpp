#include "driver/run_worker.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "common/failure.h"
#include "common/report.h"
#include "common/request_line.h"
#include "driver/exit_status.h"
#include "driver/hand_off.h"
#include "driver/name_only.h"
#include "driver/report_channel.h"
#include "net/adapter_address.h"
#include "net/echo_probe.h"
#include "net/name_lookup.h"
#include "platform/os.h"

namespace hostsweep {
namespace {

// Yields between reading the argument text and looking at the fields: with the
// one right after reading it, twelve before the worker acts. This is the
// worker's start-up pacing as every controller has met it (the Windows worker
// pumps its messages in these yields), not a delay to tune: a change shifts
// when every batch's first probe goes out, and the unit tests hold it.
constexpr int kStartupYields = 11;
// A pause is meant to be a moment: a pause count so large that it would keep
// the worker spinning for minutes (or, past 2^53, forever) is cut to this. Our
// own bound, far above any count a controller sends (hostsweep's --pause is 0
// unless asked), so every count that worked before still gives the same
// number of yields; lowering it would change those pauses, so leave it.
constexpr double kMostPauseYields = 1'000'000;

struct Slot {
  int number;
  std::size_t address;
  std::size_t label;
  // The next slot's address field; 0 for the last slot, which never hands off.
  std::size_t successor;
};

constexpr std::array<Slot, 3> kSlots{{
    {1, kAddress1, kLabel1, kAddress2},
    {2, kAddress2, kLabel2, kAddress3},
    {3, kAddress3, kLabel3, 0},
}};

// Yields once for each count 0, 1, ... up to `pauseCount`.
void Pause(double pauseCount) {
  if (!(pauseCount >= 0)) {
    return;
  }
  const auto yields =
      static_cast<std::int64_t>(std::floor(std::fmin(pauseCount, kMostPauseYields))) + 1;
  for (std::int64_t i = 0; i < yields; ++i) {
    os::YieldToSystem();
  }
}

std::string LiveReport(const std::string& label, const std::string& roundTrip, std::int16_t ttl,
                       const std::string& hostName, const std::string& adapterAddress) {
  const std::size_t others = FormatLiveReport(label, roundTrip, ttl, "", adapterAddress).size();
  return FormatLiveReport(label, roundTrip, ttl, FitName(hostName, others), adapterAddress);
}

// The hand-off's failure, held back: the live host this worker has just probed
// is still looked up and reported before the failure ends the worker, so that
// only the slots meant for the successor go unreported. Running out of memory
// is no such failure and ends the worker at once.
std::exception_ptr TryHandOff(const Fields& fields, int slot) {
  try {
    HandOffRemaining(fields, slot);
  } catch (const Failure&) {
    return std::current_exception();
  }
  return nullptr;
}

void RunSlotSequence(const Fields& fields) {
  const double pauseCount = LeadingNumber(Field(fields, kPauseCount));
  Pause(pauseCount);
  bool launched = false;
  std::int16_t ttl = 0;
  std::exception_ptr handOffFailure;
  for (const Slot& slot : kSlots) {
    const std::string& address = Field(fields, slot.address);
    const std::string& label = Field(fields, slot.label);
    std::string roundTrip = ProbeHost(address, ttl);
    if (roundTrip == kNoReply) {
      roundTrip = ProbeHost(address, ttl);
    }
    std::string report;
    if (roundTrip == kNoReply) {
      report = FormatDeadReport(label);
    } else {
      if (slot.successor != 0) {
        launched = true;
        if (!Field(fields, slot.successor).empty()) {
          handOffFailure = TryHandOff(fields, slot.number);
        }
      }
      const std::string hostName = LookupHostName(address);
      const std::string adapterAddress = hostName.empty() ? "" : QueryAdapterAddress(address);
      report = LiveReport(label, roundTrip, ttl, hostName, adapterAddress);
    }
    SendReport(Field(fields, kReplyWindow), report);
    if (handOffFailure) {
      std::rethrow_exception(handOffFailure);
    }
    if (slot.successor == 0) {
      return;
    }
    Pause(pauseCount);
    if (launched || Field(fields, slot.successor).empty()) {
      return;
    }
  }
}

}  // namespace

void RunWorker() {
  try {
    const std::string argumentText = os::GetArgumentText();
    os::YieldToSystem();
    const Fields fields = SplitRequestLine(argumentText);
    for (int i = 0; i < kStartupYields; ++i) {
      os::YieldToSystem();
    }
    if (IsNumberZero(Field(fields, kAddress1))) {
      ReportNameOnly(fields);
      return;
    }
    RunSlotSequence(fields);
  } catch (const std::exception& failure) {
    os::ShowFailureBox(failure.what());
    os::EndProcess(kExitFailed);
  }
}

}  // namespace hostsweep
