#include "model/ScanList.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "support/Error.h"
#include "support/ModFS.h"
#include "support/WinInfo.h"
#include "support/Text.h"

namespace dorvex {
namespace {

[[noreturn]] void SubscriptError() { throw DorvexError(err::SubscriptOutOfRange, "Subscript out of range"); }

}  // namespace

// ---- CInno: state ----

void CInno::Announce(unsigned changes) const {
    // Process-wide, so that a document restored from a copy of itself gets a new revision too.
    static std::atomic<std::uint64_t> revisions{0};
    if (changes & change::PagesChanged) mPagesRevision = ++revisions;
    std::shared_ptr<CBatchNo> batch = mBatch.lock();
    if (batch && batch->Owner() != nullptr) batch->Owner()->Announce(changes);
}

void CInno::AnnounceState(std::int32_t before) const {
    if (mState != before) Announce(change::StateChanged);
}

void CInno::Touch() {
    const std::int32_t before = mState;
    if (mState == state::Saved) mState = state::Changed;
    else if (mState == state::SavedOther) mState = state::ChangedOther;
    AnnounceState(before);
}

void CInno::ApplyOwnership() {
    if (mIsMine) {
        if (mState == state::ChangedOther) mState = state::Changed;
        else if (mState == state::SavedOther) mState = state::Saved;
    } else {
        if (mState == state::Changed) mState = state::ChangedOther;
        else if (mState == state::Saved) mState = state::SavedOther;
    }
}

void CInno::SetState(std::int32_t value) {
    const std::int32_t before = mState;
    mState = value;
    ApplyOwnership();
    AnnounceState(before);
}

void CInno::SetIsMine(bool mine) {
    const std::int32_t before = mState;
    mIsMine = mine;
    ApplyOwnership();
    AnnounceState(before);
}

void CInno::SetChanged() {
    const std::int32_t before = mState;
    if (mState == state::New || mState == state::Saved) mState = state::Changed;
    else if (mState == state::SavedOther) mState = state::ChangedOther;
    ApplyOwnership();
    AnnounceState(before);
}

void CInno::SetActPage(std::int32_t pages) {
    const bool changed = pages != mActPage;
    mActPage = pages;
    Touch();
    if (SelectedIndex > mActPage) SelectedIndex = mActPage;
    mLoadMode = mActPage < 50 ? 0 : 1;
    if (changed) Announce(change::PagesChanged);
}

void CInno::SetInno(const std::string& inno) {
    const bool changed = inno != mInno;
    mInno = inno;
    Touch();
    if (changed) Announce(change::DocumentRenamed);
}

// ---- CInno: page files ----

void CInno::NewPage(const std::string& path) {
    SetChanged();
    SetActPage(mActPage + 1);
    ++SelectedIndex;
    if (EnableMultiTIFF && !mFiles.empty()) return;
    AppendFile(path.empty() ? CWinInfo().getTmpFileName() : path, SelectedIndex);
}

void CInno::AppendFile(const std::string& path, std::int32_t position) {
    if (position <= 0 || position > Length()) {
        mFiles.push_back(path);
    } else {
        mFiles.insert(mFiles.begin() + (position - 1), path);
    }
    Touch();
    Announce(change::PagesChanged);
}

void CInno::InsertPageAt(std::int32_t position) {
    if (EnableMultiTIFF || position < 1 || position > mActPage + 1) return;
    std::string path = CWinInfo().getTmpFileName();
    std::remove(path.c_str());  // the caller saves the new page there afresh
    std::int32_t at = std::min(position, Length() + 1);
    mFiles.insert(mFiles.begin() + (at - 1), path);
    SetActPage(mActPage + 1);
}

void CInno::Delete(std::int32_t page, bool deleteFile) {
    // A page that the document does not have changes nothing: counting it down would break
    // the page count against the file list.
    if (page < 1 || page > std::max(mActPage, Length())) return;
    if (page <= Length()) {
        const std::string& path = mFiles[static_cast<std::size_t>(page - 1)];
        if (deleteFile && FileExists(path)) std::remove(path.c_str());
        if (!EnableMultiTIFF) mFiles.erase(mFiles.begin() + (page - 1));
    }
    if (page < SelectedIndex) --SelectedIndex;
    mActPage = std::max(mActPage - 1, 0);
    mLoadMode = mActPage < 50 ? 0 : 1;
    if (SelectedIndex > mActPage) SelectedIndex = mActPage;
    Touch();
    Announce(change::PagesChanged);
}

void CInno::MovePagesTo(std::int32_t first, std::int32_t last, std::int32_t target) {
    const std::int32_t length = Length();
    if (EnableMultiTIFF || first < 1 || last < first || last > length || target < 0 || target > length) return;
    // A target inside the moved range leaves the pages where they are.
    if (target >= first && target <= last) return;
    auto at = [this](std::int32_t position) -> std::string& { return mFiles[static_cast<std::size_t>(position - 1)]; };
    if (target > first) {
        for (std::int32_t n = 0; n < last - first + 1; ++n) {
            std::string taken = at(first);
            for (std::int32_t k = first; k < target; ++k) at(k) = at(k + 1);
            at(target) = taken;
        }
    } else {
        for (std::int32_t i = first; i <= last; ++i) {
            std::int32_t to = i - first + target + 1;
            std::string taken = at(i);
            for (std::int32_t k = i; k > to; --k) at(k) = at(k - 1);
            at(to) = taken;
        }
    }
    Announce(change::PagesChanged);
}

std::string CInno::FilePath() const {
    if (mFiles.empty()) return {};
    if (EnableMultiTIFF) return mFiles.front();
    return FilePaths(SelectedIndex);
}

void CInno::SetFilePath(const std::string& path) {
    if (EnableMultiTIFF) {
        if (mFiles.empty()) mFiles.push_back(path);
        else mFiles.front() = path;
    } else {
        if (SelectedIndex < 1 || SelectedIndex > Length()) return;
        mFiles[static_cast<std::size_t>(SelectedIndex - 1)] = path;
    }
    Touch();
    Announce(change::PagesChanged);
}

std::string CInno::FilePaths(std::int32_t position) const {
    if (EnableMultiTIFF) return mFiles.empty() ? std::string() : mFiles.front();
    if (position < 1 || position > Length()) return {};
    return mFiles[static_cast<std::size_t>(position - 1)];
}

bool CInno::FilesExists() const {
    return std::all_of(mFiles.begin(), mFiles.end(), [](const std::string& path) { return FileExists(path); });
}

void CInno::KillFiles() const {
    for (const auto& path : mFiles) {
        if (FileExists(path)) std::remove(path.c_str());
    }
}

std::int32_t CInno::RealPageNumber() const { return EnableMultiTIFF ? SelectedIndex : 1; }

std::int32_t CInno::GetRealPageNumber(std::int32_t page) const { return EnableMultiTIFF ? page : 1; }

void CInno::FirstPage() {
    if (mActPage > 0) SelectedIndex = 1;
}
void CInno::PreviousPage() {
    if (SelectedIndex > 1) --SelectedIndex;
}
void CInno::NextPage() {
    if (SelectedIndex < mActPage) ++SelectedIndex;
}
void CInno::LastPage() { SelectedIndex = mActPage; }

// ---- CInno: words ----

void CInno::PutWord(const std::string& key, const std::string& value) {
    mIsParsed = true;
    for (auto& phase : mWords) {
        if (phase.Key == key) {
            if (phase.Value == value) return;
            phase.Confidence = -1;  // no longer the engine's reading
            phase.Value = value;
            Touch();
            Announce(change::PagesChanged);
            return;
        }
    }
    mWords.push_back({key, value});
    Touch();
    Announce(change::PagesChanged);
}

void CInno::PutWordSerial(const std::string& serial) {
    if (serial.empty()) return;
    std::vector<std::pair<std::string, std::string>> items;
    for (const std::string& item : Split(serial, '|')) {
        std::size_t eq = item.find('=');
        if (eq == std::string::npos) {
            throw DorvexError(err::SubscriptOutOfRange, "word item without \"=\": " + item);
        }
        std::size_t second = item.find('=', eq + 1);
        std::string value = item.substr(eq + 1, second == std::string::npos ? std::string::npos : second - eq - 1);
        for (std::size_t at = value.find("\\r\\n"); at != std::string::npos; at = value.find("\\r\\n", at + 2)) {
            value.replace(at, 4, "\r\n");
        }
        items.emplace_back(item.substr(0, eq), std::move(value));
    }
    for (const auto& [key, value] : items) PutWord(key, value);
}

void CInno::SetWords(std::vector<CPhase> words) {
    mWords = std::move(words);
    mIsParsed = true;
    Announce(change::PagesChanged);
}

// ---- CBatchNo ----

std::shared_ptr<CInno> CBatchNo::AddInno(const std::string& inno) { return AddInnoImpl(inno, nullptr); }

std::shared_ptr<CInno> CBatchNo::AddInno(const std::string& inno, std::int32_t predictPages) {
    return AddInnoImpl(inno, &predictPages);
}

std::shared_ptr<CInno> CBatchNo::AddInnoImpl(const std::string& inno, const std::int32_t* predictPages) {
    std::shared_ptr<CInno> doc = GetInno(inno);
    const bool added = !doc;
    if (added) {
        doc = std::make_shared<CInno>();
        mDocs.push_back(doc);
    }
    doc->SetInno(inno);
    doc->SetBatchNo(shared_from_this());
    if (predictPages != nullptr) doc->PredictPage = *predictPages;
    if (CompareList != nullptr) {
        std::shared_ptr<CInno> listed = CompareList->GetInno(BatchNo, inno);
        doc->ListSeq = listed && listed->ListSeq != 0 ? listed->ListSeq : ExtraListSeq();
    } else {
        doc->ListSeq = static_cast<std::int16_t>(Length());
    }
    if (added && mOwner != nullptr) mOwner->Announce(change::DocumentAdded);
    return doc;
}

std::shared_ptr<CInno> CBatchNo::InsertAfter(const std::string& newInno, const std::string& existingInno) {
    std::int32_t at = GetIndexByInno(existingInno);
    if (at == 0) return AddInno(newInno);
    auto doc = std::make_shared<CInno>();
    doc->SetBatchNo(shared_from_this());
    doc->SetInno(newInno);
    mDocs.insert(mDocs.begin() + at, doc);
    // Every document is numbered by its place, so that sorting keeps the new one where it is.
    for (std::int32_t position = 1; position <= Length(); ++position) {
        mDocs[static_cast<std::size_t>(position - 1)]->ListSeq = static_cast<std::int16_t>(position);
    }
    if (mOwner != nullptr) mOwner->Announce(change::DocumentAdded);
    return doc;
}

void CBatchNo::RemoveInnoByIndex(std::int32_t position) {
    if (position < 1 || position > Length()) return;
    mDocs.erase(mDocs.begin() + (position - 1));
    if (mOwner != nullptr) mOwner->Announce(change::DocumentRemoved);
}

std::int32_t CBatchNo::GetIndexByInno(const std::string& inno) const {
    for (std::size_t i = 0; i < mDocs.size(); ++i) {
        if (mDocs[i]->Inno() == inno) return static_cast<std::int32_t>(i + 1);
    }
    return 0;
}

std::shared_ptr<CInno> CBatchNo::GetInno(const std::string& inno) const {
    std::int32_t at = GetIndexByInno(inno);
    return at == 0 ? nullptr : mDocs[static_cast<std::size_t>(at - 1)];
}

std::shared_ptr<CInno> CBatchNo::Item(std::int32_t position) const {
    if (position < 1 || position > Length()) SubscriptError();
    return mDocs[static_cast<std::size_t>(position - 1)];
}

void CBatchNo::Sort() {
    const std::int32_t n = Length();
    if (n < 2) return;
    const std::vector<std::shared_ptr<CInno>> before = mDocs;
    for (std::int32_t i = 0; i < n - 1; ++i) {
        for (std::int32_t j = i + 1; j < n; ++j) {
            if (mDocs[static_cast<std::size_t>(i)]->ListSeq > mDocs[static_cast<std::size_t>(j)]->ListSeq) {
                std::swap(mDocs[static_cast<std::size_t>(i)], mDocs[static_cast<std::size_t>(j)]);
            }
        }
        mDocs[static_cast<std::size_t>(i)]->ListSeq = static_cast<std::int16_t>(i + 1);
    }
    mDocs.back()->ListSeq = static_cast<std::int16_t>(n);
    if (before != mDocs && mOwner != nullptr) mOwner->Announce(change::DocumentMoved);
}

std::int16_t CBatchNo::ExtraListSeq() {
    if (mExtraSeq == INT16_MAX) throw DorvexError(err::Overflow, "Overflow");
    return ++mExtraSeq;
}

// ---- CScanList ----

std::shared_ptr<CBatchNo> CScanList::FindOrAddBatch(const std::string& batchNo) {
    std::shared_ptr<CBatchNo> batch = GetBatchNo(batchNo);
    if (!batch) {
        batch = std::make_shared<CBatchNo>();
        batch->CompareList = CompareList;
        batch->mOwner = this;
        mBatches.push_back(batch);
    }
    batch->BatchNo = batchNo;
    return batch;
}

std::shared_ptr<CInno> CScanList::Add(const std::string& batchNo, const std::string& inno) {
    return FindOrAddBatch(batchNo)->AddInno(inno);
}

std::shared_ptr<CInno> CScanList::Add(const std::string& batchNo, const std::string& inno,
                                      std::int32_t predictPages) {
    return FindOrAddBatch(batchNo)->AddInno(inno, predictPages);
}

void CScanList::Remove(std::int32_t position) {
    if (position < 1 || position > Length()) return;
    mBatches[static_cast<std::size_t>(position - 1)]->mOwner = nullptr;
    mBatches.erase(mBatches.begin() + (position - 1));
    Announce(change::DocumentRemoved);
}

std::int32_t CScanList::GetIndexByBatchNo(const std::string& batchNo) const {
    for (std::size_t i = 0; i < mBatches.size(); ++i) {
        if (mBatches[i]->BatchNo == batchNo) return static_cast<std::int32_t>(i + 1);
    }
    return 0;
}

std::shared_ptr<CBatchNo> CScanList::GetBatchNo(const std::string& batchNo) const {
    std::int32_t at = GetIndexByBatchNo(batchNo);
    return at == 0 ? nullptr : mBatches[static_cast<std::size_t>(at - 1)];
}

std::shared_ptr<CInno> CScanList::GetInno(const std::string& batchNo, const std::string& inno) const {
    std::shared_ptr<CBatchNo> batch = GetBatchNo(batchNo);
    return batch ? batch->GetInno(inno) : nullptr;
}

std::shared_ptr<CInno> CScanList::GetInno2(const std::string& inno) const {
    for (const auto& batch : mBatches) {
        if (auto doc = batch->GetInno(inno)) return doc;
    }
    return nullptr;
}

std::int32_t CScanList::RemoveByInno(const std::string& inno) {
    for (const auto& batch : mBatches) {
        std::int32_t at = batch->GetIndexByInno(inno);
        if (at != 0) {
            std::int32_t index = batch->Item(at)->Index;
            batch->RemoveInnoByIndex(at);
            return index;
        }
    }
    return 0;
}

std::shared_ptr<CInno> CScanList::GetInnoByIndex(std::int32_t index) const {
    for (const auto& doc : AllInnos()) {
        if (doc->Index == index) return doc;
    }
    return nullptr;
}

std::shared_ptr<CBatchNo> CScanList::BatchNoList(std::int32_t position) const {
    if (position < 1 || position > Length()) SubscriptError();
    return mBatches[static_cast<std::size_t>(position - 1)];
}

void CScanList::Sort() {
    for (const auto& batch : mBatches) batch->Sort();
}

void CScanList::ResetNodeIndex(std::int32_t removedIndex) {
    for (const auto& batch : mBatches) {
        if (batch->Index > removedIndex) --batch->Index;
        for (std::int32_t i = 1; i <= batch->Length(); ++i) {
            auto doc = batch->Item(i);
            if (doc->Index > removedIndex) --doc->Index;
        }
    }
}

void CScanList::CleanNodesIndex() {
    Index = 0;
    for (const auto& batch : mBatches) {
        batch->Index = 0;
        for (std::int32_t i = 1; i <= batch->Length(); ++i) batch->Item(i)->Index = 0;
    }
}

bool CScanList::IsAllTheState(std::int32_t value) const {
    for (const auto& doc : AllInnos()) {
        if (doc->state() != value) return false;
    }
    return true;
}

bool CScanList::IsAllSaved() const {
    for (const auto& doc : AllInnos()) {
        if (doc->state() != state::Saved && doc->state() != state::SavedOther) return false;
    }
    return true;
}

std::shared_ptr<CInno> CScanList::LastCInno() const {
    if (mBatches.empty() || mBatches.back()->Length() == 0) return nullptr;
    return mBatches.back()->Item(mBatches.back()->Length());
}

std::int16_t CScanList::TotalInnos() const {
    std::int32_t total = 0;
    for (const auto& batch : mBatches) total += batch->Length();
    if (total > INT16_MAX) throw DorvexError(err::Overflow, "Overflow");
    return static_cast<std::int16_t>(total);
}

std::vector<std::shared_ptr<CInno>> CScanList::AllInnos() const {
    std::vector<std::shared_ptr<CInno>> docs;
    for (const auto& batch : mBatches) {
        for (std::int32_t i = 1; i <= batch->Length(); ++i) docs.push_back(batch->Item(i));
    }
    return docs;
}

bool CScanList::Contains(const CInno& doc) const {
    for (const auto& batch : mBatches) {
        for (const auto& held : batch->mDocs) {
            if (held.get() == &doc) return true;
        }
    }
    return false;
}

// ---- Followers ----

CScanList::~CScanList() {
    // Documents that outlive the list must not reach it any more.
    for (const auto& batch : mBatches) batch->mOwner = nullptr;
}

CScanList& CScanList::operator=(CScanList&& other) noexcept {
    if (this == &other) return *this;
    for (const auto& batch : mBatches) batch->mOwner = nullptr;
    mBatches = std::move(other.mBatches);
    other.mBatches.clear();
    for (const auto& batch : mBatches) batch->mOwner = this;
    Index = other.Index;
    CompareList = other.CompareList;
    Announce(change::DocumentRemoved | change::DocumentAdded);
    return *this;
}

void CScanList::Subscribe(IScanListObserver* observer) {
    if (observer && std::find(mObservers.begin(), mObservers.end(), observer) == mObservers.end()) mObservers.push_back(observer);
}

void CScanList::Unsubscribe(IScanListObserver* observer) {
    mObservers.erase(std::remove(mObservers.begin(), mObservers.end(), observer), mObservers.end());
}

void CScanList::Announce(unsigned changes) {
    mPending |= changes;
    if (mGroupDepth == 0) Deliver();
}

void CScanList::Deliver() {
    const unsigned changes = mPending;
    mPending = 0;
    bool followed = true;
    if (changes != 0) {
        // A follower may unsubscribe while it is told.
        const std::vector<IScanListObserver*> observers = mObservers;
        for (IScanListObserver* observer : observers) followed = observer->ScanListChanged(*this, changes) && followed;
    }
    // Files still named by a follower's record wait for one that no longer names them.
    if (!followed) return;
    std::vector<std::string> doomed;
    doomed.swap(mDoomedFiles);
    for (const std::string& path : doomed) {
        if (FileExists(path)) std::remove(path.c_str());
    }
}

CScanList::EditGroup::EditGroup(CScanList& list) : mList(list) { ++mList.mGroupDepth; }

CScanList::EditGroup::~EditGroup() {
    if (--mList.mGroupDepth == 0) mList.Deliver();
}

void CScanList::DeleteFilesWhenAnnounced(const CInno& doc) {
    for (std::int32_t page = 1; page <= std::max(doc.Length(), 1); ++page) {
        std::string path = doc.EnableMultiTIFF ? doc.FilePath() : doc.FilePaths(page);
        if (!path.empty()) mDoomedFiles.push_back(path);
    }
    if (mGroupDepth == 0) Deliver();
}

void CompareScanList(CScanList& list, const CScanList* serverList) {
    for (const auto& doc : list.AllInnos()) doc->SetIsMine(serverList != nullptr && serverList->IsInnoExists(doc->Inno()));
    list.Sort();
}

}  // namespace dorvex
