// Takes the screenshots of docs/screenshots: the scan window after a file-feeder scan of the
// sample letters, and each dialog, as a clerk sees them. Run by scripts/screenshots.sh under
// Xvfb; each window is grabbed once it has been drawn, then closed.
//   ui_screenshots OUTDIR LETTERS

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>

#include "control/Acquisition.h"
#include "control/FrmScan.h"
#include "control/OrbScan.h"
#include "demo/DemoSession.h"
#include "model/EditDialogs.h"
#include "model/FrmBorderRemove.h"
#include "model/FrmConf.h"
#include "model/FrmDelayUpload.h"
#include "platform/ScanDevice.h"
#include "server/Queries.h"
#include "server/Upload.h"
#include "ui/ConsentDialog.h"
#include "ui/Dialogs.h"
#include "ui/QtHost.h"

namespace {

std::string gOut;
int gTaken = 0;

// Grabs the active modal dialog (or `window`) after it has been drawn, saves it and closes it.
void GrabLater(const std::string& name, QWidget* window = nullptr, int delayMs = 400,
               std::function<void()> then = nullptr) {
    QTimer::singleShot(delayMs, [name, window, then] {
        QWidget* target = window ? window : QApplication::activeModalWidget();
        if (!target) target = QApplication::activeWindow();
        if (!target) {
            std::cerr << "ui_screenshots: nothing to grab for " << name << "\n";
            return;
        }
        std::string path = gOut + "/" + name + ".png";
        if (target->grab().save(QString::fromStdString(path))) {
            ++gTaken;
            std::cout << path << "\n";
        } else {
            std::cerr << "ui_screenshots: cannot write " << path << "\n";
        }
        if (then) then();
        else target->close();
    });
}

// Grabs the window named `objectName` once it is shown (checked every 50 ms for 30 s), leaving it
// open: for a window that closes itself.
void GrabWhenShown(const QString& objectName, const std::string& name) {
    auto* poll = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, [poll, tries, objectName, name] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->objectName() == objectName && modal->isVisible()) {
            if (modal->grab().save(QString::fromStdString(gOut + "/" + name + ".png"))) {
                ++gTaken;
                std::cout << gOut << "/" << name << ".png\n";
            }
        } else if (++*tries < 600) {
            return;
        } else {
            std::cerr << "ui_screenshots: " << name << " was never shown\n";
        }
        poll->stop();
        poll->deleteLater();
    });
    poll->start(50);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::cerr << "usage: ui_screenshots OUTDIR LETTERS\n";
        return 64;
    }
    gOut = argv[1];
    std::filesystem::create_directories(gOut);
    try {
        dorvex::DemoSession session(argv[2]);
        dorvex::ui::QtHost host;
        dorvex::OrbScan control(host);
        session.Configure(control);
        // Recognition on: the letters are read after the scan and their fields shown.
        control.SetEnableOCR(true);
        // The scan window after a scan of the letters, with a page shown; then its upload.
        host.BeforeLoad = [](dorvex::FrmScan& window) {
            QTimer::singleShot(300, [&window] {
                GrabWhenShown("FrmOCR", "ocr-progress");
                window.StartScan(true);
                QWidget* shown = nullptr;
                for (QWidget* top : QApplication::topLevelWidgets()) {
                    if (top->objectName() == "FrmScan") shown = top;
                }
                // Without a window manager "maximised" means nothing: a desk-sized window.
                if (shown) shown->resize(1400, 900);
                GrabLater("scan-window", shown, 800, [&window, shown] {
                    GrabLater("upload-from-window", nullptr, 1500);
                    window.ButtonClick("儲存");
                    GrabLater("closing-question", nullptr, 600);  // "是否刪除暫存檔?"
                    shown->close();
                });
            });
        };
        control.ShowMultiTwain("");
        std::string holdings;
        bool held = session.Holdings(holdings);
        std::cout << "the server holds:\n" << holdings;
        if (!held) return 1;

        dorvex::FrmConf conf;
        conf.Form_Load();
        GrabLater("settings");
        dorvex::ui::RunConfDialog(conf, nullptr);
        dorvex::FrmBorderRemove border;
        GrabLater("border-remove");
        dorvex::ui::RunBorderRemoveDialog(border, nullptr);
        dorvex::FrmDelete remove;
        remove.MaxPage = 5;
        remove.CurrentPage = 2;
        GrabLater("delete-pages");
        dorvex::ui::RunDeleteDialog(remove, nullptr);
        dorvex::FrmMultiMove move;
        move.Inno = "1150000101";
        move.Pages = 5;
        GrabLater("move-pages");
        dorvex::ui::RunMultiMoveDialog(move, nullptr);
        dorvex::FrmRotate rotate;
        GrabLater("rotate");
        dorvex::ui::RunRotateDialog(rotate, nullptr);
        dorvex::FrmDelayUpload delay;
        std::tm morning{};
        morning.tm_hour = 9;
        morning.tm_min = 5;
        delay.Form_Load(morning);
        GrabLater("delay-upload");
        dorvex::ui::RunDelayUploadDialog(delay, nullptr);
        dorvex::FrmMergeCut mergeCut;
        mergeCut.Inno = "1150000101";
        mergeCut.TotalPage = 2;
        mergeCut.AddInno("1150000102");
        mergeCut.Form_Load();
        GrabLater("merge-split");
        dorvex::ui::RunMergeCutDialog(mergeCut, nullptr);
        dorvex::SourceSelection selection{{{"test:0", "Noname", "frontend-tester", "virtual device"},
                                           {"file:" + std::string(argv[2]), "Dorvex", "file feeder", "folder"}},
                                          1};
        GrabLater("select-source");
        dorvex::ui::RunSelectSourceDialog(selection, nullptr);
        auto feeder = dorvex::OpenScanDevice("file:" + std::string(argv[2]));
        dorvex::SourceSettingsForm form{feeder->Name(), feeder->Options(),
                                        [&](const std::string& name, const std::string& value) {
                                            return feeder->SetOption(name, value);
                                        },
                                        [&] { return feeder->Options(); }};
        GrabLater("source-settings");
        dorvex::ui::RunSourceSettingsDialog(form, nullptr);
        GrabLater("about");
        dorvex::ui::RunAboutDialog(nullptr);

        // The upload window at the end of a run to the demonstration server, and the page counts.
        dorvex::FrmUpload upload(host.Prompter());
        upload.ServerURL = session.Url();
        upload.Operator = dorvex::DemoSession::kOperator;
        upload.UploadType = 1;
        upload.EnableOverWrite = true;
        upload.AddFile(std::string(argv[2]) + "/01.tif", "1150000101", 1, "", 0, "");
        upload.AddFile(std::string(argv[2]) + "/05.tif", "1150000102", 1, "", 0, "");
        GrabLater("upload", nullptr, 1500);
        dorvex::ui::RunUploadDialog(upload, nullptr);
        dorvex::FrmList counts(host.Prompter());
        counts.ServerURL = session.Url();
        counts.Add("1150000101", 2);
        counts.Add("1150000102", 3);
        counts.CmdQuery_Click();
        GrabLater("page-counts");
        dorvex::ui::RunListDialog(counts, nullptr);
        // The host's question when a listed web page first connects.
        dorvex::ui::ConsentDialog consent;
        QEventLoop answered;
        consent.Ask("https://desk.example.org", [&answered](dorvex::host::ConsentAnswer) { answered.quit(); });
        GrabLater("host-consent", consent.Current());
        answered.exec();
    } catch (const std::exception& e) {
        std::cerr << "ui_screenshots: " << e.what() << "\n";
        return 1;
    }
    return gTaken > 0 ? 0 : 1;
}
