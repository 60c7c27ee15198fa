#include "controller/system/interruptions.h"

namespace hostsweep::controller {

// Between sweeps no console handler is set: Ctrl-C ends the process at
// once, which leaves the state file whole since it is only ever replaced.
struct Interruptions::Source {};

Interruptions::Interruptions(EventLoop& /*loop*/, std::function<void()> /*interrupted*/) {}

Interruptions::~Interruptions() = default;

}  // namespace hostsweep::controller
