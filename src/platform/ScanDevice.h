#pragma once
// A scanner as the scan window drives it: a device with named options (the SANE option model:
// every backend names its own, with ranges and lists), and pages scanned one at a time. SANE
// devices and the file feeder ("file:PATH", the pages of image files fed as by an automatic
// document feeder) both implement it; nothing outside src/platform sees the SANE headers.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Raster.h"

namespace dorvex {

struct DeviceInfo {
    std::string name;  // what OpenScanDevice takes
    std::string vendor;
    std::string model;
    std::string type;  // "flatbed scanner", "virtual device", ...
};

struct DeviceOption {
    enum class Type { Bool, Int, Fixed, String, Button, Group };
    std::string name;  // "" for a group
    std::string title;
    std::string description;
    std::string unit;  // "dpi", "mm", "%", "pel", "bit", "us", ""
    Type type = Type::Int;
    bool active = true;    // the device uses it in its present configuration
    bool settable = true;  // software may set it
    // Constraints: a list of allowed values (texts, or numbers as text), or a range.
    std::vector<std::string> choices;
    std::optional<double> min, max, step;
    // The current value as text: "1"/"0" for Bool, decimal numbers (Fixed with up to 4 decimals),
    // the string itself; "" for Button and Group, and for options with several values.
    std::string value;
};

// How a scan request ended.
enum class DeviceStatus {
    Good,       // a page was scanned
    NoDocs,     // the feeder is empty (the normal end of a feeder run after its first page)
    Jammed,
    CoverOpen,
    IoError,
    Busy,
    Cancelled,
    NoMemory,
    AccessDenied,
    Failed,  // any other failure
};

// A short English text for the status, for messages and traces ("document feeder jammed", ...).
const char* DeviceStatusText(DeviceStatus status);

class IScanDevice {
public:
    virtual ~IScanDevice() = default;
    virtual const std::string& Name() const = 0;

    // Every option, in the device's order, with its current value.
    virtual std::vector<DeviceOption> Options() = 0;
    // One option by name; nullopt when the device has none of that name.
    std::optional<DeviceOption> Option(const std::string& name);
    // Sets an option: numbers in decimal text, Bool "1"/"0", list entries by their text,
    // Button any value (presses it). False when the device has no such active, settable
    // option or refuses the value; the value the device actually took (rounded, clamped) is
    // then what Option(name) reads.
    virtual bool SetOption(const std::string& name, const std::string& value) = 0;

    // Scans one page into `page` (1, 8 or 24 bits per pixel, with the scan's resolution).
    // Anything but Good leaves `page` empty. After the last page of a run, or to stop a run
    // early, call EndRun.
    virtual DeviceStatus ScanPage(Raster& page) = 0;
    // Ends the present run (the device may be used again afterwards).
    virtual void EndRun() = 0;
    // How long one wait for the device's data may last (kDefaultWaitLimit unless set). When it
    // passes, ScanPage stops the run and returns IoError; pages scanned before stay as they are.
    static constexpr std::chrono::milliseconds kDefaultWaitLimit{30'000};
    virtual void SetWaitLimit(std::chrono::milliseconds) {}
    // Why the last call failed, in the device's words ("" when it said nothing more).
    virtual std::string LastError() const { return {}; }
};

// The SANE devices present (the file feeder is never listed; "file:PATH" opens it).
// Throws DorvexError when SANE cannot be started.
std::vector<DeviceInfo> ListScanDevices();
// "file:PATH" opens the file feeder on a folder of image files (taken in name order) or on
// one multi-page file; any other name a SANE device. Throws DorvexError with the device's
// reason (no such device, busy, access denied, no pages in the folder, ...).
std::unique_ptr<IScanDevice> OpenScanDevice(const std::string& name);
// Whether the device is there now: a SANE device that SANE lists, or the folder or file that a
// file feeder reads. False when SANE cannot be started.
bool ScanDevicePresent(const std::string& name);

}  // namespace dorvex
