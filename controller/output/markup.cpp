#include "controller/output/markup.h"

#include "controller/base/printable.h"

namespace hostsweep::controller {

std::string MarkupText(std::string_view text) {
  std::string escaped;
  for (const char c : ValidUtf8(Printable(text))) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string MarkupAttribute(std::string_view name, std::string_view value) {
  return " " + std::string(name) + "=\"" + MarkupText(value) + "\"";
}

std::string KeyedElement(std::string_view key, std::string_view text) {
  return "<elem" + MarkupAttribute("key", key) + ">" + MarkupText(text) + "</elem>";
}

}  // namespace hostsweep::controller
