// Text that came from outside (host names, worker messages, target files) made
// safe to show: nothing in it may steer a terminal or a spreadsheet.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace hostsweep::controller {

// Every control character (C0, DEL, C1, whether UTF-8 encoded or a lone byte)
// and every bidirectional formatting character becomes one '?'. Other bytes,
// valid UTF-8 or not, are kept: names arrive in the system's code page.
std::string Printable(std::string_view text);

// `text` with every byte that is not part of valid UTF-8 (and U+FFFE, U+FFFF)
// replaced by U+FFFD, for formats that must be UTF-8: XML and HTML.
std::string ValidUtf8(std::string_view text);

// Printable() of at most the first `most` bytes of `text`, with "..." when cut.
std::string Excerpt(std::string_view text, std::size_t most = 40);

}  // namespace hostsweep::controller
