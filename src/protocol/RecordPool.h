#pragma once
// Reading a message makes many small shared objects: one per nested record and one per
// list, set and map. Each thread keeps the blocks of such objects freed on it and hands
// them out again to the next read, instead of a malloc and a free for every one. Used by
// the generated records' read code only; the objects are ordinary shared pointers.
#include <cstddef>
#include <memory>
#include <new>

namespace lumvane::thriftsupport {
namespace pool {

constexpr size_t kGranule = 16;
constexpr size_t kClasses = 32;            // blocks of up to 512 bytes
constexpr size_t kMaxKeptBytes = 4 << 20;  // per thread

struct FreeBlock {
    FreeBlock* next;
};

// Trivially destructible, so that frees after the thread's clean-up see `dead`.
struct Lists {
    FreeBlock* head[kClasses];
    size_t keptBytes;
    bool dead;
};

inline Lists& lists() {
    thread_local Lists l{};
    return l;
}

struct Reaper {
    ~Reaper() {
        Lists& l = lists();
        l.dead = true;
        for (FreeBlock*& head : l.head) {
            while (head) {
                FreeBlock* b = head;
                head = b->next;
                ::operator delete(b);
            }
        }
        l.keptBytes = 0;
    }
};

inline size_t classOf(size_t bytes) {
    return (bytes + kGranule - 1) / kGranule;  // 1-based; 0 and > kClasses are not pooled
}

inline void* allocate(size_t bytes) {
    const size_t k = classOf(bytes);
    if (k == 0 || k > kClasses) return ::operator new(bytes);
    Lists& l = lists();
    if (FreeBlock* b = l.head[k - 1]) {
        l.head[k - 1] = b->next;
        l.keptBytes -= k * kGranule;
        return b;
    }
    return ::operator new(k * kGranule);
}

inline void deallocate(void* p, size_t bytes) noexcept {
    const size_t k = classOf(bytes);
    if (k == 0 || k > kClasses) {
        ::operator delete(p);
        return;
    }
    Lists& l = lists();
    if (l.dead || l.keptBytes + k * kGranule > kMaxKeptBytes) {
        ::operator delete(p);
        return;
    }
    if (l.keptBytes == 0) {
        thread_local Reaper reaper;  // frees the lists when the thread ends
        (void)reaper;
    }
    auto* b = static_cast<FreeBlock*>(p);
    b->next = l.head[k - 1];
    l.head[k - 1] = b;
    l.keptBytes += k * kGranule;
}

}  // namespace pool

template <class T>
struct PoolAllocator {
    using value_type = T;
    PoolAllocator() noexcept = default;
    template <class U>
    PoolAllocator(const PoolAllocator<U>&) noexcept {}
    T* allocate(size_t n) {
        static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
        return static_cast<T*>(pool::allocate(n * sizeof(T)));
    }
    void deallocate(T* p, size_t n) noexcept { pool::deallocate(p, n * sizeof(T)); }
    template <class U>
    bool operator==(const PoolAllocator<U>&) const noexcept {
        return true;
    }
};

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUMVANE_RECORD_POOL_OFF 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define LUMVANE_RECORD_POOL_OFF 1
#endif

// A new object for a read. Under AddressSanitizer every object comes from the system
// allocator, so reuse after free is still caught.
template <class T>
std::shared_ptr<T> makeShared() {
#ifdef LUMVANE_RECORD_POOL_OFF
    return std::make_shared<T>();
#else
    return std::allocate_shared<T>(PoolAllocator<T>{});
#endif
}

}  // namespace lumvane::thriftsupport
