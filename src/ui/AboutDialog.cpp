// The about box: the library's name and its version.

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "support/Version.h"
#include "ui/Dialogs.h"

namespace dorvex::ui {

void RunAboutDialog(QWidget* parent) {
    QDialog box(parent);
    box.setObjectName(QStringLiteral("About"));
    box.setWindowTitle(QStringLiteral("Dorvex"));
    auto* title = new QLabel(QStringLiteral("Dorvex"), &box);
    title->setObjectName(QStringLiteral("LabTitle"));
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    title->setFont(big);
    auto* version = new QLabel(QString::fromUtf8(LibraryVersion()), &box);
    version->setObjectName(QStringLiteral("LabVersion"));
    auto* ok = new QPushButton(QStringLiteral("確定"), &box);
    ok->setObjectName(QStringLiteral("CmdOK"));
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, &box, &QDialog::accept);
    auto* all = new QVBoxLayout(&box);
    all->addWidget(title, 0, Qt::AlignHCenter);
    all->addWidget(version, 0, Qt::AlignHCenter);
    all->addWidget(ok, 0, Qt::AlignHCenter);
    box.exec();
}

}  // namespace dorvex::ui
