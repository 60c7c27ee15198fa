#pragma once

#include <stdexcept>

namespace hostsweep::controller {

// A mistake on the command line or in a target file: reported, nothing started.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The system refused something the sweep needs (socket, process, signal).
class SystemError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace hostsweep::controller
