#include "support/Version.h"

#ifndef DORVEX_VERSION
#error "DORVEX_VERSION is given by the build"
#endif

namespace dorvex {

const char* LibraryVersion() { return DORVEX_VERSION; }

}  // namespace dorvex
