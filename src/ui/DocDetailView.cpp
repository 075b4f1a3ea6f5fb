#include "ui/DocDetailView.h"

#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "ui/DialogParts.h"

namespace dorvex::ui {
namespace {

using parts::Q;
using parts::S;

// Positions cross between Qt's UTF-16 units and the controller's characters.
int Characters(const QString& text, int units) { return static_cast<int>(text.left(units).toUcs4().size()); }
int Units(const QString& text, int characters) {
    int units = 0;
    for (int seen = 0; seen < characters && units < text.size(); ++seen) units += text.at(units).isHighSurrogate() ? 2 : 1;
    return units;
}

}  // namespace

DocDetailView::DocDetailView(DocDetail& controller, QWidget* parent) : QWidget(parent), mDetail(controller) {
    setObjectName(QStringLiteral("OCRDetail"));
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("mScroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* client = new QWidget;
    client->setObjectName(QStringLiteral("picClient"));
    auto* grid = new QGridLayout(client);
    grid->setVerticalSpacing(6);
    const std::vector<std::string> titles = mDetail.GetTitles();
    for (int row = 0; row <= DocDetail::kFields; ++row) {
        mLabels[static_cast<std::size_t>(row)] = new QLabel(Q(titles[static_cast<std::size_t>(row)]));
        mLabels[static_cast<std::size_t>(row)]->setObjectName(QStringLiteral("LabTitle%1").arg(row));
        grid->addWidget(mLabels[static_cast<std::size_t>(row)], row, 0, Qt::AlignRight | Qt::AlignVCenter);
    }
    mType = new QComboBox;
    mType->setObjectName(QStringLiteral("CbType"));
    // Editable but typed into by no one: it can show a type the list does not hold.
    mType->setEditable(true);
    mType->lineEdit()->setReadOnly(true);
    for (const std::string& name : mDetail.TypeNames()) mType->addItem(Q(name));
    grid->addWidget(mType, 0, 1);
    connect(mType, &QComboBox::activated, this, [this](int index) { mDetail.CbType_Click(index); });
    for (int field = 0; field < DocDetail::kFields; ++field) {
        auto* edit = new QLineEdit;
        edit->setObjectName(QStringLiteral("TxtContent%1").arg(field));
        edit->installEventFilter(this);
        grid->addWidget(edit, field + 1, 1);
        mFields[static_cast<std::size_t>(field)] = edit;
        connect(edit, &QLineEdit::textEdited, this, [this, field](const QString& text) {
            if (!mDrawing) mDetail.TxtContent_Change(field, S(text));
            Draw();  // the date's colour
        });
        connect(edit, &QLineEdit::selectionChanged, this, [this, field] { Selected(field); });
        connect(edit, &QLineEdit::cursorPositionChanged, this, [this, field] { Selected(field); });
    }
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(DocDetail::kFields + 1, 1);
    scroll->setWidget(client);
    auto* all = new QVBoxLayout(this);
    all->setContentsMargins(0, 0, 0, 0);
    all->addWidget(scroll);

    // The controller outlives this view: its handler only draws while the view exists.
    QPointer<DocDetailView> self(this);
    mDetail.Refreshed.Connect([self] {
        if (self) self->Draw();
    });
    Draw();
}

void DocDetailView::Selected(int field) {
    if (mDrawing) return;
    QLineEdit* edit = mFields[static_cast<std::size_t>(field)];
    const QString text = edit->text();
    if (edit->hasSelectedText()) {
        const int start = edit->selectionStart();
        const int begin = Characters(text, start);
        mDetail.TxtContent_Select(field, begin, Characters(text, start + static_cast<int>(edit->selectedText().size())) - begin);
    } else {
        mDetail.TxtContent_Select(field, Characters(text, edit->cursorPosition()), 0);
    }
}

bool DocDetailView::eventFilter(QObject* watched, QEvent* event) {
    for (int field = 0; field < DocDetail::kFields; ++field) {
        if (watched != mFields[static_cast<std::size_t>(field)]) continue;
        if (event->type() == QEvent::FocusIn) {
            mDetail.TxtContent_GotFocus(field);
            Selected(field);
        } else if (event->type() == QEvent::FocusOut) {
            // A menu or another window taking the keyboard for a moment does not end the edit.
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason) mDetail.TxtContent_LostFocus(field);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void DocDetailView::Draw() {
    mDrawing = true;
    {
        QSignalBlocker block(mType);
        mType->setCurrentIndex(mDetail.TypeIndex());
        if (mType->currentText() != Q(mDetail.TypeText())) mType->setEditText(Q(mDetail.TypeText()));
    }
    // What the recognition was unsure of stands out, so that the clerk checks it first.
    const QString unsureStyle = QStringLiteral("background-color: #fff1a8; border: 2px solid #e08a00;");
    const QString unsureTip = Q(DocDetail::kUnsureTip);
    mType->setStyleSheet(mDetail.TypeUnsure() ? QStringLiteral("QComboBox { %1 }").arg(unsureStyle) : QString());
    mType->setToolTip(mDetail.TypeUnsure() ? unsureTip : QString());
    for (int field = 0; field < DocDetail::kFields; ++field) {
        QLineEdit* edit = mFields[static_cast<std::size_t>(field)];
        const QString text = Q(mDetail.Text(field));
        if (edit->text() != text) {
            edit->setText(text);
            if (field == mDetail.FocusedField()) edit->setCursorPosition(Units(text, mDetail.CaretPosition()));
        }
        const bool unsure = mDetail.Unsure(field);
        // (A style sheet takes over the text colour: the date's red goes into it.)
        const QString dateColour = field == DocDetail::kDateField && mDetail.DateIsRed() ? QStringLiteral(" color: #ff0000;") : QString();
        edit->setStyleSheet(unsure ? QStringLiteral("QLineEdit { %1%2 }").arg(unsureStyle, dateColour) : QString());
        edit->setToolTip(unsure ? unsureTip : QString());
        mLabels[static_cast<std::size_t>(field + 1)]->setText(Q(mDetail.GetTitles()[static_cast<std::size_t>(field + 1)]) +
                                                              (unsure ? QStringLiteral(" ⚠") : QString()));
        const bool shown = mDetail.RowVisible(field + 1);
        edit->setVisible(shown);
        mLabels[static_cast<std::size_t>(field + 1)]->setVisible(shown);
    }
    QPalette palette = mFields[DocDetail::kDateField]->palette();
    palette.setColor(QPalette::Text, mDetail.DateIsRed() ? QColor(255, 0, 0) : QColor(0, 0, 0));
    mFields[DocDetail::kDateField]->setPalette(palette);
    mDrawing = false;
}

}  // namespace dorvex::ui
