// The pieces of the Windows runtime library and of wsprintfA whose results the component
// depends on, reproduced rather than taken from the C library, whose rules differ.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "kernel.h"

namespace {

thread_local unsigned int randomState = 1;

constexpr int kWsprintfLimit = 1024;  // wsprintfA never writes more, NUL included

// One conversion of a format: flags, width and precision are kept as text for snprintf.
struct Conversion {
  char directive[32];
  char type;
  const char* next;
};

// Reads "%[flags][width][.precision][h|l]type"; null when it is not a conversion we format.
bool ReadConversion(const char* start, Conversion* conversion) {
  const char* p = start + 1;
  size_t length = 1;
  conversion->directive[0] = '%';
  auto keep = [&](char c) {
    if (length + 2 < sizeof conversion->directive) conversion->directive[length++] = c;
  };
  while (*p == '-' || *p == '#' || *p == '0') keep(*p++);
  while (*p >= '0' && *p <= '9') keep(*p++);
  if (*p == '.') {
    keep(*p++);
    while (*p >= '0' && *p <= '9') keep(*p++);
  }
  if (*p == 'l' || *p == 'h') ++p;  // 32-bit integers and narrow text either way
  switch (*p) {
    case 'd':
    case 'i':
    case 'u':
    case 'x':
    case 'X':
    case 'c':
    case 's':
      keep(*p);
      conversion->directive[length] = '\0';
      conversion->type = *p;
      conversion->next = p + 1;
      return true;
    default:
      return false;
  }
}

// Formats one conversion with its argument into `room` bytes; gives the length it would have.
int FormatArgument(char* out, size_t room, const Conversion& conversion, va_list* arguments) {
  switch (conversion.type) {
    case 'd':
    case 'i':
      return std::snprintf(out, room, conversion.directive,
                           static_cast<int>(va_arg(*arguments, LONG)));
    case 'c':
      return std::snprintf(out, room, conversion.directive, va_arg(*arguments, int));
    case 's': {
      const char* text = va_arg(*arguments, const char*);
      return std::snprintf(out, room, conversion.directive, text != nullptr ? text : "(null)");
    }
    default:
      return std::snprintf(out, room, conversion.directive,
                           static_cast<unsigned int>(va_arg(*arguments, DWORD)));
  }
}

}  // namespace

void RuntimeSeedRandom(unsigned int seed) {
  randomState = seed;
}

int RuntimeRandom() {
  randomState = randomState * 214013u + 2531011u;
  return static_cast<int>((randomState >> 16) & 0x7FFF);
}

int wsprintfA(LPSTR buffer, LPCSTR format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int written = 0;
  for (const char* p = format; *p != '\0' && written < kWsprintfLimit - 1;) {
    Conversion conversion{};
    if (*p != '%' || !ReadConversion(p, &conversion)) {
      if (*p == '%' && p[1] == '%') ++p;
      buffer[written++] = *p++;
      continue;
    }
    const int produced = FormatArgument(
        buffer + written, static_cast<size_t>(kWsprintfLimit - written), conversion, &arguments);
    if (produced > 0) written += produced;
    if (written > kWsprintfLimit - 1) written = kWsprintfLimit - 1;
    p = conversion.next;
  }
  va_end(arguments);
  buffer[written] = '\0';
  return written;
}
