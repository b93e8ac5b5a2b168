// The machine-wide layer of the posix registry, beneath each user's, as Windows' classes view
// merges the machine's registrations under the user's: a lookup below HKEY_CLASSES_ROOT that
// the user's registry cannot answer is answered from the machine's, read-only, where it has
// the key. Installing the component registers it there for every user; a user's own
// registration still comes first for that user.
//
// The machine's registry is $TELVARIO_MACHINE_REGISTRY, or /var/lib/telvario/registry.sqlite3.
// A process whose $TELVARIO_REGISTRY_LAYER is "machine" (root's, as it registers for everyone)
// writes to it instead of a registry of its own, and has no other layer. A process whose
// program file raised its privileges (secure-execution mode) reads neither variable: the
// machine's registry names the modules every user loads, and it is root's to write.
#ifndef TELVARIO_PLATFORM_POSIX_MACHINE_REGISTRY_H
#define TELVARIO_PLATFORM_POSIX_MACHINE_REGISTRY_H

#include <sqlite3.h>

namespace machine_registry {

// Whether this process writes the machine's registry rather than a user's.
bool WritesMachineRegistry();

// The machine's registry opened for reading beneath a user's; null where there is none, or
// where this process writes it itself.
sqlite3* OpenMachineLayer();

// The machine's registry opened for writing, its folder made when missing; null when it cannot.
sqlite3* OpenMachineRegistryForWriting();

}  // namespace machine_registry

#endif
