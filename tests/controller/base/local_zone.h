// The local time zone set for one test and put back after it: times shown
// to a person are local, and a test must not depend on the machine's zone.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace hostsweep::controller {

class LocalZone {
 public:
  // `zone` as TZ has it: "XST-2" is two hours east of UTC.
  explicit LocalZone(const char* zone) {
    if (const char* before = std::getenv("TZ")) {
      before_ = before;
    }
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~LocalZone() {
    if (before_) {
      ::setenv("TZ", before_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }
  LocalZone(const LocalZone&) = delete;
  LocalZone& operator=(const LocalZone&) = delete;
  LocalZone(LocalZone&&) = delete;
  LocalZone& operator=(LocalZone&&) = delete;

 private:
  std::optional<std::string> before_;
};

}  // namespace hostsweep::controller
