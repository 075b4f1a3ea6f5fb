// The dialogs' Qt views, driven through their widgets as a person would (found by the names the
// controllers give them), with the controllers' results checked afterwards. Runs on Qt's
// offscreen platform; the scanner dialogs use SANE's test backend, configured privately for the
// process before any SANE call, and the upload window the reference server in-process.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <functional>
#include <memory>

#include "ScriptedPrompter.h"
#include "TestImages.h"
#include "TestUtil.h"
#include "control/Acquisition.h"
#include "control/FrmScan.h"
#include "control/OrbScan.h"
#include "control/ScanPages.h"
#include "model/EditDialogs.h"
#include "model/FrmDelayUpload.h"
#include "model/FrmBorderRemove.h"
#include "model/FrmConf.h"
#include "model/PageEditing.h"
#include "model/ScanProperties.h"
#include "model/SettingsStore.h"
#include "refserver/RefServer.h"
#include "refserver/Storage.h"
#include "server/Cipher.h"
#include "server/Queries.h"
#include "server/Upload.h"
#include "support/ModFS.h"
#include "support/Trace.h"
#include "support/Version.h"
#include "ui/Dialogs.h"
#include "ui/QtHost.h"
#include "ui/QtPrompter.h"

namespace dorvex {
namespace {

// ---- Driving a modal dialog ----

// Acts on the modal dialog once it is shown; `act` ends by closing it. Should the dialog still
// be open after a while, the watchdog closes it and fails the test instead of hanging.
class OnShown {
public:
    explicit OnShown(std::function<void(QDialog&)> act) {
        QTimer::singleShot(0, &mContext, [act = std::move(act)] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog) {
                ADD_FAILURE() << "no modal dialog is shown";
                return;
            }
            act(*dialog);
        });
        QTimer::singleShot(30000, &mContext, [] {
            while (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                ADD_FAILURE() << "the dialog " << dialog->objectName().toStdString() << " was left open";
                dialog->done(QDialog::Rejected);
            }
        });
    }

private:
    QObject mContext;  // ends the timers with the test
};

template <typename T>
T* Find(QWidget& dialog, const char* name) {
    T* child = dialog.findChild<T*>(QLatin1String(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

std::string Text(const QString& text) { return text.toStdString(); }

QStringList Items(QComboBox* box) {
    QStringList items;
    for (int i = 0; box && i < box->count(); ++i) items << box->itemText(i);
    return items;
}

bool HasLabel(QWidget& dialog, const QString& text) {
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        if (label->text() == text) return true;
    }
    return false;
}

// A click on a check box or option button lands on its box, whatever width the layout gave it.
void Click(QAbstractButton* button) {
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

void Retype(QLineEdit* edit, const char* text) {
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, QString::fromUtf8(text));
}

// ---- FrmConf and FrmBorderRemove ----

TEST(ConfDialog, ShowsTheSettingsAndWritesTheChosenOnesBack) {
    ScanProperties p;
    p.Set(prop::DPI, "300");
    p.Set(prop::Deskew, "1");
    p.Set(prop::DeskewAngle, "10");
    p.Set(prop::Contrast, "-20");
    FrmConf dialog;
    dialog.LoadFrom(p);
    bool stayedOpen = false;
    OnShown script([&](QDialog& d) {
        EXPECT_EQ(Text(d.windowTitle()), "掃描設定");
        QStringList frames;
        for (QGroupBox* frame : d.findChildren<QGroupBox*>()) frames << frame->title();
        EXPECT_EQ(frames, (QStringList{"掃描器", "條碼設定", "紙張設定", "影像處理", "雜項"}));
        for (const char* label : {"解  析  度：", "亮        度：", "對        比：", "掃描方式：", "影像類型：", "雙面掃描：",
                                  "傳輸模式：", "圖形介面：", "驅動程式：", "進紙方向：", "識別方式：", "紙張大小：",
                                  "縮圖數量：", "繼續掃描：", "度"}) {
            EXPECT_TRUE(HasLabel(d, QString::fromUtf8(label))) << label;
        }
        auto* dpi = Find<QComboBox>(d, "CmbDPI");
        auto* pixel = Find<QComboBox>(d, "CmbPxType");
        auto* feeder = Find<QComboBox>(d, "CmbFeeder");
        auto* items = Find<QComboBox>(d, "CmbItems");
        auto* brightness = Find<QSlider>(d, "HSBrightness");
        auto* contrast = Find<QSlider>(d, "HSContrast");
        auto* deskew = Find<QCheckBox>(d, "ChkDeskew");
        auto* useBarcode = Find<QCheckBox>(d, "ChkUseBC");
        auto* angle = Find<QLineEdit>(d, "TxtDeskewAngle");
        auto* barcode = Find<QLineEdit>(d, "TxtBarCode");
        auto* blank = Find<QLineEdit>(d, "TxtBlankPercent");
        auto* ok = Find<QPushButton>(d, "CmdOK");
        if (!dpi || !pixel || !feeder || !items || !brightness || !contrast || !deskew || !useBarcode || !angle ||
            !barcode || !blank || !ok) {
            d.reject();
            return;
        }
        EXPECT_EQ(Text(dpi->currentText()), "300");
        EXPECT_EQ(Items(pixel), (QStringList{"黑白", "灰階", "彩色"}));
        EXPECT_EQ(items->count(), 16);
        EXPECT_EQ(brightness->minimum(), -1000);
        EXPECT_EQ(brightness->maximum(), 1000);
        EXPECT_EQ(contrast->value(), -20);
        EXPECT_EQ(Text(Find<QLabel>(d, "LabContrast")->text()), "-20");
        EXPECT_TRUE(deskew->isChecked());
        EXPECT_EQ(Text(angle->text()), "10");
        EXPECT_TRUE(angle->isEnabled());
        EXPECT_FALSE(barcode->isEnabled());
        EXPECT_FALSE(blank->isEnabled());
        EXPECT_TRUE(ok->isEnabled());

        // A deskew angle out of range disables OK; OK then does nothing.
        Retype(angle, "46");
        EXPECT_FALSE(ok->isEnabled());
        QTest::mouseClick(ok, Qt::LeftButton);
        QTest::keyClick(angle, Qt::Key_Return);
        stayedOpen = d.isVisible();
        Retype(angle, "45");
        EXPECT_TRUE(ok->isEnabled());
        // Barcode recognition wants a separator text.
        Click(useBarcode);
        EXPECT_TRUE(barcode->isEnabled());
        EXPECT_FALSE(ok->isEnabled());
        QTest::keyClicks(barcode, "SEP");
        EXPECT_TRUE(ok->isEnabled());

        dpi->setCurrentIndex(3);
        feeder->setCurrentIndex(1);
        items->setCurrentIndex(3);
        brightness->setValue(250);
        EXPECT_EQ(Text(Find<QLabel>(d, "LabBrightness")->text()), "250");
        QTest::mouseClick(ok, Qt::LeftButton);
    });
    ui::RunConfDialog(dialog, nullptr);

    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(dialog.ClickOK);
    EXPECT_TRUE(dialog.Closed());
    dialog.StoreTo(p);
    EXPECT_EQ(p.Get(prop::DPI), "400");
    EXPECT_EQ(p.Get(prop::Feeder), "1");
    EXPECT_EQ(p.Get(prop::ItemLimit), "4");
    EXPECT_EQ(p.Get(prop::Brightness), "250");
    EXPECT_EQ(p.Get(prop::Contrast), "-20");
    EXPECT_EQ(p.Get(prop::UseBarcode), "1");
    EXPECT_EQ(p.Get(prop::BCSeparator), "SEP");
    EXPECT_EQ(p.Get(prop::DeskewAngle), "45");
}

TEST(ConfDialog, ATypedResolutionIsTakenAndEscapeCancels) {
    ScanProperties p;
    FrmConf typed;
    typed.LoadFrom(p);
    OnShown typing([](QDialog& d) {
        auto* dpi = Find<QComboBox>(d, "CmbDPI");
        if (!dpi || !dpi->lineEdit()) return d.reject();
        dpi->lineEdit()->selectAll();
        QTest::keyClicks(dpi->lineEdit(), "250");
        QTest::keyClick(dpi->lineEdit(), Qt::Key_Return);  // Enter is OK
    });
    ui::RunConfDialog(typed, nullptr);
    EXPECT_TRUE(typed.ClickOK);
    EXPECT_EQ(typed.DPI, 250);

    FrmConf cancelled;
    cancelled.LoadFrom(p);
    OnShown escaping([](QDialog& d) {
        if (auto* feeder = Find<QComboBox>(d, "CmbFeeder")) feeder->setCurrentIndex(1);
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    ui::RunConfDialog(cancelled, nullptr);
    EXPECT_FALSE(cancelled.ClickOK);
    EXPECT_TRUE(cancelled.Closed());
    EXPECT_EQ(cancelled.Feeder, 0);
}

TEST(BorderRemoveDialog, SidesAndClampedLimits) {
    ScanProperties p;
    p.Set(prop::BRFlag, "5");
    FrmBorderRemove dialog;
    dialog.LoadFrom(p);
    dialog.Form_Activate();
    OnShown script([](QDialog& d) {
        EXPECT_EQ(Text(d.windowTitle()), "去黑邊設定");
        auto* left = Find<QCheckBox>(d, "ChkLeft");
        auto* right = Find<QCheckBox>(d, "ChkRight");
        auto* bottom = Find<QCheckBox>(d, "ChkBottom");
        auto* noise = Find<QLineEdit>(d, "TxtWNlength");
        if (!left || !right || !bottom || !noise) return d.reject();
        EXPECT_EQ(Text(left->text()), "左邊");
        EXPECT_TRUE(left->isChecked());
        EXPECT_FALSE(right->isChecked());
        EXPECT_EQ(Text(noise->text()), "5");
        Click(bottom);
        Retype(noise, "25");
        QTest::mouseClick(Find<QPushButton>(d, "CmdOK"), Qt::LeftButton);
    });
    ui::RunBorderRemoveDialog(dialog, nullptr);
    EXPECT_TRUE(dialog.ClickOK);
    EXPECT_EQ(dialog.Flag, 13);
    EXPECT_EQ(dialog.WNlength, 10);
    EXPECT_EQ(dialog.Percent, 20);
}

// ---- The editing dialogs ----

struct DeleteRun {
    bool clickOK;
    std::int32_t start, end;
};

DeleteRun RunDelete(const std::function<void(QDialog&)>& act) {
    FrmDelete dialog;
    dialog.MaxPage = 5;
    dialog.CurrentPage = 3;
    OnShown script([&](QDialog& d) {
        act(d);
        if (d.isVisible()) QTest::mouseClick(Find<QPushButton>(d, "CmdOK"), Qt::LeftButton);
    });
    ui::RunDeleteDialog(dialog, nullptr);
    return {dialog.ClickOK, dialog.StartPage, dialog.EndPage};
}

TEST(DeleteDialog, EachChoiceGivesItsRange) {
    DeleteRun after = RunDelete([](QDialog& d) {
        EXPECT_EQ(Text(d.windowTitle()), "刪除指定頁數");
        EXPECT_EQ(Text(Find<QRadioButton>(d, "OptType0")->text()), "本頁以後全部頁數刪除");
        EXPECT_EQ(Text(Find<QRadioButton>(d, "OptType1")->text()), "本頁以前全部頁數刪除");
        EXPECT_EQ(Text(Find<QRadioButton>(d, "OptType2")->text()), "指定範圍刪除");
        EXPECT_TRUE(Find<QRadioButton>(d, "OptType0")->isChecked());
        EXPECT_FALSE(Find<QLineEdit>(d, "TxtStart")->isEnabled());
        EXPECT_FALSE(Find<QLineEdit>(d, "TxtEnd")->isEnabled());
    });
    EXPECT_TRUE(after.clickOK);
    EXPECT_EQ(after.start, 3);
    EXPECT_EQ(after.end, 5);

    DeleteRun before = RunDelete([](QDialog& d) { Click(Find<QRadioButton>(d, "OptType1")); });
    EXPECT_TRUE(before.clickOK);
    EXPECT_EQ(before.start, 1);
    EXPECT_EQ(before.end, 3);

    std::string typedStart, typedEnd;
    DeleteRun range = RunDelete([&](QDialog& d) {
        Click(Find<QRadioButton>(d, "OptType2"));
        auto* start = Find<QLineEdit>(d, "TxtStart");
        auto* end = Find<QLineEdit>(d, "TxtEnd");
        EXPECT_TRUE(start->isEnabled());
        QTest::keyClicks(start, "2x.");  // only digits get in
        QTest::keyClick(end, Qt::Key_4, Qt::KeypadModifier);
        typedStart = Text(start->text());
        typedEnd = Text(end->text());
    });
    EXPECT_EQ(typedStart, "2");
    EXPECT_EQ(typedEnd, "4");
    EXPECT_TRUE(range.clickOK);
    EXPECT_EQ(range.start, 2);
    EXPECT_EQ(range.end, 4);

    bool closed = false;
    DeleteRun beyond = RunDelete([&](QDialog& d) {
        Click(Find<QRadioButton>(d, "OptType2"));
        QTest::keyClicks(Find<QLineEdit>(d, "TxtStart"), "2");
        QTest::keyClicks(Find<QLineEdit>(d, "TxtEnd"), "9");
        QTest::mouseClick(Find<QPushButton>(d, "CmdOK"), Qt::LeftButton);
        closed = !d.isVisible();
    });
    EXPECT_TRUE(closed);  // quietly, without a message
    EXPECT_FALSE(beyond.clickOK);
}

TEST(MultiMoveDialog, OkOnlyForAMoveThatChangesSomething) {
    FrmMultiMove dialog;
    dialog.Inno = "A1";
    dialog.Pages = 5;
    OnShown script([](QDialog& d) {
        EXPECT_EQ(Text(d.windowTitle()), "移動指定頁面");
        EXPECT_EQ(Text(Find<QLabel>(d, "LabInfo")->text()), "A1 總頁數：5");
        EXPECT_TRUE(HasLabel(d, "頁移動到第"));
        EXPECT_TRUE(HasLabel(d, "之後"));
        auto* ok = Find<QPushButton>(d, "CmdOK");
        EXPECT_FALSE(ok->isEnabled());
        QTest::keyClicks(Find<QLineEdit>(d, "TxtStart"), "2");
        QTest::keyClicks(Find<QLineEdit>(d, "TxtEnd"), "3");
        auto* target = Find<QLineEdit>(d, "TxtTarget");
        QTest::keyClicks(target, "1");
        EXPECT_FALSE(ok->isEnabled());  // after page 1 is where they already are
        Retype(target, "4");
        EXPECT_TRUE(ok->isEnabled());
        QTest::mouseClick(ok, Qt::LeftButton);
    });
    ui::RunMultiMoveDialog(dialog, nullptr);
    EXPECT_TRUE(dialog.IsClickOK);
    EXPECT_EQ(dialog.StartPage(), 2);
    EXPECT_EQ(dialog.EndPage(), 3);
    EXPECT_EQ(dialog.TargetPage(), 4);
}

TEST(RotateDialog, AFixedOrATypedAngle) {
    FrmRotate fixed;
    OnShown fixedScript([](QDialog& d) {
        EXPECT_EQ(Text(d.windowTitle()), "旋轉影像");
        EXPECT_EQ(Text(d.findChild<QGroupBox*>()->title()), "旋轉角度");
        EXPECT_EQ(Text(Find<QRadioButton>(d, "OptAngle0")->text()), "90度");
        EXPECT_EQ(Text(Find<QRadioButton>(d, "OptAngle2")->text()), "270度");
        auto* ok = Find<QPushButton>(d, "CmdOK");
        EXPECT_FALSE(ok->isEnabled());  // no angle yet
        EXPECT_FALSE(Find<QLineEdit>(d, "TxtAngle")->isEnabled());
        Click(Find<QRadioButton>(d, "OptAngle1"));
        EXPECT_TRUE(ok->isEnabled());
        QTest::keyClick(&d, Qt::Key_Return);
    });
    ui::RunRotateDialog(fixed, nullptr);
    EXPECT_TRUE(fixed.ClickOK);
    EXPECT_EQ(fixed.Angle(), 18000);

    FrmRotate free;
    OnShown freeScript([](QDialog& d) {
        auto* ok = Find<QPushButton>(d, "CmdOK");
        auto* angle = Find<QLineEdit>(d, "TxtAngle");
        Click(Find<QRadioButton>(d, "OptFreeAngle"));
        EXPECT_TRUE(angle->isEnabled());
        EXPECT_FALSE(ok->isEnabled());
        QTest::keyClicks(angle, "12.5");
        EXPECT_TRUE(ok->isEnabled());
        QTest::mouseClick(ok, Qt::LeftButton);
    });
    ui::RunRotateDialog(free, nullptr);
    EXPECT_TRUE(free.ClickOK);
    EXPECT_EQ(free.Angle(), 1250);

    FrmRotate cancelled;
    OnShown cancelScript([](QDialog& d) {
        Click(Find<QRadioButton>(d, "OptAngle0"));
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    ui::RunRotateDialog(cancelled, nullptr);
    EXPECT_FALSE(cancelled.ClickOK);
}

TEST(DelayUploadDialog, TheChosenHourAndMinuteBecomeTheTime) {
    FrmDelayUpload dialog;
    std::tm morning{};
    morning.tm_hour = 9;
    morning.tm_min = 5;
    dialog.Form_Load(morning);
    OnShown script([](QDialog& d) {
        EXPECT_EQ(Text(d.windowTitle()), "延遲上傳");
        auto* hour = Find<QComboBox>(d, "CmbHour");
        EXPECT_EQ(hour->count(), 15);
        EXPECT_EQ(Text(hour->currentText()), "10");
        hour->setCurrentIndex(14);
        Find<QComboBox>(d, "CmbMinute")->setCurrentIndex(3);
        QTest::mouseClick(Find<QPushButton>(d, "CmdOK"), Qt::LeftButton);
    });
    ui::RunDelayUploadDialog(dialog, nullptr);
    EXPECT_TRUE(dialog.ClickOK());
    EXPECT_EQ(dialog.Time(), "23:30");

    FrmDelayUpload cancelled;
    cancelled.Form_Load(morning);
    OnShown cancelScript([](QDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); });
    ui::RunDelayUploadDialog(cancelled, nullptr);
    EXPECT_FALSE(cancelled.ClickOK());
}

TEST(MergeCutDialog, TheSentenceShowsWhatTheActionNeeds) {
    FrmMergeCut dialog;
    dialog.Inno = "A";
    dialog.TotalPage = 5;
    dialog.AddInno("B");
    dialog.AddInno("C");
    dialog.SetEnableAttachment(true);
    dialog.Form_Load();
    OnShown script([](QDialog& d) {
        EXPECT_EQ(Text(d.windowTitle()), "合併或分割");
        EXPECT_EQ(Text(Find<QLabel>(d, "LabMsg")->text()), "文件概要：A   總頁數：5");
        for (const char* word : {"第", "頁", "至"}) EXPECT_TRUE(HasLabel(d, word)) << word;
        auto* action = Find<QComboBox>(d, "CbMC");
        auto* targets = Find<QComboBox>(d, "CbAllInno");
        auto* number = Find<QLineEdit>(d, "TxtInno");
        auto* to = Find<QLabel>(d, "LabTo");
        EXPECT_EQ(Items(action), (QStringList{"合併", "分割", "附件"}));
        EXPECT_EQ(Items(Find<QComboBox>(d, "CbDirection")), (QStringList{"以前", "以後"}));
        EXPECT_EQ(Find<QComboBox>(d, "CbSelPage")->count(), 5);
        EXPECT_EQ(Text(action->currentText()), "分割");
        EXPECT_FALSE(number->isHidden());
        EXPECT_TRUE(targets->isHidden());
        action->setCurrentIndex(2);  // 附件: no target, no "至"
        EXPECT_TRUE(number->isHidden());
        EXPECT_TRUE(targets->isHidden());
        EXPECT_TRUE(to->isHidden());
        action->setCurrentIndex(0);  // 合併: the documents to merge into
        EXPECT_FALSE(targets->isHidden());
        EXPECT_TRUE(number->isHidden());
        EXPECT_FALSE(to->isHidden());
        targets->setCurrentIndex(1);
        Find<QComboBox>(d, "CbSelPage")->setCurrentIndex(2);
        Find<QComboBox>(d, "CbDirection")->setCurrentIndex(0);
        QTest::mouseClick(Find<QPushButton>(d, "CmdOK"), Qt::LeftButton);
    });
    ui::RunMergeCutDialog(dialog, nullptr);
    EXPECT_TRUE(dialog.ClickOK);
    EXPECT_TRUE(dialog.WantMerge());
    EXPECT_EQ(dialog.StartAt(), 2);
    EXPECT_FALSE(dialog.StartAfter());
    EXPECT_EQ(dialog.TargetInno(), "C");
}

// ---- The upload window and the page-count window, against the reference server ----

class WithServer : public ::testing::Test {
protected:
    void SetUp() override {
        refserver::RefServerOptions options;
        options.dataDir = tmp.File("data");
        server = std::make_unique<refserver::RefServer>(options);
        server->Start();
        url = server->BaseUrl() + "upload.php";
    }
    void TearDown() override { server->Stop(); }
    void Prepare(FrmUpload& upload) {
        upload.ServerURL = url;
        upload.Operator = "op";
        upload.UploadType = 1;
    }
    std::string Tiff(const std::string& name, std::size_t size) {
        std::string path = tmp.File(name);
        test::WriteGrayTiff(path, 1, 8, 8, size);
        return path;
    }

    test::TempFolder tmp;
    std::unique_ptr<refserver::RefServer> server;
    std::string url;
    ui::QtPrompter person;
};

TEST_F(WithServer, TheUploadWindowShowsTheProgressAndWaitsForOk) {
    FrmUpload upload(person);
    Prepare(upload);
    upload.AddFile(Tiff("DOC1.tif", 2621440), "DOC1", 1, "", 0, "");  // three chunks
    std::vector<int> shownParts;
    int shownMaximum = 0;
    bool okWhileRunning = true;
    std::string lastStatus;
    QTimer poll;
    OnShown script([&](QDialog& d) {
        auto* bar = Find<QProgressBar>(d, "UploadPro");
        auto* ok = Find<QPushButton>(d, "CmdOK");
        auto* message = Find<QLabel>(d, "LabMsg");
        if (!bar || !ok || !message) return d.reject();
        okWhileRunning = ok->isEnabled();  // shown, the run not started yet
        QObject::connect(bar, &QProgressBar::valueChanged, &d, [&, bar](int value) {
            if (bar->maximum() == 3) shownParts.push_back(value);
            shownMaximum = std::max(shownMaximum, bar->maximum());
        });
        // The person presses OK once it is offered.
        QObject::connect(&poll, &QTimer::timeout, &d, [&, ok, message] {
            if (!ok->isEnabled()) return;
            poll.stop();
            lastStatus = Text(message->text());
            QTest::mouseClick(ok, Qt::LeftButton);
        });
        poll.start(20);
    });
    ui::RunUploadDialog(upload, nullptr);

    EXPECT_FALSE(okWhileRunning);
    EXPECT_EQ(shownMaximum, 3);
    EXPECT_EQ(shownParts, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(lastStatus, "DOC1上傳成功");
    EXPECT_TRUE(upload.Closed);
    EXPECT_EQ(upload.Report(), "DOC1,1,上傳成功,\r\n");
    refserver::Storage storage(tmp.File("data"));
    auto stored = storage.Find("DOC1");
    ASSERT_TRUE(stored);
    ASSERT_EQ(stored->files.size(), 1u);
    EXPECT_EQ(ReadFileBytes(stored->files[0].path), ReadFileBytes(tmp.File("DOC1.tif")));
}

TEST_F(WithServer, TheUploadWindowClosesItselfWhenAskedTo) {
    FrmUpload upload(person);
    Prepare(upload);
    upload.AutoClose = true;
    upload.AddFile(Tiff("DOC2.tif", 0), "DOC2", 1, "", 0, "");
    OnShown watch([](QDialog&) {});
    ui::RunUploadDialog(upload, nullptr);
    EXPECT_TRUE(upload.Closed);
    EXPECT_EQ(upload.Report(), "DOC2,1,上傳成功,\r\n");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(WithServer, TheControlsEventsBecomeOneMessageEach) {
    test::ScriptedPrompter clerk;
    InProcessHost host(clerk);
    OrbScan control(host);
    control.SetEncServerURL(EncryptText(url));
    control.SetEncOperator(EncryptText("op"));
    std::vector<QJsonObject> sent;
    ui::RelayEvents(control, [&](const QJsonObject& message) { sent.push_back(message); });

    // The upload of a folder: one AfterUpload per file, with the server's answer.
    std::filesystem::create_directories(tmp.File("out"));
    std::filesystem::copy_file(Tiff("E1.tif", 0), tmp.File("out/E1.tif"));
    clerk.folder = tmp.File("out");
    control.UploadDir("P1");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(QJsonDocument(sent[0]).toJson(QJsonDocument::Compact).toStdString(),
              R"({"args":["E1",1,""],"name":"AfterUpload","type":"event"})");

    // The single-document window's messages, each whole, its line breaks kept.
    control.SetEncInno(EncryptText("E2"));
    host.Person = [](FrmScan& window) {
        std::shared_ptr<CInno> doc = window.ScanCompleteList()->Add("", "E2", 0);
        AppendPage(*doc, Raster::Blank(100, 100, 1, 100));
        window.ImgUpload();
    };
    control.ShowSingleTwain();
    ASSERT_EQ(sent.size(), 3u);
    std::vector<std::string> texts;
    for (std::size_t i = 1; i < sent.size(); ++i) {
        const QByteArray line = QJsonDocument(sent[i]).toJson(QJsonDocument::Compact);
        EXPECT_FALSE(line.contains('\n'));
        const QJsonObject read = QJsonDocument::fromJson(line).object();
        EXPECT_EQ(read["name"].toString(), "DebugMessage");
        texts.push_back(read["args"].toArray().at(0).toString().toStdString());
    }
    EXPECT_EQ(texts[0], UploadAddressMessage(url));
    EXPECT_EQ(texts[1].rfind("Inno=E2\r\nErrCode=1\r\n", 0), 0u) << texts[1];
}

TEST_F(WithServer, ThePageCountWindowQueriesAndUpdates) {
    FrmUpload upload(person);
    Prepare(upload);
    upload.AddFile(Tiff("DOC1.tif", 0), "DOC1", 1, "", 0, "");
    ASSERT_TRUE(upload.StartUploadFiles());

    FrmList list(person);
    list.ServerURL = url;
    list.Add("DOC1", 3);
    list.Add("NONE", 2);
    std::vector<QStringList> afterQuery;
    int rowsAfterUpdate = -1;
    OnShown script([&](QDialog& d) {
        auto* rows = Find<QTreeWidget>(d, "InnoList");
        if (!rows) return d.reject();
        EXPECT_EQ(rows->topLevelItemCount(), 2);
        EXPECT_EQ(rows->topLevelItem(0)->checkState(0), Qt::Checked);
        QTest::mouseClick(Find<QPushButton>(d, "CmdQuery"), Qt::LeftButton);
        for (int i = 0; i < rows->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = rows->topLevelItem(i);
            afterQuery.push_back({item->text(0), item->text(1), item->text(2), item->text(3),
                                  item->checkState(0) == Qt::Checked ? "checked" : "unchecked"});
        }
        QTest::mouseClick(Find<QPushButton>(d, "CmdUpdate"), Qt::LeftButton);
        rowsAfterUpdate = rows->topLevelItemCount();
        d.accept();
    });
    ui::RunListDialog(list, nullptr);

    ASSERT_EQ(afterQuery.size(), 2u);
    EXPECT_EQ(afterQuery[0], (QStringList{"DOC1", "3", "1", "", "checked"}));
    EXPECT_EQ(afterQuery[1], (QStringList{"NONE", "2", "", "查無資料", "unchecked"}));
    // DOC1 now has three pages on the server too: its row goes.
    EXPECT_EQ(rowsAfterUpdate, 1);
    ASSERT_EQ(list.InnoList().size(), 1u);
    EXPECT_EQ(list.InnoList()[0].inno, "NONE");
    EXPECT_EQ(refserver::Storage(tmp.File("data")).Pages("DOC1"), 3);
}

TEST_F(WithServer, UncheckingARowLeavesItOutOfTheUpdate) {
    FrmUpload upload(person);
    Prepare(upload);
    upload.AddFile(Tiff("DOC1.tif", 0), "DOC1", 1, "", 0, "");
    ASSERT_TRUE(upload.StartUploadFiles());
    FrmList list(person);
    list.ServerURL = url;
    list.Add("DOC1", 3);
    OnShown script([&](QDialog& d) {
        auto* rows = Find<QTreeWidget>(d, "InnoList");
        if (!rows) return d.reject();
        rows->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
        QTest::mouseClick(Find<QPushButton>(d, "CmdUpdate"), Qt::LeftButton);
        d.accept();
    });
    ui::RunListDialog(list, nullptr);
    ASSERT_EQ(list.InnoList().size(), 1u);
    EXPECT_FALSE(list.InnoList()[0].checked);
    EXPECT_EQ(refserver::Storage(tmp.File("data")).Pages("DOC1"), 1);
}

// ---- The scanner's dialogs, on SANE's test backend ----

TEST(SelectSourceDialog, ListsTheDevicesAndTakesTheChosenOne) {
    SourceSelection selection{ListScanDevices(), 0};
    ASSERT_EQ(selection.devices.size(), 2u);
    OnShown script([](QDialog& d) {
        auto* list = Find<QTreeWidget>(d, "LstSources");
        if (!list) return d.reject();
        ASSERT_EQ(list->topLevelItemCount(), 2);
        EXPECT_EQ(Text(list->topLevelItem(0)->text(0)), "test:0");
        EXPECT_FALSE(list->topLevelItem(0)->text(1).isEmpty());  // the vendor
        EXPECT_EQ(list->currentItem(), list->topLevelItem(0));
        list->setCurrentItem(list->topLevelItem(1));
        QTest::mouseClick(Find<QPushButton>(d, "CmdOK"), Qt::LeftButton);
    });
    EXPECT_TRUE(ui::RunSelectSourceDialog(selection, nullptr));
    EXPECT_EQ(selection.selected, 1);

    OnShown cancel([](QDialog& d) { QTest::mouseClick(Find<QPushButton>(d, "CmdCancel"), Qt::LeftButton); });
    EXPECT_FALSE(ui::RunSelectSourceDialog(selection, nullptr));
}

class SourceSettings : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    // The backend keeps options from one opening to the next.
    static void Reset() {
        auto device = OpenScanDevice("test:0");
        device->SetOption("mode", "Gray");
        device->SetOption("read-delay", "0");
        device->SetOption("test-picture", "Solid black");
    }
    static std::string Value(const std::string& option) {
        return OpenScanDevice("test:0")->Option(option).value_or(DeviceOption{}).value;
    }

    test::TempFolder tmp;
    ui::QtPrompter person;
    ScanProperties props;
    CScanList list;
    ScanPages pages{person, props, list};
    Acquisition scanner{person, props, list, pages};
};

TEST_F(SourceSettings, AChangeReachesTheDeviceAndSwitchesOtherOptions) {
    SettingsStore store(tmp.File("settings.ini"));
    scanner.Store = &store;
    scanner.DeviceName = "test:0";
    scanner.ShowSourceSettings = [](SourceSettingsForm& form) { return ui::RunSourceSettingsDialog(form, nullptr); };
    OnShown script([](QDialog& d) {
        EXPECT_EQ(Text(d.windowTitle()), "test:0");
        auto* delay = Find<QCheckBox>(d, "read-delay");
        auto* duration = Find<QSpinBox>(d, "read-delay-duration");
        auto* picture = Find<QComboBox>(d, "test-picture");
        auto* mode = Find<QComboBox>(d, "mode");
        auto* threePass = Find<QCheckBox>(d, "three-pass");
        auto* resolution = Find<QDoubleSpinBox>(d, "resolution");
        auto* width = Find<QDoubleSpinBox>(d, "br-x");
        if (!delay || !duration || !picture || !mode || !threePass || !resolution || !width) return d.reject();
        EXPECT_FALSE(d.findChildren<QGroupBox*>().isEmpty());  // the device's groups as frames
        EXPECT_FALSE(delay->isChecked());
        EXPECT_FALSE(duration->isEnabled());
        EXPECT_EQ(duration->minimum(), 1000);
        EXPECT_EQ(duration->maximum(), 200000);
        Click(delay);
        EXPECT_TRUE(duration->isEnabled());  // read again: the device switched it on
        duration->setValue(5000);

        EXPECT_FALSE(threePass->isEnabled());
        mode->setCurrentIndex(mode->findText("Color"));
        EXPECT_TRUE(threePass->isEnabled());
        picture->setCurrentIndex(picture->findText("Grid"));
        EXPECT_DOUBLE_EQ(width->maximum(), 200.0);
        width->setValue(120);
        QTest::mouseClick(Find<QPushButton>(d, "CmdOK"), Qt::LeftButton);
    });
    scanner.ConfigScanner();

    EXPECT_EQ(Value("test-picture"), "Grid");
    EXPECT_EQ(Value("mode"), "Color");
    EXPECT_EQ(Value("read-delay"), "1");
    EXPECT_DOUBLE_EQ(std::stod(Value("read-delay-duration")), 5000);
    EXPECT_DOUBLE_EQ(std::stod(Value("br-x")), 120);
    // Kept for the next scans.
    SettingsStore reread(tmp.File("settings.ini"));
    EXPECT_EQ(reread.Get("Source test:0", "test-picture").value_or(""), "Grid");
    EXPECT_EQ(reread.Get("Source test:0", "read-delay").value_or(""), "1");
}

TEST_F(SourceSettings, CancelKeepsNothing) {
    SettingsStore store(tmp.File("settings.ini"));
    scanner.Store = &store;
    scanner.DeviceName = "test:0";
    scanner.ShowSourceSettings = [](SourceSettingsForm& form) { return ui::RunSourceSettingsDialog(form, nullptr); };
    OnShown script([](QDialog& d) {
        auto* picture = Find<QComboBox>(d, "test-picture");
        if (picture) picture->setCurrentIndex(picture->findText("Grid"));
        QTest::mouseClick(Find<QPushButton>(d, "CmdCancel"), Qt::LeftButton);
    });
    scanner.ConfigScanner();
    SettingsStore reread(tmp.File("settings.ini"));
    EXPECT_FALSE(reread.Get("Source test:0", "test-picture"));
}

// ---- The about box ----

TEST(AboutDialog, NameAndVersion) {
    std::string title, version;
    OnShown script([&](QDialog& d) {
        title = Text(Find<QLabel>(d, "LabTitle")->text());
        version = Text(Find<QLabel>(d, "LabVersion")->text());
        QTest::mouseClick(Find<QPushButton>(d, "CmdOK"), Qt::LeftButton);
    });
    ui::RunAboutDialog(nullptr);
    EXPECT_EQ(title, "Dorvex");
    EXPECT_EQ(version, LibraryVersion());
}

}  // namespace
}  // namespace dorvex

// SANE reads its configuration once per process: the test backend alone, two devices, from a
// private folder, before any SANE call. Qt draws offscreen unless told otherwise.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::string sane = (std::filesystem::temp_directory_path() / "dorvex-ui-sane-XXXXXX").string();
    if (!::mkdtemp(sane.data())) return 2;
    dorvex::WriteBytesToFile("test\n", sane + "/dll.conf");
    dorvex::WriteBytesToFile("number_of_devices 2\n", sane + "/test.conf");
    ::setenv("SANE_CONFIG_DIR", sane.c_str(), 1);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int result = 0;
    {
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    std::error_code ignored;
    std::filesystem::remove_all(sane, ignored);
    return result;
}
