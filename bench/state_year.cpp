// A year of a watch's sweeps, one a simulated minute, recorded in a state
// database by the controller's own Recorder on a virtual clock: the file's
// size at the end, the rows each table holds, and the database work of a
// sweep (the wall time of Record) over the last sweeps.
//
//   state_year [--devices N] [--days D] [--dir FOLDER] [--final-dir FOLDER]
//
// All but the last 1000 sweeps run in FOLDER (a tmpfs such as /dev/shm makes
// a year take minutes: an fsync costs nothing there); the file is then
// copied to FINAL-DIR (default FOLDER) and the last 1000 sweeps are timed
// there, on a disk with its fsync when FINAL-DIR is on one.
//
// The network: most devices always on; 30 % phones, away every night from
// between 22:00 and 01:00 until between 06:30 and 08:30 and missing a sweep
// now and then (a dozing radio), half of them with a locally administered
// MAC re-randomised weekly; 5 % given another address every third day.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "controller/state/recorder.h"

namespace {

using namespace hostsweep::controller;
namespace fs = std::filesystem;

constexpr std::int64_t kYearStart = 1'767'225'600;  // 2026-01-01 00:00 UTC
constexpr std::int64_t kMinutesADay = 1440;
constexpr std::int64_t kMinutesAWeek = 7 * kMinutesADay;
constexpr int kTimedSweeps = 1000;
constexpr Address kNetwork = 0x0A000000U;  // 10.0.0.0
constexpr int kGoneAfter = 3;              // the watch's default

std::uint64_t Mix(std::uint64_t value) {  // splitmix64's finaliser
  value += 0x9E3779B97F4A7C15ULL;
  value = (value ^ (value >> 30U)) * 0xBF58476D1CE4E5B9ULL;
  value = (value ^ (value >> 27U)) * 0x94D049BB133111EBULL;
  return value ^ (value >> 31U);
}

std::uint64_t Draw(int device, std::int64_t when, std::uint64_t what) {
  return Mix(Mix(static_cast<std::uint64_t>(device)) ^ Mix(static_cast<std::uint64_t>(when)) ^
             what);
}

MacAddress MacOf(std::uint8_t first, std::uint64_t bits) {
  return {first,
          0x1A,
          static_cast<std::uint8_t>(bits >> 24U),
          static_cast<std::uint8_t>(bits >> 16U),
          static_cast<std::uint8_t>(bits >> 8U),
          static_cast<std::uint8_t>(bits)};
}

enum class Kind { kFixed, kPhone, kRandomisedPhone, kMover };

Kind KindOf(int device) {
  switch (device % 20) {
    case 0:
    case 1:
    case 2:
      return Kind::kPhone;
    case 3:
    case 4:
    case 5:
      return Kind::kRandomisedPhone;
    case 6:
      return Kind::kMover;
    default:
      return Kind::kFixed;
  }
}

class Network {
 public:
  explicit Network(int devices) : devices_(devices), pool_(std::max(devices / 10, 20)) {
    const int addresses = std::max(254, devices + pool_);
    for (int last = 1; last <= addresses; ++last) {
      swept_.push_back(kNetwork + static_cast<Address>(last));
    }
  }
  [[nodiscard]] const std::vector<Address>& Swept() const { return swept_; }

  [[nodiscard]] std::vector<SeenHost> Found(std::int64_t minute) const {
    std::vector<SeenHost> found;
    for (int device = 0; device < devices_; ++device) {
      if (const auto host = Seen(device, minute)) {
        found.push_back(*host);
      }
    }
    return found;
  }

 private:
  [[nodiscard]] std::optional<SeenHost> Seen(int device, std::int64_t minute) const {
    const Kind kind = KindOf(device);
    const bool phone = kind == Kind::kPhone || kind == Kind::kRandomisedPhone;
    constexpr std::uint64_t kDozes = 1;
    if (phone && (AwayAtNight(device, minute) || Draw(device, minute, kDozes) % 500 == 0)) {
      return std::nullopt;
    }
    SeenHost host{.address = kNetwork + 1 + static_cast<Address>(device),
                  .name = (phone ? "phone-" : "host-") + std::to_string(device),
                  .mac = MacOf(0x00, static_cast<std::uint64_t>(device)),
                  .macSource = MacSource::kArp};
    if (kind == Kind::kRandomisedPhone) {
      constexpr std::uint64_t kMacs = 2;
      const auto offset = static_cast<std::int64_t>(Draw(device, 0, kMacs) %
                                                    static_cast<std::uint64_t>(kMinutesAWeek));
      const std::int64_t week = (minute + offset) / kMinutesAWeek;
      host.mac = MacOf(0x02, Draw(device, week, kMacs));
    } else if (kind == Kind::kMover) {
      constexpr std::uint64_t kLeases = 3;
      const std::int64_t lease = minute / (3 * kMinutesADay);
      host.address = kNetwork + 1 + static_cast<Address>(devices_) +
                     static_cast<Address>(Draw(device, lease, kLeases) % pool_);
    }
    return host;
  }

  // Away from the evening of day n to the morning of day n + 1.
  static bool AwayAtNight(int device, std::int64_t minute) {
    constexpr std::uint64_t kLeaves = 4;
    constexpr std::uint64_t kReturns = 5;
    constexpr std::int64_t kEarliestLeaving = std::int64_t{22} * 60;     // 22:00
    constexpr std::int64_t kEarliestReturn = std::int64_t{6} * 60 + 30;  // 06:30
    const std::int64_t today = minute / kMinutesADay;
    for (const std::int64_t night : {today - 1, today}) {
      const std::int64_t leaves = night * kMinutesADay + kEarliestLeaving +
                                  static_cast<std::int64_t>(Draw(device, night, kLeaves) % 180);
      const std::int64_t returns = (night + 1) * kMinutesADay + kEarliestReturn +
                                   static_cast<std::int64_t>(Draw(device, night, kReturns) % 120);
      if (minute >= leaves && minute < returns) {
        return true;
      }
    }
    return false;
  }

  int devices_;
  int pool_;  // the movers' addresses, after the devices' own
  std::vector<Address> swept_;
};

struct Settings {
  int devices = 100;
  int days = 365;
  fs::path folder = fs::temp_directory_path();
  fs::path finalFolder;
};

Settings SettingsOf(int argc, char** argv) {
  Settings settings;
  for (int index = 1; index + 1 < argc; index += 2) {
    const std::string_view option = argv[index];
    const char* value = argv[index + 1];
    if (option == "--devices") {
      settings.devices = std::stoi(value);
    } else if (option == "--days") {
      settings.days = std::stoi(value);
    } else if (option == "--dir") {
      settings.folder = value;
    } else if (option == "--final-dir") {
      settings.finalFolder = value;
    } else {
      throw std::invalid_argument("unknown option " + std::string(option));
    }
  }
  if (settings.finalFolder.empty()) {
    settings.finalFolder = settings.folder;
  }
  return settings;
}

// Records the sweeps of minutes [first, last) in `file`; returns Record's
// wall time of each, in milliseconds.
std::vector<double> RecordMinutes(const Network& network, const fs::path& file, std::int64_t first,
                                  std::int64_t last) {
  Database database(file, StateAccess::kWrite);
  Recorder recorder(database, kGoneAfter, [](const MacAddress&) { return std::string("Maker"); });
  std::vector<double> milliseconds;
  for (std::int64_t minute = first; minute < last; ++minute) {
    const std::vector<SeenHost> found = network.Found(minute);
    const auto start = std::chrono::steady_clock::now();
    recorder.Record(found, network.Swept(), false, kYearStart + minute * 60);
    milliseconds.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    if ((minute + 1) % (30 * kMinutesADay) == 0) {
      std::cerr << "state_year: day " << (minute + 1) / kMinutesADay << "\n";
    }
  }
  return milliseconds;
}

void PrintTables(const fs::path& file) {
  Database database(file, StateAccess::kWrite);
  database.Execute("PRAGMA wal_checkpoint(TRUNCATE)");
  fs::path wal = file;
  wal += "-wal";
  std::cout << "file: " << fs::file_size(file) / 1024 << " KiB, -wal after a checkpoint: "
            << (fs::exists(wal) ? fs::file_size(wal) / 1024 : 0) << " KiB\n";
  for (const char* table : {"devices", "device_values", "sessions", "events", "sweeps"}) {
    const auto rows = database.Prepare(std::string("SELECT count(*) FROM ") + table);
    rows->Step();
    std::cout << "  " << table << ": " << rows->Integer(0) << " rows\n";
  }
}

void Run(const Settings& settings) {
  const Network network(settings.devices);
  const std::int64_t sweeps = std::int64_t{settings.days} * kMinutesADay;
  const std::int64_t untimed = std::max<std::int64_t>(0, sweeps - kTimedSweeps);
  const fs::path file = settings.folder / "state_year.db";
  const fs::path finalFile = settings.finalFolder / "state_year.db";
  for (const fs::path& stale : {file, finalFile}) {
    fs::remove(stale);
    fs::remove(fs::path(stale) += "-wal");
    fs::remove(fs::path(stale) += "-shm");
  }

  const auto start = std::chrono::steady_clock::now();
  RecordMinutes(network, file, 0, untimed);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (finalFile != file) {
    fs::copy_file(file, finalFile);
    fs::remove(file);
  }
  std::vector<double> timed = RecordMinutes(network, finalFile, untimed, sweeps);
  std::sort(timed.begin(), timed.end());

  std::cout << settings.devices << " devices, " << settings.days << " days, " << sweeps
            << " sweeps (" << static_cast<double>(untimed) / std::max(seconds, 1e-9)
            << " sweeps/s in " << settings.folder << ")\n";
  std::cout << "Record, last " << timed.size() << " sweeps in " << settings.finalFolder
            << ": median " << timed[timed.size() / 2] << " ms, p99 "
            << timed[timed.size() * 99 / 100] << " ms, max " << timed.back() << " ms\n";
  PrintTables(finalFile);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    Run(SettingsOf(argc, argv));
  } catch (const std::exception& error) {
    std::cerr << "state_year: " << error.what() << "\n";
    return 1;
  }
}
