#include "server/Queries.h"

#include <algorithm>
#include <cstdio>

#include "model/ScanProperties.h"
#include "platform/Raster.h"
#include "platform/Xml.h"
#include "server/Base64.h"
#include "server/Cipher.h"
#include "server/Language.h"
#include "server/Reply.h"
#include "server/Transport.h"
#include "server/WordsReq.h"
#include "support/CodePage.h"
#include "support/Error.h"
#include "support/ModFS.h"
#include "support/ModMath.h"
#include "support/Prompter.h"
#include "support/Trace.h"
#include "support/WinInfo.h"
#include "support/Text.h"

namespace dorvex {
namespace {

long WholeNumber(const std::string& text) {
    double value = RoundHalfEven(Val(text));
    return static_cast<long>(std::clamp(value, -2147483648.0, 2147483647.0));
}

bool AsBoolean(const std::string& text) {
    std::string lower = ToLowerAscii(text);
    if (lower == "true") return true;
    if (lower == "false") return false;
    return IsNumeric(text) && Val(text) != 0;
}

}  // namespace

ServerQueries::ServerQueries(const ScanProperties& properties, IPrompter& prompter)
    : mUrl(properties.Get(prop::ServerUrl)),
      mOperator(properties.Get(prop::Operator)),
      mProxy(properties.Get(prop::Proxy)),
      mPrompter(prompter) {}

std::string ServerQueries::Post(const CBaseReq& request) {
    CImgReq sender(&mPrompter);
    return sender.RequestByObject(mUrl, request, mProxy);
}

void ServerQueries::Progress(int value, int maximum) {
    if (OnProgress) OnProgress(value, maximum);
    mPrompter.Yield();
}

void ServerQueries::LoadMessages(CLanguage& map) { map.AddXml(Post(CLangReq())); }

std::string ServerQueries::QueryFixedWords() { return Post(CFixWordsReq()); }

std::vector<std::string> ServerQueries::GetScanList(CScanList& scanList, std::shared_ptr<CScanList>& serverList) {
    TraceScope trace("Public Sub GetScanList()");
    serverList = std::make_shared<CScanList>();
    scanList.CompareList = serverList.get();

    CListReq request;
    request.Operator = mOperator;
    auto doc = XmlDocument::Parse(Post(request));
    auto listed = std::make_shared<CScanList>();
    if (doc) {
        for (const XmlNode& item : doc->Select("//ScanList/Item")) {
            listed->Add(GetAttribute(item, "batchno"), GetAttribute(item, "inno"),
                        static_cast<std::int32_t>(WholeNumber(GetAttribute(item, "pages"))));
        }
    }
    std::vector<std::string> batches;
    if (listed->Length() > 0) {
        serverList = listed;
        scanList.CompareList = serverList.get();
        for (std::int32_t i = 1; i <= listed->Length(); ++i) batches.push_back(listed->BatchNoList(i)->BatchNo);
    }
    return batches;
}

bool ServerQueries::GetScanCaps(ScanProperties& p, const std::string& dvdPrefix, Caps& caps) {
    TraceScope trace("Public Function GetScanCaps()");
    CcapsReq request;
    request.Operator = mOperator;
    auto doc = XmlDocument::Parse(Post(request));
    if (!doc) return false;
    struct Row {
        const char* tag;
        int index;
        bool keepCurrent;
    };
    static constexpr Row kRows[] = {
        {"BCSeparator", prop::BCSeparator, false}, {"DPI", prop::DPI, false},
        {"Duplex", prop::Duplex, true},            {"Feeder", prop::Feeder, false},
        {"ScanMode", prop::ScanMode, false},       {"SplitPageMethod", prop::SplitPageMethod, false},
        {"TransferMode", prop::TransferMode, false}, {"UseBarcode", prop::UseBarcode, false},
        {"Debug", prop::Debug, false},             {"DotRemove", prop::DotRemove, false},
        {"BorderRemove", prop::BorderRemove, false}, {"BRFlag", prop::BRFlag, false},
        {"BRWNLength", prop::BRWNLength, false},   {"BRPercent", prop::BRPercent, false},
        {"BRVariance", prop::BRVariance, false},   {"Deskew", prop::Deskew, false},
        {"Debug", prop::Debug, false},             {"ScanOcx", prop::ScanOcx, false},
        {"ImgRotate", prop::ImgRotate, false},     {"ImgInvert", prop::ImgInvert, false},
        {"WPageRemove", prop::WPageRemove, false}, {"EnableMultiTIFF", prop::EnableMultiTIFF, true},
        {"ImgFormat", prop::ImgFormat, true},      {"FixSize", prop::FixSize, true},
        {"EnableUpdateDBPage", prop::EnableUpdateDBPage, true}, {"EnableDelayUpload", prop::EnableDelayUpload, true},
        {"EnableScanFix", prop::EnableScanFix, false}, {"BCLeft", prop::BCLeft, true},
        {"BCTop", prop::BCTop, true},              {"BCWidth", prop::BCWidth, true},
        {"BCHeight", prop::BCHeight, true},        {"EnablePaperSize", prop::EnablePaperSize, false},
    };
    for (const Row& row : kRows) {
        std::string fallback = row.keepCurrent ? p.Get(row.index) : std::string("0");
        p.Set(row.index, GetContentByTagName(*doc, row.tag, fallback));
        if (row.index == prop::ImgFormat && dvdPrefix == "qrndc") {
            p.Set(prop::EnableMultiTIFF, "1");
            p.Set(prop::ImgFormat, "TIF");
        }
    }
    caps.debug = static_cast<int>(WholeNumber(p.Get(prop::Debug)));
    caps.scanOcx = static_cast<int>(std::clamp(WholeNumber(p.Get(prop::ScanOcx)), 1L, 2L));
    return true;
}

std::shared_ptr<CInno> ServerQueries::GetImgDataFromHttp(CScanList& scanList, const std::string& inno) {
    TraceScope trace("Public Sub GetImgDataFromHttp()");
    CImgInfoReq info;
    info.Operator = mOperator;
    info.Inno = inno;
    auto doc = XmlDocument::Parse(Post(info));
    if (!doc) return nullptr;
    XmlNode total = doc->SelectOne("//ImgInfo/TotalPart");
    if (!total || total.Text().empty()) return nullptr;
    long parts = WholeNumber(total.Text());
    XmlNode multi = doc->SelectOne("//ImgInfo/MultiPage");
    bool multiPage = multi && !multi.Text().empty() && AsBoolean(multi.Text());
    if (parts < 1) return nullptr;

    // A document here already keeps its pages: the server's would be added to them, hiding
    // the person's edits.
    if (std::shared_ptr<CInno> here = scanList.GetInno2(inno); here && here->ActPage() > 0) return here;

    // Every part arrives, and reads as an image, before the document exists: one that cannot
    // be read whole is never there to be uploaded over the server's copy.
    CWinInfo temporary;
    std::vector<std::string> files;
    auto fail = [&]() -> std::shared_ptr<CInno> {
        for (const std::string& file : files) std::remove(file.c_str());
        Progress(0, 0);
        TellFailed({inno});
        return nullptr;
    };
    std::int32_t pages = 0;
    for (long part = 1; part <= parts; ++part) {
        CGetImgReq request;
        request.Operator = mOperator;
        request.Inno = inno;
        request.Part = static_cast<std::int32_t>(part);
        auto reply = XmlDocument::Parse(Post(request));
        XmlNode data = reply ? reply->SelectOne("//ImgData/MainData") : XmlNode();
        if (!data) return fail();
        if (files.empty() || !multiPage) files.push_back(temporary.getTmpFileName());
        if (!AppendBytesToFile(Base64Decode(data.Text()), files.back())) return fail();
        Progress(static_cast<int>(part), static_cast<int>(parts));
        mPrompter.Yield();
    }
    try {
        for (const std::string& file : files) {
            std::int32_t held = ReadImageInfo(file).pages;
            if (held < 1) return fail();
            pages += multiPage ? held : 1;
        }
    } catch (const DorvexError& e) {
        DebugTrace(std::string("GetImgDataFromHttp: ") + e.what());
        return fail();
    }
    Progress(0, 0);

    CScanList::EditGroup group(scanList);
    scanList.Add("", inno, 0);
    std::shared_ptr<CInno> document = scanList.GetInno2(inno);
    document->SetInno(inno);
    document->OldInno = inno;
    document->EnableMultiTIFF = multiPage;
    for (const std::string& file : files) document->NewPage(file);
    document->SetActPage(pages);
    document->SelectedIndex = pages > 0 ? 1 : 0;
    document->SetState(state::Saved);
    return document;
}

void ServerQueries::TellFailed(const std::vector<std::string>& innos) {
    if (innos.empty()) return;
    std::string names;
    for (const std::string& inno : innos) names += (names.empty() ? "" : "、") + inno;
    mPrompter.MessageBox(std::to_string(innos.size()) + "份文件下載失敗：" + names, "下載", MsgButtons::OK, MsgIcon::Exclamation);
}

int ServerQueries::DownloadListedDocuments(CScanList& scanList) {
    TraceScope trace("DownloadFromRemote");
    std::vector<std::string> failed;
    std::vector<std::shared_ptr<CInno>> docs = scanList.AllInnos();
    CWinInfo info;
    int done = 0;
    for (const auto& doc : docs) {
        const std::int32_t pages = doc->ActPage();
        std::string e = UrlEncode(Encrypt(ToAnsiLenient(doc->Inno())));
        std::string base = mUrl + "?enc_inno=" + e + "&part=";
        // Every part arrives before the document changes: a document with a part missing is
        // left as it was, so it can never be uploaded as changed with pages renumbered.
        std::vector<std::string> fetched;
        const std::int32_t parts = doc->EnableMultiTIFF ? 1 : pages;
        bool complete = parts >= 1;
        for (std::int32_t part = 1; part <= parts && complete; ++part) {
            std::string temp = info.getTmpFileName();
            fetched.push_back(temp);
            complete = DownloadToFile(base + std::to_string(part), temp);
            mPrompter.Yield();
        }
        if (!complete) {
            for (const std::string& temp : fetched) std::remove(temp.c_str());
            failed.push_back(doc->Inno());
        } else {
            doc->SetActPage(0);
            for (const std::string& temp : fetched) doc->NewPage(temp);
            if (doc->EnableMultiTIFF) doc->SetActPage(pages);
            doc->SetState(state::Saved);
        }
        Progress(++done, static_cast<int>(docs.size()));
    }
    Progress(0, 0);
    TellFailed(failed);
    return static_cast<int>(failed.size());
}

// ---- FrmList ----

void FrmList::Add(const std::string& inno, long pages) {
    mRows.push_back({inno, std::to_string(pages), "", "", true});
}

void FrmList::CmdQuery_Click() {
    CInnoQueryReq request;
    for (const Row& row : mRows) request.Add(row.inno);
    CImgReq sender(&mPrompter);
    ProcessReply(sender.RequestByObject(ServerURL, request, Proxy));
}

void FrmList::CmdUpdate_Click() {
    CInnoPagesUpdateReq request;
    for (const Row& row : mRows) {
        if (row.checked) request.Add(row.inno, row.localPages);
    }
    CImgReq sender(&mPrompter);
    ProcessReply(sender.RequestByObject(ServerURL, request, Proxy));
}

void FrmList::ProcessReply(const std::string& reply) {
    auto doc = XmlDocument::Parse(reply);
    if (!doc) return;
    for (const XmlNode& ref : doc->Select("//Ref")) {
        auto inno = ref.Attribute("inno");
        auto pages = ref.Attribute("pages");
        if (!inno || !pages) continue;
        auto row = std::find_if(mRows.begin(), mRows.end(), [&](const Row& r) { return r.inno == *inno; });
        if (row == mRows.end()) continue;
        if (*pages == "-1") {
            row->status = "查無資料";
            row->checked = false;
        } else if (*pages == "-2") {
            row->status = "更新失敗";
        } else if (*pages != row->localPages) {
            row->serverPages = *pages;
        } else {
            mRows.erase(row);
        }
    }
}

}  // namespace dorvex
