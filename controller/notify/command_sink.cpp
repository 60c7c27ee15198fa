#include "controller/notify/command_sink.h"

#include <iostream>

#include "controller/base/printable.h"
#include "controller/system/command.h"

namespace hostsweep::controller {
namespace {

class CommandSink : public EventSink {
 public:
  explicit CommandSink(std::string command) : command_(std::move(command)) {}

  [[nodiscard]] std::string_view Name() const override { return "command"; }

  Delivery Deliver(const QueuedEvent& queued, std::chrono::milliseconds bound) override {
    const CommandRequest request{.command = command_,
                                 .input = queued.json + "\n",
                                 .environment = EventEnvironment(queued.event),
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
  return std::make_unique<CommandSink>(command);
}

}  // namespace hostsweep::controller
