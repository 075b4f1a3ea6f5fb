#include "control/PageProcessing.h"

#include <gtest/gtest.h>

#include "TestPages.h"
#include "TestUtil.h"

using namespace dorvex;

TEST(Barcodes, NormalisedIntoDocumentNumbers) {
    EXPECT_EQ(NormaliseBarcode("215000001"), "0215000001");   // 9 digits from 2..9
    EXPECT_EQ(NormaliseBarcode("115000001"), "115000001");    // 9 digits from 1
    EXPECT_EQ(NormaliseBarcode("12345"), "0000012345");
    EXPECT_EQ(NormaliseBarcode("1150000001"), "1150000001");
    EXPECT_EQ(NormaliseBarcode("9150000001"), "09150000001");
    EXPECT_EQ(NormaliseBarcode("AB-1"), "AB-1");               // not a number: as read
}

TEST(Splitting, EveryBarcodeStartsADocument) {
    test::TempFolder dir;
    CScanList list;
    ScanProperties p;
    p.Set(prop::UseBarcode, "1");
    SplitState state{"B1", 0, "", nullptr};
    PageSplitter splitter(list, p, state);
    EXPECT_EQ(splitter.Split("", 1), SplitDecision::Store);  // no barcode yet: a provisional document
    ASSERT_TRUE(state.target);
    EXPECT_TRUE(state.target->RandomInno);
    EXPECT_EQ(state.target->Inno().size(), 10u);
    EXPECT_EQ(splitter.Split("215000001", 1), SplitDecision::Store);
    EXPECT_EQ(state.target->Inno(), "0215000001");
    EXPECT_FALSE(state.target->RandomInno);
    EXPECT_EQ(state.target->Format, 29);
    EXPECT_EQ(splitter.Split("", 1), SplitDecision::Store);  // joins it
    EXPECT_EQ(state.target->Inno(), "0215000001");
    auto before = state.target;
    EXPECT_EQ(splitter.Split("215000001", 1), SplitDecision::StopDuplicate);
    EXPECT_EQ(splitter.DuplicateMessage(), "215000001已重複掃描");
    EXPECT_EQ(state.target, before);
    EXPECT_EQ(list.TotalInnos(), 2);
}

TEST(Splitting, SeparatorSheets) {
    test::TempFolder dir;
    CScanList list;
    ScanProperties p;
    p.Set(prop::UseBarcode, "1");
    p.Set(prop::PixelType, "1");
    p.Set(prop::EnableMultiTIFF, "1");
    SplitState state{"B1", 1, "SEPARATOR", nullptr};
    PageSplitter splitter(list, p, state);
    // Pages without a barcode before any separator: one provisional document...
    EXPECT_EQ(splitter.Split("", 8), SplitDecision::Store);
    auto first = state.target;
    EXPECT_TRUE(first->RandomInno);
    EXPECT_EQ(first->Format, 17);
    EXPECT_EQ(first->BitmapBits, 8);
    EXPECT_EQ(splitter.Split("", 8), SplitDecision::Store);
    // ...renamed by the first barcode found on a later page (as read).
    EXPECT_EQ(splitter.Split("12345", 8), SplitDecision::Store);
    EXPECT_EQ(first->Inno(), "12345");
    EXPECT_FALSE(first->RandomInno);
    // The separator sheet is not stored; the next barcode starts a document.
    EXPECT_EQ(splitter.Split("SEPARATOR", 8), SplitDecision::Drop);
    EXPECT_FALSE(state.target);
    EXPECT_EQ(splitter.Split("777", 8), SplitDecision::Store);
    EXPECT_EQ(state.target->Inno(), "0000000777");
    EXPECT_EQ(splitter.Split("888", 8), SplitDecision::Store);  // a later barcode just joins
    EXPECT_EQ(state.target->Inno(), "0000000777");
    EXPECT_EQ(list.TotalInnos(), 2);

    // Without barcode recognition every page goes into one document.
    CScanList plain;
    ScanProperties off;
    off.Set(prop::ImgFormat, "jpg");
    SplitState s2{"B", 0, "", nullptr};
    PageSplitter all(plain, off, s2);
    all.Split("999999999", 24);
    all.Split("", 24);
    EXPECT_EQ(plain.TotalInnos(), 1);
    EXPECT_EQ(s2.target->Format, 21);
    EXPECT_EQ(s2.target->BitmapBits, 24);
    EXPECT_FALSE(s2.target->EnableMultiTIFF);
}

TEST(CleanUpChain, FixedAnglesAndFeedDirection) {
    ScanProperties p;
    p.Set(prop::FixDirection, "1");
    p.Set(prop::Duplex, "1");
    p.Set(prop::FixAngle1, "180");
    p.Set(prop::FixAngle2, "0");
    EXPECT_EQ(ChainRotation(p, 1), 18000);
    EXPECT_EQ(ChainRotation(p, 2), 0);
    EXPECT_EQ(ChainRotation(p, 3), 18000);
    p.Set(prop::Duplex, "0");
    EXPECT_EQ(ChainRotation(p, 2), 18000);
    ScanProperties q;
    q.Set(prop::ImgRotate, "1");
    EXPECT_EQ(ChainRotation(q, 1), 9000);
    q.Set(prop::ImgRotate, "2");
    EXPECT_EQ(ChainRotation(q, 1), -9000);
    q.Set(prop::ImgRotate, "");
    EXPECT_EQ(ChainRotation(q, 1), 0);

    // ImgRotate 1 turns a page clockwise; invert applies to 1-bit pages only: a grey page
    // keeps its dark text on white.
    Raster page = test::NumberedPage(2);
    ScanProperties turn;
    turn.Set(prop::ImgRotate, "1");
    turn.Set(prop::ImgInvert, "1");
    RunCleanUpChain(page, turn, 1, turn.ComputeRestrictSize());
    EXPECT_EQ(page.Width(), 120);
    EXPECT_EQ(page.CountInk(), 200 * 120 - 200);
    Raster grey = test::NumberedPage(2, 8);
    RunCleanUpChain(grey, turn, 1, turn.ComputeRestrictSize());
    EXPECT_EQ(grey.BitsPerPixel(), 8);
    EXPECT_EQ(grey.CountInk(), 200);
}

TEST(CleanUpChain, DespeckleClearsWhatBorderRemovalLeaves) {
    // A border band 6 pixels wide with a short spur running diagonally into the page, and a
    // line of text. Border removal takes the band and the part of the spur within its noise
    // length and variance; the two pixels left at the spur's end are a speck for despeckle.
    Raster page = Raster::Blank(200, 120, 1);
    for (int y = 0; y < 120; ++y) {
        for (int x = 0; x < 6; ++x) page.SetBlack(x, y);
    }
    for (int k = 0; k < 8; ++k) page.SetBlack(6 + k, 50 + k);
    for (int y = 40; y < 50; ++y) {
        for (int x = 60; x < 100; ++x) page.SetBlack(x, y);
    }
    ScanProperties p;  // black and white, all four sides, 20 %, noise length 5, variance 5
    p.Set(prop::BorderRemove, "1");
    p.Set(prop::DotRemove, "1");
    RunCleanUpChain(page, p, 1, p.ComputeRestrictSize());
    EXPECT_EQ(page.Crop({0, 0, 40, 120}).CountInk(), 0);
    EXPECT_EQ(page.CountInk(), 400);
}

TEST(CleanUpChain, FitToSizeOnlyForNearlyTheRightShape) {
    ScanProperties p;
    p.Set(prop::AutoTrim, "1");
    p.Set(prop::FixSize, "1");
    RestrictSize target{165, 229};
    Raster page = Raster::Blank(170, 240, 1);
    for (int x = 0; x < 170; ++x) page.SetBlack(x, 0), page.SetBlack(x, 239);
    for (int y = 0; y < 240; ++y) page.SetBlack(0, y), page.SetBlack(169, y);
    RunCleanUpChain(page, p, 1, target);
    EXPECT_EQ(page.Width(), 165);
    EXPECT_EQ(page.Height(), 229);
    Raster wide = test::NumberedPage(1);  // trimmed to a 10 × 10 square: far from A4
    RunCleanUpChain(wide, p, 1, target);
    EXPECT_EQ(wide.Width(), 10);
}

TEST(BlankPages, ThresholdIsBlankPercent) {
    ScanProperties p;
    Raster page = Raster::Blank(400, 400, 1);
    EXPECT_TRUE(IsBlankPage(page, p));
    for (int y = 100; y < 120; ++y) {
        for (int x = 100; x < 140; ++x) page.SetBlack(x, y);  // 800 of 160000 pixels
    }
    // Halved: 200 of 40000 = 0.5 %, not below 0.5 %.
    EXPECT_FALSE(IsBlankPage(page, p));
    p.Set(prop::BlankPercent, "0.6");
    EXPECT_TRUE(IsBlankPage(page, p));
    Raster grey = Raster::Blank(400, 400, 8);
    EXPECT_TRUE(IsBlankPage(grey, p));
}

TEST(BlankPages, ABlackBorderAloneIsBlank) {
    // An empty sheet with the scanner lid's dark edge round it.
    Raster page = Raster::Blank(400, 400, 1);
    for (int y = 0; y < 400; ++y) {
        for (int x = 0; x < 400; ++x) {
            if (x < 10 || x >= 390 || y < 10 || y >= 390) page.SetBlack(x, y);
        }
    }
    ScanProperties p;  // BRFlag 15: the border is removed before counting
    EXPECT_TRUE(IsBlankPage(page, p));
    p.Set(prop::BRFlag, "0");  // counted with the border: about a tenth of the page is dark
    EXPECT_FALSE(IsBlankPage(page, p));
}
