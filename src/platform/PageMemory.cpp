#include "platform/PageMemory.h"

#include <malloc.h>

namespace dorvex {

void KeepPageBuffersForReuse() {
    // The largest threshold glibc takes (32 MiB on 64-bit): 1-bit and grey pages and the
    // clean-up's working copies come from the heap (an A4 colour page, 35 MB, is still mapped). The heap's free top is handed back only beyond 256 MiB,
    // so a run of pages reuses the same memory.
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
}

}  // namespace dorvex
