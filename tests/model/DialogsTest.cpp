#include <gtest/gtest.h>

#include "model/FrmBorderRemove.h"
#include "model/FrmConf.h"
#include "model/PaperSize.h"
#include "model/ScanCap.h"
#include "model/ScanProperties.h"
#include "support/Error.h"

using namespace dorvex;

namespace {
FrmConf OpenDialog(const ScanProperties& p) {
    FrmConf dialog;
    dialog.LoadFrom(p);
    dialog.Form_Load();
    dialog.Form_Activate();
    return dialog;
}
}  // namespace

TEST(FrmConf, ActivationFillsTheWidgetsFromTheSettings) {
    ScanProperties p;
    p.Set(prop::DPI, "300");
    p.Set(prop::PixelType, "2");
    p.Set(prop::TwainOrISIS, "ISIS");
    p.Set(prop::Deskew, "1");
    p.Set(prop::Brightness, "1500");
    p.Set(prop::Contrast, "-20");
    p.Set(prop::ItemLimit, "12");
    FrmConf dialog = OpenDialog(p);
    EXPECT_EQ(dialog.CmbDPI.text, "300");
    EXPECT_EQ(dialog.CmbPxType.text, "彩色");
    EXPECT_EQ(dialog.CmbDriver.text, "ISIS");
    EXPECT_EQ(dialog.CmbDType.items, (std::vector<std::string>{"首頁", "隔頁紙"}));
    EXPECT_EQ(dialog.CmbItems.items.size(), 16u);
    EXPECT_EQ(dialog.CmbItems.text, "12");
    EXPECT_TRUE(dialog.CmbSize.items.empty());
    EXPECT_EQ(dialog.HSBrightness.value, 0);  // out of range: not shown
    EXPECT_EQ(dialog.HSContrast.value, -20);
    EXPECT_TRUE(dialog.Checked(FrmConf::Check::Deskew));
    EXPECT_TRUE(dialog.TxtDeskewAngle.enabled);
    EXPECT_FALSE(dialog.TxtBlankPercent.enabled);
    EXPECT_FALSE(dialog.TxtBarCode.enabled);
    EXPECT_TRUE(dialog.OkEnabled());
}

TEST(FrmConf, OkIsEnabledOnlyForValidInput) {
    FrmConf dialog = OpenDialog(ScanProperties());
    dialog.ClickCheck(FrmConf::Check::Deskew, true);
    dialog.ChangeText(dialog.TxtDeskewAngle, "46");
    EXPECT_FALSE(dialog.OkEnabled());
    dialog.ChangeText(dialog.TxtDeskewAngle, "45");
    EXPECT_TRUE(dialog.OkEnabled());
    dialog.ChangeText(dialog.TxtDeskewAngle, "abc");
    EXPECT_FALSE(dialog.OkEnabled());
    dialog.ClickCheck(FrmConf::Check::Deskew, false);  // unticked: the box does not matter
    EXPECT_TRUE(dialog.OkEnabled());

    dialog.ClickCheck(FrmConf::Check::UseBC, true);
    EXPECT_FALSE(dialog.OkEnabled());
    dialog.ChangeText(dialog.TxtBarCode, "SEPARATOR");
    EXPECT_TRUE(dialog.OkEnabled());

    dialog.ClickCheck(FrmConf::Check::WPageRemove, true);
    dialog.ChangeText(dialog.TxtBlankPercent, "100.5");
    EXPECT_FALSE(dialog.OkEnabled());
    dialog.CmdOK_Click();  // disabled OK does nothing
    EXPECT_FALSE(dialog.Closed());
    dialog.ChangeText(dialog.TxtBlankPercent, "");
    EXPECT_FALSE(dialog.OkEnabled());
}

TEST(FrmConf, OkWritesEverythingBack) {
    ScanProperties p;
    FrmConf dialog = OpenDialog(p);
    dialog.ChooseCombo(dialog.CmbDPI, 3);  // 400
    dialog.ChooseCombo(dialog.CmbFeeder, 1);
    dialog.ChooseCombo(dialog.CmbTransMode, 1);
    dialog.ChooseCombo(dialog.CmbDriver, 1);
    dialog.ChooseCombo(dialog.CmbImgRotate, 2);
    dialog.ChooseCombo(dialog.CmbItems, 3);  // "4"
    dialog.HSBrightness.value = 250;
    dialog.ClickCheck(FrmConf::Check::WPageRemove, true);
    dialog.ChangeText(dialog.TxtBlankPercent, "");
    dialog.ClickCheck(FrmConf::Check::WPageRemove, false);
    dialog.ClickCheck(FrmConf::Check::EnableScanFix, true);
    dialog.ClickCheck(FrmConf::Check::FixDirection, true);
    dialog.ChangeText(dialog.TxtFixAngle1, "90");
    dialog.ChangeText(dialog.TxtDeskewAngle, "7");
    EXPECT_TRUE(dialog.Caps[FrmConf::CapDPI].Changed);
    EXPECT_EQ(dialog.Caps[FrmConf::CapDPI].CurrentValue, "400");
    dialog.CmdOK_Click();
    ASSERT_TRUE(dialog.ClickOK);
    dialog.StoreTo(p);
    EXPECT_EQ(p.Get(prop::DPI), "400");
    EXPECT_EQ(p.Get(prop::Feeder), "1");
    EXPECT_EQ(p.Get(prop::TransferMode), "1");
    EXPECT_EQ(p.Get(prop::TwainOrISIS), "ISIS");
    EXPECT_EQ(p.Get(prop::ImgRotate), "2");
    EXPECT_EQ(p.Get(prop::ItemLimit), "4");
    EXPECT_EQ(p.ItemLimit, 4);
    EXPECT_EQ(p.Get(prop::Brightness), "250");
    EXPECT_EQ(p.Get(prop::BlankPercent), "0.5");  // empty box
    EXPECT_EQ(p.Get(prop::WPageRemove), "0");
    EXPECT_EQ(p.Get(prop::EnableScanFix), "1");
    EXPECT_EQ(p.Get(prop::FixDirection), "1");
    EXPECT_EQ(p.Get(prop::FixAngle1), "90");
    EXPECT_EQ(p.Get(prop::DeskewAngle), "7");
    EXPECT_EQ(p.Get(prop::PaperSize), "1");  // no paper choices offered: unchanged
}

TEST(FrmConf, PaperSizeComesFromTheChosenCapability) {
    ScanProperties p;
    FrmConf dialog;
    dialog.LoadFrom(p);
    dialog.Form_Load();
    dialog.Caps[FrmConf::CapPaperSize].Add("11", "A3 - 297 × 420 mm");
    dialog.Caps[FrmConf::CapPaperSize].Add("1", "A4 - 210 × 297 mm");
    dialog.Form_Activate();
    dialog.ChooseCombo(dialog.CmbSize, 0);
    dialog.CmdOK_Click();
    dialog.StoreTo(p);
    EXPECT_EQ(p.Get(prop::PaperSize), "11");

    FrmConf cancelled = OpenDialog(p);
    const std::int16_t dpi = cancelled.DPI;
    cancelled.ChooseCombo(cancelled.CmbDPI, 5);
    cancelled.ChooseCombo(cancelled.CmbFeeder, 1);
    cancelled.CmdCancel_Click();
    EXPECT_FALSE(cancelled.ClickOK);
    EXPECT_TRUE(cancelled.Closed());
    EXPECT_EQ(cancelled.DPI, dpi);  // nothing read from the widgets
    EXPECT_EQ(cancelled.Feeder, 0);
}

TEST(FrmConf, TransferModeFollowsTheTextAndAPageGroupOfZeroIsNotCopied) {
    ScanProperties p;
    p.Set(prop::TransferMode, "1");
    p.Set(prop::ItemLimit, "6");
    p.ItemLimit = 6;
    FrmConf typed = OpenDialog(p);
    typed.CmbTransMode.listIndex = -1;  // nothing selected: the text decides
    typed.CmbTransMode.text = "Native";
    typed.CmdOK_Click();
    typed.StoreTo(p);
    EXPECT_EQ(p.Get(prop::TransferMode), "0");

    FrmConf zero = OpenDialog(p);
    zero.CmbTransMode.listIndex = -1;
    zero.CmbTransMode.text = "";
    zero.CmbItems.text = "0";
    zero.CmdOK_Click();
    zero.StoreTo(p);
    EXPECT_EQ(p.Get(prop::TransferMode), "1");
    EXPECT_EQ(p.Get(prop::ItemLimit), "6");
    EXPECT_EQ(p.ItemLimit, 6);
}

TEST(FrmConf, ATypedResolutionAndTheSliders) {
    ScanProperties p;
    FrmConf dialog = OpenDialog(p);
    dialog.ChooseCombo(dialog.CmbDPI, 2);
    EXPECT_EQ(dialog.CmbDPI.listIndex, 2);
    dialog.EditComboText(dialog.CmbDPI, " 250 ");
    EXPECT_FALSE(dialog.CmbDPI.HasSelection());
    dialog.Scroll(dialog.HSBrightness, 1200);
    EXPECT_EQ(dialog.HSBrightness.value, 1000);
    dialog.Scroll(dialog.HSContrast, -300);
    EXPECT_EQ(dialog.HSContrast.value, -300);
    dialog.CmdOK_Click();
    dialog.StoreTo(p);
    EXPECT_EQ(p.Get(prop::DPI), "250");
    EXPECT_EQ(p.Get(prop::Brightness), "1000");
    EXPECT_EQ(p.Get(prop::Contrast), "-300");
}

TEST(FrmBorderRemove, ClampsAndWritesBack) {
    ScanProperties p;
    p.Set(prop::BRFlag, "5");
    FrmBorderRemove dialog;
    dialog.LoadFrom(p);
    dialog.Form_Activate();
    EXPECT_TRUE(dialog.ChkLeft);
    EXPECT_FALSE(dialog.ChkRight);
    EXPECT_TRUE(dialog.ChkTop);
    EXPECT_FALSE(dialog.ChkBottom);
    dialog.ChkBottom = true;
    dialog.TxtWNlength = 25;
    dialog.TxtPercent = -4;
    dialog.TxtVariance = 7;
    dialog.CmdOK_Click();
    EXPECT_TRUE(dialog.ClickOK);
    dialog.StoreTo(p);
    EXPECT_EQ(p.Get(prop::BRFlag), "13");
    EXPECT_EQ(p.Get(prop::BRWNLength), "10");
    EXPECT_EQ(p.Get(prop::BRPercent), "0");
    EXPECT_EQ(p.Get(prop::BRVariance), "7");
}

TEST(PaperTable, DescriptionsAndCodes) {
    CPSize papers;
    EXPECT_EQ(papers.GetPaperDescription(55), "無法辨識的紙張大小");
    EXPECT_EQ(papers.GetPaperDescription(-1), "無法辨識的紙張大小");
    EXPECT_EQ(papers.GetPaperDescription(8), "");
    EXPECT_EQ(papers.GetPaperDescription(54), "A4L - 297 × 210 mm");
    EXPECT_EQ(papers.GetPaperDescription(53), "Business card - 3.5 × 2 英吋");
    EXPECT_EQ(papers.GetPaperLong("A4 - 210 × 297 mm"), 1);
    EXPECT_EQ(papers.GetPaperLong("JISB0 - 1030 × 1456"), 34);
    EXPECT_EQ(papers.GetPaperLong("A4 letter"), 0);
    EXPECT_EQ(papers.GetPaperLong(""), 8);  // the one empty entry
}

TEST(ScanCapRecord, ChoicesAreOneBased) {
    CScanCap cap;
    cap.Add("200", "200 dpi");
    EXPECT_EQ(cap.Length(), 1);
    EXPECT_EQ(cap.Item(1), "200");
    EXPECT_EQ(cap.ItemDesc(1), "200 dpi");
    EXPECT_THROW(cap.Item(0), DorvexError);
    EXPECT_THROW(cap.ItemDesc(2), DorvexError);
}
