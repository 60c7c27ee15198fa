#include "controller/notify/command_sink.h"

#include <iostream>

#include "controller/base/errors.h"
#include "controller/base/printable.h"
#include "controller/system/command.h"

namespace hostsweep::controller {
namespace {

class CommandSink : public EventSink {
 public:
  explicit CommandSink(std::string command) : command_(std::move(command)) {}

  [[nodiscard]] std::string_view Name() const override { return "command"; }

  Delivery Deliver(const QueuedEvent& queued, std::chrono::milliseconds bound) override {
    const Event& event = queued.event;
    const CommandRequest request{
        .command = command_,
        .input = queued.json + "\n",
        .environment = {{"HOSTSWEEP_EVENT_ID", std::to_string(event.id)},
                        {"HOSTSWEEP_EVENT_KIND", std::string(ChangeText(event.kind))},
                        {"HOSTSWEEP_EVENT_ADDRESS", AddressText(event.host)},
                        {"HOSTSWEEP_EVENT_MAC", event.host.mac ? FormatMac(*event.host.mac) : ""},
                        {"HOSTSWEEP_EVENT_NAME", event.host.name}},
        .bound = bound};
    // What it writes is its own: shown, masked as any text from outside.
    const CommandOutcome outcome = RunShellCommand(request, [](std::string_view line) {
      std::cerr << "hostsweep: --on-event: " << Printable(line) << "\n" << std::flush;
    });
    return {.confirmed = outcome.succeeded, .why = outcome.why};
  }

 private:
  std::string command_;
};

}  // namespace

std::unique_ptr<EventSink> MakeCommandSink(const std::string& command) {
  if (!ShellCommandsRun()) {
    throw UsageError("--on-event needs a POSIX shell, which this system does not have");
  }
  return std::make_unique<CommandSink>(command);
}

}  // namespace hostsweep::controller
