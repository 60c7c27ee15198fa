// Text from outside (host names, makers, the command line) placed in XML or
// HTML: as element text or inside a double- or single-quoted attribute.
#pragma once

#include <string>
#include <string_view>

namespace hostsweep::controller {

// Masked as Printable() masks it, made valid UTF-8, and with & < > " '
// escaped: a name can neither close an attribute nor open an element.
std::string MarkupText(std::string_view text);

// ` name="value"`, the value as MarkupText() makes it.
std::string MarkupAttribute(std::string_view name, std::string_view value);

// `<elem key="key">text</elem>`: one element of a script's output, as nmap
// writes it.
std::string KeyedElement(std::string_view key, std::string_view text);

}  // namespace hostsweep::controller
