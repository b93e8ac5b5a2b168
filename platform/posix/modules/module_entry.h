// What stands in for the Windows loader's calls of a DLL's entry routine.
//
// The library defines, in the one source file that holds its process-wide records, first those
// records and then one ProcessAttachment. C++ constructs the objects of one file in the order of
// their definitions and destroys them in the reverse order, so the entry routine sees the
// process attach after the records' static initialisation, and the detach before their static
// teardown: the order the Windows loader keeps.
#ifndef TELVARIO_PLATFORM_POSIX_MODULE_ENTRY_H
#define TELVARIO_PLATFORM_POSIX_MODULE_ENTRY_H

#include "kernel.h"

extern "C" BOOL DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

// The address at which the module (the shared library or program) holding the caller is loaded.
HINSTANCE ThisModuleInstance();

class ProcessAttachment {
 public:
  ProcessAttachment() { DllMain(ThisModuleInstance(), DLL_PROCESS_ATTACH, nullptr); }
  ~ProcessAttachment() { DllMain(ThisModuleInstance(), DLL_PROCESS_DETACH, nullptr); }
  ProcessAttachment(const ProcessAttachment&) = delete;
  ProcessAttachment& operator=(const ProcessAttachment&) = delete;
};

#endif
