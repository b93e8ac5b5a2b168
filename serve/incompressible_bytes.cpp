#include "incompressible_bytes.h"

#include <openssl/rand.h>

#include <cstdint>
#include <vector>

namespace telvario::serve {
namespace {

// Larger than any compressor's window that HTTP or a link layer uses.
constexpr std::size_t kBlockBytes = std::size_t{4} << 20;

std::vector<char> MakeBlock() {
  std::vector<char> block(kBlockBytes);
  if (RAND_bytes(reinterpret_cast<unsigned char*>(block.data()), static_cast<int>(block.size())) !=
      1) {
    // No entropy to be had: a xorshift sequence compresses no better.
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    for (char& byte : block) {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      byte = static_cast<char>(state >> 24);
    }
  }
  return block;
}

}  // namespace

std::span<const char> IncompressibleBytes() {
  static const std::vector<char> block = MakeBlock();
  return block;
}

}  // namespace telvario::serve
