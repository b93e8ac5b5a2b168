// Telvario for programs that use it on posix: the ISonde interface, the identifiers of its class
// and type library, and the Windows calls a host makes to reach it (CoCreateInstance,
// CLSIDFromProgID, automation strings and variants, IDispatch), which libtelvario-host provides
// as the system does on Windows. The object itself comes from libtelvario.so, found through the
// registration that `telvario register` (or the package, for every user) made.
//
//   c++ -std=c++20 program.cpp $(pkg-config --cflags --libs telvario)
#ifndef TELVARIO_H
#define TELVARIO_H

#include "windows_api.h"
#include "telvario_idl.h"

#endif
