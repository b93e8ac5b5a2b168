// The client's late-bound calls: a member named as a script names it, its arguments typed as a
// script's literals are, called through IDispatch.
#ifndef TELVARIO_CLI_LATE_BOUND_CALL_H
#define TELVARIO_CLI_LATE_BOUND_CALL_H

#include <string>
#include <vector>

#include "report.h"
#include "telvario_idl.h"

namespace telvario::cli {

// Calls the member (a property get or a method), or puts its value; reports the result with its
// automation type. False, with the reason, when the call fails. The type library must be
// registered (telvario register), as scripts need it to be.
bool LateBoundCall(ISonde& sonde, const std::string& member,
                   const std::vector<std::string>& arguments, bool put, Report& report,
                   std::string* error);

}  // namespace telvario::cli

#endif
