#include "ui/ScanWindow.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDialog>
#include <QEventLoop>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>
#include <map>
#include <tuple>

#include "control/FrmScan.h"
#include "model/ScanList.h"
#include "support/ModGlobal.h"
#include "ui/Dialogs.h"
#include "ui/DocDetailView.h"
#include "ui/PageView.h"
#include "ui/QtPrompter.h"

namespace dorvex::ui {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// "&檔案(&F)": the last marked letter is the one the person types with Alt; Qt takes the
// first, so the other marks go.
QString MenuTitle(const std::string& caption) {
    const QString text = Q(caption);
    int last = -1;
    for (int i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '&') {
            if (text[i + 1] != '&') last = i;
            ++i;
        }
    }
    QString title;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size() && text[i + 1] == '&') {
            title += "&&";
            ++i;
        } else if (text[i] != '&' || i == last) {
            title += text[i];
        }
    }
    return title;
}

// A menu item's or button's caption as Qt shows it: an "&" is a letter, not a mark.
QString Caption(const std::string& caption) { return Q(caption).replace("&", "&&"); }

// A box shows these entries, in this order; it is filled again only when they change, so that
// an entry being chosen stays.
void ShowEntries(QComboBox* box, const std::vector<std::string>& entries) {
    QStringList wanted;
    for (const std::string& entry : entries) wanted << Q(entry);
    QStringList shown;
    for (int i = 0; i < box->count(); ++i) shown << box->itemText(i);
    if (shown == wanted) return;
    QSignalBlocker block(box);
    box->clear();
    box->addItems(wanted);
}

// The tree's pictures, one per value (the document states 2 to 11, 1 for lists and batches,
// 5 for the root): small page glyphs whose colour tells the value.
QIcon NodeIcon(int image) {
    static std::map<int, QIcon> icons;
    if (auto found = icons.find(image); found != icons.end()) return found->second;
    static const QColor kColours[] = {QColor(128, 128, 128), QColor(230, 180, 40), QColor(40, 160, 60),
                                      QColor(40, 150, 170),  QColor(245, 245, 245), QColor(50, 90, 200),
                                      QColor(240, 130, 30),  QColor(150, 70, 190),  QColor(140, 90, 40),
                                      QColor(230, 110, 170), QColor(210, 40, 40),   QColor(20, 100, 40)};
    const QColor colour = kColours[image >= 1 && image <= 11 ? image : 0];
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QPen(Qt::black, 1));
    if (image == 1) {  // a folder
        painter.setBrush(colour);
        painter.drawRect(1, 5, 13, 9);
        painter.drawRect(1, 3, 5, 2);
    } else if (image == 5) {  // the root: a stack of pages
        painter.setBrush(colour.lighter(140));
        painter.drawRect(4, 1, 10, 11);
        painter.setBrush(colour);
        painter.drawRect(1, 4, 10, 11);
    } else {  // a page with a coloured band
        painter.setBrush(Qt::white);
        painter.drawPolygon(QPolygon({QPoint(3, 1), QPoint(10, 1), QPoint(13, 4), QPoint(13, 14), QPoint(3, 14)}));
        painter.fillRect(QRect(4, 6, 9, 6), colour);
        painter.drawLine(10, 1, 10, 4);
        painter.drawLine(10, 4, 13, 4);
    }
    painter.end();
    return icons.emplace(image, QIcon(pixmap)).first->second;
}

// A thumbnail with a thin frame, so that a white page stands out from the list.
QPixmap Framed(const QImage& thumbnail) {
    if (thumbnail.isNull()) return QPixmap();
    QPixmap pixmap(thumbnail.size() + QSize(2, 2));
    pixmap.fill(QColor(90, 90, 90));
    QPainter painter(&pixmap);
    painter.drawImage(1, 1, thumbnail);
    return pixmap;
}

constexpr int kNodeRole = Qt::UserRole + 1;
constexpr int kImageRole = Qt::UserRole + 2;

int NodeOf(const QTreeWidgetItem* item) { return item ? item->data(0, kNodeRole).toInt() : 0; }

bool IsTextField(const QWidget* widget) {
    if (!widget) return false;
    if (auto* edit = qobject_cast<const QLineEdit*>(widget)) return !edit->isReadOnly();
    if (auto* combo = qobject_cast<const QComboBox*>(widget)) return combo->isEditable();
    return qobject_cast<const QAbstractSpinBox*>(widget) || qobject_cast<const QTextEdit*>(widget) ||
           qobject_cast<const QPlainTextEdit*>(widget);
}

// The keys the window previews; letters only without Ctrl, Alt or Meta.
KeyCode KeyCodeOf(const QKeyEvent& key) {
    const bool plain = !(key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    switch (key.key()) {
        case Qt::Key_P: return plain ? KeyCode::P : KeyCode::Other;
        case Qt::Key_N: return plain ? KeyCode::N : KeyCode::Other;
        case Qt::Key_L: return plain ? KeyCode::L : KeyCode::Other;
        case Qt::Key_X: return plain ? KeyCode::X : KeyCode::Other;
        case Qt::Key_D: return plain ? KeyCode::D : KeyCode::Other;
        case Qt::Key_M: return plain ? KeyCode::M : KeyCode::Other;
        case Qt::Key_F1: return KeyCode::F1;
        case Qt::Key_F4: return KeyCode::F4;
        case Qt::Key_F6: return KeyCode::F6;
        case Qt::Key_F8: return KeyCode::F8;
        case Qt::Key_F11: return KeyCode::F11;
        case Qt::Key_F12: return KeyCode::F12;
        case Qt::Key_Delete: return KeyCode::Delete;
        default: return KeyCode::Other;
    }
}

// The tree: drags and drops go to the controller, which says what may be dragged where.
class TreeView : public QTreeWidget {
public:
    using QTreeWidget::QTreeWidget;
    std::function<bool(int)> CanDrag;
    std::function<bool(int, int)> CanDrop;
    std::function<void(int, int)> Dropped;

    QTreeWidgetItem* ItemOf(int node) const {
        for (QTreeWidgetItemIterator it(const_cast<TreeView*>(this)); *it; ++it) {
            if (NodeOf(*it) == node) return *it;
        }
        return nullptr;
    }

protected:
    void startDrag(Qt::DropActions actions) override {
        if (CanDrag && CanDrag(NodeOf(currentItem()))) QTreeWidget::startDrag(actions);
    }
    void dragEnterEvent(QDragEnterEvent* event) override {
        if (event->mimeData()->hasFormat(mimeTypes().value(0))) event->acceptProposedAction();
        else event->ignore();
    }
    void dragMoveEvent(QDragMoveEvent* event) override {
        QTreeWidget::dragMoveEvent(event);  // scrolls and shows where it would go
        if (Allowed(event)) {
            event->setDropAction(Qt::MoveAction);
            event->accept();
        } else {
            event->ignore();
        }
    }
    void dropEvent(QDropEvent* event) override {
        const int source = NodeOf(currentItem());
        const int target = NodeOf(itemAt(event->position().toPoint()));
        if (!Allowed(event)) {
            event->ignore();
            return;
        }
        // Copy: the drag must not take the item away; the controller redraws the tree.
        event->setDropAction(Qt::CopyAction);
        event->accept();
        if (Dropped) Dropped(source, target);
    }

private:
    bool Allowed(QDropEvent* event) const {
        const int source = NodeOf(currentItem());
        const int target = NodeOf(itemAt(event->position().toPoint()));
        return event->mimeData()->hasFormat(mimeTypes().value(0)) && source != 0 && target != 0 && CanDrop &&
               CanDrop(source, target);
    }
};

}  // namespace

struct ScanWindow::Parts {
    QMenuBar* menuBar = nullptr;
    std::map<std::string, QMenu*> menus;      // the top entries by key
    std::map<std::string, QAction*> actions;  // menu items by key
    QToolBar* toolbar1 = nullptr;
    QToolBar* toolbar2 = nullptr;
    QToolBar* toolbar3 = nullptr;
    std::map<std::string, QAction*> buttons;  // Toolbar1 by key
    QMenu* treeMenu = nullptr;
    QMenu* imgEditMenu = nullptr;
    QMenu* ocrMenu = nullptr;
    bool built = false;

    QSplitter* splitter = nullptr;
    TreeView* tree = nullptr;
    std::vector<std::tuple<int, int, std::string>> treeShape;  // (node, parent, key) as drawn
    std::map<int, QTreeWidgetItem*> treeItems;                  // by node index
    QStackedWidget* viewers = nullptr;
    PageView* page = nullptr;
    QWidget* multiPanel = nullptr;
    QListWidget* thumbnails = nullptr;
    QToolButton* previousGroup = nullptr;
    QToolButton* nextGroup = nullptr;
    DocDetailView* detail = nullptr;

    QComboBox* batchBox = nullptr;
    QAction* batchBoxAction = nullptr;
    QComboBox* pixelType = nullptr;
    QAction* pixelTypeAction = nullptr;
    QComboBox* paperSize = nullptr;
    QAction* paperSizeAction = nullptr;
    QRadioButton* simplex = nullptr;
    QRadioButton* duplex = nullptr;
    QAction* duplexAction = nullptr;
    QLineEdit* angle = nullptr;
    QComboBox* pageBox = nullptr;

    QLabel* statusText = nullptr;
    QLabel* batchPanel = nullptr;
    QLabel* innoPanel = nullptr;
    QLabel* pagePanel = nullptr;
    QProgressBar* progress = nullptr;
    bool scanning = false;
    std::function<void()> scanEnded;  // the controller's own end-of-scan hook
};

ScanWindow::ScanWindow(FrmScan& controller, QtPrompter& prompter, QWidget* parent)
    : QMainWindow(parent), mController(controller), mPrompter(prompter), mParts(std::make_unique<Parts>()) {
    setObjectName("FrmScan");
    setWindowTitle(QApplication::applicationName().isEmpty() ? QStringLiteral("Dorvex") : QApplication::applicationName());
    BuildWidgets();
    qApp->installEventFilter(this);
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* window) {
        if (!window || window == windowHandle()) return;
        // A form of the program (a dialog of its own, not a message box, an input box, a file
        // or print dialog, a menu or a list) brings an activation when the person comes back.
        QWidget* top = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->windowHandle() == window) top = widget;
        }
        mBackFromForm = qobject_cast<QDialog*>(top) && !qobject_cast<QMessageBox*>(top) &&
                        !qobject_cast<QInputDialog*>(top) && !qobject_cast<QFileDialog*>(top) &&
                        !qobject_cast<QPrintDialog*>(top);
    });
}

ScanWindow::~ScanWindow() {
    qApp->removeEventFilter(this);
    ClearHooks();
}

// ---- Building ----

void ScanWindow::BuildWidgets() {
    Parts& p = *mParts;
    p.menuBar = new QMenuBar(this);
    p.menuBar->setObjectName("MenuBar");
    setMenuBar(p.menuBar);

    p.toolbar1 = addToolBar(QString());
    p.toolbar1->setObjectName("Toolbar1");
    p.toolbar1->setToolButtonStyle(Qt::ToolButtonTextOnly);
    p.toolbar1->setMovable(false);
    addToolBarBreak();
    p.toolbar2 = addToolBar(QString());
    p.toolbar2->setObjectName("Toolbar2");
    p.toolbar2->setMovable(false);
    p.toolbar3 = addToolBar(QString());
    p.toolbar3->setObjectName("Toolbar3");
    p.toolbar3->setToolButtonStyle(Qt::ToolButtonTextOnly);
    p.toolbar3->setMovable(false);

    // The boxes: the batch, the pixel type, the paper, the duplex options, the angle, the page.
    p.batchBox = new QComboBox;
    p.batchBox->setObjectName("CmbBatchNo");
    p.batchBox->setEditable(true);
    p.batchBox->setMinimumContentsLength(12);
    // A box with its caption before it, as one item of the second tool bar.
    auto labelled = [&p](const char* caption, QWidget* box) {
        auto* widget = new QWidget;
        auto* layout = new QHBoxLayout(widget);
        layout->setContentsMargins(4, 0, 4, 0);
        layout->addWidget(new QLabel(caption));
        layout->addWidget(box);
        return p.toolbar2->addWidget(widget);
    };
    p.batchBoxAction = labelled("批號：", p.batchBox);
    connect(p.batchBox, &QComboBox::editTextChanged, this, [this](const QString& text) {
        if (!mRefreshing) mController.CmbBatchNoText = text.toStdString();
    });

    p.pixelType = new QComboBox;
    p.pixelType->setObjectName("CmbPxType");
    for (const std::string& text : FrmScan::kPixelTypes) p.pixelType->addItem(Q(text));
    p.pixelTypeAction = labelled("影像類型：", p.pixelType);
    connect(p.pixelType, &QComboBox::activated, this, [this](int index) {
        mController.CmbPxType_Click(index);
        Refresh();
    });

    p.paperSize = new QComboBox;
    p.paperSize->setObjectName("CmbSize");
    p.paperSizeAction = labelled("紙張大小：", p.paperSize);
    connect(p.paperSize, &QComboBox::activated, this, [this](int index) {
        mController.CmbSize_Click(mParts->paperSize->itemText(index).toStdString());
        Refresh();
    });

    auto* duplexWidget = new QWidget;
    auto* duplexLayout = new QHBoxLayout(duplexWidget);
    duplexLayout->setContentsMargins(4, 0, 4, 0);
    p.simplex = new QRadioButton("單面掃描");
    p.simplex->setObjectName("OptDuplex0");
    p.duplex = new QRadioButton("雙面掃描");
    p.duplex->setObjectName("OptDuplex1");
    auto* duplexGroup = new QButtonGroup(duplexWidget);
    duplexGroup->addButton(p.simplex, 0);
    duplexGroup->addButton(p.duplex, 1);
    duplexLayout->addWidget(p.simplex);
    duplexLayout->addWidget(p.duplex);
    p.duplexAction = p.toolbar2->addWidget(duplexWidget);
    connect(duplexGroup, &QButtonGroup::idClicked, this, [this](int index) {
        mController.OptDuplex_Click(index);
        Refresh();
    });

    p.toolbar2->addSeparator();
    p.angle = new QLineEdit;
    p.angle->setObjectName("TxtAngle");
    p.angle->setMaximumWidth(60);
    p.toolbar2->addWidget(p.angle);
    connect(p.angle, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (mController.Loaded()) mController.Pages().TxtAngle_Change(text.toStdString());
    });

    p.toolbar2->addSeparator();
    p.pageBox = new QComboBox;
    p.pageBox->setObjectName("CbPg");
    p.pageBox->setMinimumContentsLength(4);
    p.toolbar2->addWidget(p.pageBox);
    connect(p.pageBox, &QComboBox::activated, this, [this](int index) { mController.CbPg_Click(index + 1); });

    // The tree beside the viewers, with a splitter between them.
    p.splitter = new QSplitter(Qt::Horizontal);
    p.splitter->setObjectName("Splitter1");
    p.tree = new TreeView;
    p.tree->setObjectName("TreeView1");
    p.tree->setHeaderHidden(true);
    p.tree->setEditTriggers(QAbstractItemView::EditKeyPressed);
    p.tree->setDragEnabled(true);
    p.tree->setAcceptDrops(true);
    p.tree->setDropIndicatorShown(true);
    p.tree->setDragDropMode(QAbstractItemView::DragDrop);
    p.tree->setDefaultDropAction(Qt::MoveAction);
    p.tree->setContextMenuPolicy(Qt::CustomContextMenu);
    p.tree->CanDrag = [this](int node) { return mController.Tree.CanDrag(node, IsOcrEnabled()); };
    p.tree->CanDrop = [this](int source, int target) {
        return IsOcrEnabled() && mController.ScanCompleteList() &&
               mController.Tree.CanDrop(*mController.ScanCompleteList(), source, target);
    };
    p.tree->Dropped = [this](int source, int target) { Later([=, this] { mController.TreeDragDrop(source, target); }); };
    connect(p.tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        const int node = NodeOf(item);
        if (node != 0) Later([=, this] { mController.TreeView1_Click(node); });
    });
    connect(p.tree, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
        const int node = NodeOf(item);
        if (node != 0) Later([=, this] { mController.TreeView1_DblClick(node); });
    });
    connect(p.tree, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) {
        const int node = NodeOf(item);
        const std::string label = item->text(0).toStdString();
        Later([=, this] { mController.TreeView1_AfterLabelEdit(node, label); });
    });
    connect(p.tree, &QWidget::customContextMenuRequested, this, &ScanWindow::ShowTreeMenu);
    p.splitter->addWidget(p.tree);

    p.viewers = new QStackedWidget;
    p.page = new PageView;
    p.page->setObjectName("OneViewer");
    p.page->BandDrawn = [this](const RasterRect& band) {
        ImageViewer& viewer = mController.Pages().OneViewer;
        const QSize view = mParts->page->viewport()->size();
        std::optional<RasterRect> area = viewer.BandDrawn(band, view.width(), view.height(), IsOcrEnabled());
        mParts->page->Refresh();
        if (area) mParts->page->BringIntoView(*area);
        // With recognition on, a band asks which field its text goes into.
        ShowOcrMenu(QCursor::pos());
    };
    // So does the right button released over the band.
    p.page->RightReleased = [this](const QPoint& at) { ShowOcrMenu(at); };
    p.page->Stroke = [this](const std::vector<StrokePoint>& points) { mController.OneViewer_Stroke(points); };
    p.viewers->addWidget(p.page);

    p.multiPanel = new QWidget;
    auto* multiLayout = new QVBoxLayout(p.multiPanel);
    multiLayout->setContentsMargins(0, 0, 0, 0);
    p.thumbnails = new QListWidget;
    p.thumbnails->setObjectName("MultiViewer");
    p.thumbnails->setViewMode(QListView::IconMode);
    p.thumbnails->setMovement(QListView::Static);
    p.thumbnails->setResizeMode(QListView::Adjust);
    p.thumbnails->setSelectionMode(QAbstractItemView::SingleSelection);
    p.thumbnails->setIconSize(QSize(ThumbnailStrip::kThumbnailWidth, ThumbnailStrip::kThumbnailWidth * 3 / 2));
    p.thumbnails->setSpacing(8);
    p.thumbnails->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(p.thumbnails, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0) Later([=, this] { mController.MultiViewer_Click(row); });
    });
    connect(p.thumbnails, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        const int row = mParts->thumbnails->row(item);
        Later([=, this] { mController.MultiViewer_DblClick(row); });
    });
    connect(p.thumbnails, &QWidget::customContextMenuRequested, this, &ScanWindow::ShowImgEditMenu);
    multiLayout->addWidget(p.thumbnails, 1);
    auto* groupRow = new QHBoxLayout;
    p.previousGroup = new QToolButton;
    p.previousGroup->setObjectName("MultiViewerPrevious");
    p.previousGroup->setArrowType(Qt::LeftArrow);
    p.nextGroup = new QToolButton;
    p.nextGroup->setObjectName("MultiViewerNext");
    p.nextGroup->setArrowType(Qt::RightArrow);
    groupRow->addStretch(1);
    groupRow->addWidget(p.previousGroup);
    groupRow->addWidget(p.nextGroup);
    groupRow->addStretch(1);
    multiLayout->addLayout(groupRow);
    connect(p.previousGroup, &QToolButton::clicked, this, [this] { mController.MultiViewer_Group(false); });
    connect(p.nextGroup, &QToolButton::clicked, this, [this] { mController.MultiViewer_Group(true); });
    p.viewers->addWidget(p.multiPanel);

    p.splitter->addWidget(p.viewers);
    // The field editor beside the viewer, shown with recognition on.
    p.detail = new DocDetailView(mController.OCRDetail);
    p.detail->hide();
    p.splitter->addWidget(p.detail);
    p.splitter->setStretchFactor(0, 0);
    p.splitter->setStretchFactor(1, 1);
    p.splitter->setStretchFactor(2, 0);
    p.splitter->setSizes({260, 1000, 340});
    setCentralWidget(p.splitter);

    // The status bar: the message panel, the batch, document and page panels, and the progress
    // of a scan.
    p.statusText = new QLabel;
    p.statusText->setObjectName("StatusText");
    p.batchPanel = new QLabel;
    p.batchPanel->setObjectName("BatchPanel");
    p.innoPanel = new QLabel;
    p.innoPanel->setObjectName("InnoPanel");
    p.pagePanel = new QLabel;
    p.pagePanel->setObjectName("PagePanel");
    p.progress = new QProgressBar;
    p.progress->setObjectName("ScanProgress");
    p.progress->setMaximumWidth(200);
    p.progress->hide();
    statusBar()->addWidget(p.statusText, 1);
    statusBar()->addPermanentWidget(p.progress);
    statusBar()->addPermanentWidget(p.batchPanel);
    statusBar()->addPermanentWidget(p.innoPanel);
    statusBar()->addPermanentWidget(p.pagePanel);
}

void ScanWindow::BuildCommandSurface() {
    Parts& p = *mParts;
    const CommandSurface& commands = mController.Commands;
    for (const MenuItem& item : commands.Menus) {
        const std::string key = item.Key;
        if (item.Parent.empty()) {
            QMenu* menu = p.menuBar->addMenu(MenuTitle(item.Caption));
            menu->setObjectName(Q(key));
            menu->menuAction()->setObjectName(Q(key));
            p.menus[key] = menu;
            p.actions[key] = menu->menuAction();
            continue;
        }
        QMenu* menu = p.menus.count(item.Parent) ? p.menus[item.Parent] : nullptr;
        if (!menu) continue;
        QAction* action = item.Caption == "-" ? menu->addSeparator() : menu->addAction(Caption(item.Caption));
        action->setObjectName(Q(key));
        if (item.Caption != "-") connect(action, &QAction::triggered, this, [this, key] { mController.MenuClick(key); });
        p.actions[key] = action;
    }

    for (const ToolButton& button : commands.Toolbar1) {
        const std::string caption = button.Caption;
        auto* action = new QAction(Caption(caption), this);
        action->setObjectName(Q(button.Key));
        action->setToolTip(Q(caption));
        action->setCheckable(button.Style == ButtonStyle::Check);
        if (button.Style == ButtonStyle::Dropdown && p.menus.count(button.Menu)) action->setMenu(p.menus[button.Menu]);
        connect(action, &QAction::triggered, this, [this, caption] { mController.ButtonClick(caption); });
        p.toolbar1->addAction(action);
        if (auto* tool = qobject_cast<QToolButton*>(p.toolbar1->widgetForAction(action)); tool && action->menu()) {
            tool->setPopupMode(QToolButton::MenuButtonPopup);
        }
        p.buttons[button.Key] = action;
    }
    for (const std::string& caption : commands.Toolbar3) {
        QAction* action = p.toolbar3->addAction(Caption(caption));
        action->setToolTip(Q(caption));
        connect(action, &QAction::triggered, this, [this, caption] { mController.ButtonClick(caption); });
    }

    p.treeMenu = new QMenu(this);
    p.treeMenu->setObjectName("mnuTreeTop");
    for (const MenuItem& item : commands.TreeMenu) {
        if (item.Parent.empty()) continue;
        QAction* action = p.treeMenu->addAction(Caption(item.Caption));
        action->setObjectName(Q(item.Key));
        const std::string key = item.Key;
        connect(action, &QAction::triggered, this, [this, key] {
            const MenuItem* chosen = mController.Commands.Menu(key);
            if (chosen && chosen->Cmd == Command::TreeRename) {
                // Label editing is the tree's own: the controller hears the new label.
                if (QTreeWidgetItem* item = mParts->tree->ItemOf(mController.Tree.Selected)) mParts->tree->editItem(item);
                return;
            }
            mController.MenuClick(key);
        });
        p.actions[key] = action;
    }
    p.imgEditMenu = new QMenu(this);
    p.imgEditMenu->setObjectName("mnuImgEditTop");
    for (const MenuItem& item : commands.ImgEditMenu) {
        if (item.Parent.empty()) continue;
        QAction* action = p.imgEditMenu->addAction(Caption(item.Caption));
        action->setObjectName(Q(item.Key));
        const std::string key = item.Key;
        connect(action, &QAction::triggered, this, [this, key] { mController.MenuClick(key); });
        p.actions[key] = action;
    }
    p.ocrMenu = new QMenu(this);
    p.ocrMenu->setObjectName("mnuOCRTop");
    for (std::size_t i = 0; i < mController.OcrMenu.size(); ++i) {
        const MenuItem& item = mController.OcrMenu[i];
        QAction* action = p.ocrMenu->addAction(Caption(item.Caption));
        action->setObjectName(Q(item.Key));
        connect(action, &QAction::triggered, this, [this, i] {
            mController.OcrMenuClick(static_cast<int>(i));
            Refresh();
        });
    }
    p.built = true;
}

// ---- Drawing the controller ----

void ScanWindow::Refresh() {
    if (!mController.Loaded() || mRefreshing) return;
    mRefreshing = true;
    if (!mParts->built && !mController.Commands.Menus.empty()) BuildCommandSurface();
    RefreshCommands();
    RefreshTree();
    RefreshViewers();
    RefreshBoxes();
    RefreshStatus();
    mRefreshing = false;
    if (mController.CloseRequested && !mCloseQueued && !mClosed) {
        mCloseQueued = true;
        QTimer::singleShot(0, this, [this] { close(); });
    }
}

void ScanWindow::RefreshCommands() {
    Parts& p = *mParts;
    const CommandSurface& commands = mController.Commands;
    for (const auto* items : {&commands.Menus, &commands.TreeMenu, &commands.ImgEditMenu}) {
        for (const MenuItem& item : *items) {
            auto found = p.actions.find(item.Key);
            if (found == p.actions.end()) continue;
            QAction* action = found->second;
            action->setEnabled(item.Enabled);
            action->setVisible(item.Visible);
            if (!action->isSeparator() && !action->menu()) {
                action->setCheckable(item.Checked);
                action->setChecked(item.Checked);
            }
        }
    }
    for (const ToolButton& button : commands.Toolbar1) {
        auto found = p.buttons.find(button.Key);
        if (found == p.buttons.end()) continue;
        found->second->setEnabled(button.Enabled);
        found->second->setVisible(button.Visible);
        if (found->second->isCheckable()) found->second->setChecked(button.Pressed);
    }
    p.toolbar3->setVisible(IsOcrEnabled());
    // "整頁" gives the room of the side panels to the viewer.
    p.detail->setVisible(IsOcrEnabled() && !commands.FullPage());
}

void ScanWindow::RefreshTree() {
    Parts& p = *mParts;
    const ScanTree& tree = mController.Tree;
    p.tree->setVisible(tree.Visible && !mController.Commands.FullPage());
    if (!tree.Visible) return;

    // The nodes in display order with their parents and keys: while these stay, the items stay
    // (a click, a drag or a double click in progress keeps its item) and only change.
    std::vector<std::tuple<int, int, std::string>> shape;
    std::function<void(int, int)> walk = [&](int parent, int index) {
        shape.emplace_back(index, parent, tree.Node(index)->Key);
        for (int child : tree.Children(index)) walk(index, child);
    };
    for (int top : tree.Children(0)) walk(0, top);

    QSignalBlocker block(p.tree);
    if (shape != p.treeShape) {
        const int scrolled = p.tree->verticalScrollBar()->value();
        p.tree->clear();
        p.treeItems.clear();
        for (const auto& [index, parent, key] : shape) {
            auto* item = new QTreeWidgetItem;
            item->setData(0, kNodeRole, index);
            Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
            const bool document = key.rfind("d,", 0) == 0;
            if (document) flags |= Qt::ItemIsEditable | Qt::ItemIsDragEnabled;
            if (document || key.rfind("b,", 0) == 0) flags |= Qt::ItemIsDropEnabled;
            item->setFlags(flags);
            if (parent == 0) p.tree->addTopLevelItem(item);
            else p.treeItems[parent]->addChild(item);
            p.treeItems[index] = item;
        }
        p.treeShape = std::move(shape);
        p.tree->verticalScrollBar()->setValue(scrolled);
    }
    for (const auto& [index, item] : p.treeItems) {
        const TreeNode* node = tree.Node(index);
        if (item->text(0) != Q(node->Text)) item->setText(0, Q(node->Text));
        if (item->data(0, kImageRole).toInt() != node->Image) {
            item->setData(0, kImageRole, node->Image);
            item->setIcon(0, NodeIcon(node->Image));
        }
        if (item->isExpanded() != node->Expanded) item->setExpanded(node->Expanded);
    }
    auto selected = p.treeItems.find(tree.Selected);
    QTreeWidgetItem* current = selected == p.treeItems.end() ? nullptr : selected->second;
    if (current && p.tree->currentItem() != current) p.tree->setCurrentItem(current);
}

void ScanWindow::RefreshViewers() {
    Parts& p = *mParts;
    ScanPages& pages = mController.Pages();
    p.page->SetViewer(&pages.OneViewer);
    p.page->Refresh();
    p.viewers->setCurrentWidget(mController.Commands.MultiViewerVisible ? p.multiPanel : static_cast<QWidget*>(p.page));

    // The thumbnails change in place, so that a click or a double click in progress keeps its
    // item.
    const ThumbnailStrip& strip = pages.MultiViewer;
    QSignalBlocker block(p.thumbnails);
    const int count = static_cast<int>(strip.Items.size());
    while (p.thumbnails->count() > count) delete p.thumbnails->takeItem(p.thumbnails->count() - 1);
    for (int row = 0; row < count; ++row) {
        const ThumbnailStrip::Item& item = strip.Items[static_cast<std::size_t>(row)];
        QListWidgetItem* entry = p.thumbnails->item(row);
        if (!entry) {
            entry = new QListWidgetItem;
            p.thumbnails->addItem(entry);
        }
        if (entry->text() != QString::number(item.page)) entry->setText(QString::number(item.page));
        const QImage thumbnail = ToQImage(item.thumbnail);
        if (entry->data(kImageRole).value<QImage>() != thumbnail) {
            entry->setData(kImageRole, thumbnail);
            entry->setIcon(QIcon(Framed(thumbnail)));
        }
    }
    if (p.thumbnails->currentRow() != strip.Selected) p.thumbnails->setCurrentRow(strip.Selected);
    const std::shared_ptr<CInno>& doc = pages.CurrentDoc;
    const int pageCount = doc ? doc->ActPage() : 0;
    p.previousGroup->setEnabled(!strip.Items.empty() && strip.Offset > 0);
    p.nextGroup->setEnabled(!strip.Items.empty() && strip.Offset + static_cast<int>(strip.Items.size()) < pageCount);
}

void ScanWindow::RefreshBoxes() {
    Parts& p = *mParts;
    const std::string mode = mController.Properties(prop::Mode);
    const bool scans = mode != "1";

    p.batchBoxAction->setVisible(mode == "0");
    ShowEntries(p.batchBox, mController.CmbBatchNo);
    if (p.batchBox->currentText() != Q(mController.CmbBatchNoText)) p.batchBox->setEditText(Q(mController.CmbBatchNoText));

    p.pixelTypeAction->setVisible(scans);
    p.pixelType->setCurrentIndex(mController.PixelTypeIndex());

    p.paperSizeAction->setVisible(scans && mController.PaperSizeBoxVisible());
    if (mController.PaperSizeBoxVisible()) {
        ShowEntries(p.paperSize, mController.PaperSizeTexts());
        p.paperSize->setCurrentIndex(p.paperSize->findText(Q(mController.PaperSizeText())));
    }

    p.duplexAction->setVisible(scans);
    (mController.DuplexIndex() == 1 ? p.duplex : p.simplex)->setChecked(true);

    if (!p.angle->hasFocus() && p.angle->text() != Q(mController.Pages().TxtAngle)) p.angle->setText(Q(mController.Pages().TxtAngle));

    const std::shared_ptr<CInno>& doc = mController.Pages().CurrentDoc;
    const int pages = doc ? doc->ActPage() : 0;
    if (p.pageBox->count() != pages) {
        p.pageBox->clear();
        for (int page = 1; page <= pages; ++page) p.pageBox->addItem(QString::number(page));
    }
    p.pageBox->setCurrentIndex(doc ? doc->SelectedIndex - 1 : -1);
    p.pageBox->setEnabled(mController.Commands.PageBoxEnabled);
}

void ScanWindow::RefreshStatus() {
    Parts& p = *mParts;
    p.statusText->setText(Q(mController.StatusText));
    p.batchPanel->setText(Q(mController.StatusBar.BatchPanel));
    p.innoPanel->setText(Q(mController.StatusBar.InnoPanel));
    p.pagePanel->setText(Q(mController.StatusBar.PagePanel));
    p.progress->setVisible(p.scanning);
}

// ---- Gestures ----

void ScanWindow::Later(std::function<void()> gesture) {
    QTimer::singleShot(0, this, [this, gesture = std::move(gesture)] {
        if (mClosed || !mController.Loaded()) return;
        gesture();
        Refresh();
    });
}

void ScanWindow::ShowTreeMenu(const QPoint& position) {
    const int node = NodeOf(mParts->tree->itemAt(position));
    // Without recognition the tree has no context menu.
    if (node == 0 || !mParts->treeMenu || mParts->treeMenu->isEmpty()) return;
    mController.TreeView1_Click(node);
    Refresh();
    mParts->treeMenu->exec(mParts->tree->viewport()->mapToGlobal(position));
}

void ScanWindow::ShowOcrMenu(const QPoint& at) {
    if (!mController.OcrMenuWanted() || !mParts->ocrMenu) return;
    // After the gesture's own event, with the first field chosen.
    QTimer::singleShot(0, this, [this, at] {
        if (mClosed || mParts->ocrMenu->isEmpty() || mParts->ocrMenu->isVisible()) return;
        mParts->ocrMenu->setActiveAction(mParts->ocrMenu->actions().front());
        mParts->ocrMenu->exec(at, mParts->ocrMenu->actions().front());
    });
}

void ScanWindow::ShowImgEditMenu(const QPoint& position) {
    if (!mParts->imgEditMenu || mController.Pages().MultiViewer.Selected < 0) return;
    mParts->imgEditMenu->exec(mParts->thumbnails->viewport()->mapToGlobal(position));
}

bool ScanWindow::eventFilter(QObject* watched, QEvent* event) {
    // Keys reach the window first (it previews them), each once: at its window handle.
    if (event->type() == QEvent::KeyPress && watched == windowHandle() && mController.Loaded() && !mClosed) {
        auto* key = static_cast<QKeyEvent*>(event);
        const KeyCode code = KeyCodeOf(*key);
        if (code == KeyCode::Other) return false;
        const bool fKey = code == KeyCode::F1 || code == KeyCode::F4 || code == KeyCode::F6 || code == KeyCode::F8 ||
                          code == KeyCode::F11 || code == KeyCode::F12;
        // Letters and Delete belong to a text field that has the focus.
        if (!fKey && IsTextField(QApplication::focusWidget())) return false;
        mController.KeyDown(code);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- The window's life ----

void ScanWindow::SetHooks() {
    FrmScan& c = mController;
    c.TopMostWindow = this;
    c.OnRedraw = [this] { Refresh(); };
    c.ShowUploadWindow = [this](FrmUpload& upload) { RunUploadDialog(upload, this); };
    c.ShowConfDialog = [this](FrmConf& dialog) { RunConfDialog(dialog, this); };
    c.ShowDelayUploadDialog = [this](FrmDelayUpload& dialog) { RunDelayUploadDialog(dialog, this); };
    c.ShowAbout = [this] { RunAboutDialog(this); };
    c.ShowListWindow = [this](FrmList& window) { RunListDialog(window, this); };
    c.ShowOcrWindow = [this](FrmOCR& form) { RunOcrDialog(form, this); };
    c.PrintPage = [this] {
        QPrinter printer;
        QPrintDialog dialog(&printer, this);
        if (dialog.exec() == QDialog::Accepted) PrintShownPage(printer);
    };
}

void ScanWindow::ClearHooks() {
    FrmScan& c = mController;
    if (c.TopMostWindow == this) c.TopMostWindow = nullptr;
    if (!mOpened) return;
    c.OnRedraw = nullptr;
    c.ShowUploadWindow = nullptr;
    c.ShowConfDialog = nullptr;
    c.ShowDelayUploadDialog = nullptr;
    c.ShowAbout = nullptr;
    c.ShowListWindow = nullptr;
    c.ShowOcrWindow = nullptr;
    c.PrintPage = nullptr;
    if (!c.Loaded()) return;
    ScanPages& pages = c.Pages();
    pages.ShowBorderRemove = nullptr;
    pages.ShowDelete = nullptr;
    pages.ShowMultiMove = nullptr;
    pages.ShowRotate = nullptr;
    pages.ShowMergeCutDialog = nullptr;
    Acquisition& scanner = c.Scanner();
    scanner.ShowSelectSource = nullptr;
    scanner.ShowSourceSettings = nullptr;
    scanner.OnPageHandled = nullptr;
    scanner.OnScanEnded = mParts->scanEnded;
}

void ScanWindow::ScanProgress() {
    Parts& p = *mParts;
    if (!p.scanning) {
        p.scanning = true;
        p.progress->setRange(0, 0);  // a feeder does not say how many pages come
        p.progress->show();
    }
    // The page just handled is shown before the next one is read.
    Refresh();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void ScanWindow::Open() {
    if (mOpened) return;
    mOpened = true;
    if (!mPrompter.Parent()) mPrompter.SetParent(this);
    SetHooks();
    mController.Form_Load();
    // The keep-alive timer ticks once a minute; the controller counts only while a session
    // cookie is named.
    auto* refresh = new QTimer(this);
    refresh->setInterval(60000);
    connect(refresh, &QTimer::timeout, this, [this] { mController.RefreshTimer_Timer(); });
    refresh->start();

    ScanPages& pages = mController.Pages();
    pages.ShowBorderRemove = [this](FrmBorderRemove& dialog) { RunBorderRemoveDialog(dialog, this); };
    pages.ShowDelete = [this](FrmDelete& dialog) { RunDeleteDialog(dialog, this); };
    pages.ShowMultiMove = [this](FrmMultiMove& dialog) { RunMultiMoveDialog(dialog, this); };
    pages.ShowRotate = [this](FrmRotate& dialog) { RunRotateDialog(dialog, this); };
    pages.ShowMergeCutDialog = [this](FrmMergeCut& dialog) { RunMergeCutDialog(dialog, this); };
    Acquisition& scanner = mController.Scanner();
    scanner.ShowSelectSource = [this](SourceSelection& selection) { return RunSelectSourceDialog(selection, this); };
    scanner.ShowSourceSettings = [this](SourceSettingsForm& form) { return RunSourceSettingsDialog(form, this); };
    scanner.OnPageHandled = [this](IScanDevice&, std::int32_t) { ScanProgress(); };
    mParts->scanEnded = scanner.OnScanEnded;
    scanner.OnScanEnded = [this] {
        mParts->scanning = false;
        mParts->progress->hide();
        if (mParts->scanEnded) mParts->scanEnded();
    };

    if (IsTopMostEnabled()) setWindowFlag(Qt::WindowStaysOnTopHint, true);
    Refresh();
    showMaximized();
    activateWindow();
    raise();
}

void ScanWindow::RunModal() {
    Open();
    if (mClosed) return;
    QEventLoop loop;
    mLoop = &loop;
    loop.exec();
    mLoop = nullptr;
}

bool ScanWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate && mOpened && !mClosing && !mClosed) {
        // Once when the window first becomes active, and again when the person comes back to
        // it from another form of the program; never inside itself.
        if ((!mActivatedOnce || mBackFromForm) && !mActivating) {
            mActivatedOnce = true;
            mBackFromForm = false;
            mActivating = true;
            mController.Form_Activate();
            mActivating = false;
            mController.Redraw();
        }
    }
    return QMainWindow::event(event);
}

void ScanWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && mOpened) {
        mController.Minimized = isMinimized();
        if (!mController.Minimized) mController.Redraw();
    }
}

void ScanWindow::closeEvent(QCloseEvent* event) {
    if (mClosing) {  // a second close while the first one asks its questions
        event->ignore();
        return;
    }
    if (!mClosed) {
        mClosing = true;
        if (mOpened && mController.Loaded()) mController.Form_QueryUnload();
        mClosing = false;
        mClosed = true;
    }
    event->accept();
    if (mLoop) mLoop->quit();
}

void ScanWindow::SetTopMostOrder(bool topMost) {
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == topMost) return;
    const bool shown = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, topMost);
    if (shown) show();  // a change of flags hides the window; its state (maximised) stays
}

bool ScanWindow::PrintShownPage(QPrinter& printer) {
    const ImageViewer& viewer = mController.Pages().OneViewer;
    if (!viewer.HasImage()) return false;
    const QImage image = ToQImage(viewer.Image());
    QPainter painter;
    if (!painter.begin(&printer)) return false;
    const QRect page = painter.viewport();
    // The page's own size on paper, made smaller when it does not fit.
    const double dpiX = image.dotsPerMeterX() > 0 ? image.dotsPerMeterX() * 0.0254 : printer.resolution();
    const double dpiY = image.dotsPerMeterY() > 0 ? image.dotsPerMeterY() * 0.0254 : printer.resolution();
    QSizeF size(image.width() * printer.resolution() / dpiX, image.height() * printer.resolution() / dpiY);
    if (size.width() > page.width() || size.height() > page.height()) size.scale(page.size(), Qt::KeepAspectRatio);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(QPointF(0, 0), size), image);
    return painter.end();
}

}  // namespace dorvex::ui
