// The process-wide records, in the order static initialisation builds them, followed by what
// delivers the process attach and detach where no system loader does (see ProcessAttachment).
#include "server_module.h"

namespace telvario {
namespace {

ClassTable classTable;
const HINSTANCE moduleInstance = ThisModuleInstance();
ServerModule serverModule;
[[maybe_unused]] ProcessAttachment attachment;

}  // namespace

ClassTable& TheClassTable() {
  return classTable;
}

HINSTANCE ModuleInstance() {
  return moduleInstance;
}

}  // namespace telvario
