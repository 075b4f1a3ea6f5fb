// Per-page cost of the page-processing paths on 300-dpi A4 letter pages:
//   bench_pages OUTDIR PAGE...
// Black and white: reduce to 1 bit, deskew (DeskewAngle 10), border removal, despeckle,
// blank-page test, barcode read in the region, append into one multi-page G4 file.
// Grey: the same without the 1-bit reduction and border removal, into LZW. Colour: from JPEG
// files to JPEG files.
// Also the resident memory while appending page 2 and page 500 of one document.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "control/PageProcessing.h"
#include "model/ScanProperties.h"
#include "platform/PageMemory.h"
#include "platform/Raster.h"

using namespace dorvex;
using Clock = std::chrono::steady_clock;

namespace {

long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Runs the chain on `count` pages, each given by `load(i)` (inside the timing).
double Run(std::size_t count, const std::function<Raster(std::size_t)>& load, int bits, const std::string& out, int format) {
    ScanProperties p;
    p.Set(prop::Deskew, "1");
    p.Set(prop::DeskewAngle, "10");
    p.Set(prop::BorderRemove, bits == 1 ? "1" : "0");
    p.Set(prop::DotRemove, "1");
    p.Set(prop::PixelType, bits == 1 ? "0" : bits == 8 ? "1" : "2");
    BarcodeRegion region{0.5, 0.0, 0.5, 0.25};  // the top right quarter, where the number goes
    RestrictSize restrict = p.ComputeRestrictSize();
    std::remove(out.c_str());
    int found = 0;
    auto start = Clock::now();
    int n = 0;
    for (std::size_t i = 0; i < count; ++i) {
        Raster page = load(i);
        if (bits == 1) page.ReduceTo1Bit();
        RunCleanUpChain(page, p, ++n, restrict);
        if (IsBlankPage(page, p)) continue;
        if (!GetFirstBarcode(page, region).empty()) ++found;
        if (format == fileformat::Jpeg) {
            page.Save(out + "." + std::to_string(n) + ".jpg", format);
        } else {
            page.Save(out, format, n, SaveMode::Append);
        }
    }
    double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / count;
    if (found != static_cast<int>(count)) std::cerr << "warning: barcodes found on " << found << " pages\n";
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: bench_pages OUTDIR PAGE...\n";
        return 64;
    }
    KeepPageBuffersForReuse();  // as the programs do
    std::string outDir = argv[1];
    // Memory while one document grows to 500 pages, before the other pages are loaded: the
    // resident size must not grow with the document.
    Raster page = Raster::Load(argv[2]);
    page.ReduceTo1Bit();
    std::string doc = outDir + "/long.tif";
    std::remove(doc.c_str());
    long at2 = 0, at500 = 0;
    double first = 0, last = 0;
    for (int n = 1; n <= 500; ++n) {
        auto start = Clock::now();
        page.Save(doc, fileformat::TiffG4, n, SaveMode::Append);
        double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (n == 2) at2 = ResidentKiB(), first = ms;
        if (n == 500) at500 = ResidentKiB(), last = ms;
    }
    std::printf("rss_page2_kib %ld\nrss_page500_kib %ld\nappend_page2_ms %.2f\nappend_page500_ms %.2f\n", at2, at500, first, last);

    // Colour pages come as a colour scanner's driver or a photo folder gives them: JPEG files,
    // decoded inside the timing.
    std::vector<Raster> grey;
    std::vector<std::string> colour;
    for (int i = 2; i < argc; ++i) {
        grey.push_back(Raster::Load(argv[i]));
        grey.back().ConvertTo(8);
        Raster inColour = grey.back();
        inColour.ConvertTo(24);
        colour.push_back(outDir + "/colour-in" + std::to_string(i) + ".jpg");
        inColour.Save(colour.back(), fileformat::Jpeg);
    }
    auto copy = [&grey](std::size_t i) { return grey[i]; };
    double bw = Run(grey.size(), copy, 1, outDir + "/bw.tif", fileformat::TiffG4);
    double gr = Run(grey.size(), copy, 8, outDir + "/grey.tif", fileformat::TiffLzw);
    double co = Run(colour.size(), [&colour](std::size_t i) { return Raster::Load(colour[i]); }, 24, outDir + "/colour",
                    fileformat::Jpeg);
    std::printf("bw_ms %.2f\ngrey_ms %.2f\ncolour_ms %.2f\n", bw, gr, co);
    return 0;
}
