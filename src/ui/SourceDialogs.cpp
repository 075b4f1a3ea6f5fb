// The scanner's own dialogs: choosing the device, and the device's settings as a form built
// from whatever options it names (ranges as spin boxes, lists as combo boxes, switches as check
// boxes, texts as line edits, buttons, and groups as frames). Every change goes to the device at
// once through the form, which then reads all options again: the form is redrawn from them, as
// one option may switch others on or off.

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <climits>
#include <cmath>
#include <map>
#include <vector>

#include "control/Acquisition.h"
#include "ui/DialogParts.h"
#include "ui/Dialogs.h"

namespace dorvex::ui {
namespace {

using parts::Q;
using parts::S;

// ---- Choosing the device ----

class SelectSourceView : public QDialog {
public:
    SelectSourceView(SourceSelection& selection, QWidget* parent) : QDialog(parent), mS(selection) {
        setObjectName(QStringLiteral("SelectSource"));
        setWindowTitle(QStringLiteral("選擇掃描器"));
        auto* list = new QTreeWidget(this);
        list->setObjectName(QStringLiteral("LstSources"));
        list->setRootIsDecorated(false);
        list->setHeaderLabels({QStringLiteral("名稱"), QStringLiteral("廠商"), QStringLiteral("型號"),
                               QStringLiteral("類型")});
        for (const DeviceInfo& device : mS.devices) {
            new QTreeWidgetItem(list, {Q(device.name), Q(device.vendor), Q(device.model), Q(device.type)});
        }
        list->header()->resizeSections(QHeaderView::ResizeToContents);
        if (mS.selected >= 0 && mS.selected < list->topLevelItemCount()) {
            list->setCurrentItem(list->topLevelItem(mS.selected));
        }
        connect(list, &QTreeWidget::currentItemChanged, this, [this, list](QTreeWidgetItem* item) {
            mS.selected = item ? list->indexOfTopLevelItem(item) : -1;
        });
        connect(list, &QTreeWidget::itemActivated, this, [this] { accept(); });

        parts::OkCancel buttons = parts::MakeOkCancel(this);
        connect(buttons.ok, &QPushButton::clicked, this, &QDialog::accept);
        auto* all = new QVBoxLayout(this);
        all->addWidget(list);
        all->addLayout(buttons.row);
        resize(520, 300);
    }

private:
    SourceSelection& mS;
};

// ---- The device's settings ----

// How an option is shown; an option keeps its widget while its kind stays the same.
enum class Kind { Check, List, IntRange, FixedRange, Line, Button, Group };

Kind KindOf(const DeviceOption& option) {
    using Type = DeviceOption::Type;
    switch (option.type) {
        case Type::Group: return Kind::Group;
        case Type::Button: return Kind::Button;
        case Type::Bool: return Kind::Check;
        default: break;
    }
    if (!option.choices.empty()) return Kind::List;
    if (option.type == Type::Int) return Kind::IntRange;
    if (option.type == Type::Fixed) return Kind::FixedRange;
    return Kind::Line;
}

// Decimals that show a Fixed option's step (up to 4, the precision the devices report).
int DecimalsFor(const DeviceOption& option) {
    if (!option.step || *option.step <= 0) return 4;
    int decimals = 0;
    double step = *option.step;
    while (decimals < 4 && std::fabs(step - std::round(step)) > 1e-9) {
        step *= 10;
        ++decimals;
    }
    return decimals;
}

QString Caption(const DeviceOption& option) {
    QString caption = Q(option.title.empty() ? option.name : option.title);
    if (!option.unit.empty() && option.type != DeviceOption::Type::Group) caption += " (" + Q(option.unit) + ")";
    return caption;
}

class SourceSettingsView : public QDialog {
public:
    SourceSettingsView(SourceSettingsForm& form, QWidget* parent) : QDialog(parent), mF(form) {
        setObjectName(QStringLiteral("SourceSettings"));
        setWindowTitle(Q(mF.deviceName));
        mScroll = new QScrollArea(this);
        mScroll->setWidgetResizable(true);
        parts::OkCancel buttons = parts::MakeOkCancel(this);
        buttons.ok->setAutoDefault(false);
        buttons.ok->setDefault(false);  // Enter in a box gives its value, it does not close
        connect(buttons.ok, &QPushButton::clicked, this, &QDialog::accept);
        auto* all = new QVBoxLayout(this);
        all->addWidget(mScroll, 1);
        all->addLayout(buttons.row);
        resize(480, 560);
        Build();
    }

private:
    struct Row {
        Kind kind;
        QWidget* widget;
    };

    // The widgets for the options as the form holds them now.
    void Build() {
        mRows.clear();
        mShape = Shape();
        auto* page = new QWidget;
        auto* column = new QVBoxLayout(page);
        QFormLayout* rows = new QFormLayout;
        column->addLayout(rows);
        for (const DeviceOption& option : mF.options) {
            const Kind kind = KindOf(option);
            if (kind == Kind::Group) {
                auto* frame = new QGroupBox(Caption(option), page);
                frame->setObjectName(Q(option.title));
                frame->setToolTip(Q(option.description));
                rows = new QFormLayout(frame);
                column->addWidget(frame);
                continue;
            }
            QWidget* widget = Make(option, kind, page);
            widget->setObjectName(Q(option.name));
            widget->setToolTip(Q(option.description));
            mRows[option.name] = {kind, widget};
            if (kind == Kind::Check || kind == Kind::Button) {
                rows->addRow(widget);
            } else {
                rows->addRow(Caption(option), widget);
            }
        }
        column->addStretch(1);
        mScroll->setWidget(page);  // the former page, if any, is deleted
        Draw();
    }

    QWidget* Make(const DeviceOption& option, Kind kind, QWidget* page) {
        const std::string name = option.name;
        switch (kind) {
            case Kind::Check: {
                auto* box = new QCheckBox(Caption(option), page);
                connect(box, &QCheckBox::toggled, this, [this, name](bool on) { Change(name, on ? "1" : "0"); });
                return box;
            }
            case Kind::List: {
                auto* box = new QComboBox(page);
                connect(box, &QComboBox::currentIndexChanged, this, [this, name, box](int index) {
                    if (index >= 0) Change(name, S(box->itemText(index)));
                });
                return box;
            }
            case Kind::IntRange: {
                auto* box = new QSpinBox(page);
                box->setKeyboardTracking(false);  // the value goes to the device when typed in full
                connect(box, &QSpinBox::valueChanged, this, [this, name](int value) { Change(name, std::to_string(value)); });
                return box;
            }
            case Kind::FixedRange: {
                auto* box = new QDoubleSpinBox(page);
                box->setKeyboardTracking(false);
                connect(box, &QDoubleSpinBox::valueChanged, this,
                        [this, name, box](double value) { Change(name, S(QString::number(value, 'f', box->decimals()))); });
                return box;
            }
            case Kind::Line: {
                auto* edit = new QLineEdit(page);
                connect(edit, &QLineEdit::editingFinished, this, [this, name, edit] {
                    if (edit->isModified()) Change(name, S(edit->text()));
                    edit->setModified(false);
                });
                return edit;
            }
            case Kind::Button: {
                auto* button = new QPushButton(Caption(option), page);
                button->setAutoDefault(false);
                connect(button, &QPushButton::clicked, this, [this, name] { Change(name, "1"); });
                return button;
            }
            case Kind::Group: break;
        }
        return new QWidget(page);
    }

    // Every option's value, range, choices and whether it takes input, into its widget.
    void Draw() {
        for (const DeviceOption& option : mF.options) {
            auto found = mRows.find(option.name);
            if (found == mRows.end()) continue;
            QWidget* widget = found->second.widget;
            QSignalBlocker block(widget);
            // An option of several values has no single value to edit here.
            const bool single = !option.value.empty() || option.type == DeviceOption::Type::Button ||
                                option.type == DeviceOption::Type::String;
            widget->setEnabled(option.active && option.settable && single);
            switch (found->second.kind) {
                case Kind::Check: static_cast<QCheckBox*>(widget)->setChecked(option.value == "1"); break;
                case Kind::List: {
                    auto* box = static_cast<QComboBox*>(widget);
                    ComboBox model;
                    model.items = option.choices;
                    model.listIndex = -1;
                    for (std::size_t i = 0; i < option.choices.size(); ++i) {
                        // Numbers compare by value ("300" is "300.0000" as a Fixed value).
                        const bool same = option.choices[i] == option.value ||
                                          (option.type != DeviceOption::Type::String && !option.value.empty() &&
                                           Q(option.choices[i]).toDouble() == Q(option.value).toDouble());
                        if (same) model.listIndex = static_cast<int>(i);
                    }
                    parts::Draw(box, model);
                    break;
                }
                case Kind::IntRange: {
                    auto* box = static_cast<QSpinBox*>(widget);
                    box->setRange(option.min ? static_cast<int>(*option.min) : INT_MIN,
                                  option.max ? static_cast<int>(*option.max) : INT_MAX);
                    box->setSingleStep(option.step && *option.step >= 1 ? static_cast<int>(*option.step) : 1);
                    box->setValue(Q(option.value).toInt());
                    break;
                }
                case Kind::FixedRange: {
                    auto* box = static_cast<QDoubleSpinBox*>(widget);
                    box->setDecimals(DecimalsFor(option));
                    box->setRange(option.min.value_or(-32768.0), option.max.value_or(32767.9999));
                    box->setSingleStep(option.step && *option.step > 0 ? *option.step : 1.0);
                    box->setValue(Q(option.value).toDouble());
                    break;
                }
                case Kind::Line: {
                    auto* edit = static_cast<QLineEdit*>(widget);
                    if (edit->text() != Q(option.value)) edit->setText(Q(option.value));
                    break;
                }
                case Kind::Button:
                case Kind::Group: break;
            }
        }
    }

    // The options' names and kinds: while they stay, the widgets stay and are redrawn.
    std::vector<std::pair<std::string, Kind>> Shape() const {
        std::vector<std::pair<std::string, Kind>> shape;
        for (const DeviceOption& option : mF.options) shape.emplace_back(option.name + "\n" + option.title, KindOf(option));
        return shape;
    }

    void Change(const std::string& name, const std::string& value) {
        mF.Change(name, value);
        if (Shape() == mShape) {
            Draw();
        } else {
            // Another set of options: built anew once the widget that changed is done with its signal.
            QTimer::singleShot(0, this, [this] { Build(); });
        }
    }

    SourceSettingsForm& mF;
    QScrollArea* mScroll = nullptr;
    std::map<std::string, Row> mRows;
    std::vector<std::pair<std::string, Kind>> mShape;
};

}  // namespace

bool RunSelectSourceDialog(SourceSelection& selection, QWidget* parent) {
    SelectSourceView view(selection, parent);
    return view.exec() == QDialog::Accepted;
}

bool RunSourceSettingsDialog(SourceSettingsForm& form, QWidget* parent) {
    SourceSettingsView view(form, parent);
    return view.exec() == QDialog::Accepted;
}

}  // namespace dorvex::ui
