#include "platform/Ocr.h"

#include <fcntl.h>
#include <leptonica/allheaders.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/renderer.h>
#include <tesseract/resultiterator.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <climits>
#include <cstring>
#include <mutex>

#include "platform/InkCells.h"
#include "platform/RasterAccess.h"
#include "support/CodePage.h"
#include "support/Error.h"
#include "support/ModFS.h"
#include "support/Trace.h"

namespace dorvex {
namespace {

using tesseract::ResultIterator;
using tesseract::TessBaseAPI;

struct ApiDeleter {
    void operator()(TessBaseAPI* api) const {
        api->End();
        delete api;
    }
};
using ApiPtr = std::unique_ptr<TessBaseAPI, ApiDeleter>;
struct IteratorDeleter {
    void operator()(ResultIterator* it) const { delete it; }
};
using IteratorPtr = std::unique_ptr<ResultIterator, IteratorDeleter>;
struct TextDeleter {
    void operator()(char* text) const { delete[] text; }
};
using TextPtr = std::unique_ptr<char, TextDeleter>;
using RendererPtr = std::unique_ptr<tesseract::TessResultRenderer>;
struct PixDeleter {
    void operator()(Pix* pix) const { pixDestroy(&pix); }
};
using PixPtr = std::unique_ptr<Pix, PixDeleter>;

// The engine prints its messages through one process-wide file (its "debug_file" setting, else
// standard error). It is pointed at an anonymous in-memory file; after every engine call what
// was added is read and handed to the trace hook line by line.
class EngineMessages {
public:
    static EngineMessages& Instance() {
        static EngineMessages instance;
        return instance;
    }
    // The name the engine opens ("" when the in-memory file could not be made: then the
    // messages stay on standard error).
    const std::string& Path() const { return mPath; }

    void Forward() {
        if (mFd < 0) return;
        std::lock_guard<std::mutex> lock(mMutex);  // engines of several threads write the file
        std::fflush(nullptr);  // the engine's stream is buffered
        struct stat st {};
        if (::fstat(mFd, &st) != 0 || st.st_size <= mRead) return;
        std::string chunk(static_cast<std::size_t>(st.st_size - mRead), '\0');
        ssize_t got = ::pread(mFd, chunk.data(), chunk.size(), mRead);
        if (got <= 0) return;
        chunk.resize(static_cast<std::size_t>(got));
        // Release what was read (the engine's stream keeps writing past it).
        (void)::fallocate(mFd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, 0, mRead + got);
        mRead += got;
        mPending += chunk;
        for (std::size_t end = mPending.find('\n'); end != std::string::npos; end = mPending.find('\n')) {
            if (end > 0) DebugTrace("tesseract: " + mPending.substr(0, end));
            mPending.erase(0, end + 1);
        }
    }

private:
    EngineMessages() {
        mFd = ::memfd_create("dorvex-tesseract-messages", MFD_CLOEXEC);
        if (mFd < 0) {
            DebugTrace(std::string("tesseract: its messages stay on standard error (") + std::strerror(errno) + ")");
            return;
        }
        mPath = "/proc/self/fd/" + std::to_string(mFd);
    }
    int mFd = -1;
    std::mutex mMutex;
    off_t mRead = 0;
    std::string mPath;
    std::string mPending;
};

constexpr const char* kStoppedText = "text recognition was stopped";
bool Stopped(const OcrOptions& options) { return options.Stop != nullptr && options.Stop->load(); }

[[noreturn]] void EngineFailed(const std::string& what) { throw DorvexError(err::AutomationError, "text recognition failed: " + what); }

bool IsCjk(char32_t c) {
    return (c >= 0x2E80 && c < 0xA000) || (c >= 0xF900 && c < 0xFB00) || (c >= 0xFE30 && c < 0xFE50) ||
           (c >= 0xFF00 && c < 0xFFF0) || (c >= 0x20000 && c < 0x30000);
}

// The full-width form of the punctuation that ends or splits Chinese text, for an ASCII mark
// the engine reads right after a Chinese character (its model gives "：" as ":"); elsewhere
// ("10:30", "(02)") the mark stays as it is.
char32_t AsPrinted(char32_t c, char32_t previous) {
    if (!IsCjk(previous)) return c;
    switch (c) {
        case U':': return U'：';
        case U',': return U'，';
        case U';': return U'；';
        case U'?': return U'？';
        case U'!': return U'！';
        default: return c;
    }
}

std::string FormatSeconds(int milliseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", milliseconds / 1000.0);
    return text;
}

bool IsSpace(char32_t c) { return c == U' ' || c == U'\t' || c == U'\n' || c == U'\r' || c == U'\u3000'; }

std::string FileStem(const std::string& path) {
    std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// A file reserved beside the target and removed again unless it was renamed into place.
class SiblingFile {
public:
    // "DIR/.NAME.XXXXXX.pdf" for "DIR/NAME".
    explicit SiblingFile(const std::string& target) {
        std::size_t slash = target.rfind('/');
        std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
        std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
        mPath = dir + "." + name + ".XXXXXX.pdf";
        int fd = ::mkstemps(mPath.data(), 4);
        if (fd < 0) {
            throw DorvexError(err::PathNotFound, "cannot create a file beside " + target + ": " + std::strerror(errno));
        }
        // A document for others to read: the mode a new file gets, not the private 0600.
        mode_t mask = ::umask(0);
        ::umask(mask);
        (void)::fchmod(fd, 0666 & ~mask);
        ::close(fd);
    }
    ~SiblingFile() {
        if (!mPath.empty()) ::unlink(mPath.c_str());
    }
    SiblingFile(const SiblingFile&) = delete;
    SiblingFile& operator=(const SiblingFile&) = delete;
    const std::string& Path() const { return mPath; }
    void Kept() { mPath.clear(); }

private:
    std::string mPath;
};

bool EndsWithPdfTrailer(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char tail[16] = {};
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && st.st_size > 64;
    constexpr std::string_view kEnd = "%%EOF\n";
    if (ok) ok = ::pread(fd, tail, kEnd.size(), st.st_size - static_cast<off_t>(kEnd.size())) == static_cast<ssize_t>(kEnd.size());
    ::close(fd);
    return ok && std::string_view(tail, kEnd.size()) == kEnd;
}

void SyncFolderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

// ---- OcrPage ----

std::string OcrPage::Text() const {
    std::string text;
    for (std::size_t i = 0; i < Words.size(); ++i) {
        if (i > 0 && Words[i].RegionId != Words[i - 1].RegionId) text += '\n';
        text += Words[i].Text;
    }
    if (!text.empty()) text += '\n';
    return text;
}

namespace {

// One character of a line as the engine read it.
struct ReadCharacter {
    char32_t Code = 0;
    PixelRect Box;  // the engine's own, rough
    float Confidence = -1;
};

}  // namespace

// ---- OcrEngine ----

struct OcrEngine::Impl {
    OcrOptions options;
    ApiPtr api;
    ApiPtr osd;  // orientation detection (the engine's "osd" data); null when it is not there
    bool tried = false;
    bool supported = false;
    bool osdTried = false;
    std::string lastError;

    bool Start();
    void Require() {
        if (!Start()) throw DorvexError(err::CannotCreateObject, lastError);
    }
    // How far the page is turned clockwise (0, 90, 180, 270) when the orientation detection is
    // confident of it; 0 otherwise.
    int Orientation(Pix* pix, int dpi);
    // Runs the two passes; fills `page` (words, pass, turn, the size of the page as read).
    // Afterwards the engine holds the page of the pass that counted, for a renderer.
    // With `wholePage` the engine reads the page in one piece and holds it afterwards, for a
    // renderer; otherwise every printed line found on the ink is read alone.
    void RecognizePix(Pix* pix, int xdpi, int ydpi, OcrPage& page, bool wholePage = false);
    // Hands the engine `pix`, with its resolution where the engine accepts it.
    void Show(Pix* pix, int dpi);
    // The characters of what the engine last recognised, placed on the ink of `binary` (the
    // page's black and white image, in the coordinates of the engine's boxes; null: the
    // engine's boxes stay), each engine line numbered on from `line`.
    std::vector<OcrWord> CollectWords(Pix* binary, long& line);
    // Reads `work` line by line (see RecognizePix); `recognize` runs the engine on the
    // rectangle set. The engine's confidence in what it read, by character.
    double ReadLines(Pix* work, int dpi, const std::function<void()>& recognize, std::vector<OcrWord>& words);
    // A letterhead's set-apart last word (within `part` of `text`, its line's ink `inkHeight`
    // high) read again among the
    // characters of options.ApartWords; the words of `line` right of `gapStart` replaced when
    // it reads as one of them. The engine holds images of its own afterwards.
    void ReadApartWord(Pix* text, int dpi, const PixelRect& part, long inkHeight, long gapStart, long line,
                       const std::function<void()>& recognize, std::vector<OcrWord>& words);
};

bool OcrEngine::Impl::Start() {
    if (tried) return supported;
    tried = true;
    RouteImagingMessages();
    EngineMessages& messages = EngineMessages::Instance();
    // The message file is a setting of the whole process, read by every engine as it prints:
    // it is set once, and engines of several threads start one at a time.
    static std::mutex starting;
    static bool messageFileSet = false;
    std::lock_guard<std::mutex> lock(starting);
    ApiPtr engine(new TessBaseAPI);
    if (!messageFileSet && !messages.Path().empty()) {
        messageFileSet = true;
        if (!engine->SetVariable("debug_file", messages.Path().c_str())) {
            DebugTrace("tesseract: the engine refused its message file; its messages go to standard error");
        }
    }
    const char* dataPath = options.DataPath.empty() ? nullptr : options.DataPath.c_str();
    int status = engine->Init(dataPath, options.Language.c_str(), tesseract::OEM_LSTM_ONLY);
    messages.Forward();
    std::string folder = options.DataPath;
    if (folder.empty()) folder = engine->GetDatapath() != nullptr ? engine->GetDatapath() : "";
    if (folder.empty() && std::getenv("TESSDATA_PREFIX") != nullptr) folder = std::getenv("TESSDATA_PREFIX");
    if (status != 0 || engine->GetInitLanguagesAsString() == nullptr ||
        options.Language != engine->GetInitLanguagesAsString()) {
        std::string package = "tesseract-ocr-" + options.Language;  // Debian's name: chi_tra in tesseract-ocr-chi-tra
        std::replace(package.begin(), package.end(), '_', '-');
        lastError = "the text recognition engine (Tesseract " + std::string(TessBaseAPI::Version()) +
                    ") could not load the language " + options.Language + " (" + options.Language + ".traineddata" +
                    (folder.empty() ? std::string() : " in " + folder) + "); install the package " + package +
                    " or set TESSDATA_PREFIX to the folder that holds the file";
        DebugTrace("tesseract: " + lastError);
        return false;
    }
    if (!FileExists(std::string(engine->GetDatapath()) + "/osd.traineddata")) {
        DebugTrace("tesseract: osd.traineddata is missing: pages are read without turning them upright");
    }
    api = std::move(engine);
    supported = true;
    lastError.clear();
    return true;
}

namespace {


template <class T>
T Median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? T{} : values[values.size() / 2];
}

bool IsMark(char32_t c) {
    const bool han = (c >= 0x3400 && c < 0xA000) || (c >= 0xF900 && c < 0xFB00) || (c >= 0x20000 && c < 0x30000);
    const bool alnum = (c >= U'0' && c <= U'9') || (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z') ||
                       (c >= 0xFF10 && c <= 0xFF5A);
    return !han && !alnum;
}

// The part of `binary` within `box` (null when out of memory).
PixPtr Cell(Pix* binary, const PixelRect& box) {
    BOX* clip = boxCreate(static_cast<l_int32>(box.Left), static_cast<l_int32>(box.Top), static_cast<l_int32>(box.Right - box.Left),
                          static_cast<l_int32>(box.Bottom - box.Top));
    if (clip == nullptr) return PixPtr(nullptr);
    PixPtr cell(pixClipRectangle(binary, clip, nullptr));
    boxDestroy(&clip);
    return cell;
}

// Whether the ink within `box` encloses white, as the ring of "。" does and the tail of "，"
// does not.
bool EnclosesWhite(Pix* binary, const PixelRect& box) {
    PixPtr cell = Cell(binary, box);
    if (!cell) return false;
    PixPtr framed(pixAddBorder(cell.get(), 1, 0));  // white all round: the outside is one piece
    if (!framed || pixInvert(framed.get(), framed.get()) == nullptr) return false;
    l_int32 pieces = 0;
    return pixCountConnComp(framed.get(), 4, &pieces) == 0 && pieces >= 2;
}

// Whether the ink within `box` has the shape of a comma: a solid head with a tail below it,
// taller than wide and enclosing no white, where the ring of a full stop is round and open
// inside.
bool IsCommaInk(Pix* binary, const PixelRect& box) {
    PixPtr cell = Cell(binary, box);
    if (!cell) return false;
    PIX* tight = nullptr;
    BOX* inkBox = nullptr;
    const bool found = pixClipToForeground(cell.get(), &tight, &inkBox) == 0 && tight != nullptr && inkBox != nullptr;
    PixPtr ink(tight);
    l_int32 w = 0, h = 0;
    if (inkBox != nullptr) boxGetGeometry(inkBox, nullptr, nullptr, &w, &h);
    boxDestroy(&inkBox);
    if (!found || w <= 0 || 10 * h < 13 * w) return false;  // round or flat: not a comma
    return !EnclosesWhite(ink.get(), {0, 0, w, h});
}

// Puts the characters of one line on the ink of the page's binary image: each character gets
// the columns of ink that belong to it, between the top and bottom of the line's band (which
// follows the slant of a skewed line along the engine's baseline). A mark to which no ink
// belongs (the engine reads a quote into the wide gap of a letterhead) is left out; any other
// character keeps the engine's box. Without a binary image the engine's boxes stay.
std::vector<ReadCharacter> PlaceOnInk(std::vector<ReadCharacter> line, Pix* binary, const int* baseline) {
    if (binary == nullptr || line.empty()) return line;
    std::vector<long> heights, hanHeights;
    for (const ReadCharacter& c : line) {
        long h = c.Box.Bottom - c.Box.Top;
        heights.push_back(h);
        if (!IsMark(c.Code) && !(c.Code < 0x80)) hanHeights.push_back(h);
    }
    const double height = static_cast<double>(std::max<long>(1, Median(hanHeights.empty() ? heights : hanHeights)));
    auto baseAt = [&](double x) -> double {
        if (baseline == nullptr) return 0;
        if (baseline[2] == baseline[0]) return baseline[1];
        return baseline[1] + static_cast<double>(baseline[3] - baseline[1]) * (x - baseline[0]) / (baseline[2] - baseline[0]);
    };
    std::vector<double> tops, bottoms;
    for (const ReadCharacter& c : line) {
        if (!hanHeights.empty() && (IsMark(c.Code) || c.Code < 0x80)) continue;
        double base = baseAt((c.Box.Left + c.Box.Right) / 2.0);
        tops.push_back(c.Box.Top - base);
        bottoms.push_back(c.Box.Bottom - base);
    }
    const double top = Median(tops) - 0.15 * height;
    const double bottom = Median(bottoms) + 0.15 * height;
    const long width = pixGetWidth(binary);
    const long rows = pixGetHeight(binary);
    long from = line.front().Box.Left, to = line.front().Box.Right;
    for (const ReadCharacter& c : line) {
        from = std::min(from, c.Box.Left);
        to = std::max(to, c.Box.Right);
    }
    from = std::max<long>(0, from - std::lround(0.5 * height));
    to = std::min<long>(width, to + std::lround(0.5 * height));
    if (to <= from || line.size() * static_cast<std::size_t>(to - from) > 4'000'000) return line;
    const l_uint32* data = pixGetData(binary);
    const long wpl = pixGetWpl(binary);
    auto band = [&](long x, long& y0, long& y1) {
        double base = baseAt(static_cast<double>(x));
        y0 = std::clamp<long>(std::lround(base + top), 0, rows);
        y1 = std::clamp<long>(std::lround(base + bottom), 0, rows);
    };
    std::vector<int> profile(static_cast<std::size_t>(to - from), 0);
    for (long x = from; x < to; ++x) {
        long y0 = 0, y1 = 0;
        band(x, y0, y1);
        int ink = 0;
        for (long y = y0; y < y1; ++y) ink += GET_DATA_BIT(data + y * wpl, x) ? 1 : 0;
        profile[static_cast<std::size_t>(x - from)] = ink;
    }
    std::vector<double> expected;
    for (const ReadCharacter& c : line) expected.push_back(ExpectedInkWidth(c.Code));
    const std::vector<InkRun> runs = InkRuns(profile, from);
    std::vector<std::optional<InkSpan>> spans = MatchInk(expected, runs, height);
    std::vector<ReadCharacter> placed;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (spans[i]) {
            long y0 = 0, y1 = 0;
            band((spans[i]->Left + spans[i]->Right) / 2, y0, y1);
            placed.push_back({line[i].Code, {spans[i]->Left, y0, spans[i]->Right, y1}, line[i].Confidence});
            // The model reads the full stop that ends a sentence as a comma now and then, and
            // a comma as a full stop; their ink tells them apart.
            ReadCharacter& c = placed.back();
            if ((c.Code == U'，' || c.Code == U',') && EnclosesWhite(binary, c.Box)) c.Code = U'。';
            else if (c.Code == U'。' && IsCommaInk(binary, c.Box)) c.Code = U'，';
        } else if (IsMark(line[i].Code)) {
            DebugTrace("tesseract: \"" + ToUtf8(std::u32string(1, line[i].Code)) + "\" read where there is no ink was left out");
        } else {
            placed.push_back(line[i]);
        }
    }
    // The recogniser drops the full stop that ends a line now and then (the last character
    // then takes its ink): a small ring of ink low in the line, the line's last, is one.
    if (!placed.empty() && !IsMark(placed.back().Code) && !runs.empty()) {
        const InkRun& run = runs.back();
        long y0 = 0, y1 = 0;
        band((run.Left + run.Right) / 2, y0, y1);
        long inkTop = y1, inkBottom = y0;
        for (long y = y0; y < y1; ++y) {
            for (long x = run.Left; x < run.Right; ++x) {
                if (GET_DATA_BIT(data + y * wpl, x)) {
                    inkTop = std::min(inkTop, y);
                    inkBottom = y + 1;
                    break;
                }
            }
        }
        const PixelRect ring{run.Left, inkTop, run.Right, inkBottom};
        ReadCharacter& lastRead = placed.back();
        const bool small = static_cast<double>(run.Right - run.Left) <= 0.45 * height &&
                           static_cast<double>(inkBottom - inkTop) <= 0.45 * height && inkBottom > inkTop;
        const bool low = static_cast<double>(inkTop - y0) >= 0.45 * static_cast<double>(y1 - y0);
        // The last character's own ink must stay its own: the ring is its last run, not its only one.
        const bool apart = lastRead.Box.Left < run.Left && (lastRead.Box.Right <= run.Left || runs.size() >= 2);
        if (small && low && apart && EnclosesWhite(binary, ring)) {
            DebugTrace("tesseract: the full stop that ends the line, not read, was put back from its ink");
            if (lastRead.Box.Right > run.Left) lastRead.Box.Right = runs[runs.size() - 2].Right;
            placed.push_back({U'。', ring, lastRead.Confidence});
        }
    }
    return placed;
}

}  // namespace

std::vector<OcrWord> OcrEngine::Impl::CollectWords(Pix* binary, long& line) {
    std::vector<OcrWord> words;
    IteratorPtr it(api->GetIterator());
    if (!it) return words;  // nothing found in the rectangle
    do {
        if (it->Empty(tesseract::RIL_TEXTLINE)) continue;
        int baseline[4] = {0, 0, 0, 0};
        const bool hasBaseline = it->Baseline(tesseract::RIL_TEXTLINE, &baseline[0], &baseline[1], &baseline[2], &baseline[3]);
        std::vector<ReadCharacter> read;
        while (true) {
            TextPtr text(it->Empty(tesseract::RIL_SYMBOL) ? nullptr : it->GetUTF8Text(tesseract::RIL_SYMBOL));
            int left = 0, top = 0, right = 0, bottom = 0;
            if (text && it->BoundingBox(tesseract::RIL_SYMBOL, &left, &top, &right, &bottom)) {
                const float confidence = std::clamp(it->Confidence(tesseract::RIL_SYMBOL), 0.0f, 100.0f);
                for (char32_t c : ToU32(text.get())) {
                    if (!IsSpace(c)) read.push_back({c, {left, top, right, bottom}, confidence});
                }
            } else if (text) {
                DebugTrace(std::string("tesseract: the character \"") + text.get() + "\" without a rectangle was left out");
            }
            if (it->IsAtFinalElement(tesseract::RIL_TEXTLINE, tesseract::RIL_SYMBOL) || !it->Next(tesseract::RIL_SYMBOL)) break;
        }
        std::vector<ReadCharacter> placed = PlaceOnInk(read, binary, hasBaseline ? baseline : nullptr);
        if (placed.empty()) continue;
        ++line;
        char32_t previous = 0;
        for (const ReadCharacter& c : placed) {
            char32_t printed = AsPrinted(c.Code, previous);
            words.push_back({ToUtf8(std::u32string(1, printed)), line, {c.Box}, c.Confidence});
            previous = printed;
        }
    } while (it->Next(tesseract::RIL_TEXTLINE));
    return words;
}

namespace {

[[noreturn]] void NoMemoryForLines() { NoMemoryForLines(); }

// The page's black and white image without its specks (the glass's dust, grain: pieces of
// ink smaller than a full stop), its rule lines and frames (a receipt stamp's box, a form's
// rules: ink in straight runs far longer than any stroke of a character). Specks would join
// lines that lie close and be read as marks.
PixPtr TextInk(Pix* page, int dpi) {
    const int speck = std::max(2, dpi / 60);
    PixPtr binary(pixSelectBySize(page, speck, speck, 8, L_SELECT_IF_EITHER, L_SELECT_IF_GTE, nullptr));
    if (!binary) NoMemoryForLines();
    const int longest = std::max(40, dpi / 2);  // a character's stroke is shorter than a third of an inch
    PixPtr vertical(pixOpenCompBrick(nullptr, binary.get(), 1, longest));
    PixPtr horizontal(pixOpenCompBrick(nullptr, binary.get(), 2 * longest, 1));
    if (!vertical || !horizontal) NoMemoryForLines();
    PixPtr text(pixSubtract(nullptr, binary.get(), vertical.get()));
    if (!text || pixSubtract(text.get(), text.get(), horizontal.get()) == nullptr) {
        NoMemoryForLines();
    }
    return text;
}

std::vector<int> Counts(NUMA* numa) {
    std::vector<int> counts;
    if (numa == nullptr) NoMemoryForLines();
    const l_int32 n = numaGetCount(numa);
    counts.reserve(static_cast<std::size_t>(std::max(0, n)));
    for (l_int32 i = 0; i < n; ++i) {
        l_int32 v = 0;
        numaGetIValue(numa, i, &v);
        counts.push_back(v);
    }
    numaDestroy(&numa);
    return counts;
}

// The runs of columns that hold ink within the rows `top`..`bottom` of `binary`.
std::vector<InkRun> ColumnRuns(Pix* binary, long top, long bottom) {
    BOX* rows = boxCreate(0, static_cast<l_int32>(top), pixGetWidth(binary), static_cast<l_int32>(bottom - top));
    if (rows == nullptr) NoMemoryForLines();
    PixPtr band(pixClipRectangle(binary, rows, nullptr));
    boxDestroy(&rows);
    if (!band) NoMemoryForLines();
    return InkRuns(Counts(pixCountPixelsByColumn(band.get())), 0);
}

}  // namespace

void OcrEngine::Impl::Show(Pix* pix, int dpi) {
    api->SetImage(pix);
    EngineMessages::Instance().Forward();
    if (api->GetInputImage() == nullptr) EngineFailed("the engine did not take the page");
    if (dpi >= 70 && dpi <= 2400) api->SetSourceResolution(dpi);
}

double OcrEngine::Impl::ReadLines(Pix* work, int dpi, const std::function<void()>& recognize, std::vector<OcrWord>& words) {
    PixPtr binary(api->GetThresholdedImage());
    if (!binary || pixGetDepth(binary.get()) != 1) EngineFailed("the engine gave no black and white page");
    PixPtr text = TextInk(binary.get(), dpi > 0 ? dpi : 300);
    const std::vector<InkRun> bands = InkLines(Counts(pixCountPixelsByRow(text.get(), nullptr)), dpi);
    // The recogniser reads grey lines better than hard black and white ones (a line of 1-bit
    // ink splits 及 into 有太 at one size and not at the next): it is given the ink softened
    // by a blur of one pixel.
    PixPtr grey(pixConvertTo8(text.get(), 0));
    PixPtr soft(grey ? pixBlockconv(grey.get(), 1, 1) : nullptr);
    if (!soft) throw DorvexError(err::OutOfMemory, "not enough memory to read the lines of the page");
    Show(soft.get(), dpi);
    std::vector<long> heights;
    for (const InkRun& b : bands) heights.push_back(b.Right - b.Left);
    const long typical = Median(heights);
    const long width = pixGetWidth(work), rows = pixGetHeight(work);
    long line = -1;
    double confidence = 0;
    std::size_t characters = 0;
    bool letterheadSeen = false;
    for (std::size_t i = 0; i < bands.size(); ++i) {
        const long height = bands[i].Right - bands[i].Left;
        // Room above and below for the engine, though never into the next line.
        const long pad = height / 4;
        const long top = std::max(i == 0 ? 0L : (bands[i - 1].Right + bands[i].Left) / 2, bands[i].Left - pad);
        const long bottom = std::min(i + 1 == bands.size() ? rows : (bands[i].Right + bands[i + 1].Left + 1) / 2, bands[i].Right + pad);
        const std::vector<InkRun> columns = ColumnRuns(text.get(), bands[i].Left, bands[i].Right);
        if (columns.empty()) continue;
        const long left = std::max(0L, columns.front().Left - height / 2);
        const long right = std::min(width, columns.back().Right + height / 2);
        // A band is one line (the engine reads a line far better as one than as a block of
        // one line), unless it is as high as two lines that touch.
        api->SetPageSegMode(height * 10 <= typical * 17 ? tesseract::PSM_SINGLE_LINE : tesseract::PSM_SINGLE_BLOCK);
        api->SetRectangle(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left), static_cast<int>(bottom - top));
        recognize();
        std::vector<OcrWord> read = CollectWords(text.get(), line);
        {
            std::string seen;
            for (const OcrWord& w : read) seen += w.Text;
            DebugTrace("tesseract: the line of rows " + std::to_string(bands[i].Left) + "-" + std::to_string(bands[i].Right) +
                       " reads \"" + seen + "\"");
        }
        if (read.empty()) continue;
        const int mean = api->MeanTextConf();
        confidence += static_cast<double>(std::max(0, mean)) * static_cast<double>(read.size());
        characters += read.size();
        words.insert(words.end(), read.begin(), read.end());
        // The letterhead: the first line in larger type than the page's lines, near the top;
        // its last word may be set apart by a wide gap.
        if (letterheadSeen || i >= 5 || height * 5 < typical * 6 || options.ApartWords.empty()) continue;
        letterheadSeen = true;
        const std::size_t apart = SetApartFrom(columns, static_cast<double>(height), 0.8);
        if (apart > 0 && columns.back().Right - columns[apart].Left <= 16 * height) {
            const long gap = columns[apart].Left - columns[apart - 1].Right;
            ReadApartWord(text.get(), dpi, {columns[apart].Left - gap / 2, top, right, bottom},
                          height, columns[apart - 1].Right, line, recognize, words);
            Show(soft.get(), dpi);
        }
    }
    return characters == 0 ? 0 : confidence / static_cast<double>(characters);
}

void OcrEngine::Impl::ReadApartWord(Pix* text, int dpi, const PixelRect& part, long inkHeight, long gapStart, long line,
                                    const std::function<void()>& recognize, std::vector<OcrWord>& words) {
    std::string before;
    auto first = std::find_if(words.begin(), words.end(), [&](const OcrWord& w) {
        return w.RegionId == line && !w.Rects.empty() && (w.Rects.front().Left + w.Rects.front().Right) / 2 >= gapStart;
    });
    for (auto it = first; it != words.end(); ++it) before += IsMark(ToU32(it->Text).front()) ? "" : it->Text;
    const auto& known = options.ApartWords;
    if (std::find(known.begin(), known.end(), before) != known.end()) return;  // read right the first time
    std::u32string allowed;
    for (const std::string& word : known) {
        for (char32_t c : ToU32(word)) {
            if (allowed.find(c) == std::u32string::npos) allowed += c;
        }
    }
    BOX* box = boxCreate(static_cast<l_int32>(part.Left), static_cast<l_int32>(part.Top), static_cast<l_int32>(part.Right - part.Left),
                         static_cast<l_int32>(part.Bottom - part.Top));
    if (box == nullptr) return;
    PixPtr clip(pixClipRectangle(text, box, nullptr));
    boxDestroy(&box);
    // In grey, so that a smaller size is smoothed as a scan at that resolution would be.
    PixPtr crop(clip ? pixConvertTo8(clip.get(), 0) : nullptr);
    if (!crop) return;
    // Read alone, the word is misread now one way, now another, at one size but not at the
    // next: it is read at several sizes (its ink from 24 to 60 pixels high, where the
    // recogniser does best), restricted to the known words' characters, and taken when two
    // readings agree on a known word.
    const bool one = 2 * (part.Right - part.Left) <= 3 * (part.Bottom - part.Top);
    std::vector<tesseract::PageSegMode> modes = {tesseract::PSM_SINGLE_CHAR};
    if (!one) modes = {tesseract::PSM_SINGLE_WORD, tesseract::PSM_SINGLE_LINE};
    std::vector<std::string> readings;
    std::string agreed;
    int confidence = 0;
    auto restore = [&] { api->SetVariable("tessedit_char_whitelist", ""); };
    if (!api->SetVariable("tessedit_char_whitelist", ToUtf8(allowed).c_str())) return;
    try {
        for (int target : {40, 28, 55, 34, 48, 24, 60}) {
            const float scale = static_cast<float>(target) / static_cast<float>(std::max(1L, inkHeight));
            PixPtr scaled(pixScale(crop.get(), scale, scale));
            PixPtr framed(scaled ? pixAddBlackOrWhiteBorder(scaled.get(), 10, 10, 10, 10, L_GET_WHITE_VAL) : nullptr);
            if (!framed) continue;
            Show(framed.get(), static_cast<int>(std::lround(dpi * scale)));
            for (tesseract::PageSegMode mode : modes) {
                api->SetPageSegMode(mode);
                recognize();
                TextPtr got(api->GetUTF8Text());
                std::string read;
                for (char32_t c : ToU32(got ? got.get() : "")) {
                    if (!IsSpace(c)) read += ToUtf8(std::u32string(1, c));
                }
                if (std::find(known.begin(), known.end(), read) == known.end()) continue;
                if (std::find(readings.begin(), readings.end(), read) != readings.end()) {
                    agreed = read;
                    confidence = std::max(0, api->MeanTextConf());
                    break;
                }
                readings.push_back(read);
            }
            if (!agreed.empty()) break;
        }
    } catch (...) {
        restore();
        throw;
    }
    restore();
    if (agreed.empty()) {
        DebugTrace("tesseract: the letterhead's last word \"" + before + "\" does not read as a known word: kept as read");
        return;
    }
    DebugTrace("tesseract: the letterhead's last word \"" + before + "\" read again as \"" + agreed + "\"");
    // The characters take their places on the part's ink.
    const std::u32string chars = ToU32(agreed);
    std::vector<double> expected;
    for (char32_t c : chars) expected.push_back(ExpectedInkWidth(c));
    const std::vector<InkRun> runs = ColumnRuns(text, part.Top, part.Bottom);
    std::vector<InkRun> inPart;
    for (const InkRun& r : runs) {
        if (r.Left >= part.Left && r.Right <= part.Right) inPart.push_back(r);
    }
    const double height = static_cast<double>(part.Bottom - part.Top) * 0.8;
    std::vector<std::optional<InkSpan>> spans = MatchInk(expected, inPart, height);
    words.erase(first, words.end());
    for (std::size_t i = 0; i < chars.size(); ++i) {
        PixelRect rect = part;
        if (spans[i]) {
            rect.Left = spans[i]->Left;
            rect.Right = spans[i]->Right;
        }
        words.push_back({ToUtf8(std::u32string(1, chars[i])), line, {rect}, static_cast<float>(confidence)});
    }
}

int OcrEngine::Impl::Orientation(Pix* pix, int dpi) {
    EngineMessages& messages = EngineMessages::Instance();
    if (!osdTried) {
        osdTried = true;
        ApiPtr engine(new TessBaseAPI);
        if (engine->Init(api->GetDatapath(), "osd", tesseract::OEM_TESSERACT_ONLY) == 0) {
            engine->SetPageSegMode(tesseract::PSM_OSD_ONLY);
            osd = std::move(engine);
        } else {
            DebugTrace("tesseract: no orientation detection (osd.traineddata is missing): pages are read as they lie");
        }
        messages.Forward();
    }
    if (!osd) return 0;
    // Half the resolution tells the orientation as well, at a third of the time.
    PixPtr reduced;
    if (pixGetHeight(pix) > 2000 && pixGetWidth(pix) > 1000) {
        reduced.reset(pixGetDepth(pix) == 1 ? pixReduceRankBinary2(pix, 1, nullptr) : pixScaleAreaMap2(pix));
        if (reduced) {
            pix = reduced.get();
            dpi /= 2;
        }
    }
    osd->SetImage(pix);
    if (osd->GetInputImage() == nullptr) {
        messages.Forward();
        EngineFailed("the orientation detection did not take the page");
    }
    if (dpi >= 70 && dpi <= 2400) osd->SetSourceResolution(dpi);
    int degrees = 0;
    float confidence = 0, scriptConfidence = 0;
    const char* script = nullptr;
    bool found = osd->DetectOrientationScript(&degrees, &confidence, &script, &scriptConfidence);
    osd->Clear();
    messages.Forward();
    if (!found) return 0;  // too little text to tell (a blank page): read as it lies
    DebugTrace("tesseract: the page is turned " + std::to_string(degrees) + " degrees (confidence " +
               std::to_string(confidence) + ", script " + (script ? script : "?") + ")");
    constexpr float kConfident = 2.0f;
    if (confidence < kConfident || degrees % 90 != 0) return 0;
    return ((degrees % 360) + 360) % 360;
}

void OcrEngine::Impl::RecognizePix(Pix* pix, int xdpi, int ydpi, OcrPage& page, bool wholePage) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    EngineMessages& messages = EngineMessages::Instance();
    // One run of the engine on what it was given, within what is left of the page's time.
    auto recognize = [&] {
        if (Stopped(options)) throw DorvexError(err::AutomationError, kStoppedText);
        auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        long long left = options.TimeLimitMs - spent;
        tesseract::ETEXT_DESC monitor;
        if (left <= 0) left = 1;  // the time is used up: the engine stops at its first check
        monitor.set_deadline_msecs(static_cast<std::int32_t>(std::min<long long>(left, INT32_MAX)));
        if (options.Stop != nullptr) {
            monitor.cancel = [](void* stop, int) { return static_cast<const std::atomic<bool>*>(stop)->load(); };
            monitor.cancel_this = const_cast<std::atomic<bool>*>(options.Stop);
        }
        int status = api->Recognize(&monitor);
        messages.Forward();
        if (Stopped(options)) throw DorvexError(err::AutomationError, kStoppedText);
        if (monitor.deadline_exceeded()) {
            throw DorvexError(err::AutomationError, "text recognition of the page took longer than its limit of " +
                                                        FormatSeconds(options.TimeLimitMs) + " s");
        }
        if (status != 0) EngineFailed("the engine could not recognise the page (status " + std::to_string(status) + ")");
    };
    // Reads the page as `work` shows it (turned by `turned` degrees); the engine's mean
    // confidence in what it read.
    auto read = [&](Pix* work, int turned, double straightened, int pass) {
        if (Stopped(options)) throw DorvexError(err::AutomationError, kStoppedText);
        const bool across = turned == 90 || turned == 270;
        page.XDpi = across ? ydpi : xdpi;
        page.YDpi = across ? xdpi : ydpi;
        Show(work, page.YDpi);
        page.Words.clear();
        double confidence = 0;
        if (wholePage) {
            // Letters are one column of text: the engine's column finding would tear the
            // titles from their values.
            api->SetPageSegMode(tesseract::PSM_SINGLE_COLUMN);
            recognize();
            PixPtr binary(api->GetThresholdedImage());
            if (!binary || pixGetDepth(binary.get()) != 1) {
                DebugTrace("tesseract: no binary page; the characters keep the engine's own boxes");
                binary.reset();
            }
            long line = -1;
            page.Words = CollectWords(binary.get(), line);
            confidence = page.Words.empty() ? 0 : api->MeanTextConf();
        } else {
            confidence = ReadLines(work, page.YDpi, recognize, page.Words);
        }
        page.Pass = pass;
        page.Turned = turned;
        page.Straightened = straightened;
        page.PixelWidth = pixGetWidth(work);
        page.PixelHeight = pixGetHeight(work);
        return static_cast<int>(std::lround(confidence));
    };

    // First pass. An upright page reads with confidence; only a page that reads badly (or
    // hardly at all) is asked for its orientation, and read again turned upright when it lies
    // on its side or upside down. The orientation detection costs about half a reading.
    constexpr int kUprightConfidence = 60;
    constexpr std::size_t kFewCharacters = 20;
    // Straightening: a skewed scan is levelled first, so that every printed line is one line
    // of the engine and the characters' boxes stand level.
    // The skew is measured on the black and white page; grain and specks lower the measure's
    // confidence, so a little less than the imaging library's own bar (3) is taken.
    constexpr float kSkewConfident = 1.5f, kLevel = 0.3f;
    float angle = 0, skewConfidence = 0;
    PixPtr level;
    {
        PixPtr binary(pixGetDepth(pix) == 1 ? pixClone(pix) : pixConvertTo1(pix, 130));
        if (!binary || pixFindSkew(binary.get(), &angle, &skewConfidence) != 0) angle = skewConfidence = 0;
    }
    if (skewConfidence >= kSkewConfident && std::fabs(angle) >= kLevel) {
        constexpr float kRadians = 3.14159265f / 180.0f;
        level.reset(pixRotate(pix, kRadians * angle, L_ROTATE_AREA_MAP, L_BRING_IN_WHITE, 0, 0));
        if (!level) throw DorvexError(err::OutOfMemory, "not enough memory to straighten the page");
    }
    messages.Forward();
    Pix* straight = level ? level.get() : pix;
    const double straightened = level ? angle : 0.0;
    DebugTrace("tesseract: skew " + std::to_string(angle) + " degrees (confidence " + std::to_string(skewConfidence) + ")" +
               (level ? ", levelled" : ""));
    int confidence = read(straight, 0, straightened, 1);
    if (confidence < kUprightConfidence || page.Words.size() < kFewCharacters) {
        int lying = Orientation(straight, ydpi);
        DebugTrace("tesseract: read with confidence " + std::to_string(confidence) + "; the page lies " +
                   std::to_string(lying) + " degrees clockwise");
        if (lying != 0) {
            PixPtr upright(pixRotateOrth(straight, (360 - lying) / 90));
            if (!upright) throw DorvexError(err::OutOfMemory, "not enough memory to turn the page upright");
            OcrPage asItLies = page;
            int uprightConfidence = read(upright.get(), 360 - lying, straightened, 1);
            if (uprightConfidence < confidence) {  // the detection was wrong: keep the first reading
                DebugTrace("tesseract: turned upright it reads worse (" + std::to_string(uprightConfidence) + "); kept as it lies");
                page = std::move(asItLies);
                if (wholePage) read(straight, 0, straightened, 1);  // the engine holds that page again, for the renderer
            }
        }
    }
    if (!page.Words.empty()) return;
    DebugTrace("tesseract: nothing found with orientation and straightening; reading again without");
    read(pix, 0, 0.0, 2);
    if (page.Words.empty()) DebugTrace("tesseract: nothing found on the page");
}

OcrEngine::OcrEngine(OcrOptions options) : mImpl(std::make_unique<Impl>()) { mImpl->options = std::move(options); }

OcrEngine::~OcrEngine() = default;

bool OcrEngine::IsSupported() { return mImpl->Start(); }

const std::string& OcrEngine::LastError() const { return mImpl->lastError; }

OcrPage OcrEngine::RecognizeFirstPage(const std::string& path) {
    TraceScope trace("OcrEngine::RecognizeFirstPage");
    mImpl->Require();
    Raster page = Raster::Load(path, 1);
    return Recognize(page);
}

OcrPage OcrEngine::Recognize(const Raster& page) {
    mImpl->Require();
    Pix* pix = RasterAccess::PixOf(page);
    if (pix == nullptr) throw DorvexError(err::InvalidArgument, "there is no page to recognise");
    if (page.Width() > kMaxOcrSide || page.Height() > kMaxOcrSide) {
        throw DorvexError(err::InvalidArgument, "the page is too large to recognise (" + std::to_string(page.Width()) + " x " +
                                                    std::to_string(page.Height()) + " pixels; at most " +
                                                    std::to_string(kMaxOcrSide) + " on a side)");
    }
    OcrPage result;
    try {
        mImpl->RecognizePix(pix, page.XDpi(), page.YDpi(), result);
    } catch (...) {
        mImpl->api->Clear();
        throw;
    }
    mImpl->api->Clear();
    return result;
}

int OcrEngine::WriteSearchablePdf(const std::vector<std::string>& files, const std::string& outPath, const PageSeen& onPage) {
    TraceScope trace("OcrEngine::WriteSearchablePdf");
    mImpl->Require();
    if (files.empty()) throw DorvexError(err::InvalidArgument, "no image file to put into " + outPath);
    if (outPath.empty() || outPath.back() == '/') throw DorvexError(err::InvalidArgument, "no PDF file name given");
    TessBaseAPI& api = *mImpl->api;
    SiblingFile temp(outPath);
    const std::string base = temp.Path().substr(0, temp.Path().size() - 4);  // the renderer adds ".pdf"
    const char* dataPath = api.GetDatapath();
    if (dataPath == nullptr) EngineFailed("the engine does not say where its data is");
    auto cannotWrite = [&](const std::string& why) -> DorvexError {
        return DorvexError(err::DeviceIo, "cannot write the PDF file " + outPath + ": " + why);
    };
    int pages = 0;
    {
        RendererPtr renderer = std::make_unique<tesseract::TessPDFRenderer>(base.c_str(), dataPath, false);
        if (!renderer->happy()) throw cannotWrite(std::strerror(errno));
        if (!renderer->BeginDocument(FileStem(outPath).c_str())) throw cannotWrite("the document could not be started");
        for (std::size_t index = 0; index < files.size(); ++index) {
            const std::string& file = files[index];
            ImageInfo info = ReadImageInfo(file);
            if (!info.damage.empty()) {
                throw DorvexError(err::InvalidArgument, file + " is damaged after page " + std::to_string(info.pages) + " (" +
                                                            info.damage + "); no PDF was written");
            }
            for (int number = 1; number <= info.pages; ++number) {
                Raster page = Raster::Load(file, number);
                Pix* pix = RasterAccess::PixOf(page);
                if (page.Width() > kMaxOcrSide || page.Height() > kMaxOcrSide) {
                    throw DorvexError(err::InvalidArgument, "page " + std::to_string(number) + " of " + file + " is too large to recognise");
                }
                OcrPage recognised;
                try {
                    // The fields come from the page read line by line; the renderer needs the
                    // engine to hold the whole page.
                    if (onPage) mImpl->RecognizePix(pix, page.XDpi(), page.YDpi(), recognised);
                    OcrPage whole;
                    mImpl->RecognizePix(pix, page.XDpi(), page.YDpi(), whole, true);
                    // The renderer embeds a JPEG file's own data, and the page image otherwise;
                    // a page turned upright or straightened is embedded as it was read ("-": no file).
                    bool asFiled = whole.Turned == 0 && whole.Straightened == 0;
                    if (!onPage) recognised = std::move(whole);
                    api.SetInputName(asFiled ? file.c_str() : "-");
                    if (!renderer->AddImage(&api)) {
                        throw cannotWrite("page " + std::to_string(number) + " of " + file + " could not be added");
                    }
                    EngineMessages::Instance().Forward();
                } catch (...) {
                    api.Clear();
                    throw;
                }
                api.Clear();
                ++pages;
                if (onPage) onPage(index, number, recognised);
            }
        }
        if (!renderer->EndDocument() || !renderer->happy()) throw cannotWrite("the document could not be finished");
    }  // the renderer closes the file here
    if (!EndsWithPdfTrailer(temp.Path())) throw cannotWrite("the file was not written whole (is the disk full?)");
    if (!SyncFile(temp.Path())) throw cannotWrite(std::strerror(errno));
    if (std::rename(temp.Path().c_str(), outPath.c_str()) != 0) throw cannotWrite(std::strerror(errno));
    temp.Kept();
    SyncFolderOf(outPath);
    return pages;
}

}  // namespace dorvex
