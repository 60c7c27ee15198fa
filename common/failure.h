// A failure raised by an operation: it leaves the operation and is handled by
// the nearest caller that has a failure handler. what() is the description the
// user sees.
#pragma once

#include <stdexcept>

namespace hostsweep {

class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace hostsweep
