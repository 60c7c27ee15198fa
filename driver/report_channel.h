// Delivers report texts to the reply window as copy-data messages.
#pragma once

#include <string>

#include "protocol/report.h"

namespace hostsweep {

// Sends `text` to the window whose decimal handle is `replyWindowField` and
// returns once the receiver has handled it. Raises a Failure, before anything
// is sent, for a text that does not fit the buffer with its zero byte or a
// reply window field that is not a 32-bit number.
void SendReport(const std::string& replyWindowField, const std::string& text);

}  // namespace hostsweep
