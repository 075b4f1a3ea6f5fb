#include "model/PageEditing.h"

#include <cstdio>
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
    int index = list.RemoveByInno(doc->Inno());
    if (index > 0) list.ResetNodeIndex(index);
    if (removedIndex != nullptr) *removedIndex = index;
}

bool SameStorage(const CInno& a, const CInno& b) {
    return a.EnableMultiTIFF == b.EnableMultiTIFF && a.Format == b.Format && a.BitmapBits == b.BitmapBits;
}

}  // namespace

namespace {
void SaveAs(const Raster& image, int format, int bits, const std::string& path, int page, SaveMode mode) {
    Raster converted = image;
    if (bits == 1 || bits == 8 || bits == 24) converted.ConvertTo(bits);
    converted.Save(path, format, page, mode);
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
}

void AppendPage(CInno& doc, const Raster& image) {
    doc.LastPage();
    doc.NewPage("");
    try {
        SavePageImage(doc, image, doc.FilePath(), doc.RealPageNumber(),
                      doc.EnableMultiTIFF ? SaveMode::Append : SaveMode::Overwrite);
    } catch (...) {
        // The page is not stored: take it out of the count again so no page points nowhere.
        doc.Delete(doc.SelectedIndex, !doc.EnableMultiTIFF);
        throw;
    }
}

bool InsertPageAfterCurrent(CInno& doc, const Raster& image) {
    if (!doc.FilesExists()) return false;
    int at = doc.SelectedIndex + 1;
    if (doc.EnableMultiTIFF) {
        if (doc.FilePath().empty()) return false;
        SavePageImage(doc, image, doc.FilePath(), at, SaveMode::Insert);
        doc.SetActPage(doc.ActPage() + 1);
    } else {
        doc.InsertPageAt(at);
        SavePageImage(doc, image, doc.FilePaths(at), 1, SaveMode::Overwrite);
    }
    doc.SetState(state::Changed);
    doc.SelectedIndex = at;
    return true;
}

Raster LoadPage(const CInno& doc, int page) { return Raster::Load(doc.FilePaths(page), doc.GetRealPageNumber(page)); }

DeleteOutcome DeletePageOfDocument(CScanList& list, CScanList* serverList, const std::shared_ptr<CInno>& doc, int page,
                                   int* removedIndex) {
    if (!doc || page < 1 || page > doc->ActPage()) return DeleteOutcome::Nothing;
    if (doc->ActPage() == 1) {
        doc->KillFiles();
        RemoveDocument(list, serverList, doc, removedIndex);
        return DeleteOutcome::DocumentRemoved;
    }
    if (doc->EnableMultiTIFF) {
        DeletePage(doc->FilePath(), page);
        doc->Delete(page, false);
    } else {
        doc->Delete(page, true);
    }
    return DeleteOutcome::PageDeleted;
}

bool DeletePageRange(CScanList& list, CScanList* serverList, const std::shared_ptr<CInno>& doc, int first, int last) {
    if (!AllFilesExist(doc) || first < 1 || last < first || last - first + 1 > doc->ActPage() || last > doc->ActPage()) {
        return false;
    }
    for (int page = last; page >= first; --page) {
        if (DeletePageOfDocument(list, serverList, doc, page) == DeleteOutcome::DocumentRemoved) break;
    }
    return true;
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
    // One page at a time inside the file, keeping the moved pages in their order.
    if (after > last) {
        for (int n = 0; n <= last - first; ++n) MovePage(doc.FilePath(), first, after);
    } else {
        for (int i = first; i <= last; ++i) MovePage(doc.FilePath(), i, i - first + after + 1);
    }
    doc.SetChanged();
    return true;
}

bool MoveCutPage(CScanList& list, CScanList* serverList, const std::shared_ptr<CInno>& source,
                 const std::shared_ptr<CInno>& target) {
    if (!AllFilesExist(source) || !AllFilesExist(target)) return false;
    if (source == target && source->SourcePage == target->SelectedIndex) return false;
    int page = source->SourcePage;
    if (page < 1 || page > source->ActPage()) return false;
    Raster image = LoadPage(*source, page);
    bool sourceGone = DeletePageOfDocument(list, serverList, source, page) == DeleteOutcome::DocumentRemoved;
    if (source == target && !sourceGone && page > target->SelectedIndex) --target->SelectedIndex;
    if (source == target && sourceGone) return true;
    return InsertPageAfterCurrent(*target, image);
}

bool MergeOrCut(CScanList& list, CScanList* serverList, const std::string& sourceNumber, bool merge, int start, bool after,
                std::string target, bool attachment) {
    std::shared_ptr<CInno> source = list.GetInno2(sourceNumber);
    if (!AllFilesExist(source)) return false;
    bool isAttachment = !merge && attachment;
    if (isAttachment) {
        for (int n = 1;; ++n) {
            target = sourceNumber + "_" + std::to_string(n);
            if (!list.IsInnoExists(target)) break;
        }
    }
    if (start < 0 || source->ActPage() < start + 1 || target.empty()) return false;
    std::shared_ptr<CInno> into;
    bool created = false;
    if (merge) {
        into = list.GetInno2(target);
        if (!into || into == source || !into->FilesExists()) return false;
    } else {
        if (list.IsInnoExists(target)) return false;
        std::shared_ptr<CBatchNo> batch = source->BatchNo();
        if (!batch) return false;
        into = batch->InsertAfter(target, source->Inno());
        into->EnableMultiTIFF = source->EnableMultiTIFF;
        into->Format = source->Format;
        into->BitmapBits = source->BitmapBits;
        if (isAttachment) into->SetParent(source);
        created = true;
    }

    int first = after ? start + 1 : 1;
    int last = after ? source->ActPage() : start + 1;
    // Page files handed over as they are when both keep their pages alike; otherwise each page
    // is converted into the target's own storage.
    bool handOver = !source->EnableMultiTIFF && !into->EnableMultiTIFF && SameStorage(*source, *into);
    std::vector<std::string> written;
    try {
        into->LastPage();
        for (int page = first; page <= last; ++page) {
            if (handOver) {
                into->NewPage(source->FilePaths(page));
                continue;
            }
            Raster image = LoadPage(*source, page);
            into->NewPage("");
            bool multi = into->EnableMultiTIFF;
            SavePageImage(*into, image, into->FilePath(), into->RealPageNumber(), multi ? SaveMode::Append : SaveMode::Overwrite);
            if (!multi || written.empty()) written.push_back(into->FilePath());
        }
    } catch (...) {
        // Undo: the source still holds every page.
        if (created) {
            for (const auto& path : written) std::remove(path.c_str());
            std::shared_ptr<CBatchNo> batch = into->BatchNo();
            if (batch) batch->RemoveInnoByIndex(batch->GetIndexByInno(into->Inno()));
        }
        throw;
    }

    bool everything = first == 1 && last == source->ActPage();
    if (everything) {
        if (!handOver) source->KillFiles();
        RemoveDocument(list, serverList, source, nullptr);
    } else {
        for (int page = last; page >= first; --page) {
            if (source->EnableMultiTIFF) {
                DeletePage(source->FilePath(), page);
                source->Delete(page, false);
            } else {
                source->Delete(page, !handOver);
            }
        }
    }
    if (into->EnableMultiTIFF) into->SetActPage(ReadImageInfo(into->FilePath()).pages);
    CompareScanList(list, serverList);
    WriteRecoveryFile(list);
    return true;
}

}  // namespace dorvex
