#include "module_trust.h"

#include <sys/auxv.h>

#include <cstdlib>
#include <cstring>

const char* LoadableModulePath(const char* path, char (&resolved)[PATH_MAX]) {
  if (path == nullptr) return nullptr;
  if (getauxval(AT_SECURE) == 0 || std::strchr(path, '/') == nullptr) return path;
  // Resolved first: a link elsewhere, or "..", must not lead out of the folder.
  if (realpath(path, resolved) == nullptr) return nullptr;
  constexpr char kFolder[] = TELVARIO_INSTALLED_LIBDIR "/";
  const bool inside = std::strncmp(resolved, kFolder, sizeof kFolder - 1) == 0 &&
                      std::strchr(resolved + sizeof kFolder - 1, '/') == nullptr;
  return inside ? resolved : nullptr;
}
