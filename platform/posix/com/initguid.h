// On Windows, including this before an interface header defines its identifiers; here the
// identifiers are constants in the headers already.
#ifndef TELVARIO_PLATFORM_POSIX_INITGUID_H
#define TELVARIO_PLATFORM_POSIX_INITGUID_H
#endif
