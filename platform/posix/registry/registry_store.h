// The store under the posix registry: one SQLite database of keys (each under its parent, with
// its name as given and folded for comparison) and values, its statements and transactions, and
// the walk along a key path. The registry has one of these for the user and may have one for the
// machine beneath it (machine_registry.h).
#ifndef TELVARIO_PLATFORM_POSIX_REGISTRY_STORE_H
#define TELVARIO_PLATFORM_POSIX_REGISTRY_STORE_H

#include <sqlite3.h>

#include <string>
#include <vector>

#include "registry.h"

namespace registry_store {

using KeyId = sqlite3_int64;

// Names compare without case: the ASCII letters folded to upper case.
std::string Fold(const char* name);

// The key names of a path, without empty ones ("a\\\\b\\" is a, b).
std::vector<std::string> Components(const char* path);

// Windows' limits, in UTF-16 units as Windows counts them: a key name (one component of a path)
// of 255, a value name of 16,383.
constexpr size_t kMaxKeyNameUnits = 255;
constexpr size_t kMaxValueNameUnits = 16383;
size_t Utf16Units(const std::string& text);
bool ValidKeyPath(const std::vector<std::string>& parts);

// Opens (creating the tables, unless read-only) the database at a path; null when it cannot.
// A database others only read keeps its journal beside it rather than in a write-ahead log,
// whose shared index a reader without write access could not open.
enum class Access { ReadWrite, ReadWriteSharedWithReaders, ReadOnly };
sqlite3* OpenStore(const std::string& path, Access access);

class Statement {
 public:
  Statement(sqlite3* db, const char* sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement& Bind(int index, KeyId value);
  Statement& Bind(int index, const std::string& text);
  Statement& BindBlob(int index, const BYTE* data, DWORD size);
  bool Row();
  bool Run();
  KeyId Integer(int column);
  std::string Text(int column);
  std::vector<BYTE> Blob(int column);

 private:
  sqlite3_stmt* statement_ = nullptr;
};

// A transaction, rolled back unless committed; a write transaction unless read-only.
class Transaction {
 public:
  Transaction(sqlite3* db, bool write);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  bool Ok() const { return ok_; }
  LSTATUS Commit(LSTATUS result);

 private:
  sqlite3* db_;
  bool ok_ = false;
  bool done_ = false;
};

bool KeyExists(sqlite3* db, KeyId id);
// Walks (and with create, makes) the path below parent. False when a part is missing.
bool Walk(sqlite3* db, KeyId parent, const std::vector<std::string>& parts, bool create,
          KeyId& found, bool& created);

}  // namespace registry_store

#endif
