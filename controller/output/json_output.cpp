#include "controller/output/json_output.h"

#include "controller/output/row_fields.h"

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
  Json line;
  for (const RowField& field : RowFields()) {
    if (OnRow(field, view, ipv6, false)) {
      line[field.key] = field.value(view);
    }
  }
  return JsonText(line);
}

std::unique_ptr<ResultWriter> MakeJsonWriter(std::ostream& out, bool ipv6) {
  return std::make_unique<JsonWriter>(out, ipv6);
}

}  // namespace hostsweep::controller
