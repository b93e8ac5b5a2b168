// The description of Sonde2's type library, TELVARIO2Lib: the enumerations of Sonde2's result
// codes and setting bounds, ISonde2, which builds on ISonde's description as the interface
// definition builds on ISonde, its events and the class.
#ifndef TELVARIO_RESOURCES_SONDE2_TYPE_LIBRARY_H
#define TELVARIO_RESOURCES_SONDE2_TYPE_LIBRARY_H

#include "type_description.h"

namespace telvario {

extern const typelib::Library kSonde2TypeLibrary;

}  // namespace telvario

#endif
