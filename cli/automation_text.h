// Text to and from automation strings, as a script host passes and reads them.
#ifndef TELVARIO_CLI_AUTOMATION_TEXT_H
#define TELVARIO_CLI_AUTOMATION_TEXT_H

#include <string>

#include "windows_api.h"

namespace telvario::cli {

// UTF-8 text as a new automation string (null when it is not valid UTF-8).
BSTR ToBstr(const std::string& text);

// An automation string as UTF-8 text; a null string reads as empty.
std::string Narrow(BSTR text);

}  // namespace telvario::cli

#endif
