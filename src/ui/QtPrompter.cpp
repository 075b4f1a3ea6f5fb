#include "ui/QtPrompter.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QAbstractButton>
#include <QMessageBox>

namespace dorvex::ui {

MsgResult QtPrompter::MessageBox(const std::string& text, const std::string& title, MsgButtons buttons, MsgIcon icon) {
    QMessageBox box(mParent);
    box.setWindowTitle(QString::fromStdString(title));
    // The system's "\r\n" line breaks show as one.
    box.setText(QString::fromStdString(text).replace("\r\n", "\n"));
    switch (icon) {
        case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
        case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
        case MsgIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
        case MsgIcon::Critical: box.setIcon(QMessageBox::Critical); break;
        case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
    }
    switch (buttons) {
        case MsgButtons::OK: box.setStandardButtons(QMessageBox::Ok); break;
        case MsgButtons::OKCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
        case MsgButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
        case MsgButtons::YesNoCancel:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            break;
    }
    // The buttons speak the window's language whatever translations Qt has.
    const std::pair<QMessageBox::StandardButton, const char*> kTexts[] = {
        {QMessageBox::Ok, "確定"}, {QMessageBox::Cancel, "取消"}, {QMessageBox::Yes, "是"}, {QMessageBox::No, "否"}};
    for (const auto& [button, text] : kTexts) {
        if (QAbstractButton* shown = box.button(button)) shown->setText(QString::fromUtf8(text));
    }
    switch (box.exec()) {
        case QMessageBox::Ok: return MsgResult::OK;
        case QMessageBox::Yes: return MsgResult::Yes;
        case QMessageBox::No: return MsgResult::No;
        default: return buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Cancel;
    }
}

std::optional<std::string> QtPrompter::InputBox(const std::string& prompt, const std::string& title,
                                                const std::string& defaultText) {
    QInputDialog box(mParent);
    box.setWindowTitle(QString::fromStdString(title));
    box.setLabelText(QString::fromStdString(prompt));
    box.setTextValue(QString::fromStdString(defaultText));
    box.setOkButtonText(QString::fromUtf8("確定"));
    box.setCancelButtonText(QString::fromUtf8("取消"));
    if (box.exec() != QDialog::Accepted) return std::nullopt;
    return box.textValue().toStdString();
}

std::string QtPrompter::BrowseForFolder() {
    return QFileDialog::getExistingDirectory(mParent, QString(), QString(), QFileDialog::ShowDirsOnly).toStdString();
}

QString QtPrompter::QtFilter(const std::string& filter) {
    QStringList parts = QString::fromStdString(filter).split('|');
    QStringList entries;
    for (int i = 0; i + 1 < parts.size(); i += 2) entries << parts[i] + " (" + parts[i + 1] + ")";
    return entries.join(";;");
}

std::string QtPrompter::SaveFileName(const std::string& title, const std::string& filter) {
    return QFileDialog::getSaveFileName(mParent, QString::fromStdString(title), QString(), QtFilter(filter)).toStdString();
}

void QtPrompter::Yield() { QCoreApplication::processEvents(QEventLoop::AllEvents, 50); }

}  // namespace dorvex::ui
