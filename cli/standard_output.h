// Standard output, where every command's results go: written whole or the command fails. A full
// disk, a closed pipe's end or a device that refuses the bytes is a failure of the command
// (exit status 1), never a success that printed nothing.
#ifndef TELVARIO_CLI_STANDARD_OUTPUT_H
#define TELVARIO_CLI_STANDARD_OUTPUT_H

#include <string>

namespace telvario::cli {

// Writes the text; RunFailure when it cannot be written whole.
void WriteOut(const std::string& text);

// Flushes what is buffered: "" when everything written reached standard output (or a failed
// write has said already that it did not), else why not.
std::string FinishStandardOutput();

}  // namespace telvario::cli

#endif
