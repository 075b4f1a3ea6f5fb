#pragma once
// The embeddable control: sixteen properties a page (or any host program) sets, kept in the
// host's property bag, and methods that open the scan window or the upload window modally.
// The enciphered properties are deciphered only when handed to a window. The control relays
// the upload window's AfterUpload and the scan window's DebugMessage to its host.

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "model/ScanList.h"
#include "support/Event.h"

namespace dorvex {

class FrmScan;
class FrmUpload;
class IPrompter;

// Saved property values by key, as the host keeps them between loads.
class PropertyBag {
public:
    std::string ReadString(const std::string& key, const std::string& fallback) const;
    bool ReadBool(const std::string& key, bool fallback) const;  // "True"/"False", "1"/"0", "-1"
    void WriteString(const std::string& key, const std::string& value) { mValues[key] = value; }
    void WriteBool(const std::string& key, bool value) { mValues[key] = value ? "True" : "False"; }
    const std::map<std::string, std::string>& Values() const { return mValues; }
    bool Has(const std::string& key) const { return mValues.count(key) != 0; }

private:
    std::map<std::string, std::string> mValues;
};

// What the control needs of whoever hosts it.
class IComponentHost {
public:
    virtual ~IComponentHost() = default;
    // The ambient user mode: false while a designer edits the page, true when it runs.
    virtual bool UserMode() const = 0;
    virtual void PropertyChanged(const std::string& key) = 0;
    // The person's side of the windows (message boxes, pickers, yields).
    virtual IPrompter& Prompter() = 0;
    // Shows a window modally: returns when it has been closed. The host runs the window's
    // lifecycle (load, activate, the person's commands, closing).
    virtual void ShowModal(FrmScan& window) = 0;
    virtual void ShowModal(FrmUpload& window) = 0;
};

// A host for C++ programs and tests: the scan window is driven by `Person` between its load
// and its closing; the upload window runs as soon as it is shown.
class InProcessHost : public IComponentHost {
public:
    explicit InProcessHost(IPrompter& prompter) : mPrompter(prompter) {}
    bool Running = true;
    std::vector<std::string> ChangedKeys;                 // every PropertyChanged, in order
    std::function<void(FrmScan&)> Person;                  // what the person does in the window
    std::function<void(FrmScan&)> BeforeLoad;              // e.g. to give the window views' hooks

    bool UserMode() const override { return Running; }
    void PropertyChanged(const std::string& key) override { ChangedKeys.push_back(key); }
    IPrompter& Prompter() override { return mPrompter; }
    void ShowModal(FrmScan& window) override;
    void ShowModal(FrmUpload& window) override;

private:
    IPrompter& mPrompter;
};

class OrbScan {
public:
    explicit OrbScan(IComponentHost& host);
    ~OrbScan();

    // ---- Properties (the setters notify the host with the property's key) ----
    const std::string& EncServerURL() const { return mEncServerURL; }
    void SetEncServerURL(const std::string& v) { Store(mEncServerURL, v, "EncServerURL"); }
    const std::string& SessionId() const { return mSessionId; }
    void SetSessionId(const std::string& v) { Store(mSessionId, v, "SessionID"); }
    const std::string& EncOperator() const { return mEncOperator; }
    void SetEncOperator(const std::string& v) { Store(mEncOperator, v, "EncOperator"); }
    const std::string& EncBatchNo() const { return mEncBatchNo; }
    void SetEncBatchNo(const std::string& v) { Store(mEncBatchNo, v, "EncBatchNo"); }
    const std::string& EncInno() const { return mEncInno; }
    void SetEncInno(const std::string& v) { Store(mEncInno, v, "EncInno"); }
    const std::string& UploadReport() const { return mUploadReport; }
    void SetUploadReport(const std::string& v);  // always refused: error 387 or 382
    bool OnlyScanList() const { return mOnlyScanList; }
    void SetOnlyScanList(bool v) { Store(mOnlyScanList, v, "OnlyScanList"); }
    const std::string& EncDVDPrefix() const { return mEncDVDPrefix; }
    void SetEncDVDPrefix(const std::string& v) { Store(mEncDVDPrefix, v, "EncDVDPrefix"); }
    const std::string& LastTmpFile() const { return mLastTmpFile; }
    void SetLastTmpFile(const std::string& v);  // always refused: error 387 or 382
    bool EnableOverWrite() const { return mEnableOverWrite; }
    void SetEnableOverWrite(bool v) { Store(mEnableOverWrite, v, "EnableOverWrite"); }
    bool EnablePageUpdater() const { return mEnablePageUpdater; }
    void SetEnablePageUpdater(bool v) { Store(mEnablePageUpdater, v, "EnablePageUpdater"); }
    const std::string& Proxy() const { return mProxy; }
    void SetProxy(const std::string& v) { Store(mProxy, v, "Proxy"); }
    bool EnableTopMost() const { return mEnableTopMost; }
    void SetEnableTopMost(bool v);
    const std::string& SessionIdName() const { return mSessionIdName; }
    void SetSessionIdName(const std::string& v) { Store(mSessionIdName, v, "SessionIdName"); }
    bool EnableOCR() const { return mEnableOCR; }
    void SetEnableOCR(bool v);
    bool ScanListVisible() const { return mScanListVisible; }
    void SetScanListVisible(bool v) { Store(mScanListVisible, v, "ScanListVisible"); }

    // Sets a property by its key (the names of the table: "EncServerURL", "SessionID", ...);
    // throws DorvexError(InvalidArgument) for an unknown key. For hosts that pass parameters
    // as text (a page's parameters, a command line).
    void SetByKey(const std::string& key, const std::string& value);

    // ---- Persistence ----
    void InitProperties();
    void ReadProperties(const PropertyBag& bag);
    void WriteProperties(PropertyBag& bag) const;

    // ---- Methods ----
    void AddInno(const std::string& newInno, std::int32_t totalPage, bool multiPage, const std::string& batchNo);
    void ShowMultiTwain(const std::string& newDVDPrefix);
    void ShowMultiTwainA();
    void ShowMultiEdit(const std::string& newDVDPrefix);
    void ShowSingleTwain();
    void ShowSingleTwainA();
    void ShowSingleTwainB();
    void ShowSimpleEdit();
    void UploadDir(const std::string& dvdPrefix);
    void UploadFileWithInno(const std::string& inno);

    // The control's own scan list, filled by AddInno.
    CScanList& ScanList() { return *mScanList; }

    // ---- Events ----
    Event<const std::string&, long, const std::string&> AfterUpload;
    Event<const std::string&> DebugMessage;

private:
    void Store(std::string& field, const std::string& value, const char* key);
    void Store(bool& field, bool value, const char* key);
    void RefuseReadOnly();
    std::string Deciphered(const std::string& cipherText) const;
    // A scan window with the properties every Show method sets first.
    std::unique_ptr<FrmScan> NewScanWindow(const char* mode, bool withInno);

    IComponentHost& mHost;
    std::shared_ptr<CScanList> mScanList;
    std::string mEncServerURL, mSessionId, mEncOperator, mEncBatchNo, mEncInno, mUploadReport, mEncDVDPrefix,
        mLastTmpFile, mProxy, mSessionIdName;
    bool mOnlyScanList = true, mEnableOverWrite = true, mEnablePageUpdater = false, mEnableTopMost = false,
         mEnableOCR = false, mScanListVisible = true;
};

}  // namespace dorvex
