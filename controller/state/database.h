// The state database (--state): an SQLite file, checked to be ours and of a
// format this hostsweep reads, written by one process at a time. Data only
// ever reaches SQL as bound parameters.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "controller/system/file_lock.h"

struct sqlite3;
struct sqlite3_stmt;

namespace hostsweep::controller {

class Statement {
 public:
  Statement(sqlite3* database, std::string_view sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement(Statement&&) = delete;
  Statement& operator=(Statement&&) = delete;

  // Parameters count from 1.
  Statement& Bind(int index, std::int64_t value);
  Statement& Bind(int index, std::string_view text);
  // An empty text as NULL.
  Statement& BindTextOrNull(int index, std::string_view text);
  // True with a row to read, false at the end.
  bool Step();
  // Steps to the end, then readies the statement for new parameters.
  void Run();
  void Reset();
  [[nodiscard]] std::int64_t Integer(int column) const;
  [[nodiscard]] std::string Text(int column) const;  // empty for NULL
  [[nodiscard]] bool IsNull(int column) const;

 private:
  sqlite3* database_;
  sqlite3_stmt* statement_ = nullptr;
};

enum class StateAccess {
  kWrite,  // created if missing, locked for the object's life, written at once
  kRead,   // as it is, beside a watch that writes it
};

class Database {
 public:
  // Throws EarlierResultsError (exit 5) for a file that is not ours, of a
  // newer format, or (kWrite) in use by another hostsweep; SystemError
  // (exit 4) where the system will not let it be opened or written.
  Database(std::filesystem::path path, StateAccess access);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;
  Database(Database&&) = delete;
  Database& operator=(Database&&) = delete;

  // SQL without data in it.
  void Execute(std::string_view sql);
  [[nodiscard]] std::unique_ptr<Statement> Prepare(std::string_view sql);
  [[nodiscard]] const std::filesystem::path& Path() const { return path_; }
  // Its PRAGMA user_version: kStateDatabaseFormat once opened to write; a
  // reader reads older files as they are.
  [[nodiscard]] std::int64_t Format() const { return format_; }

 private:
  void Open(StateAccess access);
  void CheckOurs(StateAccess access);

  std::filesystem::path path_;
  // Declared before the connection, so released after it: closing any
  // descriptor of the file would drop SQLite's own locks.
  std::unique_ptr<FileLock> lock_;
  sqlite3* database_ = nullptr;
  std::int64_t format_ = 0;
};

// Throws EarlierResultsError unless `path` is a regular file (or a symlink
// to one) or nothing at all: a FIFO or a device would hang or mislead
// SQLite.
void CheckStateFile(const std::filesystem::path& path);

// BEGIN IMMEDIATE; rolled back unless committed.
class Transaction {
 public:
  explicit Transaction(Database& database);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  Transaction(Transaction&&) = delete;
  Transaction& operator=(Transaction&&) = delete;
  void Commit();

 private:
  Database& database_;
  bool open_ = true;
};

}  // namespace hostsweep::controller
