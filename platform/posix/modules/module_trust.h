// Which files a process may load code from. A process whose program file raised its privileges
// (secure-execution mode: set-user-ID, set-group-ID, file capabilities such as the client's
// cap_net_raw) must not run code that its user could have chosen: whatever it loads inherits
// what the process holds. There a module loads by a path only from the installation's own
// library folder (where the package puts libtelvario.so, root's), whatever the user's registry
// names; a bare name is left to the dynamic loader, which ignores the environment in that mode.
// Anywhere else every path will do, as it always did.
#ifndef TELVARIO_PLATFORM_POSIX_MODULE_TRUST_H
#define TELVARIO_PLATFORM_POSIX_MODULE_TRUST_H

#include <climits>

// The name to hand dlopen for `path`: the path itself, or in secure-execution mode the path
// resolved into `resolved`, so that what was checked is what is loaded; null when this process
// may not load it. Allocates nothing.
const char* LoadableModulePath(const char* path, char (&resolved)[PATH_MAX]);

#endif
