#include "machine_registry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "registry_store.h"

namespace machine_registry {

using registry_store::Access;
using registry_store::OpenStore;

namespace {

std::string MachineRegistryPath() {
  if (const char* chosen = secure_getenv("TELVARIO_MACHINE_REGISTRY"); chosen && *chosen) {
    return chosen;
  }
  return "/var/lib/telvario/registry.sqlite3";
}

}  // namespace

bool WritesMachineRegistry() {
  const char* layer = secure_getenv("TELVARIO_REGISTRY_LAYER");
  return layer != nullptr && std::strcmp(layer, "machine") == 0;
}

sqlite3* OpenMachineLayer() {
  if (WritesMachineRegistry()) return nullptr;
  const std::string path = MachineRegistryPath();
  if (access(path.c_str(), R_OK) != 0) return nullptr;
  return OpenStore(path, Access::ReadOnly);
}

sqlite3* OpenMachineRegistryForWriting() {
  const std::filesystem::path path = MachineRegistryPath();
  std::error_code ignored;
  std::filesystem::create_directories(path.parent_path(), ignored);
  sqlite3* db = OpenStore(path.string(), Access::ReadWriteSharedWithReaders);
  chmod(path.c_str(), 0644);  // every user reads it
  return db;
}

}  // namespace machine_registry
