#include "platform/PageMemory.h"

#include <leptonica/allheaders.h>
#include <malloc.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

namespace dorvex {
namespace {

constexpr std::size_t kHugePage = 2 * 1024 * 1024;

// Page data as malloc gives it, freed by free; a buffer beyond glibc's mapping threshold asks
// for huge pages, so that a fresh colour page faults in seventeen times instead of eight
// thousand. A buffer handed to Leptonica from elsewhere is freed the same way, so nothing
// depends on where it came from.
void* PageData(std::size_t size) {
    void* data = std::malloc(size);
    if (data != nullptr && size >= 16 * kHugePage) {
        const auto from = (reinterpret_cast<std::uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
        const auto to = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kHugePage - 1);
        // Only advice: where the kernel has no huge pages, the buffer works as before.
        if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
    }
    return data;
}

void FreePageData(void* data) { std::free(data); }

}  // namespace

void KeepPageBuffersForReuse() {
    // The largest threshold glibc takes (32 MiB on 64-bit): 1-bit and grey pages and the
    // clean-up's working copies come from the heap. The heap's free top is handed back only
    // beyond 256 MiB, so a run of pages reuses the same memory. A colour page (35 MB at A4)
    // is still mapped afresh, in huge pages.
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
    setPixMemoryManager(PageData, FreePageData);
}

}  // namespace dorvex
