// Global operator new and delete over malloc and free, counting each allocation.
#include "counting_allocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace zorsck::bench {
namespace {

std::atomic<std::uint64_t> gAllocations{0};

// One counted allocation of `size` bytes; throws like the standard one.
void* countedAlloc(std::size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

// One counted allocation of `size` bytes aligned to `align`; throws like the standard one.
void* countedAlignedAlloc(std::size_t size, std::align_val_t align) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  const auto a = static_cast<std::size_t>(align);
  const std::size_t rounded = (size + a - 1) / a * a;
  if (void* p = std::aligned_alloc(a, rounded == 0 ? a : rounded)) return p;
  throw std::bad_alloc();
}

}  // namespace

std::uint64_t allocationCount() { return gAllocations.load(std::memory_order_relaxed); }

}  // namespace zorsck::bench

using zorsck::bench::countedAlignedAlloc;
using zorsck::bench::countedAlloc;

// Every replaceable form of operator new counts and forwards to malloc or aligned_alloc.
void* operator new(std::size_t size) { return countedAlloc(size); }
void* operator new[](std::size_t size) { return countedAlloc(size); }
void* operator new(std::size_t size, std::align_val_t align) { return countedAlignedAlloc(size, align); }
void* operator new[](std::size_t size, std::align_val_t align) { return countedAlignedAlloc(size, align); }
// Every replaceable form of operator delete forwards to free.
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
