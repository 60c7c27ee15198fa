// The local time zone set for one test and put back after it: times shown
// to a person are local, and a test must not hang on the machine's zone.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace hostsweep::controller {

// `zone` as TZ has it: "XST-2" is two hours east of UTC.
class LocalZone {
 public:
  explicit LocalZone(const char* zone) {
    if (const char* before = std::getenv("TZ")) {
      before_ = before;
    }
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~LocalZone() {
    before_ ? ::setenv("TZ", before_->c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::optional<std::string> before_;
};

}  // namespace hostsweep::controller
