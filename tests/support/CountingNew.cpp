#include "CountingNew.h"

#include <cstdlib>
#include <new>

thread_local bool counting = false;
std::atomic<long> allocations{0};

// Every form of new and delete, scalar and array, plain and nothrow: a form left to the sanitizer's own
// allocator would hand out memory that a replaced delete then frees as malloc's, or the other way round
// (std::stable_sort's buffer, Qt's item models and SimpleIni's arrays use the nothrow ones).
void *operator new(std::size_t size) {
    if (counting) allocations.fetch_add(1);
    if (void *p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    if (counting) allocations.fetch_add(1);
    return std::malloc(size ? size : 1);
}
void *operator new[](std::size_t size) { return operator new(size); }
void *operator new[](std::size_t size, const std::nothrow_t &tag) noexcept { return operator new(size, tag); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { std::free(p); }
