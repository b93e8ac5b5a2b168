// Defines the interface, class and type library identifiers of the interface definition, once
// for the whole library (the system's own identifiers come from the system).
#include "windows_api.h"

#include <initguid.h>

#include "telvario_idl.h"
