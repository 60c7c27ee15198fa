#include "controller/state/database.h"

#include <sqlite3.h>

#include <limits>
#include <utility>

#include "controller/base/errors.h"
#include "controller/state/schema.h"

namespace hostsweep::controller {
namespace {

// A file that is not a database, or a damaged one, is the state file's fault
// (exit 5); the rest (no room, no right, an I/O error) the system's (exit 4).
[[noreturn]] void Fail(int code, const std::string& where, const std::string& what) {
  const std::string message = where + ": " + what;
  const int primary = code & 0xff;
  if (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT) {
    throw EarlierResultsError(message + " (a hostsweep state database expected)");
  }
  throw SystemError(message);
}

[[noreturn]] void Fail(sqlite3* database, int code, const std::string& where) {
  Fail(code, where, database != nullptr ? sqlite3_errmsg(database) : sqlite3_errstr(code));
}

int SizeOf(std::string_view text) {
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    throw SystemError("text too long for the state database");
  }
  return static_cast<int>(text.size());
}

}  // namespace

Statement::Statement(sqlite3* database, std::string_view sql) : database_(database) {
  const int code = sqlite3_prepare_v3(database, sql.data(), SizeOf(sql), SQLITE_PREPARE_PERSISTENT,
                                      &statement_, nullptr);
  if (code != SQLITE_OK) {
    Fail(database, code, sqlite3_db_filename(database, "main"));
  }
}

Statement::~Statement() { sqlite3_finalize(statement_); }

Statement& Statement::Bind(int index, std::int64_t value) {
  const int code = sqlite3_bind_int64(statement_, index, value);
  if (code != SQLITE_OK) {
    Fail(database_, code, sqlite3_db_filename(database_, "main"));
  }
  return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
  const int code =
      sqlite3_bind_text(statement_, index, text.data(), SizeOf(text), SQLITE_TRANSIENT);
  if (code != SQLITE_OK) {
    Fail(database_, code, sqlite3_db_filename(database_, "main"));
  }
  return *this;
}

Statement& Statement::BindTextOrNull(int index, std::string_view text) {
  if (!text.empty()) {
    return Bind(index, text);
  }
  const int code = sqlite3_bind_null(statement_, index);
  if (code != SQLITE_OK) {
    Fail(database_, code, sqlite3_db_filename(database_, "main"));
  }
  return *this;
}

bool Statement::Step() {
  const int code = sqlite3_step(statement_);
  if (code == SQLITE_ROW) {
    return true;
  }
  if (code != SQLITE_DONE) {
    // Ready for the next use, as after a clean run.
    const std::string what = sqlite3_errmsg(database_);
    Reset();
    Fail(code, sqlite3_db_filename(database_, "main"), what);
  }
  return false;
}

void Statement::Run() {
  while (Step()) {
  }
  Reset();
}

void Statement::Reset() {
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
}

std::int64_t Statement::Integer(int column) const {
  return sqlite3_column_int64(statement_, column);
}

std::string Statement::Text(int column) const {
  const auto* text = sqlite3_column_text(statement_, column);
  if (text == nullptr) {
    return {};
  }
  return {reinterpret_cast<const char*>(text),
          static_cast<std::size_t>(sqlite3_column_bytes(statement_, column))};
}

bool Statement::IsNull(int column) const {
  return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

Database::Database(std::filesystem::path path, StateAccess access) : path_(std::move(path)) {
  try {
    Open(access);
  } catch (...) {
    sqlite3_close(database_);
    throw;
  }
}

Database::~Database() { sqlite3_close(database_); }

void CheckStateFile(const std::filesystem::path& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    throw EarlierResultsError(path.string() + ": not a regular file");
  }
}

void Database::Open(StateAccess access) {
  CheckStateFile(path_);
  const bool write = access == StateAccess::kWrite;
  std::error_code error;
  if (!write && !std::filesystem::exists(path_, error)) {
    throw EarlierResultsError(path_.string() + ": no such file");
  }
  const int flags = write ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
  const int code = sqlite3_open_v2(path_.c_str(), &database_, flags, nullptr);
  if (code != SQLITE_OK) {
    Fail(database_, code, path_.string());
  }
  sqlite3_extended_result_codes(database_, 1);
  // A reader may find the watch mid-commit: it waits that out.
  constexpr int kBusyMilliseconds = 10'000;
  sqlite3_busy_timeout(database_, kBusyMilliseconds);
  if (write && sqlite3_db_readonly(database_, "main") == 1) {
    throw SystemError(path_.string() + ": read-only: the state cannot be kept there");
  }
  if (write) {
    lock_ = FileLock::TryLock(path_);
    if (!lock_) {
      throw EarlierResultsError(path_.string() +
                                ": in use by another hostsweep (a watch or a sweep with --state); "
                                "one at a time may keep its state there");
    }
  }
  CheckOurs(access);
}

void Database::CheckOurs(StateAccess access) {
  const auto number = [this](std::string_view sql) {
    const auto statement = Prepare(sql);
    return statement->Step() ? statement->Integer(0) : 0;
  };
  const std::int64_t id = number("PRAGMA application_id");
  const std::int64_t format = number("PRAGMA user_version");
  format_ = format;
  const bool empty = number("SELECT count(*) FROM sqlite_schema") == 0;
  if (!empty && id != kStateApplicationId) {
    throw EarlierResultsError(path_.string() +
                              ": an SQLite database, but not a hostsweep state database");
  }
  if (format > kStateDatabaseFormat) {
    throw EarlierResultsError(path_.string() + ": written by a newer hostsweep (state format " +
                              std::to_string(format) + "; this one reads " +
                              std::to_string(kStateDatabaseFormat) + ")");
  }
  if (access == StateAccess::kRead) {
    if (empty) {
      throw EarlierResultsError(path_.string() + ": empty: no hostsweep state in it");
    }
    return;
  }
  // A sweep is committed whole or not at all, and a commit is on disk before
  // the next sweep starts: a kill -9 or a power cut loses at most the sweep
  // under way. One fsync a sweep costs nothing beside the sweep.
  Execute("PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL");
  // Written at once, so that a disk with no room is found before any sweep.
  Transaction transaction(*this);
  if (empty) {
    Execute(kStateSchema);
    Execute("PRAGMA application_id = " + std::to_string(kStateApplicationId));
  }
  constexpr int kFirstWithSinkQueues = 2;
  if (empty || format < kFirstWithSinkQueues) {
    Execute(kSinkQueueSchema);
  }
  constexpr int kFirstWithEventsByDevice = 3;
  if (empty || format < kFirstWithEventsByDevice) {
    Execute(kEventsByDeviceSchema);
  }
  if (empty || format < kFirstFormatWithConflicts) {
    Execute(kConflictsSchema);
  }
  if (empty || format < kFirstFormatWithServices) {
    Execute(kServicesSchema);
  }
  Execute("PRAGMA user_version = " + std::to_string(kStateDatabaseFormat));
  transaction.Commit();
  format_ = kStateDatabaseFormat;
}

void Database::Execute(std::string_view sql) {
  const std::string text(sql);
  const int code = sqlite3_exec(database_, text.c_str(), nullptr, nullptr, nullptr);
  if (code != SQLITE_OK) {
    Fail(database_, code, path_.string());
  }
}

std::unique_ptr<Statement> Database::Prepare(std::string_view sql) {
  return std::make_unique<Statement>(database_, sql);
}

Transaction::Transaction(Database& database) : database_(database) {
  database_.Execute("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
  if (open_) {
    try {
      database_.Execute("ROLLBACK");
    } catch (const SystemError&) {
      // SQLite rolls back by itself what it could not commit.
    } catch (const EarlierResultsError&) {
    }
  }
}

void Transaction::Commit() {
  database_.Execute("COMMIT");
  open_ = false;
}

}  // namespace hostsweep::controller
