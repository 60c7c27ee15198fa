#include "controller/inventory/inventory_csv.h"

#include <algorithm>

#include "common/text.h"
#include "controller/base/errors.h"

namespace hostsweep::controller {

std::vector<std::string> KnownFields(std::string_view line) {
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < line.size(); ++i) {
    std::string& field = fields.back();
    if (line[i] == ',') {
      fields.emplace_back();
    } else if (line[i] != '"') {
      field += line[i];
    } else if (!field.empty()) {
      throw UsageError("a quote inside an unquoted field");
    } else {
      for (++i;; ++i) {
        if (i == line.size()) {
          throw UsageError("a quoted field that does not end");
        }
        if (line[i] == '"' && (i + 1 == line.size() || line[i + 1] != '"')) {
          break;
        }
        i += line[i] == '"' ? 1 : 0;  // a doubled quote is one
        field += line[i];
      }
      if (i + 1 < line.size() && line[i + 1] != ',') {
        throw UsageError("text after a quoted field");
      }
    }
    if (fields.size() <= kKnownHeader.size() && fields.back().size() > kMostKnownFieldBytes) {
      throw UsageError("a field longer than " + std::to_string(kMostKnownFieldBytes) + " bytes");
    }
  }
  return fields;
}

std::string KnownRow(std::string_view text, std::size_t& at, std::size_t& number) {
  std::string row;
  bool open = false;
  do {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string_view line = TrimEnd(text.substr(at, end - at), "\r");
    row += (open ? "\n" : "") + std::string(line);
    open = (std::count(line.begin(), line.end(), '"') % 2 == 1) != open;
    at = end + 1;
    ++number;
  } while (open && at < text.size());
  return row;
}

std::string KnownField(std::string_view value) {
  if (value.find_first_of(",\"\r\n") == std::string_view::npos) {
    return std::string(value);
  }
  std::string quoted = "\"";
  for (const char c : value) {
    quoted += c == '"' ? "\"\"" : std::string(1, c);
  }
  return quoted + "\"";
}

}  // namespace hostsweep::controller
