#include "control/ScannerSetup.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include "model/PaperSize.h"
#include "platform/ScanDevice.h"
#include "support/Text.h"
#include "support/Trace.h"

namespace dorvex {
namespace {

std::string NumberText(double value, bool integer) {
    if (integer) return std::to_string(static_cast<long long>(std::llround(value)));
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.4f", value);
    std::string text = buffer;
    while (!text.empty() && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

std::optional<DeviceOption> UsableOption(IScanDevice& device, const std::string& name) {
    std::optional<DeviceOption> option = device.Option(name);
    if (!option || !option->active || !option->settable) return std::nullopt;
    return option;
}

// Source entries by role, in the names backends use.
const std::vector<std::string> kFlatbedSources = {"Flatbed", "FlatBed", "Normal", "Document Table"};
const std::vector<std::string> kFeederSources = {"ADF",         "Automatic Document Feeder", "ADF Front",
                                                 "ADF Simplex", "Document Feeder",           "Feeder"};
const std::vector<std::string> kDuplexSources = {"ADF Duplex", "Duplex", "ADF Both", "Automatic Document Feeder Duplex"};

}  // namespace

bool SetNumericOption(IScanDevice& device, const std::string& name, double value) {
    std::optional<DeviceOption> option = UsableOption(device, name);
    if (!option) return false;
    bool integer = option->type == DeviceOption::Type::Int;
    if (option->type != DeviceOption::Type::Int && option->type != DeviceOption::Type::Fixed) return false;
    if (!option->choices.empty()) {
        double best = 0;
        double bestDistance = INFINITY;
        for (const std::string& choice : option->choices) {
            double number = std::strtod(choice.c_str(), nullptr);
            if (std::fabs(number - value) < bestDistance) bestDistance = std::fabs(number - value), best = number;
        }
        value = best;
    } else if (option->min && option->max) {
        value = std::clamp(value, *option->min, *option->max);
        if (option->step && *option->step > 0) {
            value = *option->min + std::round((value - *option->min) / *option->step) * *option->step;
            value = std::min(value, *option->max);
        }
    }
    return device.SetOption(name, NumberText(value, integer));
}

std::string ChooseListOption(IScanDevice& device, const std::string& name, const std::vector<std::string>& wanted) {
    std::optional<DeviceOption> option = UsableOption(device, name);
    if (!option) return {};
    for (const std::string& want : wanted) {
        for (const std::string& choice : option->choices) {
            if (ToUpperAscii(choice) == ToUpperAscii(want)) return device.SetOption(name, choice) ? choice : std::string();
        }
    }
    return {};
}

// ---- TWAIN-style session ----

void TwainSession::SetTransferMode(int mode) {
    mTransferMode = mode;
    mNotes.push_back("transfer mode " + std::to_string(mode) + ": recorded (pages always arrive in memory)");
}

bool TwainSession::CapSet(int cap, int value) {
    std::string chosen;
    if (cap == twaincap::FeederEnabled) {
        chosen = ChooseListOption(mDevice, "source", value ? kFeederSources : kFlatbedSources);
        mNotes.push_back(chosen.empty() ? std::string("source: the device offers no ") + (value ? "feeder" : "flatbed")
                                        : "source=" + chosen);
        return !chosen.empty();
    }
    if (cap == twaincap::DuplexEnabled) {
        // Duplex is either a source of its own or a switch beside the feeder source.
        if (mDevice.Option("duplex")) {
            bool done = mDevice.SetOption("duplex", value ? "1" : "0");
            mNotes.push_back(done ? std::string("duplex=") + (value ? "1" : "0") : "duplex: refused by the device");
            return done;
        }
        if (!ChooseListOption(mDevice, "adf-mode", {value ? "Duplex" : "Simplex"}).empty()) {
            mNotes.push_back(std::string("adf-mode=") + (value ? "Duplex" : "Simplex"));
            return true;
        }
        chosen = ChooseListOption(mDevice, "source", value ? kDuplexSources : kFeederSources);
        mNotes.push_back(chosen.empty() ? "duplex: the device offers no such source" : "source=" + chosen);
        return !chosen.empty();
    }
    mNotes.push_back("capability " + std::to_string(cap) + ": not known, recorded");
    return false;
}

int TwainSession::CapGet(int cap) {
    if (cap != twaincap::Duplex) return 0;
    if (mDevice.Option("duplex") || mDevice.Option("adf-mode")) return 1;
    if (std::optional<DeviceOption> source = mDevice.Option("source")) {
        for (const std::string& choice : source->choices) {
            for (const std::string& duplex : kDuplexSources) {
                if (ToUpperAscii(choice) == ToUpperAscii(duplex)) return 1;
            }
        }
    }
    return 0;
}

void TwainSession::SetBrightness(int value) {
    std::optional<DeviceOption> option = UsableOption(mDevice, "brightness");
    if (!option || !option->min || !option->max) {
        mNotes.push_back("brightness: the device has no such option");
        return;
    }
    double share = (std::clamp(value, -1000, 1000) + 1000) / 2000.0;
    bool done = SetNumericOption(mDevice, "brightness", *option->min + share * (*option->max - *option->min));
    mNotes.push_back(done ? "brightness=" + mDevice.Option("brightness")->value : "brightness: refused by the device");
}

void TwainSession::SetContrast(int value) {
    std::optional<DeviceOption> option = UsableOption(mDevice, "contrast");
    if (!option || !option->min || !option->max) {
        mNotes.push_back("contrast: the device has no such option");
        return;
    }
    double share = (std::clamp(value, -1000, 1000) + 1000) / 2000.0;
    bool done = SetNumericOption(mDevice, "contrast", *option->min + share * (*option->max - *option->min));
    mNotes.push_back(done ? "contrast=" + mDevice.Option("contrast")->value : "contrast: refused by the device");
}

void TwainSession::SetResolution(int dpi) {
    bool done = SetNumericOption(mDevice, "resolution", dpi);
    // Some backends keep the two directions apart.
    done = SetNumericOption(mDevice, "x-resolution", dpi) || done;
    done = SetNumericOption(mDevice, "y-resolution", dpi) || done;
    mNotes.push_back(done ? "resolution=" + std::to_string(dpi) : "resolution: the device has no such option");
}

void TwainSession::SetPixelType(int type) {
    static const std::vector<std::string> kLineart = {"Lineart", "Binary", "Black & White", "Black and White",
                                                      "Lineart (Black & White)"};
    static const std::vector<std::string> kGray = {"Gray", "Grayscale", "Gray8", "True Gray"};
    static const std::vector<std::string> kColor = {"Color", "Colour", "Color24", "24bit Color"};
    std::string mode;
    int depth = 8;
    if (type <= 0) {
        mode = ChooseListOption(mDevice, "mode", kLineart);
        depth = 1;
        // Devices without a line-art mode scan grey at one bit, or grey to be reduced later.
        if (mode.empty()) mode = ChooseListOption(mDevice, "mode", kGray);
    } else {
        mode = ChooseListOption(mDevice, "mode", type == 1 ? kGray : kColor);
    }
    bool depthSet = UsableOption(mDevice, "depth") && SetNumericOption(mDevice, "depth", depth);
    mNotes.push_back(mode.empty() ? "mode: the device offers none for pixel type " + std::to_string(type)
                                  : "mode=" + mode + (depthSet ? ", depth=" + mDevice.Option("depth")->value : ""));
}

void TwainSession::SetPaperSize(std::int32_t code, bool landscape) {
    std::optional<PaperMillimetres> size = PaperSizeOf(code);
    std::optional<DeviceOption> right = UsableOption(mDevice, "br-x");
    if (!size || !right || right->unit != "mm") {
        mNotes.push_back("paper size " + std::to_string(code) + ": not applied (" +
                         (size ? "the device takes no scan area in mm" : "no fixed size") + ")");
        return;
    }
    double width = landscape ? size->height : size->width;
    double height = landscape ? size->width : size->height;
    SetNumericOption(mDevice, "tl-x", 0);
    SetNumericOption(mDevice, "tl-y", 0);
    bool done = SetNumericOption(mDevice, "br-x", width) && SetNumericOption(mDevice, "br-y", height);
    mNotes.push_back(done ? "scan area=" + mDevice.Option("br-x")->value + " x " + mDevice.Option("br-y")->value + " mm"
                          : "paper size: refused by the device");
}

std::optional<std::vector<std::int32_t>> PaperSizesOffered(IScanDevice& device) {
    std::optional<DeviceOption> right = UsableOption(device, "br-x");
    std::optional<DeviceOption> bottom = UsableOption(device, "br-y");
    if (!right || !bottom || right->unit != "mm" || bottom->unit != "mm" || !right->max || !bottom->max) return std::nullopt;
    constexpr double kSlack = 0.5;  // a bed made for a size measures it in whole millimetres
    constexpr std::int32_t kA4Landscape = 54;
    std::vector<std::int32_t> codes;
    for (std::int32_t code = 0; code < kA4Landscape; ++code) {
        std::optional<PaperMillimetres> size = PaperSizeOf(code);
        if (size && size->width <= *right->max + kSlack && size->height <= *bottom->max + kSlack) codes.push_back(code);
    }
    return codes;
}

// ---- ISIS-style driver ----

void IsisDriver::SetTag(int tag, int value) {
    switch (tag) {
    case 1293:
        mSession.mNotes.push_back("tag 1293=" + std::to_string(value) + ": recorded");
        break;
    case 1300:
        mSession.CapSet(twaincap::FeederEnabled, value == 0 ? 1 : 0);
        break;
    case 282:
        // Both directions follow the X resolution; 283 repeats it.
        mSession.SetResolution(value);
        break;
    case 283:
        break;
    case 277:
        mSamples = value;
        break;
    case 258:
        mBits = value;
        break;
    case 262:
        mPhotometric = value;
        break;
    default:
        mSession.mNotes.push_back("tag " + std::to_string(tag) + ": not known, recorded");
        return;
    }
    if ((tag == 277 || tag == 258 || tag == 262) && mSamples && mBits && mPhotometric >= 0) {
        if (mSamples == 3 && mPhotometric == 2) mSession.SetPixelType(2);
        else if (mBits == 1) mSession.SetPixelType(0);
        else mSession.SetPixelType(1);
        mSamples = mBits = 0, mPhotometric = -1;
    }
}

}  // namespace dorvex
