#include "controller/output/json_output.h"

#include <array>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>

#include "common/text.h"
#include "controller/base/mac_address.h"
#include "controller/base/printable.h"

namespace hostsweep::controller {

namespace {

nlohmann::ordered_json OrNull(const auto& value) {
  return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

std::optional<std::string> NonEmpty(const std::string& text) {
  return text.empty() ? std::nullopt : std::optional(text);
}

std::optional<std::string> MacText(const HostView& view) {
  return view.mac ? std::optional(FormatMac(*view.mac)) : std::nullopt;
}

// JSON keeps a name's exact text, but a control or direction character left
// raw would act in the terminal or the page that shows the line: each becomes
// its JSON escape. Outside strings a JSON line holds none, so the whole line
// can go through.
std::string EscapeControls(std::string_view json) {
  return ReplaceControls(json, [](std::uint32_t point) {
    std::array<char, sizeof("\\uFFFF")> escape{};
    std::snprintf(escape.data(), escape.size(), "\\u%04x", static_cast<unsigned>(point));
    return std::string(escape.data());
  });
}

class JsonWriter : public ResultWriter {
 public:
  JsonWriter(std::ostream& out, bool ipv6) : out_(out), ipv6_(ipv6) {}
  void Write(const HostView& view) override { out_ << JsonLine(view, ipv6_) << '\n' << std::flush; }
  void Finish(SweepEnd /*end*/) override {}

 private:
  std::ostream& out_;
  bool ipv6_;
};

}  // namespace

std::string JsonLine(const HostView& view, bool ipv6) {
  nlohmann::ordered_json line;
  line["address"] = AddressText(view);
  line["state"] = StateText(view.state);
  line["echo"] = OrNull(view.echo);
  line["rtt_ms"] = OrNull(view.roundTripMs);
  line["ttl"] = OrNull(view.ttl);
  line["name"] = OrNull(NonEmpty(view.name));
  line["mac"] = OrNull(MacText(view));
  line["vendor"] = OrNull(NonEmpty(view.vendor));
  line["mac_source"] = OrNull(NonEmpty(std::string(MacSourceText(view.macSource))));
  line["netbios_mac"] = OrNull(NonEmpty(view.netbiosMac));
  line["name_source"] = OrNull(NonEmpty(std::string(NameSourceText(view.nameSource))));
  line["workgroup"] = OrNull(NonEmpty(view.workgroup));
  line["evidence"] = OrNull(NonEmpty(std::string(EvidenceText(view.evidence))));
  // Only where it says something, so that every other row keeps its keys.
  if (view.macSharedBy) {
    line["mac_shared_by"] = *view.macSharedBy;
  }
  if (ipv6) {
    line["ipv6"] = view.ipv6;
  }
  if (view.change) {
    line["change"] = OrNull(NonEmpty(std::string(ChangeText(view.change->change))));
    line["previous"] = OrNull(NonEmpty(view.change->previous));
  }
  // Names (and makers) arrive in the system's code page, not always UTF-8: such bytes
  // become U+FFFD rather than failing the sweep.
  return EscapeControls(
      line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
}

std::unique_ptr<ResultWriter> MakeJsonWriter(std::ostream& out, bool ipv6) {
  return std::make_unique<JsonWriter>(out, ipv6);
}

}  // namespace hostsweep::controller
