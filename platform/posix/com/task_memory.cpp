// COM's task allocator: the C library's heap.
#include <cstdlib>

#include "com.h"

void* CoTaskMemAlloc(SIZE_T size) {
  return std::malloc(size != 0 ? size : 1);
}

void* CoTaskMemRealloc(void* memory, SIZE_T size) {
  return std::realloc(memory, size != 0 ? size : 1);
}

void CoTaskMemFree(void* memory) {
  std::free(memory);
}
