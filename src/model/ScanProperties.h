#pragma once
// The scan window's session settings: 52 strings (flags "0"/"1", numbers in decimal text),
// their defaults, which of them are kept in the per-user settings file (section "Twain") and
// which the server's capability reply overwrites, and the restrict size derived from them.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace dorvex {

class SettingsStore;

namespace prop {
constexpr int Mode = 0, Operator = 1, ServerUrl = 2, UseBarcode = 3, BCSeparator = 4, SplitPageMethod = 5,
              ScanMode = 6, Feeder = 7, PixelType = 8, DPI = 9, Brightness = 10, Contrast = 11, PaperSize = 12,
              Duplex = 13, TransferMode = 14, Inno = 15, BatchNo = 16, Debug = 17, ScanOcx = 18, DotRemove = 19,
              BorderRemove = 20, BRFlag = 21, BRWNLength = 22, BRPercent = 23, BRVariance = 24, Deskew = 25,
              BCLeft = 26, BCTop = 27, BCWidth = 28, BCHeight = 29, AutoTrim = 31, TwainUseGUI = 32,
              TwainOrISIS = 33, ImgRotate = 34, ImgInvert = 35, WPageRemove = 36, BlankPercent = 37,
              EnablePaperSize = 38, DeskewAngle = 39, ImgFormat = 40, EnableMultiTIFF = 41, FixSize = 42,
              EnableUpdateDBPage = 43, Proxy = 44, FixDirection = 45, FixAngle1 = 46, FixAngle2 = 47,
              ItemLimit = 48, EnableDelayUpload = 49, EnableScanFix = 50, RotateAngle = 51;
constexpr int Count = 52;
}  // namespace prop

struct PropertyInfo {
    std::string_view name;  // settings key and server tag; "" for the session-only elements
    std::string_view defaultValue;
    bool saved;       // kept in the per-user settings file
    bool fromServer;  // overwritten by the server's capability reply
};

// The table of all 52 elements, in index order.
const std::array<PropertyInfo, prop::Count>& PropertyTable();
// Index of the element with that settings key or server tag, or -1.
int PropertyIndexByName(std::string_view name);

struct RestrictSize {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

class ScanProperties {
public:
    ScanProperties();

    static constexpr std::string_view kSection = "Twain";

    // Throws DorvexError(SubscriptOutOfRange) outside 0..51.
    const std::string& Get(int index) const;
    void Set(int index, std::string value);
    // The usual string-to-number conversion of an element.
    double Number(int index) const;
    std::int32_t Integer(int index) const;
    bool Flag(int index) const { return Get(index) == "1"; }

    // Back to the defaults; ItemLimit back to 8.
    void Reset();
    // Reads the saved elements from the store: a value that is missing, or that the element
    // could not hold (not a number where a number belongs, out of its range), keeps the
    // current value. FixDirection and the two fix angles fall back to "0".
    void LoadSaved(const SettingsStore& store);
    // Writes every saved element, in the fixed save order, and saves the store.
    void Save(SettingsStore& store) const;
    // The save order of the saved keys.
    static const std::array<int, 31>& SaveOrder();

    // Page group size of the page-list viewer.
    std::int16_t ItemLimit = 8;

    // The largest page, in pixels, at the current resolution: 21.0 × 29.2 cm, or 29.2 × 42.0 cm
    // with EnablePaperSize 1 and PaperSize 11 (A3).
    RestrictSize ComputeRestrictSize() const;

private:
    std::array<std::string, prop::Count> mValues;
};

}  // namespace dorvex
