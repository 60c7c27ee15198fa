#include "controller/output/json_output.h"

#include "controller/base/mac_address.h"
#include "controller/model/json_fields.h"

namespace hostsweep::controller {

namespace {

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
  using namespace json_key;
  Json line;
  line[kAddress] = AddressText(view);
  line[kState] = StateText(view.state);
  line[kEcho] = OrNull(view.echo);
  line[kRttMs] = OrNull(view.roundTripMs);
  line[kTtl] = OrNull(view.ttl);
  line[kName] = OrNull(view.name);
  line[kMac] = OrNull(view.mac ? FormatMac(*view.mac) : "");
  line[kVendor] = OrNull(view.vendor);
  line[kMacSource] = OrNull(MacSourceText(view.macSource));
  line[kNetbiosMac] = OrNull(view.netbiosMac);
  line[kNameSource] = OrNull(NameSourceText(view.nameSource));
  line[kWorkgroup] = OrNull(view.workgroup);
  line[kEvidence] = OrNull(EvidenceText(view.evidence));
  // Only where it says something, so that every other row keeps its keys.
  if (view.macSharedBy) {
    line[kMacSharedBy] = *view.macSharedBy;
  }
  if (view.device != DeviceFacts{}) {
    line[kType] = OrNull(view.device.type);
    line[kMake] = OrNull(view.device.make);
    line[kModel] = OrNull(view.device.model);
    line[kTypeFrom] = OrNull(TypeSourceText(view.device.typeFrom));
    line[kServices] = view.device.services;
  }
  if (ipv6) {
    line[kIpv6] = view.ipv6;
  }
  if (view.change) {
    line[kChange] = OrNull(ChangeText(view.change->change));
    line[kPrevious] = OrNull(view.change->previous);
  }
  if (view.known) {
    line[kAlias] = OrNull(view.known->alias);
    line[kOwner] = OrNull(view.known->owner);
    line[kKnown] = view.known->known;
  }
  return JsonText(line);
}

std::unique_ptr<ResultWriter> MakeJsonWriter(std::ostream& out, bool ipv6) {
  return std::make_unique<JsonWriter>(out, ipv6);
}

}  // namespace hostsweep::controller
