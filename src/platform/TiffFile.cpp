#include "platform/TiffFile.h"

#include <fcntl.h>
#include <leptonica/allheaders.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>

#include "platform/TiffLzw.h"
#include "support/Error.h"

namespace dorvex::tiff_file {
namespace {

thread_local MessageCapture* gCapture = nullptr;

// A directory may hold at most this many entries (real files have a few dozen).
constexpr std::uint64_t kMaxEntries = 4096;

bool ReadAt(int fd, void* buffer, std::size_t size, std::uint64_t offset) {
    auto* out = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        ssize_t got = ::pread(fd, out, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        size -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

std::uint64_t Number(const unsigned char* bytes, int size, bool bigEndian) {
    std::uint64_t value = 0;
    for (int i = 0; i < size; ++i) {
        int at = bigEndian ? i : size - 1 - i;
        value = (value << 8) | bytes[at];
    }
    return value;
}

std::string ErrnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

// ---- messages ----

MessageCapture::MessageCapture() : mOuter(gCapture) { gCapture = this; }
MessageCapture::~MessageCapture() { gCapture = mOuter; }

bool MessageCapture::OutOfMemory() const {
    for (const std::string* text : {&mErrors, &mWarnings}) {
        for (const char* mark : {"alloc", "Out of memory", "out of memory", "No space for", "Cannot allocate"}) {
            if (text->find(mark) != std::string::npos) return true;
        }
    }
    return false;
}

void Report(bool error, std::string_view text) {
    for (MessageCapture* capture = gCapture; capture != nullptr; capture = capture->mOuter) {
        std::string& into = error ? capture->mErrors : capture->mWarnings;
        if (into.size() < 4096) into.append(text).append("\n");
    }
}

// ---- directory chain ----

Chain WalkChain(const std::string& path, const Chain* from) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw DorvexError(err::FileNotFound, ErrnoText("cannot open " + path));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0) throw DorvexError(err::DeviceIo, ErrnoText("cannot read " + path));
    unsigned char header[8] = {};
    if (info.st_size < 8 || !ReadAt(fd, header, 8, 0) || !((header[0] == 'I' && header[1] == 'I') || (header[0] == 'M' && header[1] == 'M'))) {
        throw DorvexError(err::InvalidArgument, path + " is not a TIFF file");
    }
    const bool big = header[0] == 'M';
    const std::uint64_t magic = Number(header + 2, 2, big);
    if (magic != 42 && magic != 43) throw DorvexError(err::InvalidArgument, path + " is not a TIFF file");
    Chain chain;
    if (from != nullptr) {
        chain = *from;  // its directories are known: go on from its last link
        chain.damage.clear();
        chain.brokenTail = false;
    } else {
        chain.bigTiff = magic == 43;
        chain.lastNextField = chain.bigTiff ? 8 : 4;  // the header's link to the first directory
    }
    chain.fileSize = info.st_size;
    const auto size = static_cast<std::uint64_t>(chain.fileSize);
    const std::uint64_t offsetSize = chain.bigTiff ? 8 : 4;
    const std::uint64_t countSize = chain.bigTiff ? 8 : 2;
    const std::uint64_t entrySize = chain.bigTiff ? 20 : 12;
    unsigned char link[8] = {};
    if (chain.lastNextField + offsetSize > size || !ReadAt(fd, link, offsetSize, chain.lastNextField)) {
        throw DorvexError(err::InvalidArgument, path + " is a damaged TIFF file");
    }
    std::uint64_t next = Number(link, static_cast<int>(offsetSize), big);
    // The byte ranges of the directories read, to refuse one that overlaps another.
    std::map<std::uint64_t, std::uint64_t> taken;
    for (const PageHeader& page : chain.headers) taken[page.offset] = page.offset + 1;
    std::vector<unsigned char> ifd;
    auto overlaps = [&taken](std::uint64_t start, std::uint64_t end) {
        auto after = taken.lower_bound(start);
        if (after != taken.end() && after->first < end) return true;
        return after != taken.begin() && std::prev(after)->second > start;
    };
    while (next != 0) {
        const std::string which = "directory " + std::to_string(chain.pages + 1);
        const std::string truncated = which + " lies past the end of the file (the file is truncated)";
        if (chain.pages >= kMaxPages) {
            chain.damage = "it has more than " + std::to_string(kMaxPages) + " pages";
            break;
        }
        chain.brokenTail = true;  // until this directory proves whole
        if (next < 8 || overlaps(next, next + countSize)) {
            chain.damage = which + " overlaps the header or an earlier directory";
            break;
        }
        if (next + countSize > size) {
            chain.damage = truncated;
            break;
        }
        // One read for the directory of a usual page (up to 64 entries), a second for a larger one.
        ifd.resize(static_cast<std::size_t>(std::min(size - next, countSize + 64 * entrySize + offsetSize)));
        if (!ReadAt(fd, ifd.data(), ifd.size(), next)) {
            chain.damage = which + " cannot be read";
            break;
        }
        const std::uint64_t count = Number(ifd.data(), static_cast<int>(countSize), big);
        if (count == 0 || count > kMaxEntries) {
            chain.damage = which + " is damaged";
            break;
        }
        const std::uint64_t needed = countSize + count * entrySize + offsetSize;
        if (next + needed > size) {
            chain.damage = truncated;
            break;
        }
        if (overlaps(next, next + needed)) {
            chain.damage = which + " overlaps an earlier directory";
            break;
        }
        if (needed > ifd.size()) {
            ifd.resize(static_cast<std::size_t>(needed));
            if (!ReadAt(fd, ifd.data(), ifd.size(), next)) {
                chain.damage = which + " cannot be read";
                break;
            }
        }
        chain.brokenTail = false;
        taken[next] = next + needed;
        chain.headers.push_back({next});
        ++chain.pages;
        chain.lastNextField = next + countSize + count * entrySize;
        next = Number(ifd.data() + countSize + count * entrySize, static_cast<int>(offsetSize), big);
    }
    return chain;
}

const Chain& CurrentChain(const std::string& path) {
    struct Cached {
        std::string path;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = -1;
        timespec modified{};
        Chain chain;
    };
    thread_local Cached cached;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) throw DorvexError(err::FileNotFound, ErrnoText("cannot open " + path));
    if (cached.path != path || cached.device != info.st_dev || cached.inode != info.st_ino || cached.size != info.st_size ||
        cached.modified.tv_sec != info.st_mtim.tv_sec || cached.modified.tv_nsec != info.st_mtim.tv_nsec) {
        cached.path.clear();  // not valid while the walk may throw
        Chain chain = WalkChain(path);
        cached = Cached{path, info.st_dev, info.st_ino, info.st_size, info.st_mtim, std::move(chain)};
    }
    return cached.chain;
}

// ---- writing ----

Writer::Writer(std::string path, bool append) : mPath(std::move(path)), mAppend(append) {}

Writer::Writer(Writer&& other) noexcept
    : mPath(std::move(other.mPath)), mAppend(other.mAppend), mFd(other.mFd), mTiff(other.mTiff), mOldSize(other.mOldSize),
      mOldNextField(other.mOldNextField), mBigTiff(other.mBigTiff), mOldChain(std::move(other.mOldChain)), mExpected(other.mExpected),
      mDone(other.mDone) {
    other.mFd = -1;
    other.mTiff = nullptr;
    other.mDone = true;
}

Writer Writer::Create(const std::string& path) {
    Writer writer(path, false);
    writer.mFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (writer.mFd < 0) {
        writer.mDone = true;
        throw DorvexError(err::PathNotFound, ErrnoText("cannot create " + path));
    }
    MessageCapture capture;
    writer.mTiff = TIFFFdOpen(writer.mFd, path.c_str(), "w");
    if (writer.mTiff == nullptr) writer.Fail("cannot start a TIFF file " + capture.Errors());
    return writer;
}

Writer Writer::Append(const std::string& path) {
    Chain chain = WalkChain(path);
    if (chain.pages == 0 || (!chain.damage.empty() && !chain.brokenTail)) {
        throw DorvexError(err::InvalidArgument, "cannot add a page to " + path + ": " +
                                                    (chain.damage.empty() ? std::string("it holds no page") : chain.damage));
    }
    Writer writer(path, true);
    writer.mOldSize = chain.fileSize;
    writer.mOldNextField = chain.lastNextField;
    writer.mBigTiff = chain.bigTiff;
    writer.mExpected = chain.pages;
    writer.mOldChain = std::move(chain);
    writer.mFd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (writer.mFd < 0) {
        writer.mDone = true;
        throw DorvexError(err::FileNotFound, ErrnoText("cannot open " + path));
    }
    if (writer.mOldChain.brokenTail) {
        // An earlier append died half-way: its page never became readable. Unlink it, so that
        // libtiff links the new page after the last whole one.
        unsigned char zero[8] = {};
        const auto size = static_cast<std::size_t>(writer.mBigTiff ? 8 : 4);
        if (::pwrite(writer.mFd, zero, size, static_cast<off_t>(writer.mOldNextField)) != static_cast<ssize_t>(size)) {
            writer.Fail(std::strerror(errno));
        }
        writer.mOldChain.brokenTail = false;
        writer.mOldChain.damage.clear();
    }
    MessageCapture capture;
    writer.mTiff = TIFFFdOpen(writer.mFd, path.c_str(), "a");
    if (writer.mTiff == nullptr) writer.Fail("cannot open the TIFF file " + capture.Errors());
    return writer;
}

Writer::~Writer() {
    if (!mDone) Rollback();
}

void Writer::Rollback() noexcept {
    mDone = true;
    if (mTiff != nullptr) {
        TIFFCleanup(mTiff);  // frees without writing anything more; the descriptor stays ours
        mTiff = nullptr;
    }
    if (mFd >= 0) {
        if (mAppend) {
            // Cut the file back and unlink the new directory: the old pages read as before.
            bool ok = ::ftruncate(mFd, mOldSize) == 0;
            unsigned char zero[8] = {};
            ok = ok && ::pwrite(mFd, zero, mBigTiff ? 8 : 4, static_cast<off_t>(mOldNextField)) == (mBigTiff ? 8 : 4);
            ok = ok && ::fsync(mFd) == 0;
            if (!ok) Report(true, "could not restore " + mPath + " after a failed write");
        }
        ::close(mFd);
        mFd = -1;
    }
    if (!mAppend) ::unlink(mPath.c_str());
}

void Writer::Fail(const std::string& what) {
    Rollback();
    throw DorvexError(err::DeviceIo, "cannot write " + mPath + " (" + what + "; is the disk full?)");
}

namespace {

// A G4 page is one strip. Other schemes get strips of about 256 KiB: with libtiff's default of
// 8 KiB the LZW coder clears its hash table for every three rows of a grey page, which took most
// of the time of writing it.
uint32_t RowsPerStrip(uint16_t scheme, l_int32 height, std::size_t rowBytes) {
    if (scheme == COMPRESSION_CCITTFAX4) return static_cast<uint32_t>(height);
    const std::size_t rows = std::max<std::size_t>(1, (256 * 1024) / std::max<std::size_t>(rowBytes, 1));
    return static_cast<uint32_t>(std::min<std::size_t>(rows, static_cast<std::size_t>(height)));
}

}  // namespace

void Writer::AddPage(const Pix* constPix, int compression) {
    if (mDone || mTiff == nullptr) throw DorvexError(err::InvalidArgument, "the file " + mPath + " is already closed");
    PIX* pix = const_cast<PIX*>(constPix);
    const l_int32 w = pixGetWidth(pix);
    const l_int32 h = pixGetHeight(pix);
    const l_int32 depth = pixGetDepth(pix);
    if (pixGetColormap(pix) != nullptr || (depth != 1 && depth != 8 && depth != 32)) {
        throw DorvexError(err::InvalidArgument, "a page of depth " + std::to_string(depth) + " cannot be written");
    }
    MessageCapture capture;
    uint16_t scheme = COMPRESSION_NONE;
    if (compression == IFF_TIFF_G4 && depth == 1) scheme = COMPRESSION_CCITTFAX4;
    else if (compression == IFF_TIFF_G4 || compression == IFF_TIFF_LZW) scheme = COMPRESSION_LZW;
    else if (compression == IFF_TIFF_ZIP) scheme = COMPRESSION_ADOBE_DEFLATE;
    else if (compression == IFF_TIFF_PACKBITS) scheme = COMPRESSION_PACKBITS;
    const uint16_t samples = depth == 32 ? 3 : 1;
    const uint16_t bits = depth == 1 ? 1 : 8;
    const std::size_t rowBytes = depth == 1 ? static_cast<std::size_t>((w + 7) / 8) : static_cast<std::size_t>(w) * samples;
    bool ok = TIFFSetField(mTiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(w)) == 1 &&
              TIFFSetField(mTiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(h)) == 1 &&
              TIFFSetField(mTiff, TIFFTAG_BITSPERSAMPLE, bits) == 1 &&
              TIFFSetField(mTiff, TIFFTAG_SAMPLESPERPIXEL, samples) == 1 &&
              TIFFSetField(mTiff, TIFFTAG_COMPRESSION, scheme) == 1 &&
              TIFFSetField(mTiff, TIFFTAG_PHOTOMETRIC,
                           depth == 1 ? PHOTOMETRIC_MINISWHITE : depth == 8 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB) == 1 &&
              TIFFSetField(mTiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1 &&
              TIFFSetField(mTiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) == 1 &&
              TIFFSetField(mTiff, TIFFTAG_ROWSPERSTRIP, RowsPerStrip(scheme, h, rowBytes)) == 1;
    if (ok && pixGetXRes(pix) > 0 && pixGetYRes(pix) > 0) {
        ok = TIFFSetField(mTiff, TIFFTAG_XRESOLUTION, static_cast<float>(pixGetXRes(pix))) == 1 &&
             TIFFSetField(mTiff, TIFFTAG_YRESOLUTION, static_cast<float>(pixGetYRes(pix))) == 1 &&
             TIFFSetField(mTiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) == 1;
    }
    if (!ok) Fail("the page's fields were refused " + capture.Errors());
    // The page goes out a strip at a time: its rows in file order (a few bytes of slack for the
    // last word of a row), coded by libtiff, or by our own LZW coder.
    const l_int32 rowsPerStrip = static_cast<l_int32>(RowsPerStrip(scheme, h, rowBytes));
    const l_uint32* data = pixGetData(pix);
    const l_int32 wpl = pixGetWpl(pix);
    try {
        std::vector<unsigned char> strip(rowBytes * static_cast<std::size_t>(rowsPerStrip) + 4);
        std::unique_ptr<LzwEncoder> lzw = scheme == COMPRESSION_LZW ? std::make_unique<LzwEncoder>() : nullptr;
        for (l_int32 top = 0, index = 0; top < h; top += rowsPerStrip, ++index) {
            const l_int32 rows = std::min(rowsPerStrip, h - top);
            for (l_int32 r = 0; r < rows; ++r) {
                const l_uint32* line = data + static_cast<std::ptrdiff_t>(top + r) * wpl;
                unsigned char* out = strip.data() + static_cast<std::size_t>(r) * rowBytes;
                if (depth == 32) {
                    for (l_int32 x = 0; x < w; ++x, out += 3) {
                        const l_uint32 p = line[x];
                        out[0] = static_cast<unsigned char>(p >> L_RED_SHIFT);
                        out[1] = static_cast<unsigned char>(p >> L_GREEN_SHIFT);
                        out[2] = static_cast<unsigned char>(p >> L_BLUE_SHIFT);
                    }
                    continue;
                }
                // 1- and 8-bit rows: Leptonica keeps the leftmost pixel in the top of a native word.
                for (std::size_t i = 0; i * 4 < rowBytes; ++i) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
                    const l_uint32 word = __builtin_bswap32(line[i]);
#else
                    const l_uint32 word = line[i];
#endif
                    std::memcpy(out + i * 4, &word, 4);
                }
            }
            const tmsize_t size = static_cast<tmsize_t>(rowBytes * static_cast<std::size_t>(rows));
            bool written;
            if (lzw) {
                std::vector<std::uint8_t> coded = lzw->Encode(strip.data(), static_cast<std::size_t>(size));
                written = TIFFWriteRawStrip(mTiff, static_cast<uint32_t>(index), coded.data(), static_cast<tmsize_t>(coded.size())) >= 0;
            } else {
                written = TIFFWriteEncodedStrip(mTiff, static_cast<uint32_t>(index), strip.data(), size) >= 0;
            }
            if (!written) Fail("a strip was not written " + capture.Errors());
        }
    } catch (const std::bad_alloc&) {
        Rollback();
        throw DorvexError(err::OutOfMemory, "not enough memory to write " + mPath);
    }
    if (TIFFWriteDirectory(mTiff) != 1) Fail("the page's directory was not written " + capture.Errors());
    if (!capture.Errors().empty()) Fail(capture.Errors());
    ++mExpected;
}

void Writer::Commit() {
    if (mDone) throw DorvexError(err::InvalidArgument, "the file " + mPath + " is already closed");
    {
        MessageCapture capture;
        if (TIFFFlush(mTiff) != 1 || !capture.Errors().empty()) Fail("the file was not flushed " + capture.Errors());
    }
    TIFFCleanup(mTiff);
    mTiff = nullptr;
    if (::fsync(mFd) != 0) Fail(std::strerror(errno));
    int fd = mFd;
    mFd = -1;
    if (::close(fd) != 0) {
        std::string why = std::strerror(errno);
        mFd = ::open(mPath.c_str(), O_RDWR | O_CLOEXEC);
        Fail(why);
    }
    // Read the chain back: the file must hold exactly the pages written (after an append the
    // old directories are known, and only the new ones are read).
    Chain chain;
    try {
        chain = WalkChain(mPath, mAppend ? &mOldChain : nullptr);
    } catch (const DorvexError& e) {
        mFd = ::open(mPath.c_str(), O_RDWR | O_CLOEXEC);
        Fail(e.what());
    }
    if (chain.pages != mExpected || !chain.damage.empty()) {
        mFd = ::open(mPath.c_str(), O_RDWR | O_CLOEXEC);
        Fail("it reads back as " + std::to_string(chain.pages) + " pages instead of " + std::to_string(mExpected));
    }
    mDone = true;
}

}  // namespace dorvex::tiff_file
