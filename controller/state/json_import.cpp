#include "controller/state/json_import.h"

#include <array>
#include <fstream>

#include "controller/base/errors.h"
#include "controller/history/earlier_results.h"
#include "controller/state/database.h"
#include "controller/state/state_tables.h"

namespace hostsweep::controller {
namespace {

// A JSON document starts with '{' after any blanks; a database with
// "SQLite format 3"; an empty file is a database not yet written.
bool HoldsJson(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  constexpr std::size_t kLookAhead = 64;
  std::array<char, kLookAhead> start{};
  file.read(start.data(), start.size());
  const std::string_view head(start.data(), static_cast<std::size_t>(file.gcount()));
  const std::size_t first = head.find_first_not_of(" \t\r\n");
  return first != std::string_view::npos && head[first] == '{';
}

std::filesystem::path Beside(const std::filesystem::path& path, const char* suffix) {
  std::filesystem::path beside = path;
  beside += suffix;
  return beside;
}

void RemoveDatabase(const std::filesystem::path& path) {
  std::error_code ignored;
  for (const char* suffix : {"", "-wal", "-shm"}) {
    std::filesystem::remove(Beside(path, suffix), ignored);
  }
}

void WriteDatabase(const std::filesystem::path& path, std::vector<KnownHost> hosts,
                   const VendorOf& vendorOf) {
  Database database(path, StateAccess::kWrite);
  StateTables tables(database, vendorOf);
  Transaction transaction(database);
  // The file kept no sessions: each host gets one, from its first sighting
  // to its last (open while present).
  std::int64_t record = 0;
  for (KnownHost& known : hosts) {
    known.record = ++record;
    tables.InsertDevice(known);
    tables.SeeValues(known, known.firstSeen, known.lastSeen);
    tables.OpenSession(known.record, known.firstSeen);
    if (!known.present) {
      tables.CloseSession(known.record, known.lastSeen);
    }
  }
  transaction.Commit();
}

}  // namespace

bool ImportJsonState(const std::filesystem::path& path, const VendorOf& vendorOf) {
  if (!HoldsJson(path)) {
    return false;
  }
  auto hosts = ReadState(path);
  if (!hosts) {
    return false;  // gone meanwhile
  }
  const std::filesystem::path fresh = Beside(path, ".importing");
  RemoveDatabase(fresh);  // what a crash mid-import left
  WriteDatabase(fresh, std::move(*hosts), vendorOf);
  std::error_code error;
  std::filesystem::copy_file(path, Beside(path, ".json-old"),
                             std::filesystem::copy_options::overwrite_existing, error);
  if (!error) {
    std::filesystem::rename(fresh, path, error);
  }
  if (error) {
    RemoveDatabase(fresh);
    throw SystemError(path.string() + ": cannot carry the JSON state over: " + error.message());
  }
  return true;
}

}  // namespace hostsweep::controller
