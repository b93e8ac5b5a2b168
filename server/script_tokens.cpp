#include "script_tokens.h"

#include <cstring>

namespace telvario {
namespace {

bool IsWhiteSpace(char c) {
  return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

}  // namespace

const char* SkipWhiteSpace(const char* position) {
  while (IsWhiteSpace(*position)) position = CharNextA(position);
  return position;
}

HRESULT NextToken(const char*& position, char* token) {
  position = SkipWhiteSpace(position);
  if (*position == '\0') return DISP_E_EXCEPTION;
  std::size_t used = 0;
  if (*position == '\'') {
    position = CharNextA(position);
    for (;;) {
      if (*position == '\0') return DISP_E_EXCEPTION;
      const char* next = CharNextA(position);
      if (*position == '\'') {
        if (*next != '\'') {
          position = next;
          break;
        }
        next = CharNextA(next);  // a doubled quote stands for one
        if (used >= kMaxQuotedToken) return DISP_E_EXCEPTION;
        token[used++] = '\'';
        position = next;
        continue;
      }
      const auto bytes = static_cast<std::size_t>(next - position);
      if (used >= kMaxQuotedToken || used + bytes > kMaxQuotedToken) return DISP_E_EXCEPTION;
      std::memcpy(token + used, position, bytes);
      used += bytes;
      position = next;
    }
  } else {
    while (*position != '\0' && !IsWhiteSpace(*position)) {
      const char* next = CharNextA(position);
      const auto bytes = static_cast<std::size_t>(next - position);
      // A token the buffer cannot hold is refused, not cut.
      if (used + bytes >= kTokenBufferSize) return DISP_E_EXCEPTION;
      std::memcpy(token + used, position, bytes);
      used += bytes;
      position = next;
    }
  }
  token[used] = '\0';
  return S_OK;
}

}  // namespace telvario
