#include "registry_store.h"

namespace registry_store {

std::string Fold(const char* name) {
  std::string folded = name != nullptr ? name : "";
  for (char& c : folded) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return folded;
}

size_t Utf16Units(const std::string& text) {
  size_t units = 0;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) ++units;  // every character but the continuation bytes
    if (byte >= 0xF0) ++units;           // beyond the basic plane: a surrogate pair
  }
  return units;
}

bool ValidKeyPath(const std::vector<std::string>& parts) {
  for (const std::string& part : parts) {
    if (Utf16Units(part) > kMaxKeyNameUnits) return false;
  }
  return true;
}

std::vector<std::string> Components(const char* path) {
  std::vector<std::string> parts;
  std::string current;
  for (const char* c = path != nullptr ? path : ""; *c != '\0'; ++c) {
    if (*c == '\\') {
      if (!current.empty()) parts.push_back(current);
      current.clear();
    } else {
      current += *c;
    }
  }
  if (!current.empty()) parts.push_back(current);
  return parts;
}

sqlite3* OpenStore(const std::string& path, Access access) {
  sqlite3* db = nullptr;
  const int flags = access == Access::ReadOnly ? SQLITE_OPEN_READONLY
                                               : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, 30000);
  if (access == Access::ReadOnly) return db;
  const char* journal =
      access == Access::ReadWrite ? "PRAGMA journal_mode=WAL" : "PRAGMA journal_mode=DELETE";
  sqlite3_exec(db, journal, nullptr, nullptr, nullptr);
  sqlite3_exec(db,
               "CREATE TABLE IF NOT EXISTS keys(id INTEGER PRIMARY KEY, parent INTEGER NOT NULL,"
               " name TEXT NOT NULL, folded TEXT NOT NULL, UNIQUE(parent, folded));"
               "CREATE TABLE IF NOT EXISTS key_values(key INTEGER NOT NULL, name TEXT NOT NULL,"
               " folded TEXT NOT NULL, type INTEGER NOT NULL, data BLOB,"
               " PRIMARY KEY(key, folded));",
               nullptr, nullptr, nullptr);
  return db;
}

Statement::Statement(sqlite3* db, const char* sql) {
  sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr);
}

Statement::~Statement() {
  sqlite3_finalize(statement_);
}

Statement& Statement::Bind(int index, KeyId value) {
  sqlite3_bind_int64(statement_, index, value);
  return *this;
}

Statement& Statement::Bind(int index, const std::string& text) {
  sqlite3_bind_text(statement_, index, text.c_str(), -1, SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::BindBlob(int index, const BYTE* data, DWORD size) {
  sqlite3_bind_blob(statement_, index, data != nullptr ? data : reinterpret_cast<const BYTE*>(""),
                    static_cast<int>(size), SQLITE_TRANSIENT);
  return *this;
}

bool Statement::Row() {
  return statement_ != nullptr && sqlite3_step(statement_) == SQLITE_ROW;
}

bool Statement::Run() {
  if (statement_ == nullptr) return false;
  const int status = sqlite3_step(statement_);
  return status == SQLITE_DONE || status == SQLITE_ROW;
}

KeyId Statement::Integer(int column) {
  return sqlite3_column_int64(statement_, column);
}

std::string Statement::Text(int column) {
  const auto* text = sqlite3_column_text(statement_, column);
  return text != nullptr ? reinterpret_cast<const char*>(text) : "";
}

std::vector<BYTE> Statement::Blob(int column) {
  const auto* data = static_cast<const BYTE*>(sqlite3_column_blob(statement_, column));
  return std::vector<BYTE>(data, data + sqlite3_column_bytes(statement_, column));
}

Transaction::Transaction(sqlite3* db, bool write) : db_(db) {
  ok_ = sqlite3_exec(db_, write ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr, nullptr) ==
        SQLITE_OK;
}

Transaction::~Transaction() {
  if (ok_ && !done_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

LSTATUS Transaction::Commit(LSTATUS result) {
  done_ = true;
  const char* ending = result == ERROR_SUCCESS ? "COMMIT" : "ROLLBACK";
  if (sqlite3_exec(db_, ending, nullptr, nullptr, nullptr) != SQLITE_OK &&
      result == ERROR_SUCCESS) {
    return ERROR_REGISTRY_IO_FAILED;
  }
  return result;
}

namespace {

bool FindChild(sqlite3* db, KeyId parent, const std::string& name, KeyId& child) {
  Statement find(db, "SELECT id FROM keys WHERE parent = ? AND folded = ?");
  find.Bind(1, parent).Bind(2, Fold(name.c_str()));
  if (!find.Row()) return false;
  child = find.Integer(0);
  return true;
}

}  // namespace

bool KeyExists(sqlite3* db, KeyId id) {
  if (id == 0) return true;
  Statement find(db, "SELECT 1 FROM keys WHERE id = ?");
  find.Bind(1, id);
  return find.Row();
}

// Walks (and with create, makes) the path below parent. False when a part is missing.
bool Walk(sqlite3* db, KeyId parent, const std::vector<std::string>& parts, bool create,
          KeyId& found, bool& created) {
  created = false;
  for (const std::string& part : parts) {
    KeyId child = 0;
    if (!FindChild(db, parent, part, child)) {
      if (!create) return false;
      Statement insert(db, "INSERT INTO keys(parent, name, folded) VALUES(?, ?, ?)");
      insert.Bind(1, parent).Bind(2, part).Bind(3, Fold(part.c_str()));
      if (!insert.Run()) return false;
      child = sqlite3_last_insert_rowid(db);
      created = true;
    }
    parent = child;
  }
  found = parent;
  return true;
}

}  // namespace registry_store
