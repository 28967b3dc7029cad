#pragma once
// A thin owner of one SQLite connection: prepared statements, a statement cache and
// transactions. One connection is used by one thread at a time; nothing here locks.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"

struct sqlite3;
struct sqlite3_stmt;

namespace ostrel_core::persist::sqlite {

// One failed SQLite call: the library's result code and its sentence.
class SqliteError {
 public:
  SqliteError(int code, std::string text) : code_(code), text_(std::move(text)) {}
  // The primary result code (SQLITE_BUSY, SQLITE_CONSTRAINT, ...).
  int code() const { return code_ & 0xFF; }
  int extended_code() const { return code_; }
  const std::string& text() const { return text_; }
  // "UNIQUE constraint failed: id_map.numeric_id (code 2067)".
  std::string message() const;
  const ErrorSource* source() const { return nullptr; }

 private:
  int code_;
  std::string text_;
};

template <class T>
using Result = std::expected<T, SqliteError>;

class Connection;

// A prepared statement. An owned one is finalized when dropped; one lent by the statement cache
// is reset and its bindings cleared instead, ready for the next borrower.
class Statement {
 public:
  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement();

  // Parameters are numbered from 1 (?1, ?2, ...).
  Result<void> bind_i64(int index, std::int64_t v);
  Result<void> bind_blob(int index, std::span<const std::uint8_t> v);
  Result<void> bind_text(int index, std::string_view v);
  Result<void> bind_null(int index);

  // True when a row is ready, false when the statement is done.
  Result<bool> step();
  // Steps to completion, ignoring rows.
  Result<void> run();
  // Makes the statement ready to run again with new bindings.
  void reset();

  // Column accessors for the current row; columns are numbered from 0.
  bool column_is_null(int col) const;
  std::int64_t column_i64(int col) const;
  // Valid until the next step, reset or column call on this statement.
  std::span<const std::uint8_t> column_blob(int col) const;
  std::string_view column_text(int col) const;

 private:
  friend class Connection;
  Statement(sqlite3_stmt* stmt, sqlite3* db, bool owned) : stmt_(stmt), db_(db), owned_(owned) {}
  SqliteError last_error(int rc) const;
  void release();

  sqlite3_stmt* stmt_;  // null after a move
  sqlite3* db_;
  bool owned_;  // finalized on release when true; reset when lent by the cache
};

class Connection {
 public:
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  Connection(Connection&& other) noexcept;
  Connection& operator=(Connection&& other) noexcept;
  ~Connection();

  // Read-write, created when absent, URI names allowed, no connection mutex.
  [[nodiscard]] static Result<Connection> open(const std::filesystem::path& path);
  // Read-write but never created: a missing file is an error.
  [[nodiscard]] static Result<Connection> open_existing(const std::filesystem::path& path);
  // Reads an existing database without changing any of its files: no checkpoint, no recovery
  // written back, the shared-memory index (-shm) opened read-only. (A -wal left without its
  // -shm is still read; SQLite then creates a -shm beside it.)
  [[nodiscard]] static Result<Connection> open_read_only(const std::filesystem::path& path);

  // Runs one or more statements separated by semicolons.
  Result<void> exec(std::string_view sql);
  // A statement prepared for this call only.
  Result<Statement> prepare(std::string_view sql);
  // A statement from the cache, prepared on first use. Two borrows of the same text must not
  // overlap.
  Result<Statement> cached(std::string_view sql);

  // Rows changed by the last INSERT, UPDATE or DELETE.
  std::int64_t changes() const;
  // False in autocommit mode.
  bool in_transaction() const;
  // The library handle, for tests that install hooks (e.g. counting commits).
  sqlite3* handle() const { return db_; }

  // "BEGIN DEFERRED" / "COMMIT" / "ROLLBACK". Rollback is best effort: it is used on a path
  // that already has an error to report, and does nothing outside a transaction.
  Result<void> begin();
  Result<void> commit();
  void rollback();

 private:
  explicit Connection(sqlite3* db) : db_(db) {}
  static Result<Connection> open_with(const std::filesystem::path& path, int flags);
  void close();

  sqlite3* db_ = nullptr;
  std::map<std::string, sqlite3_stmt*, std::less<>> cache_;  // finalized on close
};

}  // namespace ostrel_core::persist::sqlite
