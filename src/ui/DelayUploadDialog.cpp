// The time dialog of the delayed upload: the hour and the minute the documents go up at.

#include <QComboBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "model/FrmDelayUpload.h"
#include "ui/DialogParts.h"
#include "ui/Dialogs.h"

namespace dorvex::ui {
namespace {

class DelayUploadView : public QDialog {
public:
    DelayUploadView(FrmDelayUpload& controller, QWidget* parent) : QDialog(parent), mC(controller) {
        setObjectName(QStringLiteral("FrmDelayUpload"));
        setWindowTitle(QString::fromUtf8(FrmDelayUpload::kCaption));
        auto* all = new QVBoxLayout(this);
        all->addWidget(new QLabel(QStringLiteral("請選擇上傳時間："), this));
        auto* time = new QHBoxLayout;
        time->addWidget(Combo("CmbHour", mC.CmbHour));
        time->addWidget(new QLabel(QStringLiteral("時"), this));
        time->addWidget(Combo("CmbMinute", mC.CmbMinute));
        time->addWidget(new QLabel(QStringLiteral("分"), this));
        time->addStretch(1);
        all->addLayout(time);
        parts::OkCancel buttons = parts::MakeOkCancel(this);
        connect(buttons.ok, &QPushButton::clicked, this, [this] {
            mC.CmdOK_Click();
            if (mC.ClickOK()) accept();
        });
        connect(buttons.cancel, &QPushButton::clicked, this, [this] { mC.CmdCancel_Click(); });
        all->addLayout(buttons.row);
    }

private:
    QComboBox* Combo(const char* name, ComboBox& model) {
        auto* box = new QComboBox(this);
        box->setObjectName(QLatin1String(name));
        parts::Draw(box, model);
        connect(box, &QComboBox::currentIndexChanged, this, [&model](int index) { model.Select(index); });
        return box;
    }

    FrmDelayUpload& mC;
};

}  // namespace

void RunDelayUploadDialog(FrmDelayUpload& dialog, QWidget* parent) {
    DelayUploadView view(dialog, parent);
    view.exec();
}

}  // namespace dorvex::ui
