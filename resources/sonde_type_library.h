// The description of the component's type library, TELVARIOLib: the interface definition's
// content as the type information reports it.
#ifndef TELVARIO_RESOURCES_SONDE_TYPE_LIBRARY_H
#define TELVARIO_RESOURCES_SONDE_TYPE_LIBRARY_H

#include "type_description.h"

namespace telvario {

extern const typelib::Library kSondeTypeLibrary;
// ISonde as its dispatch side lists it, which ISonde2's description builds on.
extern const typelib::Interface kISondeDescription;

}  // namespace telvario

#endif
