#pragma once
// What the dialog views share: drawing the controllers' widget models into Qt widgets (without
// raising the widgets' own change signals), and the OK and Cancel buttons.

#include <QString>
#include <string>

#include "model/DialogControls.h"

class QComboBox;
class QDialog;
class QHBoxLayout;
class QLineEdit;
class QPushButton;

namespace dorvex::ui::parts {

inline QString Q(const std::string& text) { return QString::fromStdString(text); }
inline std::string S(const QString& text) { return text.toStdString(); }

// The entries (replaced only when they differ), the selection and, for an editable box, the
// edit text.
void Draw(QComboBox* box, const ComboBox& model);
// The text (only when it differs, so that the cursor stays) and whether it takes input.
void Draw(QLineEdit* edit, const TextBox& model);

struct OkCancel {
    QPushButton* ok = nullptr;      // "確定", CmdOK, the default button (Enter)
    QPushButton* cancel = nullptr;  // "取消", CmdCancel (Escape too)
    QHBoxLayout* row = nullptr;     // both, right-aligned
};
OkCancel MakeOkCancel(QDialog* dialog);

}  // namespace dorvex::ui::parts
