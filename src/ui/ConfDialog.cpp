// The scan settings dialog ("掃描設定") and the border-removal dialog ("去黑邊設定"): they draw
// their controllers' widgets and hand every gesture to them; the controllers decide what OK
// may do and what is read back.

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>
#include <vector>

#include "model/FrmBorderRemove.h"
#include "model/FrmConf.h"
#include "support/ModMath.h"
#include "ui/DialogParts.h"
#include "ui/Dialogs.h"

namespace dorvex::ui {
namespace {

using parts::Q;
using parts::S;

class ConfView : public QDialog {
public:
    ConfView(FrmConf& controller, QWidget* parent) : QDialog(parent), mC(controller) {
        setObjectName(QStringLiteral("FrmConf"));
        setWindowTitle(Q(std::string(FrmConf::kCaption)));

        auto* scanner = new QGroupBox(QStringLiteral("掃描器"), this);
        auto* scannerRows = new QFormLayout(scanner);
        scannerRows->addRow(QStringLiteral("掃描方式："), Combo("CmbFeeder", mC.CmbFeeder));
        scannerRows->addRow(QStringLiteral("影像類型："), Combo("CmbPxType", mC.CmbPxType));
        scannerRows->addRow(QStringLiteral("解  析  度："), Combo("CmbDPI", mC.CmbDPI, true));
        scannerRows->addRow(QStringLiteral("亮        度："), SliderRow("HSBrightness", "LabBrightness", mC.HSBrightness));
        scannerRows->addRow(QStringLiteral("對        比："), SliderRow("HSContrast", "LabContrast", mC.HSContrast));
        scannerRows->addRow(QStringLiteral("雙面掃描："), Combo("CmbDup", mC.CmbDup));
        scannerRows->addRow(QStringLiteral("傳輸模式："), Combo("CmbTransMode", mC.CmbTransMode));
        scannerRows->addRow(QStringLiteral("圖形介面："), Combo("CmbGUI", mC.CmbGUI));
        scannerRows->addRow(QStringLiteral("驅動程式："), Combo("CmbDriver", mC.CmbDriver));
        scannerRows->addRow(QStringLiteral("進紙方向："), Combo("CmbImgRotate", mC.CmbImgRotate));

        auto* barcode = new QGroupBox(QStringLiteral("條碼設定"), this);
        auto* barcodeRows = new QFormLayout(barcode);
        barcodeRows->addRow(Check("ChkUseBC", "條碼識別：", FrmConf::Check::UseBC), Text("TxtBarCode", mC.TxtBarCode));
        barcodeRows->addRow(QStringLiteral("識別方式："), Combo("CmbDType", mC.CmbDType));

        auto* paper = new QGroupBox(QStringLiteral("紙張設定"), this);
        auto* paperRows = new QFormLayout(paper);
        paperRows->addRow(QStringLiteral("紙張大小："), Combo("CmbSize", mC.CmbSize));

        auto* imaging = new QGroupBox(QStringLiteral("影像處理"), this);
        auto* imagingRows = new QGridLayout(imaging);
        imagingRows->addWidget(Check("ChkDotRemove", "去除黑點", FrmConf::Check::DotRemove), 0, 0);
        imagingRows->addWidget(Check("ChkBorderRemove", "去除黑邊", FrmConf::Check::BorderRemove), 0, 1);
        imagingRows->addWidget(Check("ChkAutoTrim", "剪裁", FrmConf::Check::AutoTrim), 0, 2);
        imagingRows->addWidget(Check("ChkImgInvert", "反轉", FrmConf::Check::ImgInvert), 0, 3);
        imagingRows->addWidget(Check("ChkDeskew", "歪斜校正", FrmConf::Check::Deskew), 1, 0);
        imagingRows->addWidget(Text("TxtDeskewAngle", mC.TxtDeskewAngle), 1, 1);
        imagingRows->addWidget(new QLabel(QStringLiteral("度"), imaging), 1, 2);
        imagingRows->addWidget(Check("ChkWPageRemove", "去除空白頁", FrmConf::Check::WPageRemove), 2, 0);
        imagingRows->addWidget(Text("TxtBlankPercent", mC.TxtBlankPercent), 2, 1);
        imagingRows->addWidget(Check("ChkFixDirection", "修正方向", FrmConf::Check::FixDirection), 3, 0);
        imagingRows->addWidget(Text("TxtFixAngle1", mC.TxtFixAngle1), 3, 1);
        imagingRows->addWidget(Text("TxtFixAngle2", mC.TxtFixAngle2), 3, 2);
        imagingRows->addWidget(Check("ChkEnableScanFix", "掃描即影像處理", FrmConf::Check::EnableScanFix), 4, 0, 1, 2);

        auto* misc = new QGroupBox(QStringLiteral("雜項"), this);
        auto* miscRows = new QFormLayout(misc);
        miscRows->addRow(QStringLiteral("縮圖數量："), Combo("CmbItems", mC.CmbItems));
        miscRows->addRow(QStringLiteral("繼續掃描："), Combo("CmbCont", mC.CmbCont));

        parts::OkCancel buttons = parts::MakeOkCancel(this);
        mOk = buttons.ok;
        connect(mOk, &QPushButton::clicked, this, [this] {
            mC.CmdOK_Click();
            if (mC.Closed()) accept();
        });
        connect(this, &QDialog::rejected, this, [this] { mC.CmdCancel_Click(); });

        auto* right = new QVBoxLayout;
        right->addWidget(barcode);
        right->addWidget(paper);
        right->addWidget(imaging);
        right->addWidget(misc);
        right->addStretch(1);
        auto* columns = new QHBoxLayout;
        columns->addWidget(scanner);
        columns->addLayout(right);
        auto* all = new QVBoxLayout(this);
        all->addLayout(columns);
        all->addLayout(buttons.row);
        DrawAll();
    }

private:
    QComboBox* Combo(const char* name, ComboBox& model, bool editable = false) {
        auto* box = new QComboBox(this);
        box->setObjectName(QLatin1String(name));
        box->setEditable(editable);
        box->setInsertPolicy(QComboBox::NoInsert);  // a typed value is the box's text, not a new entry
        mCombos.push_back({box, &model});
        connect(box, &QComboBox::currentIndexChanged, this, [this, &model](int index) {
            if (index == model.listIndex) return;
            mC.ChooseCombo(model, index);
            DrawState();
        });
        if (editable) {
            connect(box, &QComboBox::editTextChanged, this, [this, &model](const QString& text) {
                if (S(text) == model.text) return;  // the text of the entry just chosen
                mC.EditComboText(model, S(text));
                DrawState();
            });
        }
        return box;
    }

    QCheckBox* Check(const char* name, const char* caption, FrmConf::Check which) {
        auto* box = new QCheckBox(QString::fromUtf8(caption), this);
        box->setObjectName(QLatin1String(name));
        mChecks.push_back({box, which});
        connect(box, &QCheckBox::toggled, this, [this, which](bool ticked) {
            mC.ClickCheck(which, ticked);
            DrawState();
        });
        return box;
    }

    QLineEdit* Text(const char* name, TextBox& model) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QLatin1String(name));
        mTexts.push_back({edit, &model});
        connect(edit, &QLineEdit::textChanged, this, [this, &model](const QString& text) {
            mC.ChangeText(model, S(text));
            DrawState();
        });
        return edit;
    }

    QWidget* SliderRow(const char* name, const char* labelName, Slider& model) {
        auto* row = new QWidget(this);
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* slider = new QSlider(Qt::Horizontal, row);
        slider->setObjectName(QLatin1String(name));
        auto* value = new QLabel(row);
        value->setObjectName(QLatin1String(labelName));
        value->setMinimumWidth(value->fontMetrics().horizontalAdvance(QStringLiteral("-0000")));
        layout->addWidget(slider, 1);
        layout->addWidget(value);
        mSliders.push_back({slider, value, &model});
        connect(slider, &QSlider::valueChanged, this, [this, &model](int v) {
            mC.Scroll(model, v);
            DrawState();
        });
        return row;
    }

    // Everything, from the controller's widgets (when shown).
    void DrawAll() {
        for (const auto& [box, model] : mCombos) parts::Draw(box, *model);
        for (const auto& [edit, model] : mTexts) parts::Draw(edit, *model);
        for (const auto& [slider, label, model] : mSliders) {
            QSignalBlocker block(slider);
            slider->setRange(model->min, model->max);
            slider->setValue(model->value);
        }
        DrawState();
    }

    // What one gesture can change elsewhere: the boxes' checks and enabling, the values beside
    // the sliders, and OK.
    void DrawState() {
        for (const auto& [box, which] : mChecks) {
            QSignalBlocker block(box);
            box->setChecked(mC.Checked(which));
        }
        for (const auto& [edit, model] : mTexts) edit->setEnabled(model->enabled);
        for (const auto& [slider, label, model] : mSliders) label->setText(QString::number(model->value));
        mOk->setEnabled(mC.OkEnabled());
    }

    struct ComboPart {
        QComboBox* box;
        ComboBox* model;
    };
    struct CheckPart {
        QCheckBox* box;
        FrmConf::Check which;
    };
    struct TextPart {
        QLineEdit* edit;
        TextBox* model;
    };
    struct SliderPart {
        QSlider* slider;
        QLabel* value;
        Slider* model;
    };

    FrmConf& mC;
    std::vector<ComboPart> mCombos;
    std::vector<CheckPart> mChecks;
    std::vector<TextPart> mTexts;
    std::vector<SliderPart> mSliders;
    QPushButton* mOk = nullptr;
};

class BorderRemoveView : public QDialog {
public:
    BorderRemoveView(FrmBorderRemove& controller, QWidget* parent) : QDialog(parent), mC(controller) {
        setObjectName(QStringLiteral("FrmBorderRemove"));
        setWindowTitle(QString::fromUtf8(FrmBorderRemove::kCaption));

        auto* sides = new QGroupBox(QStringLiteral("邊界"), this);
        auto* sideRow = new QHBoxLayout(sides);
        sideRow->addWidget(Side("ChkLeft", "左邊", mC.ChkLeft));
        sideRow->addWidget(Side("ChkRight", "右邊", mC.ChkRight));
        sideRow->addWidget(Side("ChkTop", "上邊", mC.ChkTop));
        sideRow->addWidget(Side("ChkBottom", "下邊", mC.ChkBottom));

        auto* numbers = new QFormLayout;
        numbers->addRow(QStringLiteral("黑邊百分比："), Number("TxtPercent", mC.TxtPercent));
        numbers->addRow(QStringLiteral("雜訊長度："), Number("TxtWNlength", mC.TxtWNlength));
        numbers->addRow(QStringLiteral("差異值："), Number("TxtVariance", mC.TxtVariance));

        parts::OkCancel buttons = parts::MakeOkCancel(this);
        connect(buttons.ok, &QPushButton::clicked, this, [this] {
            mC.CmdOK_Click();
            accept();
        });
        connect(this, &QDialog::rejected, this, [this] { mC.CmdCancel_Click(); });

        auto* all = new QVBoxLayout(this);
        all->addWidget(sides);
        all->addLayout(numbers);
        all->addLayout(buttons.row);
    }

private:
    QCheckBox* Side(const char* name, const char* caption, bool& model) {
        auto* box = new QCheckBox(QString::fromUtf8(caption), this);
        box->setObjectName(QLatin1String(name));
        box->setChecked(model);
        connect(box, &QCheckBox::toggled, this, [&model](bool ticked) { model = ticked; });
        return box;
    }

    QLineEdit* Number(const char* name, double& model) {
        auto* edit = new QLineEdit(QString::number(model), this);
        edit->setObjectName(QLatin1String(name));
        connect(edit, &QLineEdit::textChanged, this, [&model](const QString& text) { model = Val(S(text)); });
        return edit;
    }

    FrmBorderRemove& mC;
};

}  // namespace

void RunConfDialog(FrmConf& dialog, QWidget* parent) {
    dialog.Form_Load();
    dialog.Form_Activate();
    ConfView view(dialog, parent);
    view.exec();
}

// The caller has activated the controller (its widgets hold the record, or a preset).
void RunBorderRemoveDialog(FrmBorderRemove& dialog, QWidget* parent) {
    BorderRemoveView view(dialog, parent);
    view.exec();
}

}  // namespace dorvex::ui
