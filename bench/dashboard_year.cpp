// The dashboard's API on a large database: 10 000 devices and a year of
// their comings and goings, written straight into a state database (the
// recorder would take hours for as many sweeps). Times, in milliseconds,
// the median of a few runs of what the page asks for: the device list
// (/api/devices) and one busy device with its sessions, which the page
// draws its 30-day timeline from (/api/devices/ID).
//
//   dashboard_year [--devices N] [--days D] [--dir FOLDER] [--keep 1]
//
// --keep 1 leaves FOLDER/dashboard_year.db for a dashboard to serve (the
// page's own timing in a browser, in the lab).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "controller/state/database.h"
#include "controller/web/dashboard_api.h"

namespace {

using namespace hostsweep::controller;
namespace fs = std::filesystem;

constexpr std::int64_t kYearStart = 1'767'225'600;  // 2026-01-01 00:00 UTC
constexpr std::int64_t kDay = 86'400;
constexpr int kRuns = 5;

std::string AddressOf(int device) {
  return "10.0." + std::to_string(device / 256) + "." + std::to_string(device % 256);
}

std::string MacOf(int device) {
  constexpr std::string_view kHex = "0123456789abcdef";
  std::string mac = "02:1a:00:00";
  for (const int shift : {8, 0}) {
    const auto byte = static_cast<unsigned>(device >> shift) & 0xFFU;
    mac += ':';
    mac += kHex[byte >> 4U];
    mac += kHex[byte & 0xFU];
  }
  return mac;
}

// Every third device a phone: away each night, a session and a "gone" and
// "back" event a day; the others present all year.
void Fill(Database& database, int devices, int days) {
  const std::int64_t end = kYearStart + days * kDay;
  Transaction transaction(database);
  database.Execute(
      "INSERT INTO sweeps (id, time, last, count, swept, ipv6, found, changes) "
      "VALUES (1, " +
      std::to_string(kYearStart) + ", " + std::to_string(end) + ", 1, 65536, 0, 0, 0)");
  auto device = database.Prepare(
      "INSERT INTO devices (id, address, name, mac, mac_source, vendor, present, missed, "
      "first_seen, last_seen, type, model) VALUES (?1, ?2, ?3, ?4, 'arp', 'Maker', 1, 0, ?5, ?6, "
      "?7, '')");
  auto session =
      database.Prepare("INSERT INTO sessions (device, began, ended) VALUES (?1, ?2, ?3)");
  auto event = database.Prepare(
      "INSERT INTO events (sweep, time, device, change, address, name, mac, vendor, previous, "
      "first_seen, last_seen) VALUES (1, ?1, ?2, ?3, ?4, ?5, ?6, 'Maker', '', ?7, ?1)");
  const auto told = [&](std::int64_t time, int id, std::string_view change) {
    event->Bind(1, time).Bind(2, std::int64_t{id}).Bind(3, change).Bind(4, AddressOf(id));
    event->Bind(5, "device-" + std::to_string(id)).Bind(6, MacOf(id)).Bind(7, kYearStart);
    event->Run();
    event->Reset();
  };
  for (int id = 1; id <= devices; ++id) {
    const bool phone = id % 3 == 0;
    device->Bind(1, std::int64_t{id})
        .Bind(2, AddressOf(id))
        .Bind(3, "device-" + std::to_string(id));
    device->Bind(4, MacOf(id)).Bind(5, kYearStart).Bind(6, end);
    device->Bind(7, phone ? "phone" : "computer");
    device->Run();
    device->Reset();
    told(kYearStart, id, "new");
    for (int day = 0; day < (phone ? days : 1); ++day) {
      const std::int64_t morning = kYearStart + day * kDay + (phone ? 7 * 3600 : 0);
      const bool last = day + 1 == (phone ? days : 1);
      session->Bind(1, std::int64_t{id}).Bind(2, morning);
      if (last) {
        session->BindTextOrNull(3, "");
      } else {
        session->Bind(3, morning + 16 * 3600);
      }
      session->Run();
      session->Reset();
      if (!last) {
        told(morning + 16 * 3600, id, "gone");
        told(morning + kDay, id, "back");
      }
    }
  }
  transaction.Commit();
}

template <typename Work>
double MedianMs(const Work& work) {
  std::vector<double> times;
  for (int run = 0; run < kRuns; ++run) {
    const auto began = std::chrono::steady_clock::now();
    work();
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began)
            .count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int devices = 10'000;
  int days = 365;
  fs::path dir = fs::temp_directory_path();
  bool keep = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view option = argv[i];
    if (option == "--devices") {
      devices = std::stoi(argv[i + 1]);
    } else if (option == "--days") {
      days = std::stoi(argv[i + 1]);
    } else if (option == "--dir") {
      dir = argv[i + 1];
    } else if (option == "--keep") {
      keep = std::string_view(argv[i + 1]) == "1";
    }
  }
  const fs::path file = dir / "dashboard_year.db";
  fs::remove(file);
  {
    Database database(file, StateAccess::kWrite);
    Fill(database, devices, days);
  }
  {
    Database database(file, StateAccess::kRead);
    std::size_t listed = 0;
    const double list = MedianMs([&] { listed = DevicesJson(database, nullptr).size(); });
    std::size_t shown = 0;
    const double one = MedianMs([&] { shown = DeviceJson(database, 3, nullptr)->size(); });
    const auto events = database.Prepare("SELECT count(*) FROM events");
    events->Step();
    std::cout << "dashboard_year: " << devices << " devices, " << days << " days, "
              << events->Integer(0) << " events, " << fs::file_size(file) / (1024 * 1024)
              << " MiB\n"
              << "  /api/devices: " << list << " ms (" << listed / 1024 << " KiB)\n"
              << "  /api/devices/3 (a phone, its sessions for the timeline): " << one << " ms ("
              << shown / 1024 << " KiB)\n";
  }
  for (const char* suffix : {"", "-wal", "-shm"}) {
    if (!keep) {
      fs::remove(file.string() + suffix);
    }
  }
  return 0;
}
