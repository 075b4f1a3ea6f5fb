// The page-editing dialogs: delete a range ("刪除指定頁數"), move pages ("移動指定頁面"), rotate
// ("旋轉影像"), merge or split ("合併或分割"). Each draws its controller and hands it every gesture.

#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <utility>

#include "model/EditDialogs.h"
#include "ui/DialogParts.h"
#include "ui/Dialogs.h"

namespace dorvex::ui {
namespace {

using parts::Q;
using parts::S;

QLineEdit* NewText(QWidget* parent, const char* name, TextBox& model) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    parts::Draw(edit, model);
    QObject::connect(edit, &QLineEdit::textChanged, parent, [&model](const QString& text) { model.text = S(text); });
    return edit;
}

QLabel* NewLabel(QWidget* parent, const QString& text, const char* name = nullptr) {
    auto* label = new QLabel(text, parent);
    if (name) label->setObjectName(QLatin1String(name));
    return label;
}

// ---- FrmDelete ----

// A key as the system's key codes: backspace 8, delete 46, digits 48..57, keypad digits
// 96..105, letters 65..90; any other key that types a character has no code the page boxes
// know (0). Keys that type nothing (arrows, Tab, Enter, Escape) are not asked about: -1.
int SystemKeyCode(const QKeyEvent& key) {
    if (key.key() == Qt::Key_Backspace) return 8;
    if (key.key() == Qt::Key_Delete) return 46;
    const QString text = key.text();
    if (text.isEmpty() || !text.front().isPrint()) return -1;
    const QChar c = text.front();
    if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
        int digit = c.unicode() - '0';
        return key.modifiers() & Qt::KeypadModifier ? 96 + digit : '0' + digit;
    }
    if (c.toUpper() >= QLatin1Char('A') && c.toUpper() <= QLatin1Char('Z')) return c.toUpper().unicode();
    return 0;
}

// Swallows the keys that FrmDelete's page boxes refuse.
class PageKeyFilter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            int code = SystemKeyCode(*static_cast<QKeyEvent*>(event));
            if (code >= 0 && !FrmDelete::AcceptsKey(code)) return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

class DeleteView : public QDialog {
public:
    DeleteView(FrmDelete& controller, QWidget* parent) : QDialog(parent), mC(controller) {
        setObjectName(QStringLiteral("FrmDelete"));
        setWindowTitle(QString::fromUtf8(FrmDelete::kCaption));
        static const char* const kChoices[3] = {"本頁以後全部頁數刪除", "本頁以前全部頁數刪除", "指定範圍刪除"};
        auto* all = new QVBoxLayout(this);
        for (int type = 0; type < 3; ++type) {
            auto* option = new QRadioButton(QString::fromUtf8(kChoices[type]), this);
            option->setObjectName(QStringLiteral("OptType%1").arg(type));
            option->setChecked(mC.DeleteType == type);
            connect(option, &QRadioButton::toggled, this, [this, type](bool on) {
                if (!on) return;
                mC.ChooseType(static_cast<std::int16_t>(type));
                Draw();
            });
            all->addWidget(option);
        }
        mStart = NewText(this, "TxtStart", mC.TxtStart);
        mEnd = NewText(this, "TxtEnd", mC.TxtEnd);
        auto* filter = new PageKeyFilter(this);
        for (QLineEdit* box : {mStart, mEnd}) {
            box->installEventFilter(filter);
            box->setAttribute(Qt::WA_InputMethodEnabled, false);  // composed text would pass the filter
        }
        auto* range = new QHBoxLayout;
        range->addWidget(mStart);
        range->addWidget(NewLabel(this, QStringLiteral("～")));
        range->addWidget(mEnd);
        all->addLayout(range);

        parts::OkCancel buttons = parts::MakeOkCancel(this);
        connect(buttons.ok, &QPushButton::clicked, this, [this] {
            mC.CmdOK_Click();  // a range it refuses closes the dialog without ClickOK, quietly
            accept();
        });
        connect(this, &QDialog::rejected, this, [this] { mC.CmdCancel_Click(); });
        all->addLayout(buttons.row);
        Draw();
    }

private:
    void Draw() {
        mStart->setEnabled(mC.TxtStart.enabled);
        mEnd->setEnabled(mC.TxtEnd.enabled);
    }

    FrmDelete& mC;
    QLineEdit* mStart = nullptr;
    QLineEdit* mEnd = nullptr;
};

// ---- FrmMultiMove ----

class MultiMoveView : public QDialog {
public:
    MultiMoveView(FrmMultiMove& controller, QWidget* parent) : QDialog(parent), mC(controller) {
        setObjectName(QStringLiteral("FrmMultiMove"));
        setWindowTitle(QString::fromUtf8(FrmMultiMove::kCaption));
        auto* all = new QVBoxLayout(this);
        all->addWidget(NewLabel(this, Q(mC.SetInfo()), "LabInfo"));
        auto* sentence = new QHBoxLayout;
        const std::pair<const char*, TextBox*> boxes[] = {
            {"TxtStart", &mC.TxtStart}, {"TxtEnd", &mC.TxtEnd}, {"TxtTarget", &mC.TxtTarget}};
        for (const auto& [name, model] : boxes) {
            QLineEdit* edit = NewText(this, name, *model);
            connect(edit, &QLineEdit::textChanged, this, [this] { Draw(); });
            if (model == &mC.TxtEnd) sentence->addWidget(NewLabel(this, QStringLiteral("～")));
            if (model == &mC.TxtTarget) sentence->addWidget(NewLabel(this, QStringLiteral("頁移動到第")));
            sentence->addWidget(edit);
        }
        sentence->addWidget(NewLabel(this, QStringLiteral("之後")));
        all->addLayout(sentence);

        parts::OkCancel buttons = parts::MakeOkCancel(this);
        mOk = buttons.ok;
        connect(mOk, &QPushButton::clicked, this, [this] {
            mC.CmdOK_Click();
            if (mC.IsClickOK) accept();
        });
        all->addLayout(buttons.row);
        Draw();
    }

private:
    void Draw() { mOk->setEnabled(mC.OkEnabled()); }

    FrmMultiMove& mC;
    QPushButton* mOk = nullptr;
};

// ---- FrmRotate ----

class RotateView : public QDialog {
public:
    RotateView(FrmRotate& controller, QWidget* parent) : QDialog(parent), mC(controller) {
        setObjectName(QStringLiteral("FrmRotate"));
        setWindowTitle(QString::fromUtf8(FrmRotate::kCaption));
        auto* frame = new QGroupBox(QStringLiteral("旋轉角度"), this);
        auto* options = new QVBoxLayout(frame);
        static const char* const kAngles[3] = {"90度", "180度", "270度"};
        for (int choice = 0; choice <= FrmRotate::kFreeAngle; ++choice) {
            auto* option = new QRadioButton(choice < 3 ? QString::fromUtf8(kAngles[choice]) : QString(), frame);
            option->setObjectName(choice < 3 ? QStringLiteral("OptAngle%1").arg(choice) : QStringLiteral("OptFreeAngle"));
            option->setChecked(mC.Choice == choice);
            connect(option, &QRadioButton::toggled, this, [this, choice](bool on) {
                if (!on) return;
                mC.Choose(choice);
                Draw();
            });
            if (choice < FrmRotate::kFreeAngle) {
                options->addWidget(option);
                continue;
            }
            // The free angle: its option, the degrees box and "度" on one line.
            auto* free = new QHBoxLayout;
            free->addWidget(option);
            mAngle = NewText(frame, "TxtAngle", mC.TxtAngle);
            connect(mAngle, &QLineEdit::textChanged, this, [this] { Draw(); });
            free->addWidget(mAngle);
            free->addWidget(NewLabel(frame, QStringLiteral("度")));
            options->addLayout(free);
        }
        parts::OkCancel buttons = parts::MakeOkCancel(this);
        mOk = buttons.ok;
        connect(mOk, &QPushButton::clicked, this, [this] {
            mC.CmdOK_Click();
            if (mC.ClickOK) accept();
        });
        auto* all = new QVBoxLayout(this);
        all->addWidget(frame);
        all->addLayout(buttons.row);
        Draw();
    }

private:
    void Draw() {
        mAngle->setEnabled(mC.TxtAngle.enabled);
        mOk->setEnabled(mC.OkEnabled());
    }

    FrmRotate& mC;
    QLineEdit* mAngle = nullptr;
    QPushButton* mOk = nullptr;
};

// ---- FrmMergeCut ----

class MergeCutView : public QDialog {
public:
    MergeCutView(FrmMergeCut& controller, QWidget* parent) : QDialog(parent), mC(controller) {
        setObjectName(QStringLiteral("FrmMergeCut"));
        setWindowTitle(QString::fromUtf8(FrmMergeCut::kCaption));
        auto* all = new QVBoxLayout(this);
        all->addWidget(NewLabel(this, Q(mC.Message()), "LabMsg"));
        // The sentence: 第 [page] 頁 [以前/以後] [合併/分割/附件] 至 [target].
        auto* sentence = new QHBoxLayout;
        sentence->addWidget(NewLabel(this, QStringLiteral("第")));
        sentence->addWidget(Combo("CbSelPage", mC.CbSelPage));
        sentence->addWidget(NewLabel(this, QStringLiteral("頁")));
        sentence->addWidget(Combo("CbDirection", mC.CbDirection));
        sentence->addWidget(Combo("CbMC", mC.CbMC));
        mTo = NewLabel(this, QStringLiteral("至"), "LabTo");
        sentence->addWidget(mTo);
        mTargets = Combo("CbAllInno", mC.CbAllInno);
        sentence->addWidget(mTargets);
        mNumber = NewText(this, "TxtInno", mC.TxtInno);
        sentence->addWidget(mNumber);
        all->addLayout(sentence);

        parts::OkCancel buttons = parts::MakeOkCancel(this);
        connect(buttons.ok, &QPushButton::clicked, this, [this] {
            mC.CmdOK_Click();
            accept();
        });
        all->addLayout(buttons.row);
        Draw();
    }

private:
    QComboBox* Combo(const char* name, ComboBox& model) {
        auto* box = new QComboBox(this);
        box->setObjectName(QLatin1String(name));
        parts::Draw(box, model);
        connect(box, &QComboBox::currentIndexChanged, this, [this, &model](int index) {
            model.Select(index);
            Draw();
        });
        return box;
    }

    void Draw() {
        mTargets->setVisible(mC.TargetListVisible());
        mNumber->setVisible(mC.NumberBoxVisible());
        mTo->setVisible(mC.ToWordVisible());
    }

    FrmMergeCut& mC;
    QLabel* mTo = nullptr;
    QComboBox* mTargets = nullptr;
    QLineEdit* mNumber = nullptr;
};

}  // namespace

void RunDeleteDialog(FrmDelete& dialog, QWidget* parent) {
    dialog.Form_Load();
    DeleteView view(dialog, parent);
    view.exec();
}

void RunMultiMoveDialog(FrmMultiMove& dialog, QWidget* parent) {
    MultiMoveView view(dialog, parent);
    view.exec();
}

void RunRotateDialog(FrmRotate& dialog, QWidget* parent) {
    RotateView view(dialog, parent);
    view.exec();
}

// The caller has loaded the controller (its lists filled, any preset applied).
void RunMergeCutDialog(FrmMergeCut& dialog, QWidget* parent) {
    MergeCutView view(dialog, parent);
    view.exec();
}

}  // namespace dorvex::ui
