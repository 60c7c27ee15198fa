#include "controller/notify/metrics.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <sstream>
#include <string_view>
#include <vector>

#include "controller/base/mac_address.h"
#include "controller/base/printable.h"

namespace hostsweep::controller {
namespace {

// A device that went away keeps a 0 series for a day, so that an alert on
// `hostsweep_device_up == 0` fires and a graph shows it leave, rather than
// its series going stale. Past that, and past the most recent
// kMostAwaySeries of them, only devices the inventory expects always keep
// one: the database remembers every device ever seen (phones that change
// their MAC each day add up), and each series costs Prometheus memory.
constexpr std::int64_t kAwaySeriesSeconds = std::int64_t{24} * 60 * 60;
constexpr std::size_t kMostAwaySeries = 1000;

// The format's label value: UTF-8, with backslash, double quote and line
// feed escaped; other control characters masked as everywhere else.
std::string LabelValue(std::string_view text) {
  std::string escaped;
  for (const char c : ValidUtf8(text)) {
    if (c == '\\' || c == '"') {
      escaped += '\\';
    }
    escaped += c;
  }
  return ReplaceControls(escaped, [](std::uint32_t code) { return code == '\n' ? "\\n" : "?"; });
}

void Family(std::ostream& out, std::string_view name, std::string_view type,
            std::string_view help) {
  out << "# HELP " << name << ' ' << help << "\n# TYPE " << name << ' ' << type << '\n';
}

// What names a device for as long as the database knows it: its series
// stays one series when it moves or is renamed.
std::string IdentityLabels(const DeviceStatus& device) {
  const auto& mac = device.host.mac;
  return "device=\"" + std::to_string(device.id) + "\",mac=\"" +
         (mac ? FormatMac(*mac) : std::string()) + "\"";
}

// The rest, on the _info series beside it.
std::string InfoLabels(const DeviceStatus& device) {
  const auto& host = device.host;
  return IdentityLabels(device) + ",address=\"" + LabelValue(AddressText(host)) + "\",name=\"" +
         LabelValue(host.name) + "\",alias=\"" + LabelValue(device.known.alias) + "\",type=\"" +
         LabelValue(host.type) + "\"";
}

struct Series {
  const DeviceStatus* device;
  bool up;
};

// Every device present or missing, and the most recently seen of those that
// went away within a day, by id.
std::map<std::int64_t, Series> DeviceSeries(const SweepReport& report) {
  std::map<std::int64_t, Series> series;
  std::vector<const DeviceStatus*> away;
  for (const auto& device : report.devices) {
    if (device.present || device.missing) {
      series.try_emplace(device.id, Series{&device, device.present});
    } else if (report.time - device.lastSeen <= kAwaySeriesSeconds) {
      away.push_back(&device);
    }
  }
  const auto kept = std::min(away.size(), kMostAwaySeries);
  std::ranges::partial_sort(away, away.begin() + static_cast<std::ptrdiff_t>(kept),
                            [](const auto* a, const auto* b) { return a->lastSeen > b->lastSeen; });
  for (std::size_t i = 0; i < kept; ++i) {
    series.try_emplace(away[i]->id, Series{away[i], false});
  }
  return series;
}

void DeviceFamilies(std::ostream& out, const SweepReport& report) {
  const auto series = DeviceSeries(report);
  if (series.empty()) {
    return;
  }
  Family(out, "hostsweep_device_up", "gauge",
         "1 for a device present, 0 for one away (those missing, and those that left "
         "within a day).");
  for (const auto& [id, each] : series) {
    out << "hostsweep_device_up{" << IdentityLabels(*each.device) << "} " << (each.up ? 1 : 0)
        << '\n';
  }
  Family(out, "hostsweep_device_info", "gauge",
         "Always 1: what each device of hostsweep_device_up was last seen as.");
  for (const auto& [id, each] : series) {
    out << "hostsweep_device_info{" << InfoLabels(*each.device) << "} 1\n";
  }
}

void DeviceCounts(std::ostream& out, const std::vector<DeviceStatus>& devices) {
  const auto present = std::ranges::count_if(devices, &DeviceStatus::present);
  const auto missing = std::ranges::count_if(
      devices, [](const DeviceStatus& device) { return !device.present && device.missing; });
  const auto away = static_cast<std::ptrdiff_t>(devices.size()) - present - missing;
  Family(out, "hostsweep_devices", "gauge",
         "Devices the state database holds: present, away, or missing (away and expected "
         "always by the inventory).");
  out << "hostsweep_devices{state=\"present\"} " << present << '\n'
      << "hostsweep_devices{state=\"away\"} " << away << '\n'
      << "hostsweep_devices{state=\"missing\"} " << missing << '\n';
}

std::string Seconds(std::chrono::milliseconds duration) {
  const auto millis = duration.count();
  const auto fraction = std::to_string(1000 + millis % 1000);
  return std::to_string(millis / 1000) + "." + fraction.substr(1);
}

void Sinks(std::ostream& out, const std::vector<SinkStatus>& sinks) {
  if (sinks.empty()) {
    return;
  }
  Family(out, "hostsweep_sink_queued_events", "gauge",
         "Events waiting in each sink's queue for its receiver.");
  for (const auto& sink : sinks) {
    out << "hostsweep_sink_queued_events{sink=\"" << LabelValue(sink.name) << "\"} " << sink.queued
        << '\n';
  }
  Family(out, "hostsweep_sink_dropped_events_total", "counter",
         "Events dropped, oldest first, from each sink's full queue.");
  for (const auto& sink : sinks) {
    out << "hostsweep_sink_dropped_events_total{sink=\"" << LabelValue(sink.name) << "\"} "
        << sink.dropped << '\n';
  }
}

}  // namespace

std::string MetricsText(const SweepReport& report) {
  std::ostringstream out;
  DeviceFamilies(out, report);
  DeviceCounts(out, report.devices);
  Family(out, "hostsweep_sweep_duration_seconds", "gauge", "How long the last sweep took.");
  out << "hostsweep_sweep_duration_seconds " << Seconds(report.duration) << '\n';
  Family(out, "hostsweep_last_sweep_timestamp_seconds", "gauge",
         "When the last sweep ended, in seconds since the epoch.");
  out << "hostsweep_last_sweep_timestamp_seconds " << report.time << '\n';
  Family(out, "hostsweep_addresses_swept", "gauge", "Addresses the last sweep swept.");
  out << "hostsweep_addresses_swept " << report.swept << '\n';
  // Every kind, told or not yet: a counter that appears only at its first
  // event hides that first increase from rate().
  Family(out, "hostsweep_events_total", "counter", "Events told since hostsweep started, by kind.");
  for (const auto& [kind, text] : kChangeTexts) {
    const auto told = report.eventsTold.find(kind);
    out << "hostsweep_events_total{kind=\"" << text << "\"} "
        << (told == report.eventsTold.end() ? 0 : told->second) << '\n';
  }
  Sinks(out, report.sinks);
  const auto addressConflicts = std::ranges::count_if(
      report.conflicts, [](const LinkConflict& conflict) { return conflict.address.has_value(); });
  Family(out, "hostsweep_link_conflicts", "gauge",
         "Conflicts open on the link, heard by the last sweep or between it and the one before: "
         "addresses that answered from two MACs, MACs that answered for more addresses than a "
         "host holds. hostsweep_events_total{kind=\"conflict\"} counts those started.");
  out << "hostsweep_link_conflicts{kind=\"address\"} " << addressConflicts << '\n'
      << "hostsweep_link_conflicts{kind=\"shared-mac\"} "
      << static_cast<std::ptrdiff_t>(report.conflicts.size()) - addressConflicts << '\n';
  return out.str();
}

}  // namespace hostsweep::controller
