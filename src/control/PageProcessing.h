#pragma once
// The clean-up chain every scanned page goes through, the blank-page test, the first barcode
// of a page, and the rules by which a barcode or a separator sheet starts a new document.

#include <cstdint>
#include <memory>
#include <string>

#include "model/ScanList.h"
#include "model/ScanProperties.h"
#include "platform/Raster.h"

namespace dorvex {

class CWinInfo;

// The part of the page searched for a barcode, as fractions of its width and height.
struct BarcodeRegion {
    double left = 0, top = 0, width = 1, height = 1;
    static BarcodeRegion FromSettings(const ScanProperties& p);
};

struct ChainReport {
    std::optional<int> skew;  // the skew detected by the deskew step, in hundredths
};

// Invert, deskew, auto-trim, border removal, fit to size, despeckle and rotation, in that
// order, as the settings ask. `pageCounter` (1-based) chooses the fixed angle of duplex pages.
ChainReport RunCleanUpChain(Raster& page, const ScanProperties& p, std::int32_t pageCounter, RestrictSize restrict);

// The deskew step alone. With `onlyWithinRange` a skew at or beyond the range leaves the page
// as it is (the chain); without, any detected skew is corrected (the manual command).
std::optional<int> DeskewPage(Raster& page, const ScanProperties& p, bool onlyWithinRange);
// The border removal with the settings' values, clamped; a side mask of 0 or less does nothing.
void RemoveBorders(Raster& page, int flag, int percent, int noiseLength, int variance);
// The rotation of the chain's last step: the fixed angle and the feed direction.
int ChainRotation(const ScanProperties& p, std::int32_t pageCounter);

// True when the page's ink, on a 1-bit copy at half size with the borders removed, is below
// BlankPercent % of its pixels.
bool IsBlankPage(const Raster& page, const ScanProperties& p);

// The region on a page, in its pixels.
RasterRect BarcodeSearchRect(const Raster& page, const BarcodeRegion& region);
// The first barcode in the region whose data, trimmed of blanks, is not empty; "" when none.
std::string GetFirstBarcode(const Raster& page, const BarcodeRegion& region);

// A barcode as a document number: 9 or more characters starting with a digit 2..9 get a
// leading "0"; shorter ones are padded to 10 characters with leading zeros.
std::string NormaliseBarcode(const std::string& barcode);

// What the scan does with a page after the splitting rules.
enum class SplitDecision { Store, Drop, StopDuplicate };

struct SplitState {
    std::string currentBatch;
    std::int16_t splitMethod = 0;  // 1: separator sheets; otherwise every barcode starts a document
    std::string separatorCode;
    std::shared_ptr<CInno> target;
};

class PageSplitter {
public:
    PageSplitter(CScanList& list, const ScanProperties& p, SplitState& state) : mList(list), mProps(p), mState(state) {}

    // Applies the rules to a page whose first barcode is `barcode` (read only when UseBarcode
    // is "1"); the page's depth chooses a new document's storage. On StopDuplicate the message
    // is in DuplicateMessage().
    SplitDecision Split(const std::string& barcode, int pageBits);
    const std::string& DuplicateMessage() const { return mDuplicate; }
    // Makes a new document (a provisional random number for ""), the new target.
    std::shared_ptr<CInno> NewDocument(const std::string& number, int pageBits);

private:
    CScanList& mList;
    const ScanProperties& mProps;
    SplitState& mState;
    std::string mDuplicate;
};

}  // namespace dorvex
