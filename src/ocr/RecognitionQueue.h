#pragma once
// Reads the first pages of a scan list's documents on background threads while the window goes
// on (the scanner feeding), for the recognition run after the scan. Only the window's thread
// touches the list: a worker is given the name of a page file and gives back what the word
// parser found on its first page, and the window's thread takes that for the document only
// while the document's pages are as they were when the reading was queued. A document edited
// since is read again; one that left the list or was read meanwhile gets nothing.
//
// At most a fixed number of workers (the machine's cores but one, at least one), each with its
// own engine and its own copy of the field titles. File names wait in the queue and the small
// results wait for the window: no page image is held but the ones being read.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ocr/SubTitle.h"
#include "ocr/WordParser.h"
#include "platform/Ocr.h"

namespace dorvex {

class CInno;
class CScanList;

// Whether a recognition run reads the document: not read yet, and with a page file.
bool AwaitsReading(const CInno& doc);

class RecognitionQueue {
public:
    // The workers start their engines at once (made with `options`).
    RecognitionQueue(const CScanList& list, const CSubTitles& titles, OcrOptions options,
                     unsigned workers = DefaultWorkers());
    ~RecognitionQueue();
    RecognitionQueue(const RecognitionQueue&) = delete;
    RecognitionQueue& operator=(const RecognitionQueue&) = delete;

    static unsigned DefaultWorkers();

    // Queues, in list order, every document that awaits reading and has no reading queued for
    // its pages as they are now, but `receiving` (the document the scanner is filling: it is
    // read once complete). Readings no document waits for any more are dropped.
    void Offer(const CInno* receiving = nullptr);
    // The reading of the document's first page as it is now, queued ahead of the others when it
    // was not. With `serve`, waits for it, calling `serve` at least every few milliseconds;
    // without, gives only a reading already done. nullopt when there is none to give: the
    // document no longer awaits reading or left the list, the engine does not start, or the
    // queue was stopped.
    std::optional<PageReading> Take(const std::shared_ptr<CInno>& doc, const std::function<void()>& serve);
    // Whether a reading of the document's pages as they are now is queued, running or done.
    bool Holds(const std::shared_ptr<CInno>& doc) const;

    // Whether the workers' engine starts, waiting (and serving) until the first worker tried.
    bool IsSupported(const std::function<void()>& serve);
    // Why it does not ("" while it does or before it was tried).
    std::string EngineError() const;

    // A reading queued or running.
    bool Busy() const;
    // Drops the queued readings, stops the running ones and joins the workers. Idempotent.
    void Stop();

private:
    struct Job {
        std::uint64_t id;
        std::string path;
    };
    // A document's reading, as the window's thread keeps it.
    struct Entry {
        std::weak_ptr<CInno> doc;
        std::uint64_t revision = 0;
        std::uint64_t id = 0;
    };

    void Work(CSubTitles titles, OcrOptions options);
    std::uint64_t Submit(const std::string& path, bool first);
    void Forget(std::uint64_t id);
    // The document's entry for its pages as they are now, queued when there was none.
    const Entry& Ensure(const std::shared_ptr<CInno>& doc, bool first);
    void Drop(const CInno* doc);
    bool Wait(const std::function<bool()>& done, const std::function<void()>& serve);

    const CScanList& mList;
    std::map<const CInno*, Entry> mEntries;  // the window's thread only
    std::uint64_t mLastId = 0;               // the window's thread only

    mutable std::mutex mMutex;
    std::condition_variable mWork;  // a job queued, or stop
    std::condition_variable mDone;  // a reading done, or an engine tried
    std::deque<Job> mQueue;
    std::set<std::uint64_t> mRunning;
    std::set<std::uint64_t> mUnwanted;  // running, but no longer wanted
    std::map<std::uint64_t, PageReading> mFinished;
    std::optional<bool> mSupported;
    std::string mEngineError;
    std::atomic<bool> mStop{false};
    std::vector<std::thread> mWorkers;
};

}  // namespace dorvex
