// ISC dhcpd's dhcpd.leases: blocks, one statement a line, as dhcpd writes
// them. The file is a journal: a lease is written again each time it
// changes, so the last block of an address holds. Only the "lease ADDRESS"
// blocks are read; others (hosts, failover peers, IPv6 "ia-na") are passed
// over whole.
#include <charconv>
#include <chrono>

#include "controller/base/printable.h"
#include "controller/leases/lease_formats.h"

namespace hostsweep::controller::lease_formats {
namespace {

// dhcpd nests no deeper than an IPv6 address inside its identity association.
constexpr std::size_t kDeepestBlock = 4;

// The line without its comment: a '#' outside a quoted string on.
std::string_view WithoutComment(std::string_view line) {
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (quoted && line[i] == '\\') {
      ++i;
    } else if (line[i] == '"') {
      quoted = !quoted;
    } else if (!quoted && line[i] == '#') {
      return line.substr(0, i);
    }
  }
  return line;
}

std::string_view Trimmed(std::string_view text) {
  constexpr std::string_view kBlanks = " \t";
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// "2026/12/09" or "22:00:00": three numbers between `separator`s.
bool ThreeNumbers(std::string_view text, char separator, std::array<int, 3>& numbers) {
  const char* at = text.data();
  const char* end = text.data() + text.size();
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    if (i > 0) {
      if (at == end || *at != separator) {
        return false;
      }
      ++at;
    }
    const auto [rest, error] = std::from_chars(at, end, numbers.at(i));
    if (error != std::errc{}) {
      return false;
    }
    at = rest;
  }
  return at == end;
}

// "4 2026/12/09 22:00:00" (UTC; the weekday is not needed), "epoch
// 1765324800" (db-time-format local) or "never".
std::optional<std::int64_t> TimeOf(const std::vector<std::string_view>& words, std::size_t index) {
  if (words.size() == 2 && words[1] == "never") {
    return std::nullopt;
  }
  if (words.size() == 3 && words[1] == "epoch") {
    if (const auto seconds = WholeNumber(words[2])) {
      return seconds;
    }
  }
  constexpr int kLastHour = 23;
  constexpr int kLastMinute = 59;
  constexpr int kLastSecond = 60;  // a leap second
  std::array<int, 3> date{};
  std::array<int, 3> time{};
  if (words.size() == 4 && ThreeNumbers(words[2], '/', date) && ThreeNumbers(words[3], ':', time) &&
      time[0] >= 0 && time[0] <= kLastHour && time[1] >= 0 && time[1] <= kLastMinute &&
      time[2] >= 0 && time[2] <= kLastSecond) {
    const std::chrono::year_month_day day{std::chrono::year(date[0]),
                                          std::chrono::month(static_cast<unsigned>(date[1])),
                                          std::chrono::day(static_cast<unsigned>(date[2]))};
    if (day.ok()) {
      return std::chrono::sys_days(day).time_since_epoch() / std::chrono::seconds(1) +
             ((time[0] * 60 + time[1]) * 60 + time[2]);
    }
  }
  throw LeaseFileError(index + 1,
                       "bad time \"" + Excerpt(words.size() > 1 ? words[1] : "") + "...\"");
}

// One statement of a lease block, its ';' taken off.
void ReadStatement(Lease& lease, std::string_view statement, std::size_t index) {
  const auto words = Words(statement);
  if (words.empty()) {
    return;
  }
  if (words.front() == "ends") {
    lease.ends = TimeOf(words, index);
  } else if (words.front() == "binding" && words.size() == 3 && words[1] == "state") {
    lease.bound = words[2] == "active" || words[2] == "bootp";
  } else if (words.front() == "hardware" && words.size() == 3 && words[1] == "ethernet") {
    lease.mac = LeaseMac(words[2], index);
  } else if (words.front() == "client-hostname" && words.size() == 2 && words[1].size() >= 2 &&
             words[1].starts_with('"') && words[1].ends_with('"')) {
    lease.hostName = HostNameOf(words[1].substr(1, words[1].size() - 2));
  }
}

}  // namespace

std::vector<Lease> ReadIsc(const Lines& lines) {
  std::vector<Lease> leases;
  std::optional<Lease> lease;  // inside a lease block
  std::size_t depth = 0;
  std::size_t openedOn = 0;
  for (std::size_t index = 0; index < lines.size(); ++index) {
    std::string_view line = Trimmed(WithoutComment(lines[index]));
    if (line.empty()) {
      continue;
    }
    if (line == "}") {
      if (depth == 0) {
        throw LeaseFileError(index + 1, "a '}' that ends no block");
      }
      if (--depth == 0 && lease) {
        leases.push_back(*lease);
        lease.reset();
      }
    } else if (line.ends_with('{')) {
      if (depth == kDeepestBlock) {
        throw LeaseFileError(index + 1, "blocks nested too deep");
      }
      const auto words = Words(line);
      if (depth++ == 0) {
        openedOn = index;
        if (words.front() == "lease") {
          if (words.size() != 3) {
            throw LeaseFileError(index + 1, "a lease block without one address");
          }
          lease = Lease{.address = LeaseAddress(words[1], index)};
        }
      }
    } else if (!line.ends_with(';')) {
      throw LeaseFileError(index + 1, "neither a statement nor a block");
    } else if (lease && depth == 1) {
      line.remove_suffix(1);
      ReadStatement(*lease, line, index);
    }
  }
  if (depth > 0) {
    throw LeaseFileError(openedOn + 1, "a block that never ends: the file was cut short");
  }
  return leases;
}

}  // namespace hostsweep::controller::lease_formats
