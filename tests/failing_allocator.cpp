#include "failing_allocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace telvario::testing {
namespace {

std::atomic<long> counted{0};
std::atomic<long> failAt{0};  // 0: never

// True when this allocation is the one to fail.
bool ShouldFail() {
  if (failAt.load(std::memory_order_relaxed) == 0) return false;
  return counted.fetch_add(1, std::memory_order_relaxed) + 1 == failAt.load();
}

void* Allocate(std::size_t size) {
  if (ShouldFail()) return nullptr;
  return std::malloc(size != 0 ? size : 1);
}

}  // namespace

void FailAllocation(long n) {
  counted = 0;
  failAt = n;
}

long StopFailing() {
  failAt = 0;
  return counted.load();
}

}  // namespace telvario::testing

void* operator new(std::size_t size) {
  void* memory = telvario::testing::Allocate(size);
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}
void* operator new[](std::size_t size) {
  void* memory = telvario::testing::Allocate(size);
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return telvario::testing::Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return telvario::testing::Allocate(size);
}
void operator delete(void* memory) noexcept {
  std::free(memory);
}
void operator delete[](void* memory) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
  std::free(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept {
  std::free(memory);
}
