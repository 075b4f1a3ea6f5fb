#include <iostream>
#include <sstream>

#include "Commands.h"
#include "control/PageProcessing.h"
#include "model/ScanProperties.h"
#include "platform/Raster.h"
#include "support/Error.h"
#include "support/ModFS.h"

namespace dorvex::cli {
namespace {

std::string JsonString(const std::string& text) {
    std::ostringstream out;
    out << '"';
    for (unsigned char c : text) {
        switch (c) {
            case '"': out << "\\\""; break;
            case '\\': out << "\\\\"; break;
            case '\n': out << "\\n"; break;
            case '\r': out << "\\r"; break;
            case '\t': out << "\\t"; break;
            default:
                if (c < 0x20) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\u%04x", c);
                    out << hex;
                } else {
                    out << c;
                }
        }
    }
    out << '"';
    return out.str();
}

std::string SettingsHelp() {
    std::ostringstream out;
    out << "Settings (NAME=default):\n";
    int column = 0;
    for (const PropertyInfo& info : PropertyTable()) {
        if (info.name.empty()) continue;
        std::string item = "  " + std::string(info.name) + "=" + std::string(info.defaultValue);
        out << item << std::string(item.size() < 26 ? 26 - item.size() : 1, ' ');
        if (++column % 3 == 0) out << "\n";
    }
    out << "\n";
    return out.str();
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
                      << SettingsHelp();
            return 0;
        }
        if (arg == "--set" || arg == "-o") {
            if (i + 1 >= args.size()) return UsageError(arg + " needs a value");
            const std::string& value = args[++i];
            if (arg == "-o") {
                outDir = value;
                continue;
            }
            std::size_t eq = value.find('=');
            int index = eq == std::string::npos ? -1 : PropertyIndexByName(value.substr(0, eq));
            if (index < 0) return UsageError("unknown setting '" + value.substr(0, eq) + "' (see dorvex clean --help)");
            settings.Set(index, value.substr(eq + 1));
        } else if (arg.rfind("-", 0) == 0 && arg.size() > 1) {
            return UsageError("unknown option '" + arg + "'");
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) return UsageError("clean needs at least one image file");
    if (!outDir.empty() && !FolderExists(outDir)) {
        std::cerr << "dorvex clean: the output folder " << outDir << " does not exist\n";
        return 2;
    }
    settings.Set(prop::EnableScanFix, "1");
    RestrictSize restrict = settings.ComputeRestrictSize();
    BarcodeRegion region = BarcodeRegion::FromSettings(settings);
    bool dropBlank = settings.Number(prop::WPageRemove) == 1;
    int failures = 0;
    std::int32_t counter = 0;
    for (const std::string& file : files) {
        try {
            ImageInfo info = ReadImageInfo(file);
            std::string target = outDir.empty() ? std::string() : outDir + "/" + GetFileName(file, ".*") + ".tif";
            bool firstWritten = true;
            for (int page = 1; page <= info.pages; ++page) {
                Raster image = Raster::Load(file, page);
                ChainReport report = RunCleanUpChain(image, settings, ++counter, restrict);
                bool blank = IsBlankPage(image, settings);
                std::string barcode = settings.Get(prop::UseBarcode) == "1" ? GetFirstBarcode(image, region) : std::string();
                std::cout << "{\"file\":" << JsonString(file) << ",\"page\":" << page << ",\"width\":" << image.Width()
                          << ",\"height\":" << image.Height() << ",\"bits\":" << image.BitsPerPixel()
                          << ",\"skew\":" << report.skew.value_or(0) << ",\"blank\":" << (blank ? "true" : "false")
                          << ",\"barcode\":" << JsonString(barcode) << "}" << std::endl;
                if (!target.empty() && !(blank && dropBlank)) {
                    int format = image.BitsPerPixel() == 1 ? fileformat::TiffG4 : fileformat::TiffLzw;
                    image.Save(target, format, 1, firstWritten ? SaveMode::Overwrite : SaveMode::Append);
                    firstWritten = false;
                }
            }
        } catch (const DorvexError& e) {
            std::cerr << "dorvex clean: " << e.what() << "\n";
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace dorvex::cli
