// Each connection is an open file: the process's limit on them goes up as far as the system lets
// it, and where even that cannot hold the connections asked for, that limit comes down to what it
// can; a server out of files could take no connection, not even to refuse it.
#ifndef TELVARIO_SERVE_OPEN_FILES_H
#define TELVARIO_SERVE_OPEN_FILES_H

#include <string>

#include "serve_options.h"

namespace telvario::serve {

// "" where the limits stand as given; else the line that says what they became. ServeFailure
// where the process may open too few files to serve at all.
std::string FitOpenFiles(ServeLimits& limits);

}  // namespace telvario::serve

#endif
