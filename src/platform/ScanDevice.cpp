#include "platform/ScanDevice.h"

#include <algorithm>
#include <filesystem>
#include <string_view>

#include "platform/ScanDeviceImpl.h"

namespace dorvex {

const char* DeviceStatusText(DeviceStatus status) {
    switch (status) {
        case DeviceStatus::Good: return "page scanned";
        case DeviceStatus::NoDocs: return "no more pages in the document feeder";
        case DeviceStatus::Jammed: return "document feeder jammed";
        case DeviceStatus::CoverOpen: return "scanner cover is open";
        case DeviceStatus::IoError: return "error while reading from the scanner";
        case DeviceStatus::Busy: return "scanner is busy";
        case DeviceStatus::Cancelled: return "scan cancelled";
        case DeviceStatus::NoMemory: return "not enough memory for the scan";
        case DeviceStatus::AccessDenied: return "access to the scanner denied";
        case DeviceStatus::Failed: break;
    }
    return "scan failed";
}

std::optional<DeviceOption> IScanDevice::Option(const std::string& name) {
    if (name.empty()) return std::nullopt;  // groups have no name
    for (DeviceOption& option : Options()) {
        if (option.name == name) return std::move(option);
    }
    return std::nullopt;
}

namespace {
constexpr std::string_view kFilePrefix = "file:";
bool IsFileFeeder(const std::string& name) { return name.compare(0, kFilePrefix.size(), kFilePrefix) == 0; }
}  // namespace

std::unique_ptr<IScanDevice> OpenScanDevice(const std::string& name) {
    if (IsFileFeeder(name)) return OpenFileFeeder(name.substr(kFilePrefix.size()));
    return OpenSaneDevice(name);
}

bool ScanDevicePresent(const std::string& name) {
    if (IsFileFeeder(name)) {
        std::error_code ec;
        const std::string path = name.substr(kFilePrefix.size());
        return !path.empty() && std::filesystem::exists(path, ec);
    }
    try {
        const std::vector<DeviceInfo> devices = ListScanDevices();
        return std::any_of(devices.begin(), devices.end(), [&](const DeviceInfo& device) { return device.name == name; });
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace dorvex
