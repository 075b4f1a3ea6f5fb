#include "ui/ConsentDialog.h"

#include <QMessageBox>
#include <QPushButton>

namespace dorvex::ui {

void ConsentDialog::Ask(const std::string& origin, std::function<void(host::ConsentAnswer)> done) {
    auto* box = new QMessageBox(QMessageBox::Question, QStringLiteral("Dorvex"),
                                QStringLiteral("The web page %1 wants to use the scanner on this desk.\n\n"
                                               "It will open the scan and upload windows here; it cannot read or "
                                               "write your files except through what you do in those windows.")
                                    .arg(QString::fromStdString(origin)));
    QPushButton* once = box->addButton(QStringLiteral("Allow once"), QMessageBox::AcceptRole);
    QPushButton* always = box->addButton(QStringLiteral("Always allow"), QMessageBox::YesRole);
    QPushButton* deny = box->addButton(QStringLiteral("Deny"), QMessageBox::RejectRole);
    box->setDefaultButton(deny);
    box->setEscapeButton(deny);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowFlag(Qt::WindowStaysOnTopHint);
    QObject::connect(box, &QMessageBox::finished, box, [box, once, always, done = std::move(done)] {
        QAbstractButton* clicked = box->clickedButton();
        done(clicked == once     ? host::ConsentAnswer::Once
             : clicked == always ? host::ConsentAnswer::Always
                                 : host::ConsentAnswer::Deny);
    });
    (void)deny;
    mBox = box;
    box->open();
}

}  // namespace dorvex::ui
