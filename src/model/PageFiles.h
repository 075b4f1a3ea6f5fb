#pragma once
// How a document's pages are stored (format code, depth, one multi-page file or one file per
// page), the recovery file "Dorvex.bak" that brings unsent documents back after a crash, and
// the deletion of the page files when the scan window closes.

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/ScanList.h"
#include "model/ScanListObserver.h"

namespace dorvex {

struct PageStorage {
    std::int32_t format = 29;
    std::int16_t bitmapBits = 1;
    bool multiTiff = true;
};

// The storage of a new document from the settings ImgFormat, PixelType and EnableMultiTIFF and
// the depth of its first page (0 when not known yet: grey then counts 8, colour 24).
PageStorage ChooseStorage(const std::string& imgFormat, const std::string& pixelType, const std::string& enableMultiTiff,
                          int pageBits = 0);
void ApplyStorage(CInno& doc, const PageStorage& storage);

// "<temporary folder>/Dorvex.bak".
std::string RecoveryFilePath();

// Writes one line per page of every changed document whose files all exist, atomically; with
// nothing to write the file is removed. Every value comes back whole (commas, "|", "=", line
// breaks included).
void WriteRecoveryFile(const CScanList& list, const std::string& path = RecoveryFilePath());
// What WriteRecoveryFile writes ("" when nothing).
std::string RecoveryText(const CScanList& list);

struct RecoveryResult {
    int restoredPages = 0;
    int skippedLines = 0;  // malformed lines, and lines whose page file is gone
};
// Adds the documents of a recovery file to `list`. Reads the lossless format written above and
// the plain comma format of earlier versions. A damaged line is skipped; the others are restored.
// Only page files of the recovery file's own folder are taken, each once. Throws DorvexError for
// a file that cannot be read or is far too large to be a recovery file.
RecoveryResult ReadRecoveryFile(CScanList& list, const std::string& path = RecoveryFilePath());

// What a restore would bring back, document by document, and what is wrong with it.
struct RecoveryEntry {
    std::string batch;
    std::string inno;
    int pages = 0;  // pages a restore brings back (a multi-page file counts what it holds)
    std::vector<std::string> files;
    // A missing, empty or damaged file; a file holding more pages than the list says.
    std::vector<std::string> problems;
};
std::vector<RecoveryEntry> InspectRecoveryFile(const std::string& path = RecoveryFilePath(), int* malformedLines = nullptr);

// Keeps the recovery file true: rewritten after every change of the list it follows (only when
// its text changes). A write that fails goes to OnError and the next change tries again.
class RecoveryFileFollower final : public IScanListObserver {
public:
    explicit RecoveryFileFollower(std::string path = RecoveryFilePath()) : mPath(std::move(path)) {}
    std::function<void(const std::exception&)> OnError;
    bool ScanListChanged(const CScanList& list, unsigned changes) override;
    // Writes now whatever the last write was (after the file was deleted or changed outside).
    bool Rewrite(const CScanList& list);
    int Writes() const { return mWrites; }

private:
    std::string mPath;
    std::optional<std::string> mWritten;  // the text on disk, when known
    int mWrites = 0;
};

// Deletes every document's page files when `deleteFiles`, and the recovery file when
// `deleteFiles` or `autoKeepTmpFiles`.
void KillTmpFiles(const CScanList& list, bool deleteFiles, bool autoKeepTmpFiles);

}  // namespace dorvex
