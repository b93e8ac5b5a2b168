// Telvario for programs that use it on posix: the ISonde and ISonde2 interfaces, the identifiers
// of their classes, type libraries and events, and the Windows calls a host makes to reach them
// (CoCreateInstance, CLSIDFromProgID, automation strings and variants, IDispatch, connection
// points for Sonde2's events), which libtelvario-host provides
// as the system does on Windows. The object itself comes from libtelvario.so, found through the
// registration that `telvario register` (or the package, for every user) made.
//
//   c++ -std=c++20 program.cpp $(pkg-config --cflags --libs telvario)
#ifndef TELVARIO_H
#define TELVARIO_H

#include "windows_api.h"
#include "telvario2_idl.h"

#endif
