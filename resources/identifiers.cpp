// Defines the interface, class and type library identifiers of the interface definition, once
// for each program or library that uses them (the system's own come from the system).
#include "windows_api.h"

#include <initguid.h>

#include "telvario_idl.h"
#include "telvario2_idl.h"
