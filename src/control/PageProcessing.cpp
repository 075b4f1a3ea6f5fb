#include "control/PageProcessing.h"

#include <algorithm>
#include <cmath>

#include "model/PageFiles.h"
#include "support/Error.h"
#include "support/ModMath.h"
#include "support/Trace.h"
#include "support/WinInfo.h"
#include "support/Text.h"

namespace dorvex {
namespace {

bool IsOne(const ScanProperties& p, int index) { return p.Number(index) == 1; }

std::int16_t Hundredths(double degrees) {
    return static_cast<std::int16_t>(std::clamp(RoundHalfEven(degrees * 100.0), -32768.0, 32767.0));
}

}  // namespace

BarcodeRegion BarcodeRegion::FromSettings(const ScanProperties& p) {
    return {p.Number(prop::BCLeft), p.Number(prop::BCTop), p.Number(prop::BCWidth), p.Number(prop::BCHeight)};
}

std::optional<int> DeskewPage(Raster& page, const ScanProperties& p, bool onlyWithinRange) {
    int range = Hundredths(p.Number(prop::DeskewAngle));
    // Below one degree the automatic deskew takes its own range. Otherwise the search reaches
    // two degrees past the range: a skew at or beyond it is then found and reported, and the
    // page is left as it is, rather than being missed near the edge of the search.
    int searched = range < 1 ? 700 : std::min(range + 200, 4500);
    std::optional<int> skew = page.DetectSkew(searched, 10);
    if (!skew || *skew == 0) return skew;
    if (!onlyWithinRange || range < 1 || std::abs(*skew) < range) page.Rotate(-*skew);
    return skew;
}

void RemoveBorders(Raster& page, int flag, int percent, int noiseLength, int variance) {
    if (flag <= 0) return;
    page.RemoveBorder(flag, std::clamp(percent, 0, 100), std::clamp(noiseLength, 0, 10), std::clamp(variance, 0, 10));
}

int ChainRotation(const ScanProperties& p, std::int32_t pageCounter) {
    double angle = 0;
    if (IsOne(p, prop::FixDirection)) {
        bool evenDuplexPage = IsOne(p, prop::Duplex) && pageCounter % 2 == 0;
        angle = evenDuplexPage ? p.Number(prop::FixAngle2) : p.Number(prop::FixAngle1);
    }
    int a = Hundredths(angle);
    int rotate = p.Integer(prop::ImgRotate);
    if (rotate == 1) return a + 9000;
    if (rotate == 2) return a - 9000;
    return a;
}

ChainReport RunCleanUpChain(Raster& page, const ScanProperties& p, std::int32_t pageCounter, RestrictSize restrict) {
    TraceScope trace("RunCleanUpChain");
    ChainReport report;
    if (IsOne(p, prop::ImgInvert) && page.BitsPerPixel() == 1) page.Invert();
    if (IsOne(p, prop::Deskew)) report.skew = DeskewPage(page, p, true);
    if (IsOne(p, prop::AutoTrim)) page.AutoTrim();
    if (p.Number(prop::PixelType) <= 0 && IsOne(p, prop::BorderRemove) && p.Integer(prop::BRFlag) > 0) {
        page.ReduceTo1Bit();
        RemoveBorders(page, p.Integer(prop::BRFlag), p.Integer(prop::BRPercent), p.Integer(prop::BRWNLength),
                      p.Integer(prop::BRVariance));
    }
    if (IsOne(p, prop::FixSize) && IsOne(p, prop::AutoTrim) && restrict.width > 0 && page.Width() > 0) {
        double wanted = static_cast<double>(restrict.height) / restrict.width;
        double actual = static_cast<double>(page.Height()) / page.Width();
        if (std::fabs(wanted - actual) < 0.1) page.Resize(restrict.width, restrict.height);
    }
    if (IsOne(p, prop::DotRemove)) page.Despeckle();
    int rotation = ChainRotation(p, pageCounter);
    if (rotation != 0) page.Rotate(rotation);
    return report;
}

bool IsBlankPage(const Raster& page, const ScanProperties& p) {
    // Only a real page is ever judged: an empty one would pass for blank and be dropped.
    if (page.Empty()) throw DorvexError(err::InvalidArgument, "there is no page to test for blankness");
    Raster work = page.OneBitCopy();
    work.HalveSize();
    if (p.Integer(prop::BRFlag) > 0) {
        RemoveBorders(work, p.Integer(prop::BRFlag), p.Integer(prop::BRPercent), p.Integer(prop::BRWNLength),
                      p.Integer(prop::BRVariance));
    }
    double n = RoundHalfEven(static_cast<double>(work.Width()) * work.Height());
    if (n <= 0) return true;
    return static_cast<double>(work.CountInk()) / n < p.Number(prop::BlankPercent) / 100.0;
}

RasterRect BarcodeSearchRect(const Raster& page, const BarcodeRegion& region) {
    return {static_cast<int>(RoundHalfEven(page.Width() * region.left)),
            static_cast<int>(RoundHalfEven(page.Height() * region.top)),
            static_cast<int>(RoundHalfEven(page.Width() * region.width)),
            static_cast<int>(RoundHalfEven(page.Height() * region.height))};
}

std::string GetFirstBarcode(const Raster& page, const BarcodeRegion& region) {
    try {
        auto hasData = [](const std::string& text) { return !Trim(text, " ").empty(); };
        for (const std::string& text : page.ReadBarcodes(BarcodeSearchRect(page, region), hasData)) {
            if (hasData(text)) return text;
        }
    } catch (const std::exception& e) {
        DebugTrace(std::string("GetFirstBarcode: ") + e.what());
    }
    return {};
}

std::string NormaliseBarcode(const std::string& barcode) {
    if (barcode.size() >= 9) {
        if (barcode[0] >= '2' && barcode[0] <= '9') return "0" + barcode;
        return barcode;
    }
    // The number format "000000000#" pads a number to ten digits; text that is not a number
    // stays as it is.
    bool digits = !barcode.empty() && std::all_of(barcode.begin(), barcode.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits) return barcode;
    return std::string(10 - barcode.size(), '0') + barcode;
}

std::shared_ptr<CInno> PageSplitter::NewDocument(const std::string& number, int pageBits) {
    std::string inno = number.empty() ? CWinInfo().getUniqueID() : number;
    const bool existed = mList.GetInno(mState.currentBatch, inno) != nullptr;
    std::shared_ptr<CInno> doc = mList.Add(mState.currentBatch, inno, 0);
    doc->RandomInno = number.empty();
    mState.target = doc;
    // A document that already holds pages keeps how they are stored: switching it to other
    // storage would leave its pages where it no longer looks.
    if (!existed) {
        ApplyStorage(*doc, ChooseStorage(mProps.Get(prop::ImgFormat), mProps.Get(prop::PixelType),
                                         mProps.Get(prop::EnableMultiTIFF), pageBits));
    }
    return doc;
}

SplitDecision PageSplitter::Split(const std::string& barcode, int pageBits) {
    mDuplicate.clear();
    if (mProps.Get(prop::UseBarcode) != "1" || barcode.empty()) {
        if (!mState.target) NewDocument("", pageBits);
        return SplitDecision::Store;
    }
    if (mState.splitMethod != 1) {
        std::string number = NormaliseBarcode(barcode);
        if (mList.IsInnoExists(number)) {
            mDuplicate = barcode + "已重複掃描";
            return SplitDecision::StopDuplicate;
        }
        NewDocument(number, pageBits);
        return SplitDecision::Store;
    }
    if (barcode == mState.separatorCode) {
        mState.target = nullptr;
        return SplitDecision::Drop;
    }
    if (!mState.target) {
        NewDocument(NormaliseBarcode(barcode), pageBits);
    } else if (mState.target->RandomInno) {
        mState.target->SetInno(barcode);
        mState.target->RandomInno = false;
    }
    return SplitDecision::Store;
}

}  // namespace dorvex
