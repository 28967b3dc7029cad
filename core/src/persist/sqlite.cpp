#include "persist/sqlite.hpp"

#include <sqlite3.h>

#include <fmt/format.h>

namespace ostrel_core::persist::sqlite {

namespace {

SqliteError error_of(sqlite3* db, int rc) {
  if (db == nullptr) return SqliteError(rc, sqlite3_errstr(rc));
  return SqliteError(sqlite3_extended_errcode(db), sqlite3_errmsg(db));
}

}  // namespace

Result<Connection> Connection::open_with(const std::filesystem::path& path, int flags) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    SqliteError err = error_of(db, rc);
    sqlite3_close_v2(db);
    return std::unexpected(std::move(err));
  }
  sqlite3_extended_result_codes(db, 1);
  return Connection(db);
}

std::string SqliteError::message() const { return fmt::format("{} (code {})", text_, code_); }

// --- Statement ---------------------------------------------------------------------------------

Statement::Statement(Statement&& other) noexcept
    : stmt_(other.stmt_), db_(other.db_), owned_(other.owned_) {
  other.stmt_ = nullptr;
}

Statement& Statement::operator=(Statement&& other) noexcept {
  if (this != &other) {
    release();
    stmt_ = other.stmt_;
    db_ = other.db_;
    owned_ = other.owned_;
    other.stmt_ = nullptr;
  }
  return *this;
}

Statement::~Statement() { release(); }

void Statement::release() {
  if (stmt_ == nullptr) return;
  if (owned_) {
    sqlite3_finalize(stmt_);
  } else {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  stmt_ = nullptr;
}

SqliteError Statement::last_error(int rc) const { return error_of(db_, rc); }

Result<void> Statement::bind_i64(int index, std::int64_t v) {
  int rc = sqlite3_bind_int64(stmt_, index, v);
  if (rc != SQLITE_OK) return std::unexpected(last_error(rc));
  return {};
}

Result<void> Statement::bind_blob(int index, std::span<const std::uint8_t> v) {
  // A zero-length blob must still bind as a blob, not NULL: give SQLite a valid pointer.
  static constexpr std::uint8_t kEmpty = 0;
  const void* p = v.empty() ? &kEmpty : v.data();
  int rc = sqlite3_bind_blob64(stmt_, index, p, v.size(), SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) return std::unexpected(last_error(rc));
  return {};
}

Result<void> Statement::bind_text(int index, std::string_view v) {
  int rc = sqlite3_bind_text64(stmt_, index, v.data(), v.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  if (rc != SQLITE_OK) return std::unexpected(last_error(rc));
  return {};
}

Result<void> Statement::bind_null(int index) {
  int rc = sqlite3_bind_null(stmt_, index);
  if (rc != SQLITE_OK) return std::unexpected(last_error(rc));
  return {};
}

Result<bool> Statement::step() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  SqliteError err = last_error(rc);
  sqlite3_reset(stmt_);
  return std::unexpected(std::move(err));
}

Result<void> Statement::run() {
  for (;;) {
    auto r = step();
    if (!r) return std::unexpected(r.error());
    if (!*r) return {};
  }
}

void Statement::reset() { sqlite3_reset(stmt_); }

bool Statement::column_is_null(int col) const {
  return sqlite3_column_type(stmt_, col) == SQLITE_NULL;
}

std::int64_t Statement::column_i64(int col) const { return sqlite3_column_int64(stmt_, col); }

std::span<const std::uint8_t> Statement::column_blob(int col) const {
  const void* p = sqlite3_column_blob(stmt_, col);
  int n = sqlite3_column_bytes(stmt_, col);
  if (p == nullptr || n <= 0) return {};
  return {static_cast<const std::uint8_t*>(p), static_cast<std::size_t>(n)};
}

std::string_view Statement::column_text(int col) const {
  const unsigned char* p = sqlite3_column_text(stmt_, col);
  int n = sqlite3_column_bytes(stmt_, col);
  if (p == nullptr || n <= 0) return {};
  return {reinterpret_cast<const char*>(p), static_cast<std::size_t>(n)};
}

// --- Connection --------------------------------------------------------------------------------

Connection::Connection(Connection&& other) noexcept
    : db_(other.db_), cache_(std::move(other.cache_)) {
  other.db_ = nullptr;
  other.cache_.clear();
}

Connection& Connection::operator=(Connection&& other) noexcept {
  if (this != &other) {
    close();
    db_ = other.db_;
    cache_ = std::move(other.cache_);
    other.db_ = nullptr;
    other.cache_.clear();
  }
  return *this;
}

Connection::~Connection() { close(); }

void Connection::close() {
  for (auto& [sql, stmt] : cache_) sqlite3_finalize(stmt);
  cache_.clear();
  if (db_ != nullptr) sqlite3_close_v2(db_);
  db_ = nullptr;
}

Result<Connection> Connection::open(const std::filesystem::path& path) {
  return open_with(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
}

Result<Connection> Connection::open_existing(const std::filesystem::path& path) {
  return open_with(path, SQLITE_OPEN_READWRITE);
}

Result<Connection> Connection::open_read_only(const std::filesystem::path& path) {
  // A URI, so that "readonly_shm" applies; '%', '?' and '#' in the path are escaped.
  std::string uri = "file:";
  for (char c : path.string()) {
    if (c == '%' || c == '?' || c == '#') {
      uri += fmt::format("%{:02X}", static_cast<unsigned char>(c));
    } else {
      uri += c;
    }
  }
  // A write-ahead log is read through its -shm index, opened read-only. Without an index there
  // is no log to read unless a -wal was left behind: then the file alone is the database, and
  // "immutable" reads it without creating the -wal and -shm a reader would otherwise leave.
  std::error_code ignored;
  const auto with_suffix = [&](const char* suffix) {
    return std::filesystem::exists(std::filesystem::path(path.string() + suffix), ignored);
  };
  if (with_suffix("-shm")) {
    uri += "?mode=ro&readonly_shm=1";
  } else if (with_suffix("-wal")) {
    uri += "?mode=ro";  // a log without its index: read it, at the cost of a new -shm
  } else {
    uri += "?mode=ro&immutable=1";
  }
  return open_with(uri, SQLITE_OPEN_READONLY);
}

Result<void> Connection::exec(std::string_view sql) {
  std::string text(sql);
  char* errmsg = nullptr;
  int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &errmsg);
  if (rc != SQLITE_OK) {
    SqliteError err(sqlite3_extended_errcode(db_), errmsg ? errmsg : sqlite3_errstr(rc));
    sqlite3_free(errmsg);
    return std::unexpected(std::move(err));
  }
  return {};
}

Result<Statement> Connection::prepare(std::string_view sql) {
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(stmt);
    return std::unexpected(error_of(db_, rc));
  }
  return Statement(stmt, db_, true);
}

Result<Statement> Connection::cached(std::string_view sql) {
  auto it = cache_.find(sql);
  if (it == cache_.end()) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()),
                                SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_finalize(stmt);
      return std::unexpected(error_of(db_, rc));
    }
    it = cache_.emplace(std::string(sql), stmt).first;
  }
  return Statement(it->second, db_, false);
}

std::int64_t Connection::changes() const { return sqlite3_changes64(db_); }

bool Connection::in_transaction() const { return sqlite3_get_autocommit(db_) == 0; }

Result<void> Connection::begin() { return exec("BEGIN DEFERRED"); }

Result<void> Connection::commit() { return exec("COMMIT"); }

void Connection::rollback() {
  // Safe to ignore a failure: SQLite rolls back on its own when it cannot keep the transaction,
  // and the caller is already reporting the error that brought it here.
  if (in_transaction()) (void)exec("ROLLBACK");
}

}  // namespace ostrel_core::persist::sqlite
