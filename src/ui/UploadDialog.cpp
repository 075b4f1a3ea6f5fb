// The upload window: its status line (LabMsg), progress bar (UploadPro) and close button
// (CmdOK), drawn from FrmUpload whenever the engine says its state changed. The run itself
// starts just after the window is shown, as the engine's activation.

#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "server/Upload.h"
#include "support/ModShow.h"
#include "ui/DialogParts.h"
#include "ui/Dialogs.h"

namespace dorvex::ui {
namespace {

class UploadView : public QDialog, public ITopMostWindow {
public:
    UploadView(FrmUpload& upload, QWidget* parent) : QDialog(parent), mU(upload) {
        setObjectName(QStringLiteral("FrmUpload"));
        setWindowTitle(QStringLiteral("上傳"));
        mMessage = new QLabel(this);
        mMessage->setObjectName(QStringLiteral("LabMsg"));
        mMessage->setMinimumWidth(360);
        mProgress = new QProgressBar(this);
        mProgress->setObjectName(QStringLiteral("UploadPro"));
        mOk = new QPushButton(QStringLiteral("確定"), this);
        mOk->setObjectName(QStringLiteral("CmdOK"));
        mOk->setDefault(true);
        connect(mOk, &QPushButton::clicked, this, [this] {
            mU.CmdOK_Click();
            Draw();
        });
        auto* all = new QVBoxLayout(this);
        all->addWidget(mMessage);
        all->addWidget(mProgress);
        all->addWidget(mOk, 0, Qt::AlignRight);

        // The engine outlives this view: its handler only draws while the view exists.
        QPointer<UploadView> self(this);
        mU.StateChanged.Connect([self] {
            if (self) self->Draw();
        });
        mFormerTopMost = mU.TopMostWindow;
        mU.TopMostWindow = this;
        Draw();
    }
    ~UploadView() override { mU.TopMostWindow = mFormerTopMost; }

    void Draw() {
        mMessage->setText(parts::Q(mU.LabMsg));
        // A bar without a span (nothing to send yet) stands empty rather than busy.
        if (mU.UploadProMax > mU.UploadProMin) {
            mProgress->setRange(mU.UploadProMin, mU.UploadProMax);
        } else {
            mProgress->setRange(0, 1);
        }
        mProgress->setValue(mU.UploadProValue);
        // Offered once the window has been activated: the run starts then.
        mOk->setEnabled(mActivated && mU.CmdOKEnabled);
        if (mU.Closed && isVisible()) accept();
    }

    void Activate() {
        mActivated = true;
        mU.Form_Activate();
        Draw();
    }

    // Escape or the window's close box: only once the run has ended, as OK.
    void reject() override {
        if (!mActivated || !mU.CmdOKEnabled) return;
        mU.CmdOK_Click();
        QDialog::reject();
    }

    void SetTopMostOrder(bool topMost) override {
        const bool shown = isVisible();
        setWindowFlag(Qt::WindowStaysOnTopHint, topMost);
        if (shown) show();  // changing the flags hides a shown window
    }

private:
    FrmUpload& mU;
    QLabel* mMessage = nullptr;
    QProgressBar* mProgress = nullptr;
    QPushButton* mOk = nullptr;
    ITopMostWindow* mFormerTopMost = nullptr;
    bool mActivated = false;
};

}  // namespace

void RunUploadDialog(FrmUpload& upload, QWidget* parent) {
    UploadView view(upload, parent);
    QTimer::singleShot(0, &view, [&view] { view.Activate(); });
    view.exec();
}

}  // namespace dorvex::ui
