#include "platform/Jpeg.h"

#include <leptonica/allheaders.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
// jpeglib.h needs FILE and size_t declared before it.
#include <jerror.h>
#include <jpeglib.h>

namespace dorvex {
namespace {

// libjpeg reports a fatal error through error_exit, which must not return: it jumps back to
// the call that set the trap. Warnings (corrupt data) are counted, and nothing is printed.
struct ErrorTrap {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void JumpBack(j_common_ptr info) { std::longjmp(reinterpret_cast<ErrorTrap*>(info->err)->jump, 1); }
void Silent(j_common_ptr) {}

void SetTrap(ErrorTrap& trap, j_common_ptr info) {
    info->err = jpeg_std_error(&trap.manager);
    trap.manager.error_exit = JumpBack;
    trap.manager.output_message = Silent;
}

// Leptonica's 32-bit pixels in memory, on a little-endian machine: X, B, G, R.
static_assert(L_RED_SHIFT == 24 && L_BLUE_SHIFT == 8, "pixels as Leptonica lays them out");

void SwapRowBytes(l_uint32* line, l_int32 wpl) {
    for (l_int32 k = 0; k < wpl; ++k) line[k] = __builtin_bswap32(line[k]);
}

// Without C++ objects between the trap and the jumps to it, as longjmp skips destructors.
void Decode(FILE* file, JpegReading& result) {
    jpeg_decompress_struct info;
    ErrorTrap trap;
    SetTrap(trap, reinterpret_cast<j_common_ptr>(&info));
    PIX* volatile pix = nullptr;
    if (setjmp(trap.jump) != 0) {
        result.outOfMemory = trap.manager.msg_code == JERR_OUT_OF_MEMORY;
        jpeg_destroy_decompress(&info);
        PIX* made = pix;
        pixDestroy(&made);
        return;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_save_markers(&info, JPEG_COM, 0xffff);  // a comment goes with the page, as Leptonica keeps it
    jpeg_read_header(&info, TRUE);
    const bool colour = info.num_components == 3 && (info.jpeg_color_space == JCS_YCbCr || info.jpeg_color_space == JCS_RGB);
    const bool grey = info.num_components == 1;
    if (!colour && !grey) {
        result.otherKind = true;
        jpeg_destroy_decompress(&info);
        return;
    }
    info.out_color_space = colour ? JCS_EXT_XBGR : JCS_GRAYSCALE;
    jpeg_start_decompress(&info);
    pix = pixCreateNoInit(static_cast<l_int32>(info.output_width), static_cast<l_int32>(info.output_height), colour ? 32 : 8);
    if (pix == nullptr) {
        result.outOfMemory = true;
        jpeg_destroy_decompress(&info);
        return;
    }
    l_uint32* data = pixGetData(pix);
    const l_int32 wpl = pixGetWpl(pix);
    while (info.output_scanline < info.output_height) {
        l_uint32* line = data + static_cast<std::ptrdiff_t>(info.output_scanline) * wpl;
        JSAMPROW row = reinterpret_cast<JSAMPROW>(line);
        if (jpeg_read_scanlines(&info, &row, 1) != 1) break;
        if (colour) {
            for (l_int32 j = 0; j < wpl; ++j) line[j] &= 0xffffff00u;  // no alpha, as Leptonica reads it
        } else {
            SwapRowBytes(line, wpl);
        }
    }
    const bool complete = info.output_scanline == info.output_height;
    // Corrupt data within the image refuses it; what follows the last row (padding before the
    // end marker, say) does not, as every pixel was read.
    const bool corrupt = trap.manager.num_warnings > 0 || !complete;
    for (jpeg_saved_marker_ptr marker = info.marker_list; marker != nullptr; marker = marker->next) {
        if (marker->marker != JPEG_COM) continue;
        char* text = static_cast<char*>(std::malloc(marker->data_length + 1));
        if (text == nullptr) break;
        std::memcpy(text, marker->data, marker->data_length);
        text[marker->data_length] = '\0';
        pixSetText(pix, text);
        std::free(text);
        break;
    }
    if (complete) jpeg_finish_decompress(&info);
    if (info.density_unit == 1) {
        pixSetResolution(pix, info.X_density, info.Y_density);
    } else if (info.density_unit == 2) {  // dots per centimetre
        pixSetResolution(pix, static_cast<l_int32>(info.X_density * 2.54f + 0.5f), static_cast<l_int32>(info.Y_density * 2.54f + 0.5f));
    }
    jpeg_destroy_decompress(&info);
    if (colour) pixSetSpp(pix, 3);
    else pixSetPadBits(pix, 0);
    pixSetInputFormat(pix, IFF_JFIF_JPEG);
    result.pix = pix;
    if (corrupt) pixDestroy(&result.pix);
}

// The coded bytes in a buffer that doubles as it fills, ours to free whether or not the
// coding ends (libjpeg's own memory destination frees buffers it has outgrown behind the
// caller's back).
struct Destination {
    jpeg_destination_mgr manager;
    unsigned char* data;
    std::size_t capacity;
};

void StartDestination(j_compress_ptr info) {
    auto* to = reinterpret_cast<Destination*>(info->dest);
    to->manager.next_output_byte = to->data;
    to->manager.free_in_buffer = to->capacity;
}

boolean GrowDestination(j_compress_ptr info) {
    auto* to = reinterpret_cast<Destination*>(info->dest);
    const std::size_t used = to->capacity;  // libjpeg asks only when the buffer is full
    auto* bigger = static_cast<unsigned char*>(std::realloc(to->data, to->capacity * 2));
    if (bigger == nullptr) ERREXIT1(info, JERR_OUT_OF_MEMORY, 10);
    to->data = bigger;
    to->capacity *= 2;
    to->manager.next_output_byte = bigger + used;
    to->manager.free_in_buffer = to->capacity - used;
    return TRUE;
}

void EndDestination(j_compress_ptr) {}

// `row` holds a grey row in the order of its pixels (Leptonica's bytes are in word order).
bool Encode(PIX* pix, int quality, l_uint32* row, Destination* to) {
    jpeg_compress_struct info;
    ErrorTrap trap;
    SetTrap(trap, reinterpret_cast<j_common_ptr>(&info));
    const bool colour = pixGetDepth(pix) == 32;
    if (setjmp(trap.jump) != 0) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    to->manager.init_destination = StartDestination;
    to->manager.empty_output_buffer = GrowDestination;
    to->manager.term_destination = EndDestination;
    info.dest = &to->manager;
    info.image_width = static_cast<JDIMENSION>(pixGetWidth(pix));
    info.image_height = static_cast<JDIMENSION>(pixGetHeight(pix));
    info.input_components = colour ? 4 : 1;
    info.in_color_space = colour ? JCS_EXT_XBGR : JCS_GRAYSCALE;
    jpeg_set_defaults(&info);
    info.optimize_coding = FALSE;
    const l_int32 xres = pixGetXRes(pix), yres = pixGetYRes(pix);
    if (xres != 0 && yres != 0) {
        info.density_unit = 1;
        info.X_density = static_cast<UINT16>(xres);
        info.Y_density = static_cast<UINT16>(yres);
    }
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    if (const char* text = pixGetText(pix); text != nullptr) {
        jpeg_write_marker(&info, JPEG_COM, reinterpret_cast<const JOCTET*>(text), static_cast<unsigned>(std::strlen(text)));
    }
    const l_uint32* data = pixGetData(pix);
    const l_int32 wpl = pixGetWpl(pix);
    while (info.next_scanline < info.image_height) {
        const l_uint32* line = data + static_cast<std::ptrdiff_t>(info.next_scanline) * wpl;
        if (!colour) {
            std::memcpy(row, line, static_cast<std::size_t>(wpl) * 4);
            SwapRowBytes(row, wpl);
            line = row;
        }
        JSAMPROW samples = const_cast<JSAMPROW>(reinterpret_cast<const JSAMPLE*>(line));
        jpeg_write_scanlines(&info, &samples, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

}  // namespace

JpegReading ReadJpegFile(const std::string& path) {
    JpegReading result;
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (file) Decode(file.get(), result);
    return result;
}

bool EncodeJpeg(Pix* pix, int quality, unsigned char** bytes, std::size_t* size) {
    const l_int32 depth = pixGetDepth(pix);
    if ((depth != 8 && depth != 32) || pixGetColormap(pix) != nullptr || pixGetWidth(pix) <= 0 || pixGetHeight(pix) <= 0) return false;
    if (pixGetXRes(pix) > 65535 || pixGetYRes(pix) > 65535 || pixGetXRes(pix) < 0 || pixGetYRes(pix) < 0) return false;
    if (pix->special == L_NO_CHROMA_SAMPLING_JPEG) return false;  // full chroma: Leptonica writes it
    const char* text = pixGetText(pix);
    if (text != nullptr && std::strlen(text) > 65533) return false;  // more than one marker holds
    std::unique_ptr<l_uint32, void (*)(void*)> row(static_cast<l_uint32*>(std::malloc(static_cast<std::size_t>(pixGetWpl(pix)) * 4)), std::free);
    if (!row) return false;
    Destination to{};
    to.capacity = 64 * 1024;
    to.data = static_cast<unsigned char*>(std::malloc(to.capacity));
    if (to.data == nullptr) return false;
    if (!Encode(pix, quality, row.get(), &to)) {
        std::free(to.data);
        return false;
    }
    *bytes = to.data;
    *size = to.capacity - to.manager.free_in_buffer;
    return true;
}

}  // namespace dorvex
