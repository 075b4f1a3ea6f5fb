#pragma once
// The in-memory model of the scan window: batches of documents, each document a list of page
// files with a current page and recognised words. All positions are 1-based; a position that is
// not there gives an empty result (nullptr, 0, "" or no change), except Item and BatchNoList,
// which raise a subscript error.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/Phase.h"
#include "model/ScanListObserver.h"

namespace dorvex {

class CBatchNo;
class CScanList;

// Document states.
namespace state {
constexpr std::int32_t Saved = 2;          // saved to the server, on the to-scan list
constexpr std::int32_t Scanned = 3;        // to-scan entry that has been scanned
constexpr std::int32_t New = 4;            // created, nothing changed yet
constexpr std::int32_t Changed = 6;        // changed since the last save, on the to-scan list
constexpr std::int32_t ChangedOther = 10;  // changed since the last save, not on the list
constexpr std::int32_t SavedOther = 11;    // saved to the server, not on the list
}  // namespace state

class CInno {
public:
    // Counts and numbers.
    std::int32_t PredictPage = 0;
    std::string OldInno;
    std::int32_t Index = 0;
    std::int32_t SourcePage = 0;
    std::string ErrorMsg;
    std::int32_t SelectedIndex = 0;
    std::int32_t Format = 29;
    std::int16_t BitmapBits = 1;
    bool RandomInno = false;
    bool EnableMultiTIFF = true;
    std::int16_t ListSeq = 0;

    std::int32_t ActPage() const { return mActPage; }
    // Stores the count, touches the document, cuts SelectedIndex down to it, sets LoadMode.
    void SetActPage(std::int32_t pages);
    std::int32_t LoadMode() const { return mLoadMode; }

    const std::string& Inno() const { return mInno; }
    void SetInno(const std::string& inno);  // touches the document

    std::int32_t state() const { return mState; }
    void SetState(std::int32_t value);  // applies the ownership rule
    bool IsMine() const { return mIsMine; }
    void SetIsMine(bool mine);  // applies the ownership rule to the current state
    void SetChanged();          // the full change rule

    std::shared_ptr<CBatchNo> BatchNo() const { return mBatch.lock(); }
    void SetBatchNo(const std::shared_ptr<CBatchNo>& batch) { mBatch = batch; }
    std::shared_ptr<CInno> Parent() const { return mParent.lock(); }
    void SetParent(const std::shared_ptr<CInno>& parent) {
        mParent = parent;
        Announce(change::DocumentMoved);
    }

    // Page files.
    std::int32_t Length() const { return static_cast<std::int32_t>(mFiles.size()); }
    void NewPage(const std::string& path);
    void AppendFile(const std::string& path, std::int32_t position = 0);
    void InsertPageAt(std::int32_t position);
    void Delete(std::int32_t page, bool deleteFile);
    void MovePagesTo(std::int32_t first, std::int32_t last, std::int32_t target);
    std::string FilePath() const;
    void SetFilePath(const std::string& path);
    std::string FilePaths(std::int32_t position) const;
    bool FilesExists() const;
    void KillFiles() const;
    std::int32_t RealPageNumber() const;
    std::int32_t GetRealPageNumber(std::int32_t page) const;
    void FirstPage();
    void PreviousPage();
    void NextPage();
    void LastPage();

    // Recognised words.
    bool IsParsed() const { return mIsParsed; }
    void PutWord(const std::string& key, const std::string& value);
    // "key=value|key=value"; "\r\n" (the four characters) in a value becomes a real CR LF.
    // Throws DorvexError(SubscriptOutOfRange) for an item without "=".
    void PutWordSerial(const std::string& serial);
    const std::vector<CPhase>& Words() const { return mWords; }
    void SetWords(std::vector<CPhase> words);

    // Tells the followers of the list this document is in that it changed (kinds of
    // ScanListObserver.h); every setter above does so itself.
    void Announce(unsigned changes) const;
    // Set anew, to a value never given before, by every announcement of a change of the pages
    // (or words): what was read from the pages at one revision holds while it stays.
    std::uint64_t PagesRevision() const { return mPagesRevision; }

private:
    void Touch();
    void ApplyOwnership();
    void AnnounceState(std::int32_t before) const;

    std::int32_t mActPage = 0;
    std::int32_t mLoadMode = 0;
    std::string mInno;
    std::int32_t mState = state::New;
    bool mIsMine = false;
    bool mIsParsed = false;
    std::vector<std::string> mFiles;
    std::vector<CPhase> mWords;
    std::weak_ptr<CBatchNo> mBatch;
    std::weak_ptr<CInno> mParent;
    mutable std::uint64_t mPagesRevision = 0;  // an announcement is const; it still ages copies
};

class CBatchNo : public std::enable_shared_from_this<CBatchNo> {
public:
    std::string BatchNo;
    std::int32_t Index = 0;
    CScanList* CompareList = nullptr;  // the server's to-scan list, owned by the scan window

    std::int32_t Length() const { return static_cast<std::int32_t>(mDocs.size()); }
    std::shared_ptr<CInno> AddInno(const std::string& inno);
    std::shared_ptr<CInno> AddInno(const std::string& inno, std::int32_t predictPages);
    std::shared_ptr<CInno> InsertAfter(const std::string& newInno, const std::string& existingInno);
    void RemoveInnoByIndex(std::int32_t position);
    std::int32_t GetIndexByInno(const std::string& inno) const;
    std::shared_ptr<CInno> GetInno(const std::string& inno) const;
    std::shared_ptr<CInno> Item(std::int32_t position) const;  // throws outside 1..Length
    void Sort();
    std::int16_t ExtraListSeq();
    CScanList* Owner() const { return mOwner; }

private:
    friend class CScanList;
    std::shared_ptr<CInno> AddInnoImpl(const std::string& inno, const std::int32_t* predictPages);

    CScanList* mOwner = nullptr;  // the list holding this batch
    std::vector<std::shared_ptr<CInno>> mDocs;
    std::int16_t mExtraSeq = 1000;
};

class CScanList {
public:
    std::int32_t Index = 0;
    CScanList* CompareList = nullptr;

    std::int32_t Length() const { return static_cast<std::int32_t>(mBatches.size()); }
    std::shared_ptr<CInno> Add(const std::string& batchNo, const std::string& inno);
    std::shared_ptr<CInno> Add(const std::string& batchNo, const std::string& inno, std::int32_t predictPages);
    void Remove(std::int32_t position);
    std::int32_t GetIndexByBatchNo(const std::string& batchNo) const;
    std::shared_ptr<CBatchNo> GetBatchNo(const std::string& batchNo) const;
    std::shared_ptr<CInno> GetInno(const std::string& batchNo, const std::string& inno) const;
    std::shared_ptr<CInno> GetInno2(const std::string& inno) const;
    bool IsInnoExists(const std::string& inno) const { return GetInno2(inno) != nullptr; }
    std::int32_t RemoveByInno(const std::string& inno);
    std::shared_ptr<CInno> GetInnoByIndex(std::int32_t index) const;
    std::shared_ptr<CBatchNo> BatchNoList(std::int32_t position) const;  // throws outside 1..Length
    void Sort();
    void ResetNodeIndex(std::int32_t removedIndex);
    void CleanNodesIndex();
    bool IsAllTheState(std::int32_t value) const;
    bool IsAllSaved() const;
    std::shared_ptr<CInno> LastCInno() const;
    std::int16_t TotalInnos() const;  // throws Overflow above 32767

    // Every document of every batch, in list order (for the callers that walk the whole list).
    std::vector<std::shared_ptr<CInno>> AllInnos() const;
    // Whether the document is one of this list's (not one taken away from it).
    bool Contains(const CInno& doc) const;

    // ---- Followers ----
    CScanList() = default;
    CScanList(const CScanList&) = delete;
    CScanList& operator=(const CScanList&) = delete;
    // Takes the other list's batches and documents; the followers stay and are told.
    CScanList& operator=(CScanList&& other) noexcept;
    ~CScanList();
    void Subscribe(IScanListObserver* observer);
    void Unsubscribe(IScanListObserver* observer);
    // Tells every follower now, or at the end of the outermost open EditGroup.
    void Announce(unsigned changes);
    // The steps of one edit reach the followers as one change when the group ends, so that no
    // follower (the recovery file above all) ever records a half-done edit.
    class EditGroup {
    public:
        explicit EditGroup(CScanList& list);
        ~EditGroup();
        EditGroup(const EditGroup&) = delete;
        EditGroup& operator=(const EditGroup&) = delete;

    private:
        CScanList& mList;
    };
    // The document's page files are deleted once the followers were told (the recovery file
    // no longer names them): right away outside an EditGroup, else when it ends.
    void DeleteFilesWhenAnnounced(const CInno& doc);

private:
    std::shared_ptr<CBatchNo> FindOrAddBatch(const std::string& batchNo);
    void Deliver();

    std::vector<std::shared_ptr<CBatchNo>> mBatches;
    std::vector<IScanListObserver*> mObservers;
    int mGroupDepth = 0;
    unsigned mPending = 0;
    std::vector<std::string> mDoomedFiles;
};

// Marks every document of `list` as on the server's to-scan list or not, then sorts the list
// (run after documents were merged, split, deleted or restored).
void CompareScanList(CScanList& list, const CScanList* serverList);

}  // namespace dorvex
