#pragma once
// The two kinds of scan device behind OpenScanDevice, for the platform layer and its tests.

#include <memory>
#include <string>

#include "platform/ScanDevice.h"

namespace dorvex {

// A SANE device by its SANE name ("test:0", "fujitsu:libusb:002:004", ...).
std::unique_ptr<IScanDevice> OpenSaneDevice(const std::string& name);
// The file feeder on a folder of image files or on one image file (PATH of "file:PATH").
std::unique_ptr<IScanDevice> OpenFileFeeder(const std::string& path);

}  // namespace dorvex
