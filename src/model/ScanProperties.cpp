#include "model/ScanProperties.h"

#include "model/SettingsStore.h"
#include "support/Error.h"
#include "support/ModMath.h"

namespace dorvex {

const std::array<PropertyInfo, prop::Count>& PropertyTable() {
    static const std::array<PropertyInfo, prop::Count> table = {{
        {"", "0", false, false},                   // 0 mode
        {"", "", false, false},                    // 1 operator
        {"", "", false, false},                    // 2 server address
        {"UseBarcode", "0", true, true},           // 3
        {"BCSeparator", "", true, true},           // 4
        {"SplitPageMethod", "0", true, true},      // 5
        {"ScanMode", "0", false, true},            // 6
        {"Feeder", "0", true, true},               // 7
        {"PixelType", "0", true, false},           // 8
        {"DPI", "100", true, true},                // 9
        {"Brightness", "0", true, false},          // 10
        {"Contrast", "0", true, false},            // 11
        {"PaperSize", "1", true, false},           // 12
        {"Duplex", "0", false, true},              // 13
        {"TransferMode", "0", true, true},         // 14
        {"", "", false, false},                    // 15 document number
        {"", "", false, false},                    // 16 batch number
        {"Debug", "0", false, true},               // 17
        {"ScanOcx", "1", false, true},             // 18
        {"DotRemove", "0", true, true},            // 19
        {"BorderRemove", "0", true, true},         // 20
        {"BRFlag", "15", true, true},              // 21
        {"BRWNLength", "5", true, true},           // 22
        {"BRPercent", "20", true, true},           // 23
        {"BRVariance", "5", true, true},           // 24
        {"Deskew", "0", true, true},               // 25
        {"BCLeft", "0", false, true},              // 26
        {"BCTop", "0", false, true},               // 27
        {"BCWidth", "1", false, true},             // 28
        {"BCHeight", "1", false, true},            // 29
        {"", "", false, false},                    // 30 not used
        {"AutoTrim", "0", true, false},            // 31
        {"TwainUseGUI", "0", true, false},         // 32
        {"TwainOrISIS", "TWAIN", true, false},     // 33
        {"ImgRotate", "", true, true},             // 34
        {"ImgInvert", "0", true, true},            // 35
        {"WPageRemove", "", true, true},           // 36
        {"BlankPercent", "0.5", true, false},      // 37
        {"EnablePaperSize", "0", false, true},     // 38
        {"DeskewAngle", "10", true, false},        // 39
        {"ImgFormat", "G4", false, true},          // 40
        {"EnableMultiTIFF", "1", false, true},     // 41
        {"FixSize", "1", false, true},             // 42
        {"EnableUpdateDBPage", "0", false, true},  // 43
        {"", "", false, false},                    // 44 proxy
        {"FixDirection", "0", true, false},        // 45
        {"FixAngle1", "0", true, false},           // 46
        {"FixAngle2", "0", true, false},           // 47
        {"ItemLimit", "8", true, false},           // 48
        {"EnableDelayUpload", "0", false, true},   // 49
        {"EnableScanFix", "0", true, true},        // 50
        {"RotateAngle", "90", true, false},        // 51
    }};
    return table;
}

int PropertyIndexByName(std::string_view name) {
    if (name.empty()) return -1;
    const auto& table = PropertyTable();
    for (int i = 0; i < prop::Count; ++i) {
        if (table[static_cast<std::size_t>(i)].name == name) return i;
    }
    return -1;
}

const std::array<int, 31>& ScanProperties::SaveOrder() {
    using namespace prop;
    static const std::array<int, 31> order = {
        BCSeparator, PixelType,   Brightness,  Contrast,     DPI,          Feeder,       SplitPageMethod, TransferMode,
        UseBarcode,  DotRemove,   BorderRemove, BRFlag,      BRWNLength,   BRPercent,    BRVariance,      Deskew,
        AutoTrim,    TwainUseGUI, TwainOrISIS, ImgRotate,    ImgInvert,    WPageRemove,  PaperSize,       BlankPercent,
        DeskewAngle, FixDirection, FixAngle1,  FixAngle2,    prop::ItemLimit, EnableScanFix, RotateAngle};
    return order;
}

ScanProperties::ScanProperties() { Reset(); }

void ScanProperties::Reset() {
    const auto& table = PropertyTable();
    for (std::size_t i = 0; i < mValues.size(); ++i) mValues[i] = std::string(table[i].defaultValue);
    ItemLimit = 8;
}

const std::string& ScanProperties::Get(int index) const {
    if (index < 0 || index >= prop::Count) throw DorvexError(err::SubscriptOutOfRange, "Subscript out of range");
    return mValues[static_cast<std::size_t>(index)];
}

void ScanProperties::Set(int index, std::string value) {
    if (index < 0 || index >= prop::Count) throw DorvexError(err::SubscriptOutOfRange, "Subscript out of range");
    mValues[static_cast<std::size_t>(index)] = std::move(value);
}

double ScanProperties::Number(int index) const { return Val(Get(index)); }

std::int32_t ScanProperties::Integer(int index) const {
    double value = Number(index);
    if (!(value > -2147483648.0 && value < 2147483647.0)) return 0;
    return static_cast<std::int32_t>(RoundHalfEven(value));
}

namespace {

// Whether a stored text is something the element can hold; anything else is treated as
// unreadable and the element keeps its value.
bool Acceptable(int index, const std::string& value) {
    using namespace prop;
    if (index == BCSeparator) return true;
    if (index == TwainOrISIS) return value == "TWAIN" || value == "ISIS";
    if (value.empty()) return PropertyTable()[static_cast<std::size_t>(index)].defaultValue.empty();
    if (!IsNumeric(value)) return false;
    double number = Val(value);
    switch (index) {
        case ItemLimit: return number >= 1 && number <= 16;
        case DPI: return number >= 1 && number <= 9600;
        case BlankPercent: return number >= 0 && number <= 100;
        case DeskewAngle: return number >= 0 && number <= 45;
        default: return number > -1e9 && number < 1e9;
    }
}

}  // namespace

void ScanProperties::LoadSaved(const SettingsStore& store) {
    const auto& table = PropertyTable();
    const std::string section(kSection);
    for (int i = 0; i < prop::Count; ++i) {
        const PropertyInfo& info = table[static_cast<std::size_t>(i)];
        if (!info.saved) continue;
        std::optional<std::string> stored = store.Get(section, std::string(info.name));
        bool usable = stored && Acceptable(i, *stored);
        if (i == prop::FixDirection || i == prop::FixAngle1 || i == prop::FixAngle2) {
            Set(i, usable && !stored->empty() ? *stored : "0");
        } else if (usable) {
            Set(i, *stored);
        }
    }
    ItemLimit = static_cast<std::int16_t>(Integer(prop::ItemLimit));
}

void ScanProperties::Save(SettingsStore& store) const {
    const std::string section(kSection);
    for (int index : SaveOrder()) {
        store.Set(section, std::string(PropertyTable()[static_cast<std::size_t>(index)].name), Get(index));
    }
    store.Save();
}

RestrictSize ScanProperties::ComputeRestrictSize() const {
    double widthCm = 21.0;
    double heightCm = 29.2;
    if (Number(prop::EnablePaperSize) == 1 && Number(prop::PaperSize) == 11) {
        widthCm = 29.2;
        heightCm = 42.0;
    }
    double dpi = static_cast<double>(Integer(prop::DPI));
    return {static_cast<std::int32_t>(RoundHalfEven(dpi * widthCm / 2.54)),
            static_cast<std::int32_t>(RoundHalfEven(dpi * heightCm / 2.54))};
}

}  // namespace dorvex
