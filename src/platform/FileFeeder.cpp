// The file feeder: the pages of image files fed as by an automatic document feeder. Each scan
// takes the next page; paper once fed stays fed for as long as the device is open.

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/ScanDevice.h"
#include "platform/ScanDeviceImpl.h"
#include "support/Error.h"
#include "support/Trace.h"

namespace dorvex {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxFolderEntries = 100'000;
const char* const kFeeder = "Automatic Document Feeder";
const char* const kFlatbed = "Flatbed";
const char* const kLineart = "Lineart";
const char* const kGray = "Gray";
const char* const kColor = "Color";
constexpr int kMaxPace = 1000;

// Whether the file starts like an image we read (TIFF, JPEG, PNG, BMP). A damaged image still
// counts as a page: it fails when it is fed, as a torn sheet would.
bool LooksLikeImage(const std::string& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) return false;
    unsigned char head[8] = {};
    const std::size_t got = std::fread(head, 1, sizeof head, file.get());
    auto starts = [&](std::initializer_list<unsigned char> magic) {
        return got >= magic.size() && std::equal(magic.begin(), magic.end(), head);
    };
    return starts({'I', 'I', 42, 0}) || starts({'M', 'M', 0, 42}) || starts({0xFF, 0xD8, 0xFF}) ||
           starts({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}) || starts({'B', 'M'});
}

std::vector<std::string> ImagesInFolder(const std::string& folder) {
    std::vector<fs::path> found;
    std::error_code ec;
    std::size_t entries = 0;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (++entries > kMaxFolderEntries) {
            throw DorvexError(err::InvalidArgument, "the folder " + folder + " holds more than 100000 files");
        }
        const fs::path& path = it->path();
        if (path.filename().string().rfind('.', 0) == 0) continue;  // hidden files, such as unfinished saves
        std::error_code typeEc;
        if (!it->is_regular_file(typeEc) || typeEc) continue;
        if (LooksLikeImage(path.string())) found.push_back(path);
    }
    if (ec) throw DorvexError(err::PathNotFound, "the folder " + folder + " cannot be read: " + ec.message());
    std::sort(found.begin(), found.end(), [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });
    std::vector<std::string> files;
    for (const fs::path& path : found) files.push_back(path.string());
    return files;
}

int ModeBits(const std::string& mode) { return mode == kLineart ? 1 : mode == kGray ? 8 : 24; }

class FileFeeder final : public IScanDevice {
public:
    FileFeeder(std::string name, std::vector<std::string> files, std::string mode)
        : mName(std::move(name)), mFiles(std::move(files)), mMode(std::move(mode)) {}

    const std::string& Name() const override { return mName; }
    std::string LastError() const override { return mLastError; }

    std::vector<DeviceOption> Options() override {
        std::vector<DeviceOption> options;
        DeviceOption source;
        source.name = "source";
        source.title = "Scan source";
        source.description = "Where the pages come from; either way each scan takes the next page of the files.";
        source.type = DeviceOption::Type::String;
        source.choices = {kFeeder, kFlatbed};
        source.value = mSource;
        options.push_back(source);

        DeviceOption mode;
        mode.name = "mode";
        mode.title = "Scan mode";
        mode.description = "The depth of the pages delivered: black and white, grey or colour.";
        mode.type = DeviceOption::Type::String;
        mode.choices = {kLineart, kGray, kColor};
        mode.value = mMode;
        options.push_back(mode);

        DeviceOption resolution;
        resolution.name = "resolution";
        resolution.title = "Scan resolution";
        resolution.description = "The resolution of the next page, as its file gives it.";
        resolution.unit = "dpi";
        resolution.type = DeviceOption::Type::Int;
        resolution.active = false;
        resolution.settable = false;
        const Sheet& next = Peek();
        resolution.value = std::to_string(next.status == DeviceStatus::Good ? next.page.XDpi() : mLastDpi);
        options.push_back(resolution);

        DeviceOption pace;
        pace.name = "pages-per-minute";
        pace.title = "Feed pace";
        pace.description = "Pages fed a minute at most, as a real feeder's pace (0: as fast as the files are read).";
        pace.type = DeviceOption::Type::Int;
        pace.min = 0;
        pace.max = kMaxPace;
        pace.value = std::to_string(mPace);
        options.push_back(pace);
        return options;
    }

    bool SetOption(const std::string& name, const std::string& value) override {
        mLastError.clear();
        std::vector<std::string> choices;
        std::string* target = nullptr;
        if (name == "source") {
            choices = {kFeeder, kFlatbed};
            target = &mSource;
        } else if (name == "mode") {
            choices = {kLineart, kGray, kColor};
            target = &mMode;
        } else if (name == "resolution") {
            mLastError = "the resolution of the file feeder follows each page's file";
            return false;
        } else if (name == "pages-per-minute") {
            const bool number = !value.empty() && value.size() <= 4 && std::all_of(value.begin(), value.end(), [](char c) {
                return c >= '0' && c <= '9';
            });
            if (!number || std::stoi(value) > kMaxPace) {
                mLastError = "the feed pace is a number of pages a minute from 0 to " + std::to_string(kMaxPace);
                return false;
            }
            mPace = std::stoi(value);
            return true;
        } else {
            mLastError = "the file feeder has no option \"" + name + "\"";
            return false;
        }
        // List entries by their text, in any case (as SANE devices take them).
        for (const std::string& choice : choices) {
            if (choice.size() == value.size() && std::equal(choice.begin(), choice.end(), value.begin(), [](char a, char b) {
                    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
                })) {
                *target = choice;
                return true;
            }
        }
        mLastError = "the value \"" + value + "\" does not suit the option \"" + name + "\"";
        return false;
    }

    DeviceStatus ScanPage(Raster& page) override {
        page = Raster();
        mLastError.clear();
        Peek();
        Sheet sheet = std::move(*mNext);
        mNext.reset();
        mFile = sheet.nextFile;
        mPage = sheet.nextPage;
        if (sheet.status != DeviceStatus::Good) {
            mLastError = sheet.error;
            DebugTrace(mName + ": " + (sheet.error.empty() ? DeviceStatusText(sheet.status) : sheet.error));
            return sheet.status;
        }
        try {
            sheet.page.ConvertTo(ModeBits(mMode));
        } catch (const DorvexError& e) {
            mLastError = e.what();
            return e.Number() == err::OutOfMemory ? DeviceStatus::NoMemory : DeviceStatus::Failed;
        } catch (const std::bad_alloc&) {
            mLastError = "not enough memory to convert the page";
            return DeviceStatus::NoMemory;
        }
        mLastDpi = sheet.page.XDpi();
        page = std::move(sheet.page);
        // At a pace, a page comes no sooner than a feeder would bring it after the one before.
        if (mPace > 0 && mLastFed) std::this_thread::sleep_until(*mLastFed + std::chrono::microseconds(60'000'000 / mPace));
        mLastFed = std::chrono::steady_clock::now();
        return DeviceStatus::Good;
    }

    // The next run goes on from the next page.
    void EndRun() override {}

private:
    // What the next scan gives, and where the feeder stands after it.
    struct Sheet {
        DeviceStatus status = DeviceStatus::NoDocs;
        Raster page;
        std::string error;
        std::size_t nextFile = 0;
        int nextPage = 1;
    };

    static Sheet Fault(const std::string& path, const std::exception& e, bool outOfMemory, std::size_t nextFile, int nextPage) {
        Sheet sheet;
        sheet.status = outOfMemory ? DeviceStatus::NoMemory : DeviceStatus::IoError;
        sheet.error = e.what();
        if (sheet.error.find(path) == std::string::npos) sheet.error = path + ": " + sheet.error;
        sheet.nextFile = nextFile;
        sheet.nextPage = nextPage;
        return sheet;
    }

    // Reads the next page ahead (once): its resolution is an option, and a scan delivers it.
    const Sheet& Peek() {
        if (mNext) return *mNext;
        while (mFile < mFiles.size()) {
            const std::string& path = mFiles[mFile];
            if (mInfoFile != mFile) {
                try {
                    ImageInfo info = ReadImageInfo(path);
                    mPages = info.pages;
                    mDamage = info.damage;
                    mInfoFile = mFile;
                } catch (const DorvexError& e) {
                    // A file that cannot be read at all is fed as one damaged sheet.
                    return *(mNext = Fault(path, e, e.Number() == err::OutOfMemory, mFile + 1, 1));
                } catch (const std::bad_alloc& e) {
                    return *(mNext = Fault(path, e, true, mFile + 1, 1));
                }
            }
            if (mPage > mPages) {
                if (!mDamage.empty()) {
                    std::runtime_error damage("page " + std::to_string(mPage) + " of " + path + " cannot be read: " + mDamage);
                    return *(mNext = Fault(path, damage, false, mFile + 1, 1));
                }
                ++mFile;
                mPage = 1;
                continue;
            }
            try {
                Sheet sheet;
                sheet.page = Raster::Load(path, mPage);
                sheet.status = DeviceStatus::Good;
                sheet.nextFile = mFile;
                sheet.nextPage = mPage + 1;
                return *(mNext = std::move(sheet));
            } catch (const DorvexError& e) {
                return *(mNext = Fault(path, e, e.Number() == err::OutOfMemory, mFile, mPage + 1));
            } catch (const std::bad_alloc& e) {
                return *(mNext = Fault(path, e, true, mFile, mPage + 1));
            }
        }
        Sheet empty;
        empty.error = "all pages of " + mName.substr(5) + " have been fed";
        empty.nextFile = mFile;
        empty.nextPage = mPage;
        return *(mNext = std::move(empty));
    }

    std::string mName;
    std::vector<std::string> mFiles;
    std::string mSource = kFeeder;
    std::string mMode;
    // The next page: file index and page number, and what is known of that file.
    std::size_t mFile = 0;
    int mPage = 1;
    std::size_t mInfoFile = SIZE_MAX;
    int mPages = 0;
    std::string mDamage;
    std::optional<Sheet> mNext;
    int mLastDpi = 0;
    int mPace = 0;  // pages a minute; 0: no pace
    std::optional<std::chrono::steady_clock::time_point> mLastFed;
    std::string mLastError;
};

}  // namespace

std::unique_ptr<IScanDevice> OpenFileFeeder(const std::string& path) {
    if (path.empty()) throw DorvexError(err::InvalidArgument, "the file feeder needs a folder or an image file (file:PATH)");
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) throw DorvexError(err::PathNotFound, "the folder or image file " + path + " does not exist");
    std::vector<std::string> files;
    if (fs::is_directory(status)) {
        files = ImagesInFolder(path);
        if (files.empty()) {
            throw DorvexError(err::FileNotFound, "the folder " + path + " holds no image files (TIFF, JPEG, PNG or BMP)");
        }
    } else if (fs::is_regular_file(status) && LooksLikeImage(path)) {
        files.push_back(path);
    } else {
        throw DorvexError(err::InvalidArgument, path + " is not an image file (TIFF, JPEG, PNG or BMP)");
    }
    // The mode starts as the first page is, so that a scan by default changes nothing.
    std::string mode = kColor;
    if (std::optional<ImageInfo> first = ProbeImage(files.front())) {
        mode = first->bitsPerPixel == 1 ? kLineart : first->bitsPerPixel <= 8 ? kGray : kColor;
    }
    DebugTrace("file feeder on " + path + ": " + std::to_string(files.size()) + " image files");
    return std::make_unique<FileFeeder>("file:" + path, std::move(files), std::move(mode));
}

}  // namespace dorvex
