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
