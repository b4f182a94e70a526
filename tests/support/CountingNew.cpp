#include "CountingNew.h"

#include <cstdlib>
#include <new>

thread_local bool counting = false;
std::atomic<long> allocations{0};

void *operator new(std::size_t size) {
    if (counting) allocations.fetch_add(1);
    if (void *p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
// The nothrow forms too (std::stable_sort's buffer, Qt's item models): left to the sanitizer's own, they would hand out
// memory that the replaced delete above then frees as malloc's.
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    if (counting) allocations.fetch_add(1);
    return std::malloc(size ? size : 1);
}
void *operator new[](std::size_t size, const std::nothrow_t &tag) noexcept { return operator new(size, tag); }
void operator delete(void *p, const std::nothrow_t &) noexcept { std::free(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { std::free(p); }
