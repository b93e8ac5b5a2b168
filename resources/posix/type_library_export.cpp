// Where the type-library services find the type library of the module this is linked into:
// the posix counterpart of the embedded "TYPELIB" resource.
#include "sonde_type_library.h"

extern "C" __attribute__((visibility("default")))
const telvario::typelib::Library* const TelvarioTypeLibrary = &telvario::kSondeTypeLibrary;
