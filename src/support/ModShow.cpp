#include "support/ModShow.h"

namespace dorvex {
namespace {
bool gTopMost = false;
}

void SetTopMostEnabled(bool enabled) { gTopMost = enabled; }
bool IsTopMostEnabled() { return gTopMost; }

void MakeTopMost(ITopMostWindow* window) {
    if (gTopMost && window != nullptr) window->SetTopMostOrder(true);
}

void MakeNotTopMost(ITopMostWindow* window) {
    if (gTopMost && window != nullptr) window->SetTopMostOrder(false);
}

}  // namespace dorvex
