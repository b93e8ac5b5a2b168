// The registry over SQLite: a table of keys (each under its parent, with its name as given and
// folded for comparison) and a table of values. Every operation is one transaction; handles
// are the ids of open keys.
#include "registry.h"

#include <sqlite3.h>

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "no_throw.h"

namespace {

using KeyId = sqlite3_int64;

struct PredefinedRoot {
  ULONG_PTR handle;
  const char* path;  // under the hidden top, whose id is 0
};
constexpr PredefinedRoot kRoots[] = {
    {0x80000000, "HKEY_LOCAL_MACHINE\\Software\\Classes"},
    {0x80000001, "HKEY_CURRENT_USER"},
    {0x80000002, "HKEY_LOCAL_MACHINE"},
    {0x80000003, "HKEY_USERS"},
    {0x80000005, "HKEY_CURRENT_CONFIG"},
    {0x80000006, "HKEY_DYN_DATA"},
};

std::string Fold(const char* name) {
  std::string folded = name != nullptr ? name : "";
  for (char& c : folded) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return folded;
}

// Windows' limits, in UTF-16 units as Windows counts them: a key name (one component of a
// path) of 255, a value name of 16,383. Longer names are refused, so every name that exists fits
// the buffers sized for them.
constexpr size_t kMaxKeyNameUnits = 255;
constexpr size_t kMaxValueNameUnits = 16383;

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

std::string DatabasePath() {
  if (const char* chosen = std::getenv("TELVARIO_REGISTRY"); chosen != nullptr && *chosen) {
    return chosen;
  }
  std::string base;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data) {
    base = data;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home != nullptr ? home : "/tmp") + "/.local/share";
  }
  // A new account may have neither ~/.local nor ~/.local/share yet.
  const std::filesystem::path directory = std::filesystem::path(base) / "telvario";
  std::error_code ignored;
  std::filesystem::create_directories(base, ignored);
  mkdir(directory.c_str(), 0700);
  return (directory / "registry.sqlite3").string();
}

// One connection per process, opened on first use; SQLite serialises the processes.
class Database {
 public:
  sqlite3* Get() {
    std::call_once(opened_, [this] { Open(); });
    return db_;
  }

 private:
  void Open() {
    if (sqlite3_open(DatabasePath().c_str(), &db_) != SQLITE_OK) {
      sqlite3_close(db_);
      db_ = nullptr;
      return;
    }
    sqlite3_busy_timeout(db_, 30000);
    sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3_exec(db_,
                 "CREATE TABLE IF NOT EXISTS keys(id INTEGER PRIMARY KEY, parent INTEGER NOT NULL,"
                 " name TEXT NOT NULL, folded TEXT NOT NULL, UNIQUE(parent, folded));"
                 "CREATE TABLE IF NOT EXISTS key_values(key INTEGER NOT NULL, name TEXT NOT NULL,"
                 " folded TEXT NOT NULL, type INTEGER NOT NULL, data BLOB,"
                 " PRIMARY KEY(key, folded));",
                 nullptr, nullptr, nullptr);
  }

  std::once_flag opened_;
  sqlite3* db_ = nullptr;
};

Database database;
std::mutex connectionMutex;  // one statement sequence at a time on the shared connection

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr); }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement& Bind(int index, KeyId value) {
    sqlite3_bind_int64(statement_, index, value);
    return *this;
  }
  Statement& Bind(int index, const std::string& text) {
    sqlite3_bind_text(statement_, index, text.c_str(), -1, SQLITE_TRANSIENT);
    return *this;
  }
  Statement& BindBlob(int index, const BYTE* data, DWORD size) {
    sqlite3_bind_blob(statement_, index, data != nullptr ? data : reinterpret_cast<const BYTE*>(""),
                      static_cast<int>(size), SQLITE_TRANSIENT);
    return *this;
  }
  bool Row() { return statement_ != nullptr && sqlite3_step(statement_) == SQLITE_ROW; }
  bool Run() {
    if (statement_ == nullptr) return false;
    const int status = sqlite3_step(statement_);
    return status == SQLITE_DONE || status == SQLITE_ROW;
  }
  KeyId Integer(int column) { return sqlite3_column_int64(statement_, column); }
  std::string Text(int column) {
    const auto* text = sqlite3_column_text(statement_, column);
    return text != nullptr ? reinterpret_cast<const char*>(text) : "";
  }
  std::vector<BYTE> Blob(int column) {
    const auto* data = static_cast<const BYTE*>(sqlite3_column_blob(statement_, column));
    return std::vector<BYTE>(data, data + sqlite3_column_bytes(statement_, column));
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

// A write transaction, rolled back unless committed.
class Transaction {
 public:
  explicit Transaction(sqlite3* db) : db_(db) {
    ok_ = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~Transaction() {
    if (ok_ && !done_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  bool Ok() const { return ok_; }
  LSTATUS Commit(LSTATUS result) {
    done_ = true;
    const char* ending = result == ERROR_SUCCESS ? "COMMIT" : "ROLLBACK";
    if (sqlite3_exec(db_, ending, nullptr, nullptr, nullptr) != SQLITE_OK &&
        result == ERROR_SUCCESS) {
      return ERROR_REGISTRY_IO_FAILED;
    }
    return result;
  }

 private:
  sqlite3* db_;
  bool ok_ = false;
  bool done_ = false;
};

bool FindChild(sqlite3* db, KeyId parent, const std::string& name, KeyId& child) {
  Statement find(db, "SELECT id FROM keys WHERE parent = ? AND folded = ?");
  find.Bind(1, parent).Bind(2, Fold(name.c_str()));
  if (!find.Row()) return false;
  child = find.Integer(0);
  return true;
}

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

}  // namespace

struct RegistryKey {
  KeyId id;
};

// What a call gives when its allocations fail.
constexpr LSTATUS kNoMemory = ERROR_NOT_ENOUGH_MEMORY;

namespace {

// The key id behind a handle: a predefined root (made on first use) or an open key.
LSTATUS Resolve(sqlite3* db, HKEY key, KeyId& id) {
  for (const PredefinedRoot& root : kRoots) {
    if (reinterpret_cast<ULONG_PTR>(key) != root.handle) continue;
    bool created = false;
    return Walk(db, 0, Components(root.path), true, id, created) ? ERROR_SUCCESS
                                                                 : ERROR_REGISTRY_IO_FAILED;
  }
  if (key == nullptr) return ERROR_INVALID_HANDLE;
  id = key->id;
  return KeyExists(db, id) ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

bool IsPredefined(HKEY key) {
  for (const PredefinedRoot& root : kRoots) {
    if (reinterpret_cast<ULONG_PTR>(key) == root.handle) return true;
  }
  return false;
}

// Runs body(db, id) on the key behind a handle: under the connection's lock, in one
// transaction that commits when body succeeds.
template <typename Body>
LSTATUS OnKey(HKEY key, Body body) {
  std::lock_guard<std::mutex> lock(connectionMutex);
  sqlite3* db = database.Get();
  if (db == nullptr) return ERROR_REGISTRY_IO_FAILED;
  Transaction transaction(db);
  if (!transaction.Ok()) return ERROR_REGISTRY_IO_FAILED;
  KeyId id = 0;
  const LSTATUS status = Resolve(db, key, id);
  if (status != ERROR_SUCCESS) return transaction.Commit(status);
  return transaction.Commit(body(db, id));
}

LSTATUS OpenOrCreate(HKEY key, LPCSTR subKey, bool create, PHKEY result, DWORD* disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  const std::vector<std::string> parts = Components(subKey);
  if (!ValidKeyPath(parts)) return ERROR_INVALID_PARAMETER;
  KeyId found = 0;
  bool created = false;
  const LSTATUS status = OnKey(key, [&](sqlite3* db, KeyId base) -> LSTATUS {
    if (Walk(db, base, parts, create, found, created)) return ERROR_SUCCESS;
    return create ? ERROR_REGISTRY_IO_FAILED : ERROR_FILE_NOT_FOUND;
  });
  if (status != ERROR_SUCCESS) return status;
  *result = new RegistryKey{found};
  if (disposition != nullptr) {
    *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  }
  return ERROR_SUCCESS;
}

}  // namespace

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD /*options*/, REGSAM /*access*/, PHKEY result) {
  return WithoutThrowing(kNoMemory, [&]() -> LSTATUS {
    return OpenOrCreate(key, subKey, false, result, nullptr);
  });
}

LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD /*reserved*/, LPSTR /*keyClass*/,
                        DWORD /*options*/, REGSAM /*access*/, void* /*security*/, PHKEY result,
                        DWORD* disposition) {
  return WithoutThrowing(kNoMemory, [&]() -> LSTATUS {
    if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
    return OpenOrCreate(key, subKey, true, result, disposition);
  });
}

LSTATUS RegCloseKey(HKEY key) {
  if (IsPredefined(key)) return ERROR_SUCCESS;
  if (key == nullptr) return ERROR_INVALID_HANDLE;
  delete key;
  return ERROR_SUCCESS;
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD /*reserved*/, DWORD type, const BYTE* data,
                       DWORD size) {
  return WithoutThrowing(kNoMemory, [&]() -> LSTATUS {
    if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
    const std::string name = valueName != nullptr ? valueName : "";
    if (Utf16Units(name) > kMaxValueNameUnits) return ERROR_INVALID_PARAMETER;
    return OnKey(key, [&](sqlite3* db, KeyId id) -> LSTATUS {
      Statement upsert(db,
                       "INSERT INTO key_values(key, name, folded, type, data) VALUES(?, ?, ?, ?, ?)"
                       " ON CONFLICT(key, folded) DO UPDATE SET name = excluded.name,"
                       " type = excluded.type, data = excluded.data");
      upsert.Bind(1, id).Bind(2, name).Bind(3, Fold(name.c_str())).Bind(4, KeyId{type});
      upsert.BindBlob(5, data, size);
      return upsert.Run() ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
    });
  });
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, DWORD* /*reserved*/, DWORD* type, BYTE* data,
                         DWORD* size) {
  return WithoutThrowing(kNoMemory, [&]() -> LSTATUS {
    if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
    return OnKey(key, [&](sqlite3* db, KeyId id) -> LSTATUS {
      Statement find(db, "SELECT type, data FROM key_values WHERE key = ? AND folded = ?");
      find.Bind(1, id).Bind(2, Fold(valueName));
      if (!find.Row()) return ERROR_FILE_NOT_FOUND;
      const std::vector<BYTE> stored = find.Blob(1);
      if (type != nullptr) *type = static_cast<DWORD>(find.Integer(0));
      if (size == nullptr) return ERROR_SUCCESS;
      const auto needed = static_cast<DWORD>(stored.size());
      if (data != nullptr && *size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
      }
      if (data != nullptr && needed > 0) std::memcpy(data, stored.data(), needed);
      *size = needed;
      return ERROR_SUCCESS;
    });
  });
}

LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName) {
  return WithoutThrowing(kNoMemory, [&]() -> LSTATUS {
    return OnKey(key, [&](sqlite3* db, KeyId id) -> LSTATUS {
      Statement erase(db, "DELETE FROM key_values WHERE key = ? AND folded = ?");
      erase.Bind(1, id).Bind(2, Fold(valueName));
      if (!erase.Run()) return ERROR_REGISTRY_IO_FAILED;
      return sqlite3_changes(db) == 0 ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
    });
  });
}

LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  return WithoutThrowing(kNoMemory, [&]() -> LSTATUS {
    if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
    const std::vector<std::string> parts = Components(subKey);
    if (!ValidKeyPath(parts)) return ERROR_INVALID_PARAMETER;
    if (parts.empty() && IsPredefined(key)) return ERROR_ACCESS_DENIED;
    return OnKey(key, [&](sqlite3* db, KeyId base) -> LSTATUS {
      KeyId target = 0;
      bool created = false;
      if (!Walk(db, base, parts, false, target, created)) return ERROR_FILE_NOT_FOUND;
      Statement children(db, "SELECT 1 FROM keys WHERE parent = ?");
      children.Bind(1, target);
      if (children.Row()) return ERROR_ACCESS_DENIED;  // a key with subkeys stays
      Statement values(db, "DELETE FROM key_values WHERE key = ?");
      values.Bind(1, target);
      Statement erase(db, "DELETE FROM keys WHERE id = ?");
      erase.Bind(1, target);
      return values.Run() && erase.Run() ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
    });
  });
}

LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, DWORD* nameLength, DWORD* /*reserved*/,
                      LPSTR /*keyClass*/, DWORD* /*classLength*/, FILETIME* lastWrite) {
  return WithoutThrowing(kNoMemory, [&]() -> LSTATUS {
    if (name == nullptr || nameLength == nullptr) return ERROR_INVALID_PARAMETER;
    return OnKey(key, [&](sqlite3* db, KeyId id) -> LSTATUS {
      Statement child(db, "SELECT name FROM keys WHERE parent = ? ORDER BY folded LIMIT 1 OFFSET ?");
      child.Bind(1, id).Bind(2, KeyId{index});
      if (!child.Row()) return ERROR_NO_MORE_ITEMS;
      const std::string found = child.Text(0);
      if (found.size() + 1 > *nameLength) return ERROR_MORE_DATA;
      std::memcpy(name, found.c_str(), found.size() + 1);
      *nameLength = static_cast<DWORD>(found.size());
      if (lastWrite != nullptr) GetSystemTimeAsFileTime(lastWrite);
      return ERROR_SUCCESS;
    });
  });
}

LSTATUS RegQueryInfoKeyA(HKEY key, LPSTR keyClass, DWORD* classLength, DWORD* /*reserved*/,
                         DWORD* subKeys, DWORD* maxSubKeyLength, DWORD* maxClassLength,
                         DWORD* values, DWORD* maxValueNameLength, DWORD* maxValueLength,
                         DWORD* securityDescriptorLength, FILETIME* lastWrite) {
  return WithoutThrowing(kNoMemory, [&]() -> LSTATUS {
    return OnKey(key, [&](sqlite3* db, KeyId id) -> LSTATUS {
      Statement keys(db,
                     "SELECT count(*), coalesce(max(length(name)), 0) FROM keys WHERE parent = ?");
      keys.Bind(1, id);
      keys.Row();
      Statement stored(db,
                       "SELECT count(*), coalesce(max(length(name)), 0), "
                       "coalesce(max(length(data)), 0) FROM key_values WHERE key = ?");
      stored.Bind(1, id);
      stored.Row();
      if (keyClass != nullptr && classLength != nullptr && *classLength > 0) keyClass[0] = '\0';
      if (classLength != nullptr) *classLength = 0;
      if (subKeys != nullptr) *subKeys = static_cast<DWORD>(keys.Integer(0));
      if (maxSubKeyLength != nullptr) *maxSubKeyLength = static_cast<DWORD>(keys.Integer(1));
      if (maxClassLength != nullptr) *maxClassLength = 0;
      if (values != nullptr) *values = static_cast<DWORD>(stored.Integer(0));
      if (maxValueNameLength != nullptr) {
        *maxValueNameLength = static_cast<DWORD>(stored.Integer(1));
      }
      if (maxValueLength != nullptr) *maxValueLength = static_cast<DWORD>(stored.Integer(2));
      if (securityDescriptorLength != nullptr) *securityDescriptorLength = 0;
      if (lastWrite != nullptr) GetSystemTimeAsFileTime(lastWrite);
      return ERROR_SUCCESS;
    });
  });
}

LSTATUS RegistryDeleteAll() {
  std::lock_guard<std::mutex> lock(connectionMutex);
  sqlite3* db = database.Get();
  if (db == nullptr) return ERROR_REGISTRY_IO_FAILED;
  return sqlite3_exec(db, "DELETE FROM key_values; DELETE FROM keys;", nullptr, nullptr, nullptr) ==
                 SQLITE_OK
             ? ERROR_SUCCESS
             : ERROR_REGISTRY_IO_FAILED;
}
