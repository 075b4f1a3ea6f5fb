#pragma once
// Multi-page TIFF files written so that a failure is never taken for success: every libtiff
// call is checked, libtiff's own error reports count as failures, the data is flushed and
// synced, and the page count is read back before the file is used. Also a cheap walk of a
// file's directory chain that counts pages without decoding them and tells where a damaged
// or truncated file stops being readable.
//
// Internal to the imaging layer (the library headers stay out of it).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct Pix;
struct tiff;

namespace dorvex::tiff_file {

// At most this many pages are read from one file, whoever made it.
constexpr int kMaxPages = 10000;

// Where a page's directory lies.
struct PageHeader {
    std::uint64_t offset = 0;
};

struct Chain {
    int pages = 0;                                // readable directories, in order
    std::vector<PageHeader> headers;              // one per readable directory
    std::string damage;                           // why the chain stops early; empty when whole
    bool brokenTail = false;                      // the last link leads to no whole directory
    std::uint64_t lastNextField = 0;              // where the last directory's link is stored
    bool bigTiff = false;
    std::int64_t fileSize = 0;
};

// Walks the directory chain, from the start or on from the last directory of `from` (a chain
// read earlier from the same file, which has grown since). Directories may not overlap, so one
// walk reads no more than the file holds. Throws DorvexError when the file is not a TIFF file.
Chain WalkChain(const std::string& path, const Chain* from = nullptr);
// The chain of a file as it is now, walked again only when the file changed since the last
// call on this thread (reading every page of a document then walks it once).
const Chain& CurrentChain(const std::string& path);

// Collects what libtiff and Leptonica report on this thread while it lives (they also go to
// the trace hook). Nested captures each see the messages of their own time.
class MessageCapture {
public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;
    const std::string& Errors() const { return mErrors; }
    const std::string& Warnings() const { return mWarnings; }
    bool OutOfMemory() const;  // a message says an allocation failed

private:
    friend void Report(bool error, std::string_view text);
    std::string mErrors;
    std::string mWarnings;
    MessageCapture* mOuter;
};
void Report(bool error, std::string_view text);

// Writes pages into a TIFF file. Create starts a new file (the path is truncated); Append adds
// pages after the last page of an existing file (a file whose last link leads nowhere whole,
// as a crash during an earlier append leaves it, gets that link cut first). Nothing counts until Commit has returned:
// a writer destroyed before that takes its work back (a new file is removed; an appended file
// is cut back to its old length with its old directory chain).
class Writer {
public:
    static Writer Create(const std::string& path);
    static Writer Append(const std::string& path);
    Writer(Writer&& other) noexcept;
    Writer& operator=(Writer&&) = delete;
    Writer(const Writer&) = delete;
    ~Writer();

    // `compression` is Leptonica's TIFF code (IFF_TIFF_G4, IFF_TIFF_LZW, ...); G4 is used for
    // 1-bit pages only.
    void AddPage(const Pix* pix, int compression);
    // Flushes, syncs and closes the file, then checks that it holds every page. Throws
    // DorvexError (the work is taken back) when any of it failed.
    void Commit();
    int Pages() const { return mExpected; }
    const std::string& Path() const { return mPath; }

private:
    Writer(std::string path, bool append);
    [[noreturn]] void Fail(const std::string& what);
    void Rollback() noexcept;

    std::string mPath;
    bool mAppend = false;
    int mFd = -1;
    ::tiff* mTiff = nullptr;
    std::int64_t mOldSize = 0;
    std::uint64_t mOldNextField = 0;
    bool mBigTiff = false;
    Chain mOldChain;
    int mExpected = 0;
    bool mDone = false;
};

}  // namespace dorvex::tiff_file
