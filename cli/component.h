// The component as the client meets it, as any host would: the library loaded from beside the
// program, its class object asked for with DllGetClassObject, and one object made by it: a
// Sonde2, which answers every Sonde member too, unless Sonde is asked for.
#ifndef TELVARIO_CLI_COMPONENT_H
#define TELVARIO_CLI_COMPONENT_H

#include <string>

#include "telvario2_idl.h"

namespace telvario::cli {

class Component {
 public:
  explicit Component(const CLSID& clsid = CLSID_Sonde2);
  ~Component();
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;

  // Null, with Error() saying why, when the object could not be made.
  ISonde* Sonde() const { return sonde_; }
  // Null for a Sonde.
  ISonde2* Sonde2() const { return sonde2_; }
  HMODULE Library() const { return library_; }
  const std::string& Error() const { return error_; }

 private:
  HMODULE library_ = nullptr;
  ISonde* sonde_ = nullptr;
  ISonde2* sonde2_ = nullptr;
  std::string error_;
};

// The file version of the component's library, from its version record ("1.0.0.4"); empty when
// the library or its record cannot be read.
std::string ComponentVersion();

}  // namespace telvario::cli

#endif
