#pragma once
// Editing a document's pages on disk: saving, inserting and appending page images, deleting
// pages, moving pages, and merging or splitting documents. Each keeps the document's file list
// and its page files in step; a multi-page file is rewritten beside itself and renamed over.

#include <functional>
#include <memory>
#include <string>

#include "model/ScanList.h"
#include "platform/Raster.h"

namespace dorvex {

// Saves `image` into the document's file with the document's format and depth.
void SavePageImage(const CInno& doc, const Raster& image, const std::string& path, int page, SaveMode mode);
// Replaces the current page with `image`, saved as `format` at `bits` per pixel (0: the
// document's own), and marks the document changed.
void SaveThisPage(CInno& doc, const Raster& image, int format = 0, int bits = 0);
// Appends a scanned page: NewPage, then the image into the document's file. `listed` runs
// between the two (the page is in the document's list, not yet on disk), so that a record of
// the document written there already names the file the page goes to; if it throws, nothing
// is stored and the document is as it was.
void AppendPage(CInno& doc, const Raster& image, const std::function<void()>& listed = nullptr);
// Inserts `image` as a new page after the current page (multi-page: into the file; one file
// per page: a new file); the new page becomes current. Nothing when a file is missing.
bool InsertPageAfterCurrent(CInno& doc, const Raster& image);
// The image of page `page` of the document.
Raster LoadPage(const CInno& doc, int page);

enum class DeleteOutcome { Nothing, PageDeleted, DocumentRemoved };
// Deletes one page; the only page takes the whole document away (its files deleted, its
// to-scan entry back to state 4). `removedIndex` receives the removed document's tree index.
DeleteOutcome DeletePageOfDocument(CScanList& list, CScanList* serverList, const std::shared_ptr<CInno>& doc, int page,
                                   int* removedIndex = nullptr);
// Deletes pages first..last (from the last one down). false when the range is not possible.
bool DeletePageRange(CScanList& list, CScanList* serverList, const std::shared_ptr<CInno>& doc, int first, int last);
// Runs `edit` on every page of the document (page number 1-based; false drops the page) and
// writes the result in one go: one rewrite of a multi-page file, new files for one file per
// page, each page in the format and depth of the file it came from. Dropping every page takes
// the document away. An error leaves the document and its files as they were.
DeleteOutcome EditEveryPage(CScanList& list, CScanList* serverList, const std::shared_ptr<CInno>& doc,
                            const std::function<bool(Raster&, int)>& edit);
// Moves pages first..last after page `after` (0: to the front).
bool MovePages(CInno& doc, int first, int last, int after);
// The page `source->SourcePage` goes after the current page of `target` (cut and paste).
bool MoveCutPage(CScanList& list, CScanList* serverList, const std::shared_ptr<CInno>& source,
                 const std::shared_ptr<CInno>& target);

// Merges the pages from `start` (0-based) on (`after`) or up to it into the existing document
// `target`, or splits them off into a new document `target` (placed after the source), or
// into a new attachment numbered source "_" n. A merged page takes the target's own storage
// (mode, format, depth). Returns false, changing nothing, when a check fails; on success the
// lists are compared again and the recovery file rewritten.
bool MergeOrCut(CScanList& list, CScanList* serverList, const std::string& source, bool merge, int start, bool after,
                std::string target, bool attachment);

}  // namespace dorvex
