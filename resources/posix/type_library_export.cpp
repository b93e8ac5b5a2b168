// Where the type-library services find the type libraries of the module this is linked into:
// the posix counterpart of the embedded "TYPELIB" resources 1 and 2.
#include "sonde2_type_library.h"
#include "sonde_type_library.h"

extern "C" __attribute__((visibility("default")))
const telvario::typelib::Library* const TelvarioTypeLibrary = &telvario::kSondeTypeLibrary;
extern "C" __attribute__((visibility("default")))
const telvario::typelib::Library* const TelvarioTypeLibrary2 = &telvario::kSonde2TypeLibrary;
