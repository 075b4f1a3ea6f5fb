#pragma once
// The scan settings as a device understands them. Two front ends speak to the same scanner
// devices: the TWAIN-style session (capabilities such as the feeder, duplex, pixel type and
// paper size) and the ISIS-style driver (numbered tags). Both become the device's named
// options where it has them; a setting the device lacks is recorded and left alone.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dorvex {

class IScanDevice;

// Capability codes of the TWAIN-style interface that the scan uses.
namespace twaincap {
constexpr int FeederEnabled = 4098;
constexpr int Duplex = 4114;
constexpr int DuplexEnabled = 4115;
}  // namespace twaincap

class TwainSession {
public:
    explicit TwainSession(IScanDevice& device) : mDevice(device) {}

    // The transfer mode (4 native, 2 file): there is only one way pages arrive from these
    // devices, so the choice is recorded, never faked.
    void SetTransferMode(int mode);
    int TransferMode() const { return mTransferMode; }
    // CapSet: 4098 feeder on/off, 4115 duplex on/off. CapGet(4114): 0 none, 1 or 2 duplex
    // available. Other codes are recorded and answer 0.
    bool CapSet(int cap, int value);
    int CapGet(int cap);
    // Brightness and contrast from -1000 to 1000 (0 neutral), mapped onto the device's range.
    void SetBrightness(int value);
    void SetContrast(int value);
    void SetResolution(int dpi);
    // 0 black and white, 1 grey, 2 colour.
    void SetPixelType(int type);
    // A paper code of the paper table; landscape turns it across.
    void SetPaperSize(std::int32_t code, bool landscape);

    // What was done to the device, one line per setting ("resolution=300", "brightness: the
    // device has no such option"), for traces and the command line.
    const std::vector<std::string>& Notes() const { return mNotes; }

private:
    IScanDevice& mDevice;
    int mTransferMode = 0;
    std::vector<std::string> mNotes;
    friend class IsisDriver;
};

class IsisDriver {
public:
    explicit IsisDriver(IScanDevice& device) : mSession(device) {}
    // Tags: 1293 (page transfer, recorded), 1300 feeder (0 feeder, 2 flatbed), 282/283 X and Y
    // resolution, 277 samples per pixel, 258 bits per sample, 262 photometric (0 min-is-white,
    // 2 RGB). The pixel type follows from 277, 258 and 262 once all three are set.
    void SetTag(int tag, int value);
    const std::vector<std::string>& Notes() const { return mSession.Notes(); }

private:
    TwainSession mSession;
    int mSamples = 0, mBits = 0, mPhotometric = -1;
};

// The paper codes of the paper table that fit the device's scan area (the largest br-x by
// br-y, in mm), in the table's order, without A4 landscape; nullopt when the device takes no
// scan area.
std::optional<std::vector<std::int32_t>> PaperSizesOffered(IScanDevice& device);

// Option helpers shared by the translations and the source settings form.
// Sets a numeric option to `value` clamped into its range (or the nearest list entry).
bool SetNumericOption(IScanDevice& device, const std::string& name, double value);
// Chooses the first entry of a list option that matches one of `wanted` (case-insensitive,
// in the order given); returns the entry chosen or "".
std::string ChooseListOption(IScanDevice& device, const std::string& name, const std::vector<std::string>& wanted);

}  // namespace dorvex
