#pragma once
// The field editor's Qt view (OCRDetail): the type list and the eight field rows on a panel
// that scrolls when the editor is shorter than its rows. It draws DocDetail and hands every
// edit, focus change, selection and type choice back to it.

#include <QWidget>
#include <array>

#include "ocr/DocDetail.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace dorvex::ui {

class DocDetailView : public QWidget {
    Q_OBJECT
public:
    DocDetailView(DocDetail& controller, QWidget* parent = nullptr);
    // Draws the controller's state: texts, the type, the visible rows and the date's colour.
    void Draw();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Selected(int field);

    DocDetail& mDetail;
    QComboBox* mType = nullptr;
    std::array<QLabel*, DocDetail::kFields + 1> mLabels{};
    std::array<QLineEdit*, DocDetail::kFields> mFields{};
    bool mDrawing = false;
};

}  // namespace dorvex::ui
