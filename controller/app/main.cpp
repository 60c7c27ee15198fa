#include <functional>
#include <iostream>
#include <streambuf>
#include <string>

#include "controller/app/exit_status.h"
#include "controller/app/options.h"
#include "controller/app/run.h"
#include "controller/base/errors.h"
#include "controller/base/printable.h"
#include "controller/output/output_channel.h"
#include "controller/system/console.h"
#include "controller/system/ipv6_prober.h"
#include "controller/system/link_socket.h"
#include "controller/system/privileges.h"

namespace hostsweep::controller {
namespace {

// Standard error through an output channel while main runs, every line
// masked: messages quote what came from outside (interface names, paths,
// targets, worker messages).
class ErrorsThrough {
 public:
  explicit ErrorsThrough(OutputChannel& errors)
      : printable_(errors), before_(std::cerr.rdbuf(&printable_)) {}
  ~ErrorsThrough() { std::cerr.rdbuf(before_); }
  ErrorsThrough(const ErrorsThrough&) = delete;
  ErrorsThrough& operator=(const ErrorsThrough&) = delete;
  ErrorsThrough(ErrorsThrough&&) = delete;
  ErrorsThrough& operator=(ErrorsThrough&&) = delete;

 private:
  PrintableLines printable_;
  std::streambuf* before_;
};

// Runs `body`; an error it raises is said on standard error and becomes its
// exit status.
int ExitingOnErrors(const std::function<int()>& body) {
  try {
    return body();
  } catch (const EarlierResultsError& error) {
    std::cerr << "hostsweep: " << error.what() << "\n";
    return kExitEarlierResults;
  } catch (const UsageError& error) {
    std::cerr << "hostsweep: " << error.what() << "\n";
    return kExitUsage;
  } catch (const SystemError& error) {
    std::cerr << "hostsweep: " << error.what() << "\n";
    return kExitSystem;
  }
}

}  // namespace
}  // namespace hostsweep::controller

int main(int argc, char** argv) {
  using namespace hostsweep::controller;
  // Checked before anything is opened. Results nobody can see are no sweep,
  // and the sweep's warnings and interruption notice have nowhere else to go.
  const ClosedStreams closed = HoldClosedStandardStreams();
  if (closed.output || closed.error) {
    if (!closed.error) {
      std::cerr << "hostsweep: standard output is closed, so the results could not be shown; "
                   "redirect it to a file or to /dev/null instead\n";
    }
    return kExitUsage;
  }
  // The one step that may need a capability comes next; every capability
  // goes right after.
  OpenedMeans means;
  means.linkSocket = OpenLinkSocket(means.whyNoLinkSocket);
  means.ipv6Prober = OpenIpv6Prober(means.whyNoIpv6);
  means.passiveSocket = OpenPassiveSocket(means.whyNoPassive);
  try {
    DropPrivileges();
  } catch (const SystemError& error) {
    std::cerr << "hostsweep: " << error.what() << "\n";
    return kExitSystem;
  }
  OutputChannel output(false);
  OutputChannel errors(true);
  const ErrorsThrough redirected(errors);
  const auto parsed = ParseCommandLine(argc, argv, std::cout, std::cerr);
  if (!parsed.options) {
    return parsed.exitStatus;
  }
  std::string commandLine = "hostsweep";
  for (int i = 1; i < argc; ++i) {
    commandLine += std::string(" ") + argv[i];
  }
  return ExitingOnErrors([&] {
    return Run(*parsed.options, {.commandLine = commandLine, .inputClosed = closed.input}, output,
               errors, means);
  });
}
