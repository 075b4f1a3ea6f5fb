#include <algorithm>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>

#include "Commands.h"
#include "control/PageProcessing.h"
#include "model/ScanProperties.h"
#include "platform/Raster.h"
#include "support/Error.h"
#include "support/ModFS.h"

namespace dorvex::cli {
namespace {

// DIR/NAME.tif for each input; a name taken by an earlier input, or one that is an input file
// itself, gets "_2", "_3", ... so that no output replaces an input or another output.
std::vector<std::string> OutputNames(const std::string& dir, const std::vector<std::string>& inputs) {
    auto sameFile = [](const std::string& a, const std::string& b) {
        std::error_code error;
        return std::filesystem::equivalent(a, b, error);
    };
    std::vector<std::string> names;
    for (const std::string& input : inputs) {
        std::string stem = GetFileName(input, ".*");
        std::string name = dir + "/" + stem + ".tif";
        for (int n = 2;; ++n) {
            bool taken = std::find(names.begin(), names.end(), name) != names.end() ||
                         std::any_of(inputs.begin(), inputs.end(), [&](const std::string& in) { return sameFile(in, name); });
            if (!taken) break;
            name = dir + "/" + stem + "_" + std::to_string(n) + ".tif";
        }
        names.push_back(name);
    }
    return names;
}

}  // namespace

int Clean(const Args& args) {
    ScanProperties settings;
    std::string outDir;
    std::vector<std::string> files;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << "usage: dorvex clean [--set NAME=VALUE]... [-o DIR] FILE...\n"
                         "Runs the clean-up chain on every page and prints one JSON object per page.\n"
                         "With -o DIR each file's cleaned pages go to DIR/NAME.tif (created whole or not at all;\n"
                         "a name already used, or that of an input file, gets _2, _3, ...). The exit status is 1\n"
                         "when any page could not be read, processed or written.\n"
                      << SettingsHelp();
            return 0;
        }
        if (arg == "--set" || arg == "-o") {
            if (i + 1 >= args.size()) return UsageError(arg + " needs a value");
            const std::string& value = args[++i];
            if (arg == "-o") {
                if (value.empty()) return UsageError("-o needs a folder");
                outDir = value;
                continue;
            }
            if (!ApplySetting(value, settings)) return UsageError("unknown setting '" + value + "' (see dorvex clean --help)");
        } else if (arg.rfind("-", 0) == 0 && arg.size() > 1) {
            return UsageError("unknown option '" + arg + "'");
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) return UsageError("clean needs at least one image file");
    std::vector<std::string> outputs;
    if (!outDir.empty()) {
        std::error_code error;
        std::filesystem::create_directories(outDir, error);
        if (error || !FolderExists(outDir)) {
            std::cerr << "dorvex clean: cannot create the output folder " << outDir << ": " << error.message() << "\n";
            return 2;
        }
        outputs = OutputNames(outDir, files);
    }
    settings.Set(prop::EnableScanFix, "1");
    RestrictSize restrict = settings.ComputeRestrictSize();
    BarcodeRegion region = BarcodeRegion::FromSettings(settings);
    bool dropBlank = settings.Number(prop::WPageRemove) == 1;
    int failures = 0;
    auto fail = [&failures](const std::string& text) {
        std::cerr << "dorvex clean: " << text << "\n";
        ++failures;
    };
    std::int32_t counter = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string& file = files[i];
        ImageInfo info;
        try {
            info = ReadImageInfo(file);
        } catch (const std::exception& e) {
            fail(e.what());
            continue;
        }
        // The output is built beside its place and put there whole once every page is in.
        std::optional<PageFileBuilder> output;
        bool outputBroken = false;
        for (int page = 1; page <= info.pages; ++page) {
            try {
                Raster image = Raster::Load(file, page);
                ChainReport report = RunCleanUpChain(image, settings, ++counter, restrict);
                bool blank = IsBlankPage(image, settings);
                std::string barcode = settings.Get(prop::UseBarcode) == "1" ? GetFirstBarcode(image, region) : std::string();
                bool write = !outputs.empty() && !outputBroken && !(blank && dropBlank);
                if (write) {
                    if (!output) output.emplace(outputs[i]);
                    output->Add(image, image.BitsPerPixel() == 1 ? fileformat::TiffG4 : fileformat::TiffLzw);
                }
                std::cout << "{\"file\":" << JsonString(file) << ",\"page\":" << page << ",\"width\":" << image.Width()
                          << ",\"height\":" << image.Height() << ",\"bits\":" << image.BitsPerPixel()
                          << ",\"skew\":" << report.skew.value_or(0) << ",\"blank\":" << (blank ? "true" : "false")
                          << ",\"barcode\":" << JsonString(barcode) << ",\"output\":" << JsonString(write ? outputs[i] : "")
                          << "}" << std::endl;
            } catch (const std::exception& e) {
                // Another page of the file may still be fine; this one is reported by number.
                const std::string where = "page " + std::to_string(page) + " of " + file;
                const std::string what = e.what();
                fail(what.find(where) == std::string::npos ? where + ": " + what : what);
                if (output) {
                    output.reset();
                    outputBroken = true;
                }
            }
        }
        if (!info.damage.empty()) {
            fail(file + ": the pages after page " + std::to_string(info.pages) + " cannot be read: " + info.damage);
            outputBroken = outputBroken || output.has_value();
            output.reset();
        }
        if (outputBroken) {
            fail(file + ": " + outputs[i] + " was not written because a page of it failed");
        } else if (output) {
            try {
                output->Commit();
            } catch (const std::exception& e) {
                fail(e.what());
            }
        }
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace dorvex::cli
