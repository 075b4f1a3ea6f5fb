// The page-count window (FrmList): one checkable row per document with its local and server
// page counts and a status, and the query and update buttons; the rows are the controller's.

#include <QDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "server/Queries.h"
#include "ui/DialogParts.h"
#include "ui/Dialogs.h"

namespace dorvex::ui {
namespace {

using parts::Q;

class ListView : public QDialog {
public:
    ListView(FrmList& controller, QWidget* parent) : QDialog(parent), mC(controller) {
        setObjectName(QStringLiteral("FrmList"));
        setWindowTitle(QStringLiteral("頁數"));
        mRows = new QTreeWidget(this);
        mRows->setObjectName(QStringLiteral("InnoList"));
        mRows->setRootIsDecorated(false);
        mRows->setHeaderLabels({QStringLiteral("文件編號"), QStringLiteral("頁數"), QStringLiteral("伺服器頁數"),
                                QStringLiteral("狀態")});
        connect(mRows, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
            if (column != 0) return;
            mC.SetChecked(static_cast<std::size_t>(mRows->indexOfTopLevelItem(item)), item->checkState(0) == Qt::Checked);
        });

        auto* query = new QPushButton(QStringLiteral("查詢"), this);
        query->setObjectName(QStringLiteral("CmdQuery"));
        query->setAutoDefault(false);
        connect(query, &QPushButton::clicked, this, [this] {
            mC.CmdQuery_Click();
            Draw();
        });
        auto* update = new QPushButton(QStringLiteral("更新"), this);
        update->setObjectName(QStringLiteral("CmdUpdate"));
        update->setAutoDefault(false);
        connect(update, &QPushButton::clicked, this, [this] {
            mC.CmdUpdate_Click();
            Draw();
        });
        auto* buttons = new QHBoxLayout;
        buttons->addWidget(query);
        buttons->addWidget(update);
        buttons->addStretch(1);
        auto* all = new QVBoxLayout(this);
        all->addWidget(mRows);
        all->addLayout(buttons);
        resize(560, 360);
        Draw();
    }

private:
    // The rows as the controller holds them (a reply may have removed some).
    void Draw() {
        QSignalBlocker block(mRows);
        mRows->clear();
        for (const FrmList::Row& row : mC.InnoList()) {
            auto* item = new QTreeWidgetItem(mRows, {Q(row.inno), Q(row.localPages), Q(row.serverPages), Q(row.status)});
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(0, row.checked ? Qt::Checked : Qt::Unchecked);
        }
        mRows->header()->resizeSections(QHeaderView::ResizeToContents);
    }

    FrmList& mC;
    QTreeWidget* mRows = nullptr;
};

}  // namespace

void RunListDialog(FrmList& dialog, QWidget* parent) {
    ListView view(dialog, parent);
    view.exec();
}

}  // namespace dorvex::ui
