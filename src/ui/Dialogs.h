#pragma once
// The Qt views of the scan window's dialogs. Each shows its controller modally and returns
// when the dialog has closed; the controller holds the result (ClickOK and the values).

class QWidget;

namespace dorvex {

class FrmBorderRemove;
class FrmConf;
class FrmDelayUpload;
class FrmDelete;
class FrmList;
class FrmMergeCut;
class FrmMultiMove;
class FrmOCR;
class FrmRotate;
class FrmUpload;
struct SourceSelection;
struct SourceSettingsForm;

namespace ui {

void RunConfDialog(FrmConf& dialog, QWidget* parent);
void RunBorderRemoveDialog(FrmBorderRemove& dialog, QWidget* parent);
void RunDeleteDialog(FrmDelete& dialog, QWidget* parent);
void RunMultiMoveDialog(FrmMultiMove& dialog, QWidget* parent);
void RunRotateDialog(FrmRotate& dialog, QWidget* parent);
void RunMergeCutDialog(FrmMergeCut& dialog, QWidget* parent);
void RunListDialog(FrmList& dialog, QWidget* parent);
// The hour and minute of a delayed upload; the controller is loaded (Form_Load) first.
void RunDelayUploadDialog(FrmDelayUpload& dialog, QWidget* parent);
// Runs the upload while the dialog is shown (its progress and status line), then waits for OK
// unless the upload closes itself.
void RunUploadDialog(FrmUpload& upload, QWidget* parent);
// Runs the recognition while the window is shown and closes it at the end.
void RunOcrDialog(FrmOCR& form, QWidget* parent);
// false when cancelled.
bool RunSelectSourceDialog(SourceSelection& selection, QWidget* parent);
bool RunSourceSettingsDialog(SourceSettingsForm& form, QWidget* parent);
void RunAboutDialog(QWidget* parent);

}  // namespace ui
}  // namespace dorvex
