// Writes a readable grey TIFF of at least the given size, for benchmarks:
//   bench_make_tiff PATH MEBIBYTES
#include <cstdlib>
#include <iostream>

#include "TestImages.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: bench_make_tiff PATH MEBIBYTES\n";
        return 64;
    }
    std::size_t bytes = std::strtoull(argv[2], nullptr, 10) * 1048576;
    // Pages of 4096 × 4096 grey pixels (16 MiB each), padded to the exact size.
    int pages = static_cast<int>(bytes / (4096u * 4096u));
    if (pages < 1) pages = 1;
    dorvex::test::WriteGrayTiff(argv[1], pages, 4096, bytes >= 4096u * 4096u ? 4096 : 64, bytes);
    return 0;
}
