// Delivers report texts to the reply window as copy-data messages.
#pragma once

#include <string>

#include "common/report.h"

namespace hostsweep {

// `name` as it fits a report whose other items take `otherLength` characters:
// a longer name (a hosts file allows any length, DNS 253) is cut and its end
// marked "~", so that the report still goes out. A name that fits is returned
// unchanged; with no room even for the mark, it is left for SendReport to refuse.
std::string FitName(const std::string& name, std::size_t otherLength);

// Sends `text` to the window whose decimal handle is `replyWindowField` and
// returns once the receiver has handled it. Raises a Failure, before anything
// is sent, for a text that does not fit the buffer with its zero byte or a
// reply window field that is not a 32-bit number.
void SendReport(const std::string& replyWindowField, const std::string& text);

}  // namespace hostsweep
