// The Windows registry calls over the stores of registry_store.h: the user's, read and written,
// and the machine's beneath it for the classes view (machine_registry.h). Every operation is
// one transaction; handles are the ids of open keys in one store.
#include "registry.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "machine_registry.h"
#include "no_throw.h"
#include "registry_store.h"

namespace {

using registry_store::Access;
using registry_store::Components;
using registry_store::Fold;
using registry_store::KeyId;
using registry_store::OpenStore;
using registry_store::Statement;
using registry_store::Transaction;
using registry_store::Utf16Units;
using registry_store::ValidKeyPath;
using registry_store::Walk;

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
constexpr ULONG_PTR kClassesRoot = 0x80000000;

// Read in secure-execution mode too: the user's registry is opened with the user's own rights,
// so where it lies is the user's own business. The modules it names are checked when loaded.
std::string UserRegistryPath() {
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

// The store this process writes: the user's, or the machine's where it registers for everyone.
sqlite3* OpenWrittenStore() {
  if (machine_registry::WritesMachineRegistry()) {
    return machine_registry::OpenMachineRegistryForWriting();
  }
  return OpenStore(UserRegistryPath(), Access::ReadWrite);
}

// One connection per store and process, opened on first use; SQLite serialises the processes.
class Database {
 public:
  explicit Database(sqlite3* (*open)()) : open_(open) {}
  // When the module goes (a library unloaded before the process ends), its connection goes
  // with it; nothing uses the store after that, and a use that came would find none.
  ~Database() {
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;
  sqlite3* Get() {
    std::call_once(opened_, [this] { db_ = open_(); });
    return db_;
  }

 private:
  sqlite3* (*open_)();
  std::once_flag opened_;
  sqlite3* db_ = nullptr;
};

enum class Layer { User, Machine };

Database userDatabase(OpenWrittenStore);
Database machineDatabase(machine_registry::OpenMachineLayer);
std::mutex connectionMutex;  // one statement sequence at a time on the shared connections

sqlite3* DatabaseOf(Layer layer) {
  return layer == Layer::User ? userDatabase.Get() : machineDatabase.Get();
}

}  // namespace

struct RegistryKey {
  Layer layer;
  KeyId id;
  // The key's path below HKEY_CLASSES_ROOT when it was opened through it: where the machine's
  // layer is asked for the keys below it that the user's registry does not have.
  std::optional<std::string> classesPath;
};

namespace {

bool IsPredefined(HKEY key) {
  for (const PredefinedRoot& root : kRoots) {
    if (reinterpret_cast<ULONG_PTR>(key) == root.handle) return true;
  }
  return false;
}

Layer LayerOf(HKEY key) {
  return IsPredefined(key) || key == nullptr ? Layer::User : key->layer;
}

// The key id behind a handle in a store: a predefined root (made on first use in the store
// this process writes) or an open key.
LSTATUS Resolve(sqlite3* db, Layer layer, HKEY key, KeyId& id) {
  for (const PredefinedRoot& root : kRoots) {
    if (reinterpret_cast<ULONG_PTR>(key) != root.handle) continue;
    bool created = false;
    if (Walk(db, 0, Components(root.path), layer == Layer::User, id, created)) {
      return ERROR_SUCCESS;
    }
    return layer == Layer::User ? ERROR_REGISTRY_IO_FAILED : ERROR_FILE_NOT_FOUND;
  }
  if (key == nullptr) return ERROR_INVALID_HANDLE;
  id = key->id;
  return registry_store::KeyExists(db, id) ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

// Runs body(db, id) on the key behind a handle, in its store: under the connections' lock, in
// one transaction that commits when body succeeds. The machine's layer is only read.
template <typename Body>
LSTATUS OnKey(HKEY key, bool write, Body body) {
  const Layer layer = LayerOf(key);
  if (layer == Layer::Machine && write) return ERROR_ACCESS_DENIED;
  std::lock_guard<std::mutex> lock(connectionMutex);
  sqlite3* db = DatabaseOf(layer);
  if (db == nullptr) return ERROR_REGISTRY_IO_FAILED;
  Transaction transaction(db, write || layer == Layer::User);
  if (!transaction.Ok()) return ERROR_REGISTRY_IO_FAILED;
  KeyId id = 0;
  const LSTATUS status = Resolve(db, layer, key, id);
  if (status != ERROR_SUCCESS) return transaction.Commit(status);
  return transaction.Commit(body(db, id));
}

// The path below HKEY_CLASSES_ROOT of a subkey of `key`, when `key` is in the classes view.
std::optional<std::string> ClassesPath(HKEY key, const std::vector<std::string>& parts) {
  std::string path;
  if (reinterpret_cast<ULONG_PTR>(key) != kClassesRoot) {
    if (IsPredefined(key) || key == nullptr || !key->classesPath) return std::nullopt;
    path = *key->classesPath;
  }
  for (const std::string& part : parts) path += (path.empty() ? "" : "\\") + part;
  return path;
}

// The key at a path below HKEY_CLASSES_ROOT in the machine's layer, if it has one.
HKEY OpenInMachineLayer(const std::string& classesPath) {
  std::vector<std::string> parts = Components(kRoots[0].path);
  for (std::string& part : Components(classesPath.c_str())) parts.push_back(std::move(part));
  std::lock_guard<std::mutex> lock(connectionMutex);
  sqlite3* machine = machineDatabase.Get();
  if (machine == nullptr) return nullptr;
  Transaction transaction(machine, false);
  KeyId found = 0;
  bool created = false;
  if (!transaction.Ok() || !Walk(machine, 0, parts, false, found, created)) return nullptr;
  transaction.Commit(ERROR_SUCCESS);
  return new RegistryKey{Layer::Machine, found, classesPath};
}

// A key the machine's layer answered becomes the user's own when the user writes to it: the
// same path is made in the user's registry and the handle moves there, so that what the user
// writes is theirs and comes first, and the machine's stays as it is.
LSTATUS MakeUsersOwn(HKEY key) {
  if (IsPredefined(key) || key == nullptr || key->layer != Layer::Machine) return ERROR_SUCCESS;
  const std::vector<std::string> parts = Components(key->classesPath->c_str());
  KeyId own = 0;
  const LSTATUS status = OnKey(HKEY_CLASSES_ROOT, true, [&](sqlite3* db, KeyId root) -> LSTATUS {
    bool created = false;
    return Walk(db, root, parts, true, own, created) ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
  });
  if (status != ERROR_SUCCESS) return status;
  key->layer = Layer::User;
  key->id = own;
  return ERROR_SUCCESS;
}

LSTATUS OpenOrCreate(HKEY key, LPCSTR subKey, bool create, PHKEY result, DWORD* disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  const std::vector<std::string> parts = Components(subKey);
  if (!ValidKeyPath(parts)) return ERROR_INVALID_PARAMETER;
  const std::optional<std::string> classesPath = ClassesPath(key, parts);
  if (create) {
    const LSTATUS own = MakeUsersOwn(key);
    if (own != ERROR_SUCCESS) return own;
  }
  KeyId found = 0;
  bool created = false;
  const LSTATUS status = OnKey(key, create, [&](sqlite3* db, KeyId base) -> LSTATUS {
    if (Walk(db, base, parts, create, found, created)) return ERROR_SUCCESS;
    return create ? ERROR_REGISTRY_IO_FAILED : ERROR_FILE_NOT_FOUND;
  });
  if (status == ERROR_FILE_NOT_FOUND && !create && classesPath && LayerOf(key) == Layer::User) {
    *result = OpenInMachineLayer(*classesPath);
    return *result != nullptr ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  }
  if (status != ERROR_SUCCESS) return status;
  *result = new RegistryKey{LayerOf(key), found, classesPath};
  if (disposition != nullptr) {
    *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  }
  return ERROR_SUCCESS;
}

}  // namespace

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD /*options*/, REGSAM /*access*/, PHKEY result) {
  return WithoutThrowing(ReportsStatus{}, [&]() -> LSTATUS {
    return OpenOrCreate(key, subKey, false, result, nullptr);
  });
}

LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD /*reserved*/, LPSTR /*keyClass*/,
                        DWORD /*options*/, REGSAM /*access*/, void* /*security*/, PHKEY result,
                        DWORD* disposition) {
  return WithoutThrowing(ReportsStatus{}, [&]() -> LSTATUS {
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
  return WithoutThrowing(ReportsStatus{}, [&]() -> LSTATUS {
    if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
    const std::string name = valueName != nullptr ? valueName : "";
    if (Utf16Units(name) > registry_store::kMaxValueNameUnits) return ERROR_INVALID_PARAMETER;
    const LSTATUS own = MakeUsersOwn(key);
    if (own != ERROR_SUCCESS) return own;
    return OnKey(key, true, [&](sqlite3* db, KeyId id) -> LSTATUS {
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
  return WithoutThrowing(ReportsStatus{}, [&]() -> LSTATUS {
    if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
    return OnKey(key, false, [&](sqlite3* db, KeyId id) -> LSTATUS {
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
  return WithoutThrowing(ReportsStatus{}, [&]() -> LSTATUS {
    return OnKey(key, true, [&](sqlite3* db, KeyId id) -> LSTATUS {
      Statement erase(db, "DELETE FROM key_values WHERE key = ? AND folded = ?");
      erase.Bind(1, id).Bind(2, Fold(valueName));
      if (!erase.Run()) return ERROR_REGISTRY_IO_FAILED;
      return sqlite3_changes(db) == 0 ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
    });
  });
}

LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  return WithoutThrowing(ReportsStatus{}, [&]() -> LSTATUS {
    if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
    const std::vector<std::string> parts = Components(subKey);
    if (!ValidKeyPath(parts)) return ERROR_INVALID_PARAMETER;
    if (parts.empty() && IsPredefined(key)) return ERROR_ACCESS_DENIED;
    return OnKey(key, true, [&](sqlite3* db, KeyId base) -> LSTATUS {
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
  return WithoutThrowing(ReportsStatus{}, [&]() -> LSTATUS {
    if (name == nullptr || nameLength == nullptr) return ERROR_INVALID_PARAMETER;
    return OnKey(key, false, [&](sqlite3* db, KeyId id) -> LSTATUS {
      Statement child(db,
                      "SELECT name FROM keys WHERE parent = ? ORDER BY folded LIMIT 1 OFFSET ?");
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
  return WithoutThrowing(ReportsStatus{}, [&]() -> LSTATUS {
    return OnKey(key, false, [&](sqlite3* db, KeyId id) -> LSTATUS {
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
  sqlite3* db = userDatabase.Get();
  if (db == nullptr) return ERROR_REGISTRY_IO_FAILED;
  return sqlite3_exec(db, "DELETE FROM key_values; DELETE FROM keys;", nullptr, nullptr, nullptr) ==
                 SQLITE_OK
             ? ERROR_SUCCESS
             : ERROR_REGISTRY_IO_FAILED;
}
