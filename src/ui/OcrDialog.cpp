// The recognition window: the label (LabMessage) and the progress bar (OCRProgressBar) of the
// run after a scan. The run starts as soon as the window is shown and the window closes itself
// when it ends; the person cannot close it in between.

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

#include "ocr/FrmOCR.h"
#include "ui/DialogParts.h"
#include "ui/Dialogs.h"

namespace dorvex::ui {
namespace {

class OcrView : public QDialog {
public:
    OcrView(FrmOCR& form, QWidget* parent) : QDialog(parent), mForm(form) {
        setObjectName(QStringLiteral("FrmOCR"));
        setWindowTitle(QStringLiteral("OCR"));
        setWindowFlag(Qt::WindowCloseButtonHint, false);
        mMessage = new QLabel(this);
        mMessage->setObjectName(QStringLiteral("LabMessage"));
        mMessage->setMinimumWidth(320);
        mProgress = new QProgressBar(this);
        mProgress->setObjectName(QStringLiteral("OCRProgressBar"));
        auto* all = new QVBoxLayout(this);
        all->addWidget(mMessage);
        all->addWidget(mProgress);
        mForm.OnProgress = [this] { Draw(); };
        Draw();
    }
    ~OcrView() override { mForm.OnProgress = nullptr; }

    void Draw() {
        mMessage->setText(parts::Q(mForm.LabMessage));
        mProgress->setRange(mForm.ProgressMin, std::max(mForm.ProgressMax, mForm.ProgressMin + 1));
        mProgress->setValue(mForm.ProgressValue);
    }

    void Activate() {
        mForm.Form_Activate();
        accept();
    }

    void reject() override {}  // Escape waits for the run's end

private:
    FrmOCR& mForm;
    QLabel* mMessage = nullptr;
    QProgressBar* mProgress = nullptr;
};

}  // namespace

void RunOcrDialog(FrmOCR& form, QWidget* parent) {
    OcrView view(form, parent);
    QTimer::singleShot(0, &view, [&view] { view.Activate(); });
    view.exec();
}

}  // namespace dorvex::ui
