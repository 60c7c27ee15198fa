#include "controller/app/event_receivers.h"

#include <utility>

#include "controller/history/missing_devices.h"
#include "controller/notify/command_sink.h"
#include "controller/notify/metrics.h"
#include "controller/notify/mqtt_sink.h"
#include "controller/notify/secret_option.h"
#include "controller/notify/webhook_sink.h"

namespace hostsweep::controller {

std::vector<std::string> Receivers::QueueNames() const {
  std::vector<std::string> names;
  for (const auto& sink : sinks) {
    names.emplace_back(sink->Name());
  }
  return names;
}

std::vector<EventSink*> Receivers::Sinks() const {
  std::vector<EventSink*> all;
  for (const auto& sink : sinks) {
    all.push_back(sink.get());
  }
  return all;
}

Receivers MakeReceivers(const Options& options) {
  Receivers receivers;
  if (!options.onEvent.empty()) {
    receivers.sinks.push_back(MakeCommandSink(options.onEvent));
  }
  if (!options.webhook.empty()) {
    const auto format = options.webhookText ? WebhookFormat::kText : WebhookFormat::kJson;
    receivers.sinks.push_back(MakeFromSecretOption(
        "--webhook", options.webhook,
        [format](const std::string& url) { return MakeWebhookSink(url, format); }));
  }
  if (!options.mqtt.empty()) {
    const std::string& stateFile = options.stateFile;
    std::unique_ptr<MqttSink> mqtt = MakeFromSecretOption(
        "--mqtt", options.mqtt,
        [&stateFile](const std::string& url) { return MakeMqttSink(url, stateFile); });
    receivers.observers.push_back(mqtt.get());
    receivers.sinks.push_back(std::move(mqtt));
  }
  if (!options.metricsFile.empty()) {
    receivers.observersOnly.push_back(MakeMetricsFile(options.metricsFile));
  }
  // On --web's own address, /metrics is a path of the dashboard instead.
  if (!options.metricsListen.empty() && options.metricsListen != options.web) {
    receivers.observersOnly.push_back(MakeMetricsListener(options.metricsListen));
  }
  for (const auto& observer : receivers.observersOnly) {
    receivers.observers.push_back(observer.get());
  }
  return receivers;
}

std::vector<DeviceStatus> DeviceStatuses(const std::vector<KnownHost>& known,
                                         const Inventory* inventory, const VendorOf& vendorOf) {
  std::vector<DeviceStatus> devices;
  devices.reserve(known.size());
  for (const KnownHost& host : known) {
    const KnownFacts facts = FactsOf(inventory, host.host);
    devices.push_back({.id = host.record,
                       .host = host.host,
                       .vendor = host.host.mac ? vendorOf(*host.host.mac) : std::string{},
                       .known = facts,
                       .present = host.present,
                       .missing = facts.expect == Expect::kAlways && !host.present,
                       .firstSeen = host.firstSeen,
                       .lastSeen = host.lastSeen});
  }
  return devices;
}

}  // namespace hostsweep::controller
