#pragma once
// The scan window's Qt view: draws its controller (FrmScan) and hands every gesture back to it.

#include <QMainWindow>
#include <functional>
#include <memory>

#include "support/ModShow.h"

class QEventLoop;
class QPrinter;

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
    // RunModal without its event loop, for a host that serves events itself: sets the
    // controller's hooks, loads it and shows the window maximised.
    void Open();
    bool Closed() const { return mClosed; }

    // Draws everything from the controller: what its redraw hook does.
    void Refresh();
    // Prints the page shown, fitted to the printer's page; false without a page.
    bool PrintShownPage(QPrinter& printer);

    void SetTopMostOrder(bool topMost) override;

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Parts;
    void BuildWidgets();
    void BuildCommandSurface();
    void RefreshCommands();
    void RefreshTree();
    void RefreshViewers();
    void RefreshBoxes();
    void RefreshStatus();
    void SetHooks();
    void ClearHooks();
    void ShowTreeMenu(const QPoint& position);
    void ShowImgEditMenu(const QPoint& position);
    // The OCR menu at a screen point, when a band for recognition is shown.
    void ShowOcrMenu(const QPoint& at);
    // Runs a gesture of an item view after the view's own signal has returned, then redraws.
    void Later(std::function<void()> gesture);
    void ScanProgress();

    FrmScan& mController;
    QtPrompter& mPrompter;
    std::unique_ptr<Parts> mParts;
    QEventLoop* mLoop = nullptr;
    bool mOpened = false;
    bool mClosing = false;
    bool mClosed = false;
    bool mCloseQueued = false;
    bool mActivating = false;
    bool mActivatedOnce = false;
    bool mBackFromForm = false;  // the window last active before this one was a form of the program
    bool mRefreshing = false;
};

}  // namespace dorvex::ui
