#pragma once
// Text recognition of scanned letters over Tesseract 5 with its Traditional Chinese model
// (chi_tra); the engine's headers stay out of this one.
//
// What the word parser needs of a page: its words in reading order, one word per character
// (the parser takes a title's character position for a word index), each with the number of
// its text line (the parser's line boundary) and its pixel rectangle, and the page's
// resolution and size. A page is recognised in two passes, as the letters' workflow asks:
// first with automatic orientation (a page that reads badly is asked for its orientation and,
// lying on its side or upside down, read again turned upright) and straightening (a skewed
// page is levelled first); when that finds nothing, again as the page lies. Each printed
// line is found on the ink of the level page (specks, rule lines and frames left out) and
// recognised alone, so that no line is lost or run into another by the engine's layout
// analysis; a searchable PDF's pages are read whole, as its renderer needs.
//
// The engine's own messages go to the trace hook (DORVEX_TRACE=1), never to standard error.

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ocr/Words.h"
#include "platform/Raster.h"

namespace dorvex {

struct OcrPage {
    // One word per character in reading order. RegionId numbers the text lines from 0 in
    // reading order; Rects holds the character's one rectangle in page pixels; Confidence is the
    // engine's in the character. A colon, comma,
    // semicolon, question or exclamation mark that the engine reads as ASCII right after a
    // Chinese character is given in its full-width form ("：", "，", ...), as letters print it.
    std::vector<OcrWord> Words;
    int XDpi = 0;  // the file's resolution (0 when it states none: the engine then estimates its own)
    int YDpi = 0;
    int PixelWidth = 0;
    int PixelHeight = 0;
    int Pass = 0;  // 1: found with orientation and straightening; 2: by the second pass
    // How far the page was turned clockwise (0, 90, 180, 270) to read it upright; rectangles,
    // size and resolution are those of the upright page.
    int Turned = 0;
    // The skew, in degrees, that the page was levelled by before it was read (0 for a level
    // page); rectangles are those of the levelled page.
    double Straightened = 0;

    // The words of each line joined without separators, lines ended by "\n".
    std::string Text() const;
};

struct OcrOptions {
    // The folder of the engine's language data; "" for the engine's own default (the
    // TESSDATA_PREFIX variable, else the folder the tesseract-ocr packages install into).
    std::string DataPath;
    std::string Language = "chi_tra";
    // Time for the recognition of one page, both passes together. The engine checks it between
    // words; the layout analysis before them is bounded by the page size (see kMaxOcrSide).
    int TimeLimitMs = 60'000;
    // When set, a recognition ends early (throwing DorvexError) once it turns true: the engine
    // looks at it between words. The flag outlives the engine.
    const std::atomic<bool>* Stop = nullptr;
    // Words a letterhead sets apart at its end (the types of letter: 函, 書函, 開會通知單, ...).
    // After the letterhead's wide gap the recogniser misreads such a short word in some fonts
    // (函 as 罰 or 銷); that part is read again among these words' characters alone, and the
    // second reading is kept only when it is exactly one of them. Empty: no second reading.
    std::vector<std::string> ApartWords;
};

// The engine's coordinates are 16-bit: no side of a page may be longer (that is 2.7 m at
// 300 dpi). The pixel budget of Raster::Load holds as well.
constexpr int kMaxOcrSide = 32'767;

class OcrEngine {
public:
    explicit OcrEngine(OcrOptions options = {});
    ~OcrEngine();
    OcrEngine(const OcrEngine&) = delete;
    OcrEngine& operator=(const OcrEngine&) = delete;

    // Whether the engine starts with the language: tried once, on the first call of this or of
    // a recognition, and the answer kept for the engine's life.
    bool IsSupported();
    // Why it is not supported ("" while it is, or before it was tried): names the language, the
    // folder searched and the package to install.
    const std::string& LastError() const;

    // The first page of an image file (TIFF, JPEG, PNG, BMP). Throws DorvexError for an engine
    // that is not supported, a file that cannot be read or is too large, a recognition that
    // passed the time limit or failed inside the engine.
    OcrPage RecognizeFirstPage(const std::string& path);
    // One page already in memory (its resolution as the page says, or estimated).
    OcrPage Recognize(const Raster& page);

    // A searchable PDF of every page of `files`, in order: each page as scanned with the
    // recognised text laid invisibly over it (the engine's PDF renderer; a page that had to be
    // turned or levelled is put in as it was read, so that the text lies over its print). The file is written
    // beside `outPath`, synced and renamed over it only when whole; on any failure `outPath`
    // is left as it was and DorvexError is thrown. Returns the number of pages written.
    // `onPage`, when given, sees every page's recognition as it is added (file index in
    // `files`, 1-based page number), so that a caller needs no second recognition of a page.
    using PageSeen = std::function<void(std::size_t file, int page, const OcrPage& recognised)>;
    int WriteSearchablePdf(const std::vector<std::string>& files, const std::string& outPath, const PageSeen& onPage = nullptr);

private:
    struct Impl;
    std::unique_ptr<Impl> mImpl;
};

}  // namespace dorvex
