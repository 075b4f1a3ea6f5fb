#include <gtest/gtest.h>
#include <cstdlib>
#include <vector>
#include <optional>

#include "TestUtil.h"
#include "model/ScanProperties.h"
#include "model/SettingsStore.h"
#include "support/Error.h"
#include "support/ModFS.h"

using namespace dorvex;

TEST(Properties, DefaultsAndSubscripts) {
    ScanProperties p;
    EXPECT_EQ(p.Get(30), "");
    EXPECT_EQ(p.Get(prop::DPI), "100");
    EXPECT_EQ(p.Get(prop::TwainOrISIS), "TWAIN");
    EXPECT_EQ(p.Get(prop::BlankPercent), "0.5");
    EXPECT_EQ(p.Get(prop::RotateAngle), "90");
    EXPECT_EQ(p.ItemLimit, 8);
    try {
        p.Get(52);
        FAIL();
    } catch (const DorvexError& e) {
        EXPECT_EQ(e.Number(), err::SubscriptOutOfRange);
    }
    EXPECT_THROW(p.Set(-1, "x"), DorvexError);
    EXPECT_EQ(PropertyIndexByName("EnableScanFix"), prop::EnableScanFix);
    EXPECT_EQ(PropertyIndexByName("nope"), -1);
    EXPECT_EQ(PropertyIndexByName(""), -1);
}

TEST(Properties, RestrictSize) {
    ScanProperties p;
    p.Set(prop::DPI, "200");
    p.Set(prop::PaperSize, "11");
    p.Set(prop::EnablePaperSize, "1");
    RestrictSize a3 = p.ComputeRestrictSize();
    EXPECT_EQ(a3.width, 2299);
    EXPECT_EQ(a3.height, 3307);
    p.Set(prop::EnablePaperSize, "0");
    RestrictSize a4 = p.ComputeRestrictSize();
    EXPECT_EQ(a4.width, 1654);
    EXPECT_EQ(a4.height, 2299);
}

TEST(Properties, SaveWritesTheSavedKeysInOrderAndLoadReadsThemBack) {
    test::TempFolder dir;
    SettingsStore store(dir.File("cfg/Dorvex/Dorvex.ini"));
    ScanProperties p;
    p.Set(prop::DPI, "300");
    p.Set(prop::BCSeparator, "SEP=|\\x\nnext");
    p.Set(prop::ItemLimit, "12");
    p.Set(prop::Duplex, "1");  // not a saved element
    p.Save(store);

    std::string text = ReadFileBytes(store.Path());
    std::vector<std::string> keys;
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
        std::size_t eq = text.find('=', at);
        if (eq != std::string::npos && text.find('\n', at + 1) > eq) keys.push_back(text.substr(at + 1, eq - at - 1));
    }
    const std::vector<std::string> order = {
        "BCSeparator", "PixelType",   "Brightness",  "Contrast",  "DPI",          "Feeder",       "SplitPageMethod", "TransferMode",
        "UseBarcode",  "DotRemove",   "BorderRemove", "BRFlag",   "BRWNLength",   "BRPercent",    "BRVariance",      "Deskew",
        "AutoTrim",    "TwainUseGUI", "TwainOrISIS", "ImgRotate", "ImgInvert",    "WPageRemove",  "PaperSize",       "BlankPercent",
        "DeskewAngle", "FixDirection", "FixAngle1",  "FixAngle2", "ItemLimit",    "EnableScanFix", "RotateAngle"};
    EXPECT_EQ(text.rfind("[Twain]\n", 0), 0u) << text;
    EXPECT_EQ(keys, order) << text;  // the whole order, and nothing else (Duplex is not saved)

    ScanProperties loaded;
    loaded.LoadSaved(SettingsStore(store.Path()));
    EXPECT_EQ(loaded.Get(prop::DPI), "300");
    EXPECT_EQ(loaded.Get(prop::BCSeparator), "SEP=|\\x\nnext");
    EXPECT_EQ(loaded.ItemLimit, 12);
    EXPECT_EQ(loaded.Get(prop::Duplex), "0");
}

TEST(Properties, MissingValuesKeepCurrentButFixAnglesFallBackToZero) {
    test::TempFolder dir;
    SettingsStore store(dir.File("Dorvex.ini"));
    store.Set("Twain", "FixAngle2", "");
    ScanProperties p;
    p.Set(prop::DPI, "200");
    p.Set(prop::FixAngle1, "90");
    p.Set(prop::FixAngle2, "180");
    p.LoadSaved(store);
    EXPECT_EQ(p.Get(prop::DPI), "200");
    EXPECT_EQ(p.Get(prop::FixAngle1), "0");
    EXPECT_EQ(p.Get(prop::FixAngle2), "0");
}

TEST(Properties, DamagedOrForeignFileNeverStopsTheProgram) {
    test::TempFolder dir;
    std::string path = dir.File("Dorvex.ini");
    WriteBytesToFile(std::string(1, '\0') + std::string("\xFF\xFE garbage\n[Twain]\nDPI=abc\nItemLimit=99\nDeskewAngle=12\n"
                                 "TwainOrISIS=WIA\nBlankPercent=2.5\nnonsense line\nRotateAngle=\xFF\xFE\n"
                                 "Brightness=-200\nBCSeparator=bad\\q\n[Other]\nDPI=600\n"),
                     path);
    SettingsStore store(path);
    ScanProperties p;
    p.LoadSaved(store);
    EXPECT_EQ(p.Get(prop::DPI), "100");        // not a number
    EXPECT_EQ(p.Get(prop::ItemLimit), "8");    // out of range
    EXPECT_EQ(p.ItemLimit, 8);
    EXPECT_EQ(p.Get(prop::TwainOrISIS), "TWAIN");
    EXPECT_EQ(p.Get(prop::RotateAngle), "90"); // not UTF-8
    EXPECT_EQ(p.Get(prop::BCSeparator), "");   // bad escape
    EXPECT_EQ(p.Get(prop::DeskewAngle), "12");
    EXPECT_EQ(p.Get(prop::BlankPercent), "2.5");
    EXPECT_EQ(p.Get(prop::Brightness), "-200");

    // Saving keeps the foreign section and replaces the file whole.
    p.Save(store);
    SettingsStore reread(path);
    EXPECT_EQ(reread.Get("Other", "DPI"), "600");
    EXPECT_EQ(reread.Get("Twain", "DPI"), "100");

    // A folder in place of the file, or no file at all, reads as empty.
    EXPECT_FALSE(SettingsStore(dir.Path()).Get("Twain", "DPI"));
    EXPECT_FALSE(SettingsStore(dir.File("none.ini")).Get("Twain", "DPI"));
}

TEST(Properties, DefaultSettingsPathFollowsXdg) {
    test::TempFolder dir;
    // The environment is the process's: what the test changes goes back as it was.
    struct Restore {
        std::string name;
        std::optional<std::string> value;
        explicit Restore(std::string n) : name(std::move(n)) {
            if (const char* v = std::getenv(name.c_str())) value = v;
        }
        ~Restore() {
            if (value) ::setenv(name.c_str(), value->c_str(), 1);
            else ::unsetenv(name.c_str());
        }
    } home("HOME"), xdg("XDG_CONFIG_HOME");
    ::setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
    EXPECT_EQ(SettingsStore::DefaultPath(), dir.File("Dorvex/Dorvex.ini"));
    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("HOME", "/home/clerk", 1);
    EXPECT_EQ(SettingsStore::DefaultPath(), "/home/clerk/.config/Dorvex/Dorvex.ini");
}
