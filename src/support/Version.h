#pragma once
// The library's version, as the build gives it (the CMake project version).

namespace dorvex {

// "major.minor.patch".
const char* LibraryVersion();

}  // namespace dorvex
