#pragma once

#include <stdexcept>

namespace hostsweep::controller {

// A mistake on the command line or in a target file: reported, nothing started.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An earlier sweep's results (--compare) or the watch's state (--state) that
// cannot be read as such: corrupt, cut short, foreign, or from a newer
// hostsweep. Nothing is started: a sweep against nothing would call every
// host new.
class EarlierResultsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The system refused something the sweep needs (socket, process, signal).
class SystemError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The system lacks, for now, what one more worker takes (processes,
// descriptors, memory): the same start may succeed once fewer are running.
class WorkerShortage : public SystemError {
 public:
  using SystemError::SystemError;
};

}  // namespace hostsweep::controller
