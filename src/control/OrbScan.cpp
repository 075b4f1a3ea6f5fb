#include "control/OrbScan.h"

#include <algorithm>

#include "control/FrmScan.h"
#include "model/ScanProperties.h"
#include "platform/Raster.h"
#include "server/Cipher.h"
#include "server/Upload.h"
#include "support/Error.h"
#include "support/ModFS.h"
#include "support/ModGlobal.h"
#include "support/ModShow.h"
#include "support/Prompter.h"
#include "support/Text.h"

namespace dorvex {

// ---- Property bag ----

std::string PropertyBag::ReadString(const std::string& key, const std::string& fallback) const {
    auto it = mValues.find(key);
    return it == mValues.end() ? fallback : it->second;
}

bool PropertyBag::ReadBool(const std::string& key, bool fallback) const {
    auto it = mValues.find(key);
    if (it == mValues.end()) return fallback;
    std::string value = ToLowerAscii(Trim(it->second));
    if (value == "true" || value == "1" || value == "-1" || value == "yes") return true;
    if (value == "false" || value == "0" || value == "no") return false;
    return fallback;
}

// ---- In-process host ----

void InProcessHost::ShowModal(FrmScan& window) {
    if (BeforeLoad) BeforeLoad(window);
    window.Form_Load();
    window.Form_Activate();
    if (Person) Person(window);
    window.Form_QueryUnload();
}

void InProcessHost::ShowModal(FrmUpload& window) { window.Form_Activate(); }

// ---- The control ----

OrbScan::OrbScan(IComponentHost& host) : mHost(host), mScanList(std::make_shared<CScanList>()) {}

OrbScan::~OrbScan() = default;

void OrbScan::Store(std::string& field, const std::string& value, const char* key) {
    field = value;
    mHost.PropertyChanged(key);
}

void OrbScan::Store(bool& field, bool value, const char* key) {
    field = value;
    mHost.PropertyChanged(key);
}

void OrbScan::RefuseReadOnly() {
    if (!mHost.UserMode()) throw DorvexError(err::NotSetAtDesignTime, "Property cannot be set at design time");
    throw DorvexError(err::NotSetAtRunTime, "Property cannot be set at run time");
}

void OrbScan::SetUploadReport(const std::string&) { RefuseReadOnly(); }
void OrbScan::SetLastTmpFile(const std::string&) { RefuseReadOnly(); }

void OrbScan::SetEnableTopMost(bool v) {
    Store(mEnableTopMost, v, "EnableTopMost");
    SetTopMostEnabled(v);
}

void OrbScan::SetEnableOCR(bool v) {
    Store(mEnableOCR, v, "EnableOCR");
    SetOcrEnabled(v);
}

void OrbScan::SetByKey(const std::string& key, const std::string& value) {
    PropertyBag bag;
    bag.WriteString(key, value);
    auto flag = [&](bool current) { return bag.ReadBool(key, current); };
    if (key == "EncServerURL") SetEncServerURL(value);
    else if (key == "SessionID" || key == "SessionId") SetSessionId(value);
    else if (key == "EncOperator") SetEncOperator(value);
    else if (key == "EncBatchNo") SetEncBatchNo(value);
    else if (key == "EncInno") SetEncInno(value);
    else if (key == "UploadReport") SetUploadReport(value);
    else if (key == "OnlyScanList") SetOnlyScanList(flag(mOnlyScanList));
    else if (key == "EncDVDPrefix") SetEncDVDPrefix(value);
    else if (key == "LastTmpFile") SetLastTmpFile(value);
    else if (key == "EnableOverWrite") SetEnableOverWrite(flag(mEnableOverWrite));
    else if (key == "EnablePageUpdater") SetEnablePageUpdater(flag(mEnablePageUpdater));
    else if (key == "Proxy") SetProxy(value);
    else if (key == "EnableTopMost") SetEnableTopMost(flag(mEnableTopMost));
    else if (key == "SessionIdName") SetSessionIdName(value);
    else if (key == "EnableOCR") SetEnableOCR(flag(mEnableOCR));
    else if (key == "ScanListVisible") SetScanListVisible(flag(mScanListVisible));
    else throw DorvexError(err::InvalidArgument, "the control has no property '" + key + "'");
}

void OrbScan::InitProperties() {
    mEncServerURL = mSessionId = mEncOperator = mEncBatchNo = mEncInno = mUploadReport = mEncDVDPrefix = mLastTmpFile =
        mProxy = mSessionIdName = "";
    mOnlyScanList = mEnableOverWrite = mScanListVisible = true;
    mEnablePageUpdater = mEnableTopMost = mEnableOCR = false;
}

void OrbScan::ReadProperties(const PropertyBag& bag) {
    // Stored straight into the fields: the process-wide switches wait for the setters.
    mEncServerURL = bag.ReadString("EncServerURL", "");
    mSessionId = bag.ReadString("SessionID", "");
    mEncOperator = bag.ReadString("EncOperator", "");
    mEncBatchNo = bag.ReadString("EncBatchNo", "");
    mEncInno = bag.ReadString("EncInno", "");
    mUploadReport = bag.ReadString("UploadReport", "");
    mOnlyScanList = bag.ReadBool("OnlyScanList", true);
    mEncDVDPrefix = bag.ReadString("EncDVDPrefix", "");
    mLastTmpFile = bag.ReadString("LastTmpFile", "");
    mEnableOverWrite = bag.ReadBool("EnableOverWrite", true);
    mEnablePageUpdater = bag.ReadBool("EnablePageUpdater", false);
    mProxy = bag.ReadString("Proxy", "");
    mEnableTopMost = bag.ReadBool("EnableTopMost", false);
    mSessionIdName = bag.ReadString("SessionIdName", "");
    mEnableOCR = bag.ReadBool("EnableOCR", false);
    mScanListVisible = bag.ReadBool("ScanListVisible", true);
}

void OrbScan::WriteProperties(PropertyBag& bag) const {
    bag.WriteString("EncServerURL", mEncServerURL);
    bag.WriteString("SessionID", mSessionId);
    bag.WriteString("EncOperator", mEncOperator);
    bag.WriteString("EncBatchNo", mEncBatchNo);
    bag.WriteString("EncInno", mEncInno);
    bag.WriteString("UploadReport", mUploadReport);
    bag.WriteBool("OnlyScanList", mOnlyScanList);
    bag.WriteString("EncDVDPrefix", mEncDVDPrefix);
    bag.WriteString("LastTmpFile", mLastTmpFile);
    bag.WriteBool("EnableOverWrite", mEnableOverWrite);
    bag.WriteBool("EnablePageUpdater", mEnablePageUpdater);
    bag.WriteString("Proxy", mProxy);
    bag.WriteBool("EnableTopMost", mEnableTopMost);
    bag.WriteString("SessionIdName", mSessionIdName);
    bag.WriteBool("EnableOCR", mEnableOCR);
    bag.WriteBool("ScanListVisible", mScanListVisible);
}

std::string OrbScan::Deciphered(const std::string& cipherText) const {
    return cipherText.empty() ? std::string() : DecryptText(cipherText);
}

void OrbScan::AddInno(const std::string& newInno, std::int32_t totalPage, bool multiPage, const std::string& batchNo) {
    // The document of that batch: the number may be in use in another batch too.
    if (std::shared_ptr<CInno> doc = mScanList->Add(batchNo, newInno, 0)) {
        doc->SetActPage(totalPage);
        doc->EnableMultiTIFF = multiPage;
    }
}

std::unique_ptr<FrmScan> OrbScan::NewScanWindow(const char* mode, bool withInno) {
    // Deciphered first: a value the cipher refuses stops here, before any window exists.
    std::string url = Deciphered(mEncServerURL);
    std::string op = Deciphered(mEncOperator);
    std::string inno = withInno ? Deciphered(mEncInno) : std::string();
    auto window = std::make_unique<FrmScan>(mHost.Prompter());
    window->SetProperties(prop::Mode, mode);
    window->SetProperties(prop::ServerUrl, url);
    window->SetProperties(prop::Operator, op);
    if (withInno) window->SetProperties(prop::Inno, inno);
    window->SetProperties(prop::Proxy, mProxy);
    return window;
}

void OrbScan::ShowMultiTwain(const std::string& newDVDPrefix) {
    std::unique_ptr<FrmScan> w = NewScanWindow("0", false);
    w->SaveMode = 0;
    w->OnlyScanList = mOnlyScanList;
    w->ScanListVisible = mScanListVisible;
    w->SetSessionIdName(mSessionIdName);
    w->SessionId = mSessionId;
    w->EnableOverWrite = mEnableOverWrite;
    w->DVDPrefix = newDVDPrefix;
    w->SetEnableOCR(mEnableOCR);
    mHost.ShowModal(*w);
}

void OrbScan::ShowMultiTwainA() {
    std::unique_ptr<FrmScan> w = NewScanWindow("0", false);
    w->SaveMode = 1;
    w->OnlyScanList = mOnlyScanList;
    w->ScanListVisible = mScanListVisible;
    w->DVDPrefix = Deciphered(mEncDVDPrefix);
    w->SetSessionIdName(mSessionIdName);
    w->SessionId = mSessionId;
    w->SetEnableOCR(mEnableOCR);
    mHost.ShowModal(*w);
}

void OrbScan::ShowMultiEdit(const std::string& newDVDPrefix) {
    std::unique_ptr<FrmScan> w = NewScanWindow("0", false);
    w->SaveMode = 1;
    w->OnlyScanList = false;
    w->ScanListVisible = false;
    w->DVDPrefix = newDVDPrefix;
    w->SetSessionIdName(mSessionIdName);
    w->SessionId = mSessionId;
    w->SetEnableOCR(mEnableOCR);
    w->DownloadFromRemote = true;
    w->SetScanCompleteList(mScanList);
    w->EnableOverWrite = true;
    mHost.ShowModal(*w);
}

void OrbScan::ShowSingleTwain() {
    std::unique_ptr<FrmScan> w = NewScanWindow("2", true);
    w->OnlyScanList = mOnlyScanList;
    w->DVDPrefix = Deciphered(mEncDVDPrefix);
    w->SetSessionIdName(mSessionIdName);
    w->SessionId = mSessionId;
    w->SetEnableOCR(mEnableOCR);
    // Only this variant listens to its window, so that the page hears the upload's messages.
    w->DebugMessage.Connect([this](const std::string& text) { DebugMessage.Raise(text); });
    mHost.ShowModal(*w);
}

void OrbScan::ShowSingleTwainA() {
    std::unique_ptr<FrmScan> w = NewScanWindow("2", true);
    w->EnableDownLoadFile = true;
    w->OnlyScanList = mOnlyScanList;
    w->DVDPrefix = Deciphered(mEncDVDPrefix);
    w->EnableOverWrite = true;
    w->SetSessionIdName(mSessionIdName);
    w->SessionId = mSessionId;
    w->SetEnableOCR(mEnableOCR);
    mHost.ShowModal(*w);
}

void OrbScan::ShowSingleTwainB() {
    std::unique_ptr<FrmScan> w = NewScanWindow("3", true);
    w->AutoKeepTmpFiles = true;
    w->OnlyScanList = mOnlyScanList;
    w->DVDPrefix = Deciphered(mEncDVDPrefix);
    w->SetSessionIdName(mSessionIdName);
    w->SessionId = mSessionId;
    w->SetEnableOCR(mEnableOCR);
    mHost.ShowModal(*w);
    mLastTmpFile = w->LastTmpFile();
}

void OrbScan::ShowSimpleEdit() {
    std::string batch = Deciphered(mEncBatchNo);
    std::unique_ptr<FrmScan> w = NewScanWindow("1", true);
    w->SetProperties(prop::BatchNo, batch);
    w->DVDPrefix = Deciphered(mEncDVDPrefix);
    w->OnlyScanList = mOnlyScanList;
    w->SetSessionIdName(mSessionIdName);
    w->SessionId = mSessionId;
    mHost.ShowModal(*w);
}

void OrbScan::UploadDir(const std::string& dvdPrefix) {
    if (dvdPrefix.empty()) return;
    FrmUpload upload(mHost.Prompter());
    upload.ServerURL = Deciphered(mEncServerURL);
    upload.Operator = Deciphered(mEncOperator);
    upload.UploadType = 0;
    upload.DVDPrefix = dvdPrefix;
    upload.Proxy = mProxy;
    upload.EnableOverWrite = mEnableOverWrite;
    upload.CheckRemote = true;
    upload.AfterUpload.Connect([this](const std::string& inno, long code, const std::string& text) {
        AfterUpload.Raise(inno, code, text);
    });
    mHost.ShowModal(upload);
    mUploadReport = upload.Report();
}

void OrbScan::UploadFileWithInno(const std::string& inno) {
    std::string folder = mHost.Prompter().BrowseForFolder();
    if (folder.empty()) return;
    std::string path = folder + "/" + inno + ".tif";
    if (!FileExists(path)) return;
    int pages = ReadImageInfo(path).pages;
    FrmUpload upload(mHost.Prompter());
    upload.AddFile(path, inno, static_cast<std::int16_t>(std::clamp(pages, 0, 32767)), "", 0, "");
    upload.ServerURL = Deciphered(mEncServerURL);
    upload.Operator = Deciphered(mEncOperator);
    upload.UploadType = 1;
    upload.DVDPrefix = Deciphered(mEncDVDPrefix);
    upload.Proxy = mProxy;
    mHost.ShowModal(upload);
    mUploadReport = upload.Report();
}

}  // namespace dorvex
