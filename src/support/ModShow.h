#pragma once
// The process-wide top-most switch and the z-order framing of dialogs: while the switch is on,
// windows keep themselves above others and step out of that order around a message box so that
// the box is not hidden behind them.

namespace dorvex {

// A window that can be put into or out of the top-most order (implemented by the views).
class ITopMostWindow {
public:
    virtual ~ITopMostWindow() = default;
    virtual void SetTopMostOrder(bool topMost) = 0;
};

void SetTopMostEnabled(bool enabled);
bool IsTopMostEnabled();
void MakeTopMost(ITopMostWindow* window);     // nothing when the switch is off
void MakeNotTopMost(ITopMostWindow* window);  // nothing when the switch is off

// Leaves the top-most order for the lifetime of the scope (around a dialog) and re-enters it.
class NotTopMostScope {
public:
    explicit NotTopMostScope(ITopMostWindow* window) : mWindow(window) { MakeNotTopMost(mWindow); }
    ~NotTopMostScope() { MakeTopMost(mWindow); }
    NotTopMostScope(const NotTopMostScope&) = delete;
    NotTopMostScope& operator=(const NotTopMostScope&) = delete;

private:
    ITopMostWindow* mWindow;
};

}  // namespace dorvex
