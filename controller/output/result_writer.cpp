#include "controller/output/result_writer.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>

#include "controller/output/csv_output.h"
#include "controller/output/html_output.h"
#include "controller/output/json_output.h"
#include "controller/output/table_output.h"
#include "controller/output/xml_output.h"

namespace hostsweep::controller {
namespace {

const std::array<ResultFormat, 5> kResultFormats{{
    {"table",
     [](std::ostream& out, const WriterSettings& settings) {
       return MakeTableWriter(out, settings.terminalWidth, settings.extra.change);
     }},
    {"csv", [](std::ostream& out,
               const WriterSettings& settings) { return MakeCsvWriter(out, settings.extra); }},
    {"json",
     [](std::ostream& out, const WriterSettings& settings) {
       return MakeJsonWriter(out, settings.extra.ipv6);
     }},
    {"xml", [](std::ostream& out,
               const WriterSettings& settings) { return MakeXmlWriter(out, settings.run); }},
    {"html", [](std::ostream& out,
                const WriterSettings& settings) { return MakeHtmlWriter(out, settings.run); }},
}};

}  // namespace

std::span<const ResultFormat> ResultFormats() { return kResultFormats; }

const ResultFormat& FormatNamed(std::string_view name) {
  const auto* found =
      std::find_if(kResultFormats.begin(), kResultFormats.end(),
                   [name](const ResultFormat& format) { return format.name == name; });
  if (found == kResultFormats.end()) {
    throw std::out_of_range("no result format " + std::string(name));
  }
  return *found;
}

std::unique_ptr<ResultWriter> MakeWriter(Format format, std::ostream& out,
                                         std::optional<std::size_t> terminalWidth,
                                         ExtraColumns extra) {
  return FormatNamed(TextOf(kFormatNames, format))
      .make(out, {.terminalWidth = terminalWidth, .extra = extra});
}

}  // namespace hostsweep::controller
