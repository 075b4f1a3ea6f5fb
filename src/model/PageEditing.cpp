#include "model/PageEditing.h"

#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

#include "model/PageFiles.h"
#include "support/Error.h"
#include "support/ModFS.h"
#include "support/WinInfo.h"

namespace dorvex {
namespace {

bool AllFilesExist(const std::shared_ptr<CInno>& doc) { return doc && !doc->FilePath().empty() && doc->FilesExists(); }

void RemoveDocument(CScanList& list, CScanList* serverList, const std::shared_ptr<CInno>& doc, int* removedIndex) {
    if (serverList != nullptr) {
        if (std::shared_ptr<CInno> listed = serverList->GetInno2(doc->Inno())) listed->SetState(state::New);
    }
    // The tree follows the list by itself: no stored index is shifted here.
    int index = list.RemoveByInno(doc->Inno());
    if (removedIndex != nullptr) *removedIndex = index;
}

// Takes a document away with its files: out of the list, its followers (the recovery file)
// told, and only then its files deleted, so that a crash in between never brings back part of
// it as the whole.
void DropDocument(CScanList& list, CScanList* serverList, const std::shared_ptr<CInno>& doc, int* removedIndex) {
    RemoveDocument(list, serverList, doc, removedIndex);
    list.DeleteFilesWhenAnnounced(*doc);
}

bool SameStorage(const CInno& a, const CInno& b) {
    return a.EnableMultiTIFF == b.EnableMultiTIFF && a.Format == b.Format && a.BitmapBits == b.BitmapBits;
}

Raster AtDepth(const Raster& image, int bits) {
    Raster converted = image;
    if (bits == 1 || bits == 8 || bits == 24) converted.ConvertTo(bits);
    return converted;
}

void SaveAs(const Raster& image, int format, int bits, const std::string& path, int page, SaveMode mode) {
    AtDepth(image, bits).Save(path, format, page, mode);
}

// A change of a document's page files written in full beside them and not yet in place: a
// rewritten multi-page file and new one-page files. Dropped without being applied, it leaves
// nothing behind.
struct Staged {
    std::optional<PageFileBuilder> file;
    std::vector<std::string> newFiles;
    bool kept = false;
    Staged() = default;
    Staged(const Staged&) = delete;
    Staged& operator=(const Staged&) = delete;
    ~Staged() {
        if (kept) return;
        for (const std::string& path : newFiles) std::remove(path.c_str());
    }
};

// A new one-page file holding `image` as `format` at `bits` per pixel.
std::string NewPageFile(int format, int bits, const Raster& image, Staged& staged) {
    std::string path = CWinInfo().getTmpFileName();
    staged.newFiles.push_back(path);
    SaveAs(image, format, bits, path, 1, SaveMode::Overwrite);
    return path;
}

// `image` as page `at` of the document (after its pages when `at` is one past the last).
void StageInsert(const CInno& doc, int at, const Raster& image, Staged& staged) {
    if (!doc.EnableMultiTIFF) {
        NewPageFile(doc.Format, doc.BitmapBits, image, staged);
        return;
    }
    Raster page = AtDepth(image, doc.BitmapBits);
    staged.file.emplace(doc.FilePath());
    for (int p = 1; p <= doc.ActPage() + 1; ++p) {
        if (p == at) staged.file->Add(page, doc.Format);
        if (p <= doc.ActPage()) staged.file->AddFrom(doc.FilePath(), p);
    }
    staged.file->Finish();
}

void ApplyInsert(CInno& doc, int at, Staged& staged) {
    if (doc.EnableMultiTIFF) {
        staged.file->Commit();
    } else {
        doc.AppendFile(staged.newFiles.front(), at);
        staged.kept = true;
    }
    doc.SetActPage(doc.ActPage() + 1);
    doc.SetState(state::Changed);
    doc.SelectedIndex = at;
}

// The document without page `page` (the only page takes the document away, which needs no
// writing).
void StageRemoval(const CInno& doc, int page, Staged& staged) {
    if (!doc.EnableMultiTIFF || doc.ActPage() <= 1) return;
    staged.file.emplace(doc.FilePath());
    for (int p = 1; p <= doc.ActPage(); ++p) {
        if (p != page) staged.file->AddFrom(doc.FilePath(), p);
    }
    staged.file->Finish();
}

DeleteOutcome ApplyRemoval(CScanList& list, CScanList* serverList, const std::shared_ptr<CInno>& doc, int page, Staged& staged,
                           int* removedIndex) {
    if (doc->ActPage() == 1) {
        DropDocument(list, serverList, doc, removedIndex);
        return DeleteOutcome::DocumentRemoved;
    }
    if (doc->EnableMultiTIFF) {
        staged.file->Commit();
        doc->Delete(page, false);
    } else {
        doc->Delete(page, true);
    }
    return DeleteOutcome::PageDeleted;
}

// The page order after moving first..last behind page `after` (which lies outside them).
std::vector<int> MovedOrder(int pages, int first, int last, int after) {
    std::vector<int> rest;
    for (int p = 1; p <= pages; ++p) {
        if (p < first || p > last) rest.push_back(p);
    }
    std::size_t at = static_cast<std::size_t>(after < first ? after : after - (last - first + 1));
    std::vector<int> moved;
    for (int p = first; p <= last; ++p) moved.push_back(p);
    rest.insert(rest.begin() + static_cast<std::ptrdiff_t>(at), moved.begin(), moved.end());
    return rest;
}

}  // namespace

void SavePageImage(const CInno& doc, const Raster& image, const std::string& path, int page, SaveMode mode) {
    SaveAs(image, doc.Format, doc.BitmapBits, path, page, mode);
}

void SaveThisPage(CInno& doc, const Raster& image, int format, int bits) {
    if (!doc.FilePath().empty()) {
        SaveAs(image, format != 0 ? format : doc.Format, bits != 0 ? bits : doc.BitmapBits, doc.FilePath(),
               doc.RealPageNumber(), doc.EnableMultiTIFF ? SaveMode::Replace : SaveMode::Overwrite);
    }
    doc.SetState(state::Changed);
    doc.Announce(change::PagesChanged);  // a page file changed under the same list of files
}

void AppendPage(CInno& doc, const Raster& image, const std::function<void()>& listed) {
    const CInno before = doc;
    try {
        // The page's new file (when it gets one) cannot be made in a folder that is full.
        doc.LastPage();
        doc.NewPage("");
        if (listed) listed();
        SavePageImage(doc, image, doc.FilePath(), doc.RealPageNumber(),
                      doc.EnableMultiTIFF ? SaveMode::Append : SaveMode::Overwrite);
    } catch (...) {
        // The page is not stored: the document is as it was, without a placeholder file.
        if (doc.Length() > before.Length()) {
            std::string created = doc.EnableMultiTIFF ? doc.FilePath() : doc.FilePaths(doc.SelectedIndex);
            std::remove(created.c_str());
        }
        doc = before;
        doc.Announce(change::PagesChanged);
        throw;
    }
}

bool InsertPageAfterCurrent(CInno& doc, const Raster& image) {
    if (!doc.FilesExists() || (doc.EnableMultiTIFF && doc.FilePath().empty())) return false;
    int at = doc.SelectedIndex + 1;
    Staged staged;
    StageInsert(doc, at, image, staged);
    std::shared_ptr<CBatchNo> batch = doc.BatchNo();
    std::optional<CScanList::EditGroup> group;
    if (batch && batch->Owner()) group.emplace(*batch->Owner());
    ApplyInsert(doc, at, staged);
    return true;
}

Raster LoadPage(const CInno& doc, int page) { return Raster::Load(doc.FilePaths(page), doc.GetRealPageNumber(page)); }

DeleteOutcome DeletePageOfDocument(CScanList& list, CScanList* serverList, const std::shared_ptr<CInno>& doc, int page,
                                   int* removedIndex) {
    if (!doc || page < 1 || page > doc->ActPage()) return DeleteOutcome::Nothing;
    CScanList::EditGroup group(list);
    Staged staged;
    StageRemoval(*doc, page, staged);
    return ApplyRemoval(list, serverList, doc, page, staged, removedIndex);
}

bool DeletePageRange(CScanList& list, CScanList* serverList, const std::shared_ptr<CInno>& doc, int first, int last) {
    if (!AllFilesExist(doc) || first < 1 || last < first || last - first + 1 > doc->ActPage() || last > doc->ActPage()) {
        return false;
    }
    CScanList::EditGroup group(list);
    if (first == 1 && last == doc->ActPage()) {  // down to the last page, which takes the document
        DropDocument(list, serverList, doc, nullptr);
        return true;
    }
    if (doc->EnableMultiTIFF) {
        std::vector<int> kept;
        for (int p = 1; p <= doc->ActPage(); ++p) {
            if (p < first || p > last) kept.push_back(p);
        }
        RewritePages(doc->FilePath(), kept);  // one rewrite: all of the range goes, or none
    }
    for (int page = last; page >= first; --page) doc->Delete(page, !doc->EnableMultiTIFF);
    return true;
}

DeleteOutcome EditEveryPage(CScanList& list, CScanList* serverList, const std::shared_ptr<CInno>& doc,
                            const std::function<bool(Raster&, int)>& edit) {
    if (!AllFilesExist(doc) || doc->ActPage() < 1) return DeleteOutcome::Nothing;
    CScanList::EditGroup group(list);
    Staged staged;
    std::optional<ImageInfo> multiInfo;
    if (doc->EnableMultiTIFF) {
        multiInfo = ReadImageInfo(doc->FilePath());
        staged.file.emplace(doc->FilePath());
    }
    const int pages = doc->ActPage();
    int kept = 0;
    std::vector<bool> keptPages(static_cast<std::size_t>(pages), false);
    for (int p = 1; p <= pages; ++p) {
        Raster page = LoadPage(*doc, p);
        if (!edit(page, p)) continue;
        ++kept;
        keptPages[static_cast<std::size_t>(p - 1)] = true;
        // Each page goes back in the format and depth of the file it came from.
        if (multiInfo) {
            staged.file->Add(AtDepth(page, multiInfo->bitsPerPixel), multiInfo->format);
        } else {
            ImageInfo info = ReadImageInfo(doc->FilePaths(p));
            NewPageFile(info.format, info.bitsPerPixel, page, staged);
        }
    }
    if (kept == 0) {
        DropDocument(list, serverList, doc, nullptr);
        return DeleteOutcome::DocumentRemoved;
    }
    if (multiInfo) {
        staged.file->Commit();
        doc->SetActPage(kept);
    } else {
        // The cleaned pages take the places of the old files, so that the recovery file and
        // anything else naming them stays true; dropped pages go with their files.
        std::size_t next = 0;
        for (int p = pages; p >= 1; --p) {
            if (!keptPages[static_cast<std::size_t>(p - 1)]) doc->Delete(p, true);
        }
        for (int p = 1; p <= doc->ActPage(); ++p) {
            const std::string& from = staged.newFiles[next++];
            if (std::rename(from.c_str(), doc->FilePaths(p).c_str()) != 0) {
                throw DorvexError(err::DeviceIo, "cannot replace " + doc->FilePaths(p) + " with its cleaned page");
            }
        }
        staged.newFiles.clear();
    }
    doc->SetState(state::Changed);
    doc->Announce(change::PagesChanged);  // the pages were rewritten, maybe under the same files
    return kept < pages ? DeleteOutcome::PageDeleted : DeleteOutcome::Nothing;
}

bool MovePages(CInno& doc, int first, int last, int after) {
    int pages = doc.ActPage();
    if (first < 1 || last < first || last > pages || after < 0 || after > pages) return false;
    if (after >= first && after <= last) return false;
    if (!doc.EnableMultiTIFF) {
        doc.MovePagesTo(first, last, after);
        return true;
    }
    if (!doc.FilesExists()) return false;
    RewritePages(doc.FilePath(), MovedOrder(pages, first, last, after));
    doc.SetChanged();
    doc.Announce(change::PagesChanged);
    return true;
}

bool MoveCutPage(CScanList& list, CScanList* serverList, const std::shared_ptr<CInno>& source,
                 const std::shared_ptr<CInno>& target) {
    if (!AllFilesExist(source) || !AllFilesExist(target)) return false;
    // A document merged away or deleted since the cut no longer owns its files.
    if (list.GetInno2(source->Inno()) != source || list.GetInno2(target->Inno()) != target) return false;
    if (source == target && source->SourcePage == target->SelectedIndex) return false;
    CScanList::EditGroup group(list);
    int page = source->SourcePage;
    if (page < 1 || page > source->ActPage()) return false;
    if (source == target) {
        // Within one document the page ends where the current page is: a reordering.
        int current = target->SelectedIndex;
        if (!MovePages(*target, page, page, page > current ? current - 1 : current)) return false;
        target->SelectedIndex = current;
        target->SetState(state::Changed);
        return true;
    }
    // Both files are written in full before either is replaced: the page is added to the target
    // before it leaves the source, and a failure changes neither.
    Raster image = LoadPage(*source, page);
    int at = target->SelectedIndex + 1;
    Staged into, from;
    StageInsert(*target, at, image, into);
    StageRemoval(*source, page, from);
    ApplyInsert(*target, at, into);
    ApplyRemoval(list, serverList, source, page, from, nullptr);
    return true;
}

bool MergeOrCut(CScanList& list, CScanList* serverList, const std::string& sourceNumber, bool merge, int start, bool after,
                std::string target, bool attachment) {
    std::shared_ptr<CInno> source = list.GetInno2(sourceNumber);
    if (!AllFilesExist(source)) return false;
    CScanList::EditGroup group(list);
    bool isAttachment = !merge && attachment;
    if (isAttachment) {
        for (int n = 1;; ++n) {
            target = sourceNumber + "_" + std::to_string(n);
            if (!list.IsInnoExists(target)) break;
        }
    }
    if (start < 0 || source->ActPage() < start + 1 || target.empty()) return false;
    std::shared_ptr<CInno> existing;
    std::shared_ptr<CBatchNo> batch = source->BatchNo();
    if (merge) {
        existing = list.GetInno2(target);
        if (!existing || existing == source || !existing->FilesExists()) return false;
    } else if (list.IsInnoExists(target) || !batch) {
        return false;
    }
    // The target's storage: an existing document keeps its own, a new one takes the source's.
    CInno storage;
    storage.EnableMultiTIFF = existing ? existing->EnableMultiTIFF : source->EnableMultiTIFF;
    storage.Format = existing ? existing->Format : source->Format;
    storage.BitmapBits = existing ? existing->BitmapBits : source->BitmapBits;
    const int first = after ? start + 1 : 1;
    const int last = after ? source->ActPage() : start + 1;
    const bool everything = first == 1 && last == source->ActPage();
    // Page files are handed over as they are when both keep one file per page alike.
    const bool handOver = !source->EnableMultiTIFF && !storage.EnableMultiTIFF && SameStorage(*source, storage);

    // Write everything first: the target's pages, then the source without them.
    Staged into, from;
    std::string targetFile;  // a new target's multi-page file
    if (storage.EnableMultiTIFF) {
        bool hasFile = existing && !existing->FilePath().empty() && existing->ActPage() > 0;
        targetFile = hasFile ? existing->FilePath() : CWinInfo().getTmpFileName();
        if (!hasFile) into.newFiles.push_back(targetFile);
        into.file.emplace(targetFile);
        for (int p = 1; hasFile && p <= existing->ActPage(); ++p) into.file->AddFrom(targetFile, p);
        for (int p = first; p <= last; ++p) into.file->Add(AtDepth(LoadPage(*source, p), storage.BitmapBits), storage.Format);
        into.file->Finish();
    } else if (!handOver) {
        for (int p = first; p <= last; ++p) NewPageFile(storage.Format, storage.BitmapBits, LoadPage(*source, p), into);
    }
    if (!everything && source->EnableMultiTIFF) {
        from.file.emplace(source->FilePath());
        for (int p = 1; p <= source->ActPage(); ++p) {
            if (p < first || p > last) from.file->AddFrom(source->FilePath(), p);
        }
        from.file->Finish();
    }
    if (into.file) into.file->Commit();
    if (from.file) from.file->Commit();
    into.kept = true;

    // Then the model, which cannot fail half-way.
    std::shared_ptr<CInno> dest = existing;
    if (!dest) {
        dest = batch->InsertAfter(target, source->Inno());
        dest->EnableMultiTIFF = storage.EnableMultiTIFF;
        dest->Format = storage.Format;
        dest->BitmapBits = storage.BitmapBits;
        if (isAttachment) dest->SetParent(source);
    }
    dest->LastPage();
    if (storage.EnableMultiTIFF) {
        if (dest->Length() == 0) dest->NewPage(targetFile);
        dest->SetActPage(into.file->Pages());
        dest->SetChanged();
    } else {
        for (int p = first; p <= last; ++p) {
            dest->NewPage(handOver ? source->FilePaths(p) : into.newFiles[static_cast<std::size_t>(p - first)]);
        }
    }
    if (everything) {
        RemoveDocument(list, serverList, source, nullptr);
    } else {
        for (int page = last; page >= first; --page) source->Delete(page, !source->EnableMultiTIFF && !handOver);
    }
    CompareScanList(list, serverList);
    // The source's files go once the followers know the merged pages in their new place.
    if (everything && !handOver) list.DeleteFilesWhenAnnounced(*source);
    return true;
}

}  // namespace dorvex
