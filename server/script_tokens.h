// The tokens of a registry script: runs of characters between blanks and line ends, or quoted
// text, in which a doubled quote stands for one.
#ifndef TELVARIO_SERVER_SCRIPT_TOKENS_H
#define TELVARIO_SERVER_SCRIPT_TOKENS_H

#include <cstddef>

#include "windows_api.h"

namespace telvario {

constexpr std::size_t kTokenBufferSize = 4096;
constexpr std::size_t kMaxQuotedToken = 4094;

// The position after any tabs, line ends and spaces.
const char* SkipWhiteSpace(const char* position);

// Reads the next token into token (kTokenBufferSize bytes) and moves position behind it.
HRESULT NextToken(const char*& position, char* token);

}  // namespace telvario

#endif
