#include "ui/DialogParts.h"

#include <QComboBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

namespace dorvex::ui::parts {

void Draw(QComboBox* box, const ComboBox& model) {
    QSignalBlocker block(box);
    QStringList items;
    for (const std::string& item : model.items) items << Q(item);
    QStringList shown;
    for (int i = 0; i < box->count(); ++i) shown << box->itemText(i);
    if (items != shown) {
        box->clear();
        box->addItems(items);
    }
    if (box->currentIndex() != model.listIndex) box->setCurrentIndex(model.listIndex);
    if (box->isEditable() && box->currentText() != Q(model.text)) box->setEditText(Q(model.text));
}

void Draw(QLineEdit* edit, const TextBox& model) {
    QSignalBlocker block(edit);
    if (edit->text() != Q(model.text)) edit->setText(Q(model.text));
    edit->setEnabled(model.enabled);
}

OkCancel MakeOkCancel(QDialog* dialog) {
    OkCancel buttons;
    buttons.ok = new QPushButton(QStringLiteral("確定"), dialog);
    buttons.ok->setObjectName(QStringLiteral("CmdOK"));
    buttons.ok->setDefault(true);
    buttons.cancel = new QPushButton(QStringLiteral("取消"), dialog);
    buttons.cancel->setObjectName(QStringLiteral("CmdCancel"));
    buttons.cancel->setAutoDefault(false);
    QObject::connect(buttons.cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    buttons.row = new QHBoxLayout;
    buttons.row->addStretch(1);
    buttons.row->addWidget(buttons.ok);
    buttons.row->addWidget(buttons.cancel);
    return buttons;
}

}  // namespace dorvex::ui::parts
