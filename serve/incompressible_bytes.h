// What the downloads send: random bytes, made once at start, that no compressor on the path
// makes smaller. Every response sends slices of this one block, by reference: on plain HTTP/1.1
// they go from it to the socket with no copy of ours.
#ifndef TELVARIO_SERVE_INCOMPRESSIBLE_BYTES_H
#define TELVARIO_SERVE_INCOMPRESSIBLE_BYTES_H

#include <cstddef>
#include <span>

namespace telvario::serve {

std::span<const char> IncompressibleBytes();

}  // namespace telvario::serve

#endif
