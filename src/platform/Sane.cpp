// SANE devices behind IScanDevice. SANE is started once per process (stopped at exit); every
// value a device reports is checked and bounded before it is used.

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sane/sane.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/ScanDevice.h"
#include "platform/ScanDeviceImpl.h"
#include "support/Error.h"
#include "support/Trace.h"

namespace dorvex {
namespace {

// The same page budget as for image files: A3 at 600 dpi fits, a device gone wrong does not.
constexpr std::int64_t kMaxPixels = 150'000'000;
constexpr std::int64_t kMaxLinePixels = 200'000;  // 2 m at 2400 dpi
constexpr std::int64_t kMaxLinePadding = 65'536;
constexpr SANE_Int kMaxOptionBytes = 1 << 20;
constexpr SANE_Int kMaxOptions = 10'000;
constexpr int kMaxListEntries = 10'000;
constexpr std::size_t kMaxDevices = 1'000;
constexpr std::size_t kMaxText = 4'096;
constexpr SANE_Int kReadChunk = 64 * 1024;
// How long a backend's reader may take to reach a point where it waits (see WaitForIdleThreads).
constexpr std::chrono::milliseconds kSettleLimit{2'000};

using Clock = std::chrono::steady_clock;

std::string Text(const char* text) {
    if (text == nullptr) return {};
    return std::string(text, strnlen(text, kMaxText));
}

std::string StatusText(SANE_Status status) {
    std::string text = Text(sane_strstatus(status));
    return text.empty() ? "status " + std::to_string(static_cast<int>(status)) : text;
}

DeviceStatus FromSane(SANE_Status status) {
    switch (status) {
        case SANE_STATUS_GOOD: return DeviceStatus::Good;
        case SANE_STATUS_NO_DOCS: return DeviceStatus::NoDocs;
        case SANE_STATUS_JAMMED: return DeviceStatus::Jammed;
        case SANE_STATUS_COVER_OPEN: return DeviceStatus::CoverOpen;
        case SANE_STATUS_IO_ERROR: return DeviceStatus::IoError;
        case SANE_STATUS_DEVICE_BUSY: return DeviceStatus::Busy;
        case SANE_STATUS_CANCELLED: return DeviceStatus::Cancelled;
        case SANE_STATUS_NO_MEM: return DeviceStatus::NoMemory;
        case SANE_STATUS_ACCESS_DENIED: return DeviceStatus::AccessDenied;
        default: return DeviceStatus::Failed;
    }
}

// Decimal text without a locale: up to 4 decimals, no trailing zeros.
std::string NumberText(double value) {
    char text[64];
    auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 4);
    if (ec != std::errc()) return {};
    std::string result(text, end);
    if (result.find('.') != std::string::npos) {
        result.erase(result.find_last_not_of('0') + 1);
        if (result.back() == '.') result.pop_back();
    }
    return result == "-0" ? "0" : result;
}

std::optional<double> ParseNumber(const std::string& text) {
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::string UnitText(SANE_Unit unit) {
    switch (unit) {
        case SANE_UNIT_PIXEL: return "pel";
        case SANE_UNIT_BIT: return "bit";
        case SANE_UNIT_MM: return "mm";
        case SANE_UNIT_DPI: return "dpi";
        case SANE_UNIT_PERCENT: return "%";
        case SANE_UNIT_MICROSECOND: return "us";
        default: return "";
    }
}

double WordValue(SANE_Value_Type type, SANE_Word word) {
    return type == SANE_TYPE_FIXED ? SANE_UNFIX(word) : static_cast<double>(word);
}

bool Matches(const std::string& a, const std::string& b, bool anyCase) {
    if (!anyCase) return a == b;
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// ---- The session ----

struct Session {
    std::mutex mutex;
    bool started = false;
    unsigned generation = 0;  // which start the open handles belong to
};

Session& TheSession() {
    static Session* session = new Session;  // never destroyed: devices may close during exit
    return *session;
}

// With the session locked: starts SANE unless it runs. Throws when it cannot start.
unsigned StartSane(Session& session) {
    if (session.started) return session.generation;
    SANE_Int version = 0;
    const SANE_Status status = sane_init(&version, nullptr);
    if (status != SANE_STATUS_GOOD) {
        throw DorvexError(err::DeviceIo, "the scanner library (SANE) cannot be started: " + StatusText(status));
    }
    session.started = true;
    ++session.generation;
    // SANE is never stopped at exit: backends set up static objects of their own while they
    // probe for devices, which are gone by the time an exit handler could run sane_exit (the
    // genesys backend then crashes). Our devices are closed by their owners; the system closes
    // the rest.
    DebugTrace("SANE " + std::to_string(SANE_VERSION_MAJOR(version)) + "." + std::to_string(SANE_VERSION_MINOR(version)) + "." +
               std::to_string(SANE_VERSION_BUILD(version)) + " started");
    return session.generation;
}

// ---- The backend's own threads ----

// Backends that read in a thread of their own (SANE's sanei_thread) cancel that thread
// asynchronously in sane_cancel and then wait for it to end. A reader cancelled inside the
// allocator (setting up its buffer just after sane_start, freeing it after its last line) keeps
// the allocator's lock, deadlocks on it while it ends, and sane_cancel waits for ever. So a run
// is cancelled, and the read that ends a frame is made, only once the threads started since
// sane_start wait (on a full pipe, a delay, the device) or have ended.
//
// The test backend also closes its pipe before it cancels its reader: a reader woken from its
// blocked write by that close runs into its error path, which takes a lock of the C library's
// (messages in the locale) just as the cancel comes, and that lock stays taken. So the pipes
// opened since sane_start are held open until the cancel is done: the reader is cancelled
// where it waits.

using ThreadIds = std::vector<long>;

// The numbered entries of a folder of /proc ("/proc/self/task", "/proc/self/fd"), sorted; empty
// when the system does not tell.
std::vector<long> ProcEntries(const char* folder) {
    std::vector<long> ids;
    DIR* dir = ::opendir(folder);
    if (dir == nullptr) return ids;
    const long own = ::dirfd(dir);  // the listing's own descriptor is no entry of "/proc/self/fd"
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long id = std::strtol(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0' && id != own) ids.push_back(id);
    }
    if (::closedir(dir) != 0) DebugTrace(std::string("SANE: ") + folder + " cannot be closed: " + std::strerror(errno));
    std::sort(ids.begin(), ids.end());
    return ids;
}

ThreadIds ProcessThreads() { return ProcEntries("/proc/self/task"); }

// Second descriptors of the pipes opened since `before` (descriptors then open), to be closed
// by the caller.
std::vector<int> HoldPipesOpenedSince(const std::vector<long>& before) {
    std::vector<int> held;
    for (long fd : ProcEntries("/proc/self/fd")) {
        if (std::binary_search(before.begin(), before.end(), fd) || fd > INT_MAX) continue;
        char target[64];
        const std::string link = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
        if (length < 5 || std::strncmp(target, "pipe:", 5) != 0) continue;
        const int copy = ::fcntl(static_cast<int>(fd), F_DUPFD_CLOEXEC, 0);
        if (copy >= 0) held.push_back(copy);
    }
    return held;
}

// The start of a file of the thread's in /proc ("" when it cannot be read: the thread ended).
std::string ThreadFile(long id, const char* name) {
    const std::string path = "/proc/self/task/" + std::to_string(id) + "/" + name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    char text[256];
    const ssize_t length = ::read(fd, text, sizeof text);
    if (::close(fd) != 0 || length <= 0) return {};
    return std::string(text, static_cast<std::size_t>(length));
}

// True when the thread runs, or sleeps inside the allocator (in a memory call of the system, or
// in a page fault): a thread that has ended, or waits in any other system call, can be cancelled.
bool ThreadBusy(long id) {
    // "id (name) state ...": the name may hold spaces and parentheses of its own.
    const std::string stat = ThreadFile(id, "stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size()) return false;
    const char state = stat[close + 2];
    if (state != 'S' && state != 'D') return state == 'R';
    // "number arguments..." of the system call it waits in; "-1 ..." outside one.
    const std::string call = ThreadFile(id, "syscall");
    if (call.empty()) return false;
    long number = -1;
    std::from_chars(call.data(), call.data() + call.size(), number);
    for (long memoryCall : {SYS_mmap, SYS_munmap, SYS_mprotect, SYS_mremap, SYS_madvise, SYS_brk}) {
        if (number == memoryCall) return true;
    }
    return number < 0;
}

// Waits until no thread but the caller that is missing from `before` is busy; false when some
// thread still was after kSettleLimit.
bool WaitForIdleThreads(const ThreadIds& before) {
    const long self = ::gettid();
    const Clock::time_point deadline = Clock::now() + kSettleLimit;
    for (;;) {
        const ThreadIds now = ProcessThreads();
        const bool running = std::any_of(now.begin(), now.end(), [&](long id) {
            return id != self && !std::binary_search(before.begin(), before.end(), id) && ThreadBusy(id);
        });
        if (!running) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Calls `expire` when a read armed with a deadline has not ended by then. SANE lets sane_cancel
// be called while another call on the device is pending: the pending read then returns.
class ReadWatch {
public:
    explicit ReadWatch(std::function<void()> expire) : mExpire(std::move(expire)), mThread([this] { Run(); }) {}
    ~ReadWatch() {
        {
            std::lock_guard lock(mMutex);
            mQuit = true;
        }
        mChanged.notify_all();
        mThread.join();
    }
    ReadWatch(const ReadWatch&) = delete;
    ReadWatch& operator=(const ReadWatch&) = delete;

    void Arm(Clock::time_point deadline) {
        {
            std::lock_guard lock(mMutex);
            mDeadline = deadline;
        }
        mChanged.notify_all();
    }
    // The read has ended: true when its deadline passed first (the expiry has then run).
    bool Disarm() {
        std::unique_lock lock(mMutex);
        mDeadline.reset();
        mChanged.wait(lock, [&] { return !mExpiring; });
        return std::exchange(mExpired, false);
    }

private:
    void Run() {
        std::unique_lock lock(mMutex);
        while (!mQuit) {
            if (!mDeadline) {
                mChanged.wait(lock);
            } else if (const Clock::time_point deadline = *mDeadline; Clock::now() < deadline) {
                mChanged.wait_until(lock, deadline);
            } else {
                mDeadline.reset();
                mExpired = mExpiring = true;
                lock.unlock();
                mExpire();
                lock.lock();
                mExpiring = false;
                mChanged.notify_all();
            }
        }
    }

    std::function<void()> mExpire;
    std::mutex mMutex;
    std::condition_variable mChanged;
    std::optional<Clock::time_point> mDeadline;
    bool mExpired = false;
    bool mExpiring = false;
    bool mQuit = false;
    std::thread mThread;  // last: it uses the members above
};

std::string DurationText(std::chrono::milliseconds time) {
    return time.count() % 1000 == 0 ? std::to_string(time.count() / 1000) + " s" : std::to_string(time.count()) + " ms";
}

// ---- One page from the frames a device sends ----

// Collects the lines of a page's frames (one grey or RGB frame, or a red, a green and a blue
// one) as 1-bit, 8-bit grey or 24-bit RGB lines, 16-bit samples reduced to their high byte.
class PageAssembly {
public:
    // Takes the parameters of the next frame; "" when they can be read, else why not.
    std::string BeginFrame(const SANE_Parameters& p) {
        if (p.format != SANE_FRAME_GRAY && p.format != SANE_FRAME_RGB && p.format != SANE_FRAME_RED &&
            p.format != SANE_FRAME_GREEN && p.format != SANE_FRAME_BLUE) {
            return "the scanner sends frames of an unknown format (" + std::to_string(static_cast<int>(p.format)) + ")";
        }
        if (p.depth != 1 && p.depth != 8 && p.depth != 16) {
            return "the scanner sends " + std::to_string(p.depth) + "-bit samples (1, 8 and 16 are read)";
        }
        if (p.pixels_per_line <= 0 || p.pixels_per_line > kMaxLinePixels) {
            return "the scanner sends lines of " + std::to_string(p.pixels_per_line) + " pixels";
        }
        if (p.lines == 0 || p.lines < -1) return "the scanner sends a page of " + std::to_string(p.lines) + " lines";
        if (p.lines > 0 && static_cast<std::int64_t>(p.pixels_per_line) * p.lines > kMaxPixels) {
            return "the page is too large (" + std::to_string(p.pixels_per_line) + " x " + std::to_string(p.lines) +
                   " pixels; at most 150 megapixels are read)";
        }
        const bool single = p.format == SANE_FRAME_GRAY || p.format == SANE_FRAME_RGB;
        const std::int64_t samples = static_cast<std::int64_t>(p.pixels_per_line) * (p.format == SANE_FRAME_RGB ? 3 : 1);
        const std::int64_t used = p.depth == 1 ? (samples + 7) / 8 : samples * (p.depth / 8);
        if (p.bytes_per_line < used || p.bytes_per_line > used + kMaxLinePadding) {
            return "the scanner sends lines of " + std::to_string(p.bytes_per_line) + " bytes for " +
                   std::to_string(p.pixels_per_line) + " pixels";
        }
        int channel = -1;
        if (!single) channel = p.format == SANE_FRAME_RED ? 0 : p.format == SANE_FRAME_GREEN ? 1 : 2;
        if (mFrames == 0) {
            mWidth = p.pixels_per_line;
            mSingle = single;
            mOutBits = p.format == SANE_FRAME_GRAY ? (p.depth == 1 ? 1 : 8) : 24;
            mOutBytesPerLine = mOutBits == 1 ? (static_cast<std::size_t>(mWidth) + 7) / 8
                                             : static_cast<std::size_t>(mWidth) * static_cast<std::size_t>(mOutBits / 8);
            if (p.lines > 0) mOut.reserve(static_cast<std::size_t>(p.lines) * mOutBytesPerLine);
        } else {
            if (mSingle || single) return "the scanner sends a page in frames that do not fit together";
            if (p.pixels_per_line != mWidth) return "the colour frames of the page differ in width";
            if ((mChannels & (1u << channel)) != 0) return "the scanner sends a colour frame twice";
        }
        ++mFrames;
        if (channel >= 0) mChannels |= 1u << channel;
        mFormat = p.format;
        mDepth = p.depth;
        mChannel = channel;
        mExpected = p.lines;
        mLine.assign(static_cast<std::size_t>(p.bytes_per_line), 0);
        mFill = 0;
        mFrameLines = 0;
        mExtra = 0;
        return {};
    }

    // More frames are due after this one.
    bool WantsMore() const { return !mSingle && mChannels != 7u; }

    // The present frame's announced rest is at most `bytes`.
    bool EndWithin(std::size_t bytes) const {
        if (mExpected <= 0) return false;
        const std::size_t lines = static_cast<std::size_t>(std::max(mExpected - mFrameLines, 0));
        return lines * mLine.size() <= bytes + mFill;
    }

    // Takes bytes of the present frame; "" or why the page cannot be taken.
    std::string Add(const SANE_Byte* data, std::size_t length) {
        while (length > 0) {
            if (Full()) {
                // Lines beyond the announced height are dropped, up to a page's worth.
                mExtra += length;
                if (mExtra > mLine.size() * static_cast<std::size_t>(std::max(mExpected, mLines))) {
                    return "the scanner sends more lines than it announced";
                }
                return {};
            }
            const std::size_t take = std::min(length, mLine.size() - mFill);
            std::memcpy(mLine.data() + mFill, data, take);
            mFill += take;
            data += take;
            length -= take;
            if (mFill == mLine.size()) {
                if (mExpected < 0 && mFrames == 1 && static_cast<std::int64_t>(mFrameLines + 1) * mWidth > kMaxPixels) {
                    return "the page is longer than 150 megapixels allow (" + std::to_string(mFrameLines) + " lines of " +
                           std::to_string(mWidth) + " pixels)";
                }
                TakeLine();
                mFill = 0;
            }
        }
        return {};
    }

    // The present frame has ended; "" or why the page cannot be taken.
    std::string EndFrame() {
        if (mFill > 0) DebugTrace("SANE: a partial last line of " + std::to_string(mFill) + " bytes dropped");
        if (mFrameLines == 0) return "the scanner sent no image data";
        if (mExpected > 0 && mFrameLines < mExpected) {
            DebugTrace("SANE: " + std::to_string(mFrameLines) + " of " + std::to_string(mExpected) + " lines arrived");
        }
        if (mFrames == 1) mLines = mFrameLines;
        else mLines = std::min(mLines, mFrameLines);
        return {};
    }

    Raster Build(int dpi) const { return Raster::FromSamples(mWidth, mLines, mOutBits, mOut.data(), mOutBytesPerLine, dpi); }

private:
    bool Full() const {
        if (mExpected > 0 && mFrameLines >= mExpected) return true;
        return mFrames > 1 && mFrameLines >= mLines;  // later colour frames fill the first one's lines
    }

    // The sample `index` of the line buffer as 8 bits; 1-bit colour samples are 0 or full.
    std::uint8_t Sample(std::size_t index) const {
        if (mDepth == 8) return mLine[index];
        if (mDepth == 16) {
            std::uint16_t value = 0;
            std::memcpy(&value, mLine.data() + index * 2, 2);  // SANE sends the host's byte order
            return static_cast<std::uint8_t>(value >> 8);
        }
        return (mLine[index / 8] & (0x80u >> (index % 8))) != 0 ? 255 : 0;
    }

    void TakeLine() {
        std::uint8_t* out = nullptr;
        if (mFrames == 1) {
            mOut.resize(mOut.size() + mOutBytesPerLine, 0);
            out = mOut.data() + mOut.size() - mOutBytesPerLine;
        } else {
            out = mOut.data() + static_cast<std::size_t>(mFrameLines) * mOutBytesPerLine;
        }
        ++mFrameLines;
        const std::size_t width = static_cast<std::size_t>(mWidth);
        if (mFormat == SANE_FRAME_GRAY && mDepth == 1) {
            std::memcpy(out, mLine.data(), mOutBytesPerLine);  // 1 is black for SANE as for the page
        } else if (mFormat == SANE_FRAME_GRAY || mFormat == SANE_FRAME_RGB) {
            const std::size_t samples = width * (mFormat == SANE_FRAME_RGB ? 3 : 1);
            if (mDepth == 8) std::memcpy(out, mLine.data(), samples);
            else for (std::size_t i = 0; i < samples; ++i) out[i] = Sample(i);
        } else {
            for (std::size_t x = 0; x < width; ++x) out[x * 3 + static_cast<std::size_t>(mChannel)] = Sample(x);
        }
    }

    int mWidth = 0;
    bool mSingle = true;
    int mOutBits = 8;
    std::size_t mOutBytesPerLine = 0;
    std::vector<std::uint8_t> mOut;
    int mLines = 0;  // of the whole page so far
    int mFrames = 0;
    unsigned mChannels = 0;
    // The present frame.
    SANE_Frame mFormat = SANE_FRAME_GRAY;
    int mDepth = 8;
    int mChannel = -1;
    int mExpected = -1;
    std::vector<std::uint8_t> mLine;
    std::size_t mFill = 0;
    int mFrameLines = 0;
    std::size_t mExtra = 0;
};

// ---- The device ----

class SaneDevice final : public IScanDevice {
public:
    SaneDevice(std::string name, SANE_Handle handle, unsigned generation)
        : mName(std::move(name)), mHandle(handle), mGeneration(generation) {}

    ~SaneDevice() override {
        Session& session = TheSession();
        std::lock_guard lock(session.mutex);
        if (!session.started || session.generation != mGeneration) return;  // SANE closed it when it stopped
        EndRun();
        sane_close(mHandle);
    }

    SaneDevice(const SaneDevice&) = delete;
    SaneDevice& operator=(const SaneDevice&) = delete;

    const std::string& Name() const override { return mName; }
    std::string LastError() const override { return mLastError; }

    std::vector<DeviceOption> Options() override {
        std::vector<DeviceOption> options;
        const SANE_Int count = OptionCount();
        for (SANE_Int index = 1; index < count; ++index) {
            const SANE_Option_Descriptor* d = sane_get_option_descriptor(mHandle, index);
            if (d == nullptr) continue;
            DeviceOption option = Describe(*d);
            option.value = ReadValue(index, *d).value_or("");
            options.push_back(std::move(option));
        }
        return options;
    }

    bool SetOption(const std::string& name, const std::string& value) override {
        mLastError.clear();
        SANE_Int index = 0;
        const SANE_Option_Descriptor* d = Find(name, index);
        if (d == nullptr) return Refuse("the scanner has no option \"" + name + "\"");
        if (!SANE_OPTION_IS_ACTIVE(d->cap)) return Refuse("the option \"" + name + "\" is not in use in the present settings");
        if (!SANE_OPTION_IS_SETTABLE(d->cap) || d->type == SANE_TYPE_GROUP) {
            return Refuse("the option \"" + name + "\" cannot be set by software");
        }
        const bool single = d->size == static_cast<SANE_Int>(sizeof(SANE_Word));
        const std::string refused = "the value \"" + value + "\" does not suit the option \"" + name + "\"";
        SANE_Int info = 0;
        SANE_Status status = SANE_STATUS_INVAL;
        switch (d->type) {
            case SANE_TYPE_BUTTON:
                status = sane_control_option(mHandle, index, SANE_ACTION_SET_VALUE, nullptr, &info);
                break;
            case SANE_TYPE_BOOL: {
                if (!single || (value != "1" && value != "0")) return Refuse(refused);
                SANE_Bool word = value == "1" ? SANE_TRUE : SANE_FALSE;
                status = sane_control_option(mHandle, index, SANE_ACTION_SET_VALUE, &word, &info);
                break;
            }
            case SANE_TYPE_INT:
            case SANE_TYPE_FIXED: {
                std::optional<double> number = ParseNumber(value);
                if (!single || !number) return Refuse(refused);
                double scaled = d->type == SANE_TYPE_FIXED ? *number * (1 << SANE_FIXED_SCALE_SHIFT) : *number;
                if (d->type == SANE_TYPE_INT && scaled != std::floor(scaled)) return Refuse(refused);
                if (scaled < INT32_MIN || scaled > INT32_MAX) return Refuse(refused);
                SANE_Word word = static_cast<SANE_Word>(std::lround(scaled));
                status = sane_control_option(mHandle, index, SANE_ACTION_SET_VALUE, &word, &info);
                break;
            }
            case SANE_TYPE_STRING: {
                std::string text = value;
                if (d->constraint_type == SANE_CONSTRAINT_STRING_LIST) {
                    std::optional<std::string> entry = ListEntry(*d, value);
                    if (!entry) return Refuse(refused);
                    text = *entry;
                }
                if (d->size <= 0 || d->size > kMaxOptionBytes || text.size() >= static_cast<std::size_t>(d->size)) {
                    return Refuse(refused);
                }
                std::vector<char> buffer(static_cast<std::size_t>(d->size), '\0');
                std::memcpy(buffer.data(), text.data(), text.size());
                status = sane_control_option(mHandle, index, SANE_ACTION_SET_VALUE, buffer.data(), &info);
                break;
            }
            default:
                return Refuse(refused);
        }
        if (status != SANE_STATUS_GOOD) return Refuse(refused + " (" + StatusText(status) + ")");
        if ((info & SANE_INFO_INEXACT) != 0) DebugTrace("SANE: " + mName + " took a value near \"" + value + "\" for " + name);
        if ((info & SANE_INFO_RELOAD_OPTIONS) != 0) DebugTrace("SANE: " + mName + " changed its options");
        return true;
    }

    DeviceStatus ScanPage(Raster& page) override {
        page = Raster();
        mLastError.clear();
        const int dpi = Resolution();  // asked first: devices need not answer while scanning
        PageAssembly assembly;
        for (int frame = 0;; ++frame) {
            mThreadsBefore = ProcessThreads();
            mFilesBefore = ProcEntries("/proc/self/fd");
            mRunning = true;
            SANE_Status status = sane_start(mHandle);
            if (status != SANE_STATUS_GOOD) return Stop(FromSane(status), "the scan did not start: " + StatusText(status));
            SANE_Parameters params{};
            status = sane_get_parameters(mHandle, &params);
            if (status != SANE_STATUS_GOOD) return Stop(FromSane(status), "the scanner did not describe the page: " + StatusText(status));
            std::string why = assembly.BeginFrame(params);
            if (!why.empty()) return Stop(DeviceStatus::Failed, why);
            const DeviceStatus read = ReadFrame(assembly, why);
            if (read != DeviceStatus::Good) return Stop(read, why);
            if (params.last_frame) break;
            if (!assembly.WantsMore()) return Stop(DeviceStatus::Failed, "the scanner sends more frames than a page has");
        }
        if (assembly.WantsMore()) return Stop(DeviceStatus::Failed, "the scanner ended a colour page before its last colour");
        try {
            page = assembly.Build(dpi);
        } catch (const DorvexError& e) {
            return Stop(e.Number() == err::OutOfMemory ? DeviceStatus::NoMemory : DeviceStatus::Failed, e.what());
        } catch (const std::bad_alloc&) {
            return Stop(DeviceStatus::NoMemory, "not enough memory for the page");
        }
        return DeviceStatus::Good;
    }

    void EndRun() override {
        if (!mRunning) return;
        Cancel();
        mRunning = false;
    }

    void SetWaitLimit(std::chrono::milliseconds limit) override { mWaitLimit = std::max(limit, std::chrono::milliseconds(1)); }

private:
    bool Refuse(const std::string& why) {
        mLastError = why;
        DebugTrace("SANE: " + mName + ": " + why);
        return false;
    }

    // Ends the run after a failure; the page stays empty.
    DeviceStatus Stop(DeviceStatus status, const std::string& why) {
        EndRun();
        mLastError = why;
        DebugTrace("SANE: " + mName + ": " + why);
        return status;
    }

    // Cancels the run once the backend's reader can be cancelled (see WaitForIdleThreads).
    void Cancel() {
        if (!WaitForIdleThreads(mThreadsBefore)) DebugTrace("SANE: " + mName + ": the scanner's reader still runs; cancelled anyway");
        const std::vector<int> held = HoldPipesOpenedSince(mFilesBefore);
        sane_cancel(mHandle);
        for (int fd : held) {
            if (::close(fd) != 0) DebugTrace("SANE: a pipe of the scanner's cannot be closed: " + std::string(std::strerror(errno)));
        }
    }

    // Reads the present frame to its end: Good, or the failure and `why`. No wait for data lasts
    // longer than the wait limit: reads that do not block are made once the device's descriptor
    // is readable (or after short pauses), a read that blocks is cancelled when the limit passes.
    DeviceStatus ReadFrame(PageAssembly& assembly, std::string& why) {
        const bool nonBlocking = sane_set_io_mode(mHandle, SANE_TRUE) == SANE_STATUS_GOOD;
        SANE_Int fd = -1;
        if (!nonBlocking || sane_get_select_fd(mHandle, &fd) != SANE_STATUS_GOOD) fd = -1;
        std::optional<ReadWatch> watch;
        if (!nonBlocking) watch.emplace([this] { Cancel(); });
        const std::string silent = "the scanner sent no data for " + DurationText(mWaitLimit);
        std::vector<SANE_Byte> chunk(static_cast<std::size_t>(kReadChunk));
        Clock::time_point lastData = Clock::now();
        for (;;) {
            // The read that ends the frame ends the reader too: it is made once the reader is done.
            if (assembly.EndWithin(static_cast<std::size_t>(kReadChunk))) WaitForIdleThreads(mThreadsBefore);
            // Data is waited for before a read that does not block: the test backend takes a first
            // read that finds none for the end of the frame.
            if (fd >= 0 && !WaitForData(fd, lastData + mWaitLimit)) {
                why = silent;
                return DeviceStatus::IoError;
            }
            SANE_Int length = 0;
            if (watch) watch->Arm(lastData + mWaitLimit);
            const SANE_Status status = sane_read(mHandle, chunk.data(), kReadChunk, &length);
            if (watch && watch->Disarm()) {
                why = silent;
                return DeviceStatus::IoError;
            }
            if (status != SANE_STATUS_GOOD && status != SANE_STATUS_EOF) {
                why = "the scan stopped: " + StatusText(status);
                return FromSane(status);
            }
            if (length < 0 || length > kReadChunk) {
                why = "the scanner reported a block of " + std::to_string(length) + " bytes";
                return DeviceStatus::Failed;
            }
            if (length > 0) {
                lastData = Clock::now();
                why = assembly.Add(chunk.data(), static_cast<std::size_t>(length));
                if (!why.empty()) return DeviceStatus::Failed;
            }
            if (status == SANE_STATUS_EOF) break;
            if (length == 0 && fd < 0) {
                if (Clock::now() >= lastData + mWaitLimit) {
                    why = silent;
                    return DeviceStatus::IoError;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        why = assembly.EndFrame();
        return why.empty() ? DeviceStatus::Good : DeviceStatus::Failed;
    }

    // Waits until the device's descriptor is readable (or ends: a read then tells); false when
    // the deadline passed first.
    static bool WaitForData(int fd, Clock::time_point deadline) {
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return false;
            pollfd ready{fd, POLLIN, 0};
            const int result = ::poll(&ready, 1, static_cast<int>(std::min<std::int64_t>(left.count(), 1000)));
            if (result > 0) return true;
            if (result < 0 && errno != EINTR) {
                DebugTrace("SANE: waiting for the scanner failed: " + std::string(std::strerror(errno)));
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }

    SANE_Int OptionCount() {
        const SANE_Option_Descriptor* first = sane_get_option_descriptor(mHandle, 0);
        SANE_Word count = 0;
        if (first != nullptr && first->type == SANE_TYPE_INT &&
            sane_control_option(mHandle, 0, SANE_ACTION_GET_VALUE, &count, nullptr) == SANE_STATUS_GOOD) {
            mOptionCount = std::clamp<SANE_Int>(count, 0, kMaxOptions);
        }
        return mOptionCount;
    }

    const SANE_Option_Descriptor* Find(const std::string& name, SANE_Int& index) {
        if (name.empty()) return nullptr;
        const SANE_Int count = OptionCount();
        for (index = 1; index < count; ++index) {
            const SANE_Option_Descriptor* d = sane_get_option_descriptor(mHandle, index);
            if (d != nullptr && d->type != SANE_TYPE_GROUP && Text(d->name) == name) return d;
        }
        return nullptr;
    }

    static std::optional<std::string> ListEntry(const SANE_Option_Descriptor& d, const std::string& value) {
        if (d.constraint.string_list == nullptr) return std::nullopt;
        for (bool anyCase : {false, true}) {
            for (int i = 0; i < kMaxListEntries && d.constraint.string_list[i] != nullptr; ++i) {
                std::string entry = Text(d.constraint.string_list[i]);
                if (Matches(entry, value, anyCase)) return entry;
            }
        }
        return std::nullopt;
    }

    static DeviceOption Describe(const SANE_Option_Descriptor& d) {
        DeviceOption option;
        option.title = Text(d.title);
        option.description = Text(d.desc);
        option.unit = UnitText(d.unit);
        option.active = SANE_OPTION_IS_ACTIVE(d.cap);
        option.settable = SANE_OPTION_IS_SETTABLE(d.cap);
        switch (d.type) {
            case SANE_TYPE_BOOL: option.type = DeviceOption::Type::Bool; break;
            case SANE_TYPE_INT: option.type = DeviceOption::Type::Int; break;
            case SANE_TYPE_FIXED: option.type = DeviceOption::Type::Fixed; break;
            case SANE_TYPE_STRING: option.type = DeviceOption::Type::String; break;
            case SANE_TYPE_BUTTON: option.type = DeviceOption::Type::Button; break;
            default: option.type = DeviceOption::Type::Group; break;
        }
        if (option.type == DeviceOption::Type::Group) {
            option.settable = false;
            return option;
        }
        option.name = Text(d.name);
        const bool numeric = d.type == SANE_TYPE_INT || d.type == SANE_TYPE_FIXED;
        if (d.constraint_type == SANE_CONSTRAINT_RANGE && numeric && d.constraint.range != nullptr) {
            option.min = WordValue(d.type, d.constraint.range->min);
            option.max = WordValue(d.type, d.constraint.range->max);
            if (d.constraint.range->quant != 0) option.step = WordValue(d.type, d.constraint.range->quant);
        } else if (d.constraint_type == SANE_CONSTRAINT_WORD_LIST && numeric && d.constraint.word_list != nullptr) {
            const SANE_Word count = std::clamp<SANE_Word>(d.constraint.word_list[0], 0, kMaxListEntries);
            for (SANE_Word i = 1; i <= count; ++i) option.choices.push_back(NumberText(WordValue(d.type, d.constraint.word_list[i])));
        } else if (d.constraint_type == SANE_CONSTRAINT_STRING_LIST && d.type == SANE_TYPE_STRING && d.constraint.string_list != nullptr) {
            for (int i = 0; i < kMaxListEntries && d.constraint.string_list[i] != nullptr; ++i) {
                option.choices.push_back(Text(d.constraint.string_list[i]));
            }
        }
        return option;
    }

    // The option's value as text; nullopt when the device does not tell it now.
    std::optional<std::string> ReadValue(SANE_Int index, const SANE_Option_Descriptor& d) {
        if (d.type == SANE_TYPE_GROUP || d.type == SANE_TYPE_BUTTON) return std::string();
        if (!SANE_OPTION_IS_ACTIVE(d.cap) || (d.cap & SANE_CAP_SOFT_DETECT) == 0) return std::nullopt;
        if (d.size <= 0 || d.size > kMaxOptionBytes) return std::nullopt;
        const bool single = d.size == static_cast<SANE_Int>(sizeof(SANE_Word));
        if (d.type != SANE_TYPE_STRING && !single) return std::string();  // several values
        // Word-aligned, with room for a terminating zero the device may leave out.
        std::vector<SANE_Word> buffer(static_cast<std::size_t>(d.size) / sizeof(SANE_Word) + 2, 0);
        if (sane_control_option(mHandle, index, SANE_ACTION_GET_VALUE, buffer.data(), nullptr) != SANE_STATUS_GOOD) {
            return std::nullopt;
        }
        switch (d.type) {
            case SANE_TYPE_BOOL: return std::string(buffer[0] != SANE_FALSE ? "1" : "0");
            case SANE_TYPE_INT: return std::to_string(buffer[0]);
            case SANE_TYPE_FIXED: return NumberText(SANE_UNFIX(buffer[0]));
            default: {
                const char* text = reinterpret_cast<const char*>(buffer.data());
                return std::string(text, strnlen(text, static_cast<std::size_t>(d.size)));
            }
        }
    }

    // The scan resolution in dpi; 0 when the device does not tell it.
    int Resolution() {
        for (const char* name : {"resolution", "x-resolution"}) {
            SANE_Int index = 0;
            const SANE_Option_Descriptor* d = Find(name, index);
            if (d == nullptr || !SANE_OPTION_IS_ACTIVE(d->cap)) continue;
            std::optional<std::string> value = ReadValue(index, *d);
            if (std::optional<double> dpi = value ? ParseNumber(*value) : std::nullopt; dpi && *dpi >= 1 && *dpi <= 100'000) {
                return static_cast<int>(std::lround(*dpi));
            }
        }
        return 0;
    }

    std::string mName;
    SANE_Handle mHandle;
    unsigned mGeneration;
    SANE_Int mOptionCount = 0;
    bool mRunning = false;  // started since the last cancel
    ThreadIds mThreadsBefore;  // the process's threads before the last sane_start
    std::vector<long> mFilesBefore;  // and its open descriptors
    std::chrono::milliseconds mWaitLimit = kDefaultWaitLimit;
    std::string mLastError;
};

std::string OpenFailure(const std::string& name, SANE_Status status) {
    switch (status) {
        case SANE_STATUS_INVAL: return "there is no scanner named \"" + name + "\"";
        case SANE_STATUS_DEVICE_BUSY: return "the scanner \"" + name + "\" is busy (in use by another program)";
        case SANE_STATUS_ACCESS_DENIED: return "access to the scanner \"" + name + "\" is denied";
        default: return "the scanner \"" + name + "\" cannot be opened: " + StatusText(status);
    }
}

}  // namespace

std::vector<DeviceInfo> ListScanDevices() {
    Session& session = TheSession();
    std::lock_guard lock(session.mutex);
    StartSane(session);
    const SANE_Device** list = nullptr;
    const SANE_Status status = sane_get_devices(&list, SANE_FALSE);
    if (status != SANE_STATUS_GOOD) throw DorvexError(err::DeviceIo, "the scanners cannot be listed: " + StatusText(status));
    std::vector<DeviceInfo> devices;
    for (std::size_t i = 0; list != nullptr && list[i] != nullptr && i < kMaxDevices; ++i) {
        if (list[i]->name == nullptr || list[i]->name[0] == '\0') continue;
        devices.push_back({Text(list[i]->name), Text(list[i]->vendor), Text(list[i]->model), Text(list[i]->type)});
    }
    return devices;
}

std::unique_ptr<IScanDevice> OpenSaneDevice(const std::string& name) {
    if (name.empty()) throw DorvexError(err::InvalidArgument, "no scanner name was given");
    Session& session = TheSession();
    SANE_Handle handle = nullptr;
    unsigned generation = 0;
    {
        std::lock_guard lock(session.mutex);
        generation = StartSane(session);
        const SANE_Status status = sane_open(name.c_str(), &handle);
        if (status != SANE_STATUS_GOOD) throw DorvexError(err::DeviceIo, OpenFailure(name, status));
        if (handle == nullptr) throw DorvexError(err::DeviceIo, OpenFailure(name, SANE_STATUS_IO_ERROR));
    }
    DebugTrace("SANE: opened " + name);
    try {
        return std::make_unique<SaneDevice>(name, handle, generation);
    } catch (...) {
        sane_close(handle);
        throw;
    }
}

}  // namespace dorvex
