// Output that must reach its reader byte for byte: OpenMetrics lines end with LF alone, where
// Windows' C runtime would write CR LF for each LF of a stream in text mode.
#ifndef TELVARIO_CLI_BYTE_OUTPUT_H
#define TELVARIO_CLI_BYTE_OUTPUT_H

#include <cstdio>

namespace telvario::cli {

// From now on the stream writes what it is given, unchanged.
void WriteBytesUnchanged(std::FILE* stream);

}  // namespace telvario::cli

#endif
