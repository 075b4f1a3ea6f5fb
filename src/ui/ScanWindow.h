#pragma once
// The scan window's Qt view: draws its controller (FrmScan) and hands every gesture back to it.

#include <QMainWindow>

#include "support/ModShow.h"

namespace dorvex {
class FrmScan;
}

namespace dorvex::ui {

class QtPrompter;

class ScanWindow : public QMainWindow, public ITopMostWindow {
    Q_OBJECT
public:
    ScanWindow(FrmScan& controller, QtPrompter& prompter, QWidget* parent = nullptr);
    ~ScanWindow() override;

    // Loads the controller, shows the window maximised and serves events until the person
    // closes it; the controller's closing has run when this returns.
    void RunModal();

    void SetTopMostOrder(bool topMost) override;
};

}  // namespace dorvex::ui
