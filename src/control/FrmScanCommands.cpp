// The scan window's commands: what each menu item, tool-bar button and key runs, the document
// number change of the single-document mode, the image information, "另存", and the gestures
// on the thumbnails and the tree.

#include <algorithm>
#include <cstdio>

#include "control/FrmScan.h"
#include "model/PageFiles.h"
#include "ocr/WordParser.h"
#include "server/Queries.h"
#include "model/PaperSize.h"
#include "model/SettingsStore.h"
#include "support/Error.h"
#include "support/ModFS.h"
#include "support/ModGlobal.h"
#include "support/ModShow.h"
#include "support/Prompter.h"
#include "support/Text.h"
#include "support/Trace.h"
#include "support/WinInfo.h"

namespace dorvex {

void FrmScan::Execute(Command command) {
    if (command == Command::None || !mLoaded) return;
    ImageViewer& viewer = mPages->OneViewer;
    const bool rectangleErase = command == Command::RectangleErase;
    const bool erase = command == Command::EraseRubberBand;
    if (!rectangleErase && !erase) viewer.RubberBandMode = false;
    viewer.AreaZoomArmed = false;
    const std::shared_ptr<CInno> doc = mPages->CurrentDoc;
    switch (command) {
        case Command::ImgUpload: ImgUpload(); break;
        case Command::TreeSave: if (doc) ImgUpload(doc); break;
        case Command::ShowSave: ShowSave(); break;
        case Command::SaveAllPages: SaveAllPages(); break;
        case Command::DelayUpload: if (DelayUpload) DelayUpload(); break;
        case Command::UpdateDBPage: ShowPageCounts(); break;
        case Command::ImgPrint: if (PrintPage && viewer.HasImage()) PrintPage(); break;
        case Command::Close: CloseRequested = true; break;
        case Command::About: if (ShowAbout) ShowAbout(); break;
        case Command::ShowScannerConfig: ShowScannerConfig(); break;
        case Command::SelectSource: SelectSource(); break;
        case Command::ConfigScanner: ConfigScanner(); break;
        case Command::StartScan: StartScan(true); break;
        case Command::ScanSimplex:
        case Command::ScanDuplex:
            Props.Set(prop::Duplex, command == Command::ScanDuplex ? "1" : "0");
            StartScan(false);
            break;
        case Command::AddPages: StartScanEdit(false); break;
        case Command::ReplacePages: StartScanEdit(true); break;
        case Command::ImgCut: mPages->ImgCut(); break;
        case Command::ImgCopy: mPages->ImgCopy(); break;
        case Command::ImgPaste: mPages->ImgPaste(); break;
        case Command::ImgDelete: mPages->ImgDelete(); break;
        case Command::DeletePages: mPages->DeletePages(); break;
        case Command::MoveMultiPages: mPages->MoveMultiPages(); break;
        case Command::ResetSingleInno: ResetSingleInno(); break;
        case Command::ImgMoveFirst:
        case Command::ImgMovePrevious:
        case Command::ImgMoveNext:
        case Command::ImgMoveLast:
            if (doc) mPages->ImgMoveTo(NavigationTarget(command, doc->SelectedIndex, doc->ActPage()));
            break;
        case Command::ImgZoomIn: viewer.ZoomIn(); break;
        case Command::ImgZoomOut: viewer.ZoomOut(); break;
        case Command::ImgOriginalSize: viewer.OriginalSize(); break;
        case Command::ImgFitView: viewer.FitView(); break;
        case Command::AreaZoom:
            viewer.RubberBandMode = true;
            viewer.AreaZoomArmed = true;
            break;
        case Command::Pen:
        case Command::Eraser: {
            const auto tool = command == Command::Pen ? ImageViewer::Tool::Pen : ImageViewer::Tool::Eraser;
            viewer.ActiveTool = viewer.ActiveTool == tool ? ImageViewer::Tool::None : tool;
            break;
        }
        case Command::SingleView: ViewMode = 0; break;
        case Command::LoadMultiView:
            if (doc) mPages->LoadBitmapList(doc->ActPage());
            ViewMode = 1;
            break;
        case Command::MultiView: ViewMode = 1; break;
        case Command::ImgRotate: mPages->ImgRotate(); break;
        case Command::ImgDotRemove: mPages->ImgDotRemove(); break;
        case Command::ImgBorderRemove: mPages->ImgBorderRemove(); break;
        case Command::ImgDeskew: mPages->ImgDeskew(); break;
        case Command::BatchImageEffect: mPages->ExecuteBatchImageEffect(); break;
        case Command::RotateCounterClockwise: mPages->RotateByAngleBox(false); break;
        case Command::RotateClockwise: mPages->RotateByAngleBox(true); break;
        // A split goes into a new document whose number is made up for it, unless changed.
        case Command::MergeCut: mPages->ShowMergeCut(std::nullopt, -1, true, CWinInfo().getUniqueID()); break;
        case Command::SplitAtPage:
            if (doc) mPages->ShowMergeCut(false, doc->SelectedIndex - 1, true, CWinInfo().getUniqueID());
            break;
        case Command::SplitAtThumbnail:
            if (doc && mPages->MultiViewer.Selected >= 0) {
                mPages->ShowMergeCut(false, mPages->MultiViewer.Offset + mPages->MultiViewer.Selected, true);
            }
            break;
        case Command::MergeWith: mPages->ShowMergeCut(true); break;
        case Command::Crop:
            if (viewer.HasImage() && viewer.RubberBand) {
                try {
                    viewer.SetImage(viewer.Image().Crop(*viewer.RubberBand));
                    viewer.RubberBand.reset();
                    mPages->SaveThisPage(true);
                } catch (const DorvexError& e) {
                    mPrompter.MessageBox(e.what(), "", MsgButtons::OK, MsgIcon::Exclamation);
                }
            }
            break;
        case Command::RectangleErase: viewer.RubberBandMode = true; break;
        case Command::EraseRubberBand:
            if (viewer.HasImage() && viewer.RubberBand) {
                try {
                    viewer.Image().FillWhite(*viewer.RubberBand);
                    viewer.RubberBand.reset();
                    mPages->SaveThisPage(true);
                } catch (const DorvexError& e) {
                    mPrompter.MessageBox(e.what(), "", MsgButtons::OK, MsgIcon::Exclamation);
                }
            }
            break;
        case Command::ImgShowInfo: ImgShowInfo(); break;
        case Command::TreeDelete: TreeDelete(Tree.Selected); break;
        case Command::TreeRecognize: if (doc && IsOcrEnabled()) RecognizeDocument(doc, true); break;
        // Gestures the view carries out itself (label editing, the side panel, the field
        // editor's text) or that come with recognition.
        default: break;
    }
    mPrompter.Yield();
    if (IsOcrEnabled()) viewer.RubberBandMode = true;
    Redraw();
}

void FrmScan::ButtonClick(const std::string& caption) {
    const Command command = Commands.ButtonCommand(caption);
    // A punctuation button writes into the field being edited and leaves the viewer as it is.
    if (command == Command::InsertText) {
        OCRDetail.InsertText(caption);
        return;
    }
    Execute(command);
}

void FrmScan::ShowPageCounts() {
    FrmList window(mPrompter);
    window.ServerURL = Props.Get(prop::ServerUrl);
    window.Proxy = Props.Get(prop::Proxy);
    for (const auto& doc : mList->AllInnos()) window.Add(doc->Inno(), doc->ActPage());
    if (ShowListWindow) ShowListWindow(window);
}

void FrmScan::ResetSingleInno() {
    if (Props.Get(prop::Mode) != "2") return;
    const std::string old = Props.Get(prop::Inno);
    std::shared_ptr<CInno> scanned = mList->GetInno2(old);
    std::shared_ptr<CInno> listed = ServerList ? ServerList->GetInno2(old) : nullptr;
    const std::string title = MessageText("tdesc", "文件概要");
    std::string answer;
    {
        NotTopMostScope frame(TopMostWindow);
        answer = Trim(mPrompter.InputBox("請先輸入" + title, title, "").value_or(""));
    }
    if (answer.empty()) return;
    Props.Set(prop::Inno, answer);
    if (scanned) scanned->SetInno(answer);
    if (listed) listed->SetInno(answer);
    StatusBar.Update(std::nullopt, answer, std::nullopt);
}

void FrmScan::ImgShowInfo() {
    const std::shared_ptr<CInno> doc = mPages->CurrentDoc;
    if (!doc || !mPages->OneViewer.HasImage()) return;
    ImageFacts facts = FactsOf(mPages->OneViewer, *doc, MessageText("tdesc", "文件概要"));
    NotTopMostScope frame(TopMostWindow);
    mPrompter.MessageBox(ImgShowInfoText(facts), kInfoTitle, MsgButtons::OK, MsgIcon::Information);
}

bool FrmScan::ShowSave() {
    const ImageViewer& viewer = mPages->OneViewer;
    if (!viewer.HasImage()) return false;
    // A searchable PDF needs the recognition engine.
    const bool pdf = mWordParser && mWordParser->IsSupported();
    std::string path = mPrompter.SaveFileName("另存", pdf ? std::string(kSaveFilter) + "|" + kSearchablePdfFilter : kSaveFilter);
    if (path.empty()) return false;
    const bool toPdf = pdf && ToLowerAscii(GetFileExtension(path)) == "pdf";
    int format = toPdf ? fileformat::TiffLzw : SaveFormatFor(path, viewer.Image().BitsPerPixel());
    if (format == 0) {
        mPrompter.MessageBox("不支援的檔案格式：" + path, "另存", MsgButtons::OK, MsgIcon::Exclamation);
        return false;
    }
    std::string page;
    try {
        if (!toPdf) {
            viewer.Image().Save(path, format);
            return true;
        }
        // The page as shown, read and laid under its text; the PDF is written whole or not at all.
        page = CWinInfo().getTmpFileName();
        viewer.Image().Save(page, viewer.Image().BitsPerPixel() == 1 ? fileformat::TiffG4 : fileformat::TiffLzw);
        mWordParser->Engine().WriteSearchablePdf({page}, path);
        std::remove(page.c_str());
        return true;
    } catch (const std::exception& e) {
        if (!page.empty()) std::remove(page.c_str());
        mPrompter.MessageBox(e.what(), "另存", MsgButtons::OK, MsgIcon::Exclamation);
        return false;
    }
}

void FrmScan::MultiViewer_Click(int item) {
    const std::shared_ptr<CInno> doc = mPages->CurrentDoc;
    ThumbnailStrip& strip = mPages->MultiViewer;
    if (!doc || item < 0 || item >= static_cast<int>(strip.Items.size())) return;
    mPages->ImgMoveTo(strip.Items[static_cast<std::size_t>(item)].page - 1);
    Redraw();
}

void FrmScan::MultiViewer_DblClick(int item) {
    MultiViewer_Click(item);
    ViewMode = 0;
    Redraw();
}

void FrmScan::MultiViewer_Group(bool next) {
    mPages->MoveGroup(next);
    Redraw();
}

void FrmScan::OneViewer_Stroke(const std::vector<StrokePoint>& points) {
    mPages->DrawStroke(points);
    Redraw();
}

void FrmScan::CbPg_Click(int page) {
    mPages->ImgMoveTo(page - 1);
    Redraw();
}

// ---- The tool-bar boxes ----

const std::vector<std::string> FrmScan::kPixelTypes = {"黑白", "灰階", "彩色"};

void FrmScan::SaveSettings() {
    try {
        Props.Save(*mStore);
    } catch (const DorvexError& e) {
        mPrompter.MessageBox(e.what(), "", MsgButtons::OK, MsgIcon::Exclamation);
    }
}

int FrmScan::PixelTypeIndex() const {
    const std::string& value = Props.Get(prop::PixelType);
    for (std::size_t i = 0; i < kPixelTypes.size(); ++i) {
        if (value == std::to_string(i)) return static_cast<int>(i);
    }
    return -1;
}

void FrmScan::CmbPxType_Click(int index) {
    if (index < 0 || index >= static_cast<int>(kPixelTypes.size())) return;
    Props.Set(prop::PixelType, std::to_string(index));
    SaveSettings();
}

bool FrmScan::PaperSizeBoxVisible() const { return Props.Number(prop::EnablePaperSize) == 1; }

std::vector<std::string> FrmScan::PaperSizeTexts() const {
    constexpr std::int32_t kA4 = 1, kA4Landscape = 54;
    CPSize sizes;
    std::vector<std::string> texts;
    auto add = [&](std::int32_t code) {
        texts.push_back(sizes.GetPaperDescription(code));
        if (code == kA4) texts.push_back(sizes.GetPaperDescription(kA4Landscape));
    };
    if (mOfferedPapers) {
        for (std::int32_t code : *mOfferedPapers) add(code);
    } else {
        for (std::int32_t code = 1; code < kA4Landscape; ++code) {
            if (PaperSizeOf(code)) add(code);
        }
    }
    return texts;
}

void FrmScan::RefreshOfferedPaperSizes() {
    // Only the TWAIN path asks its source; the box is asked for only when it is shown.
    const bool ask = mScanner && PaperSizeBoxVisible() && Props.Get(prop::TwainOrISIS) == "TWAIN";
    mOfferedPapers = ask ? mScanner->OfferedPaperSizes() : std::nullopt;
}

std::string FrmScan::PaperSizeText() const { return CPSize().GetPaperDescription(Props.Integer(prop::PaperSize)); }

void FrmScan::CmbSize_Click(const std::string& text) {
    const std::int32_t code = CPSize().GetPaperLong(text);
    if (code == 0) return;
    Props.Set(prop::PaperSize, std::to_string(code));
    SaveSettings();
}

int FrmScan::DuplexIndex() const { return Props.Get(prop::Duplex) == "1" ? 1 : 0; }

void FrmScan::OptDuplex_Click(int index) {
    if (index == 0 || index == 1) Props.Set(prop::Duplex, std::to_string(index));
}

void FrmScan::TreeView1_Click(int node) {
    std::shared_ptr<CInno> doc = Tree.DocumentAt(*mList, node);
    Tree.Selected = node;
    if (!doc) return;
    StatusText = doc->ErrorMsg;
    if (doc != mPages->CurrentDoc) {
        mPages->CurrentDoc = doc;
        mPages->OneViewer.Clear();
        mPages->MultiViewer.Clear();
        if (doc->FilesExists() && doc->ActPage() > 0) {
            doc->SelectedIndex = 1;
            try {
                mPages->LoadImageByCInno(doc, true, true);
            } catch (const DorvexError& e) {
                mPrompter.MessageBox(e.what(), "", MsgButtons::OK, MsgIcon::Exclamation);
            }
        }
        auto batch = doc->BatchNo();
        StatusBar.Update(batch ? batch->BatchNo : std::string(), doc->Inno(), doc->SelectedIndex);
        Redraw();
    }
    // The page is shown first; its reading follows.
    if (IsOcrEnabled()) RecognizeDocument(doc, false);
}

void FrmScan::TreeView1_DblClick(int node) {
    std::shared_ptr<CInno> doc = Tree.DocumentAt(*mList, node);
    if (!doc || doc->ActPage() < 1 || !doc->FilesExists()) return;
    mPages->CurrentDoc = doc;
    doc->SelectedIndex = 1;
    try {
        mPages->LoadImageByCInno(doc, true, true);
    } catch (const DorvexError& e) {
        mPrompter.MessageBox(e.what(), "", MsgButtons::OK, MsgIcon::Exclamation);
    }
    Redraw();
}

void FrmScan::TreeView1_AfterLabelEdit(int node, const std::string& label) {
    if (Tree.AfterLabelEdit(*mList, ServerList.get(), node, label)) Redraw();
}

void FrmScan::TreeDelete(int node) {
    std::shared_ptr<CInno> doc = Tree.DocumentAt(*mList, node);
    if (!doc || !Tree.DeleteDocument(*mList, ServerList.get(), node)) return;
    if (doc == mPages->CurrentDoc) {
        mPages->CurrentDoc = nullptr;
        mPages->OneViewer.Clear();
        mPages->MultiViewer.Clear();
    }
    // The tree and the recovery file followed the removal; the files go once no record names them.
    mList->DeleteFilesWhenAnnounced(*doc);
    Redraw();
}

void FrmScan::TreeDragDrop(int source, int target) {
    Tree.DragDrop(*mList, source, target, IsOcrEnabled());
}

}  // namespace dorvex
