#pragma once
// The scan window's questions to the server: the operator's scan list, the scanning
// capabilities, the message table, the OCR corrections, and the pages of documents the server
// already holds. Each posts one request to the session's server address through its proxy.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/ScanList.h"

namespace dorvex {

class CLanguage;
class IPrompter;
class ScanProperties;

class ServerQueries {
public:
    // Server address, operator and proxy come from the session settings (elements 2, 1, 44).
    ServerQueries(const ScanProperties& properties, IPrompter& prompter);

    // Adds the server's message table to `map`.
    void LoadMessages(CLanguage& map);
    // The server's OCR correction table, as its reply text (for the word parser's table).
    std::string QueryFixedWords();

    // Replaces `serverList` by a new list, fills it from the server when the reply lists any
    // document, and makes it the compare list of `scanList`. Returns the batch numbers for the
    // batch selector (empty when the server listed nothing; the first is to be selected).
    std::vector<std::string> GetScanList(CScanList& scanList, std::shared_ptr<CScanList>& serverList);

    struct Caps {
        int debug = 0;    // the debug switch
        int scanOcx = 1;  // the scanner interface choice, 1 or 2
    };
    // Overwrites the server-given settings in `properties`; false when the reply is not XML.
    bool GetScanCaps(ScanProperties& properties, const std::string& dvdPrefix, Caps& caps);

    // Downloads the pages of document `inno` into `scanList` (added with an empty batch number)
    // through QueryImgInfoByInno and QueryImgByInno. Returns the document, marked saved, when
    // every part arrived and reads as an image; otherwise the person is told which document
    // could not be read, nothing is kept and the result is nullptr (as when the server has no
    // such document). A document already holding pages is returned as it is.
    std::shared_ptr<CInno> GetImgDataFromHttp(CScanList& scanList, const std::string& inno);

    // Downloads every document of `scanList` by the plain GET (?enc_inno=…&part=…). A document
    // takes its pages only when every part arrived (then it is saved); otherwise it stays as it
    // was, and the person is told which documents failed. Returns their number.
    int DownloadListedDocuments(CScanList& scanList);

    // Progress while downloading: (value, maximum); maximum 0 hides the bar.
    std::function<void(int, int)> OnProgress;

private:
    std::string Post(const class CBaseReq& request);
    void Progress(int value, int maximum);
    // "n份文件下載失敗：" and the numbers, when there are any.
    void TellFailed(const std::vector<std::string>& innos);

    std::string mUrl;
    std::string mOperator;
    std::string mProxy;
    IPrompter& mPrompter;
};

// The page-count window: local page counts against the server's, and updating them.
class FrmList {
public:
    explicit FrmList(IPrompter& prompter) : mPrompter(prompter) {}

    std::string ServerURL;
    std::string Proxy;

    struct Row {
        std::string inno;                // column 0 (the row's text)
        std::string localPages;          // column 1
        std::string serverPages;         // column 2
        std::string status;              // column 3
        bool checked = true;
    };
    const std::vector<Row>& InnoList() const { return mRows; }
    void SetChecked(std::size_t row, bool checked) { mRows.at(row).checked = checked; }

    void Add(const std::string& inno, long pages);
    void CmdQuery_Click();
    void CmdUpdate_Click();
    // Applies a QueryInnoPages or InnoPagesUpdate reply to the rows.
    void ProcessReply(const std::string& reply);

private:
    IPrompter& mPrompter;
    std::vector<Row> mRows;
};

}  // namespace dorvex
