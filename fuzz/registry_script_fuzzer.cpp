// Fuzzes the registry script interpreter: any text, run in the register and then the
// unregister direction on a fresh registry of its own (in memory), with the library's symbol
// defined. Results are codes; what must not happen is a crash, an overrun or a leak.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "script_registrar.h"

namespace {

// Set before the registry's first use: a database in memory, private to this process.
const bool inMemory = [] {
  setenv("TELVARIO_REGISTRY", ":memory:", 1);
  return true;
}();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  RegistryDeleteAll();
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  telvario::ScriptRegistrar registrar;
  registrar.SetSymbol(OLESTR("MODULE"), OLESTR("/usr/lib/telvario/libtelvario.so"));
  registrar.RunText(text.data(), TRUE);
  registrar.RunText(text.data(), FALSE);
  return 0;
}
