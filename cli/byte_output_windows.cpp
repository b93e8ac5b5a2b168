// Windows: the stream's descriptor in binary mode.
#include <fcntl.h>
#include <io.h>

#include "byte_output.h"

namespace telvario::cli {

void WriteBytesUnchanged(std::FILE* stream) {
  std::fflush(stream);
  _setmode(_fileno(stream), _O_BINARY);
}

}  // namespace telvario::cli
