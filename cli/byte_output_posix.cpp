// posix streams change nothing they write.
#include "byte_output.h"

namespace telvario::cli {

void WriteBytesUnchanged(std::FILE* /*stream*/) {}

}  // namespace telvario::cli
