#include "ocr/RecognitionQueue.h"

#include <algorithm>
#include <chrono>

#include "model/ScanList.h"
#include "support/Trace.h"

namespace dorvex {
namespace {

// How long the window's thread waits at a time before it serves its events again.
constexpr std::chrono::milliseconds kSlice{15};

}  // namespace

bool AwaitsReading(const CInno& doc) { return !doc.IsParsed() && !doc.FilePaths(1).empty(); }

unsigned RecognitionQueue::DefaultWorkers() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 2 ? cores - 1 : 1;
}

RecognitionQueue::RecognitionQueue(const CScanList& list, const CSubTitles& titles, OcrOptions options, unsigned workers)
    : mList(list) {
    options.Stop = &mStop;
    try {
        for (unsigned i = 0; i < std::max(1u, workers); ++i) {
            mWorkers.emplace_back([this, titles, options] { Work(titles, options); });
        }
    } catch (...) {
        Stop();
        throw;
    }
}

RecognitionQueue::~RecognitionQueue() { Stop(); }

void RecognitionQueue::Stop() {
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mStop = true;
        mQueue.clear();
    }
    mWork.notify_all();
    mDone.notify_all();
    for (std::thread& worker : mWorkers) {
        if (worker.joinable()) worker.join();
    }
    mWorkers.clear();
}

void RecognitionQueue::Work(CSubTitles titles, OcrOptions options) {
    CWordParser parser(titles);
    parser.EngineOptions = options;
    const bool supported = parser.IsSupported();
    {
        std::lock_guard<std::mutex> lock(mMutex);
        if (!mSupported) {
            mSupported = supported;
            mEngineError = parser.Engine().LastError();
        }
    }
    mDone.notify_all();
    while (true) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(mMutex);
            mWork.wait(lock, [&] { return mStop || !mQueue.empty(); });
            if (mStop) return;
            job = std::move(mQueue.front());
            mQueue.pop_front();
            mRunning.insert(job.id);
        }
        PageReading reading;
        try {
            reading = parser.Read(job.path);
        } catch (const std::exception& e) {  // Read keeps the engine's errors; this is memory
            reading.Error = e.what();
        }
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mRunning.erase(job.id);
            if (mUnwanted.erase(job.id) == 0 && !mStop) mFinished[job.id] = std::move(reading);
        }
        mDone.notify_all();
    }
}

std::uint64_t RecognitionQueue::Submit(const std::string& path, bool first) {
    const std::uint64_t id = ++mLastId;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        if (first) mQueue.push_front({id, path});
        else mQueue.push_back({id, path});
    }
    mWork.notify_one();
    return id;
}

void RecognitionQueue::Forget(std::uint64_t id) {
    std::lock_guard<std::mutex> lock(mMutex);
    for (auto it = mQueue.begin(); it != mQueue.end(); ++it) {
        if (it->id == id) {
            mQueue.erase(it);
            return;
        }
    }
    if (mRunning.count(id) != 0) mUnwanted.insert(id);
    mFinished.erase(id);
}

const RecognitionQueue::Entry& RecognitionQueue::Ensure(const std::shared_ptr<CInno>& doc, bool first) {
    auto it = mEntries.find(doc.get());
    if (it != mEntries.end()) {
        // The same document (not another one made where a removed one was) with the same pages.
        if (it->second.doc.lock() == doc && it->second.revision == doc->PagesRevision()) {
            if (first) {  // wanted now: ahead of the others while it waits
                std::lock_guard<std::mutex> lock(mMutex);
                for (auto job = mQueue.begin(); job != mQueue.end(); ++job) {
                    if (job->id != it->second.id) continue;
                    Job wanted = std::move(*job);
                    mQueue.erase(job);
                    mQueue.push_front(std::move(wanted));
                    break;
                }
            }
            return it->second;
        }
        DebugTrace("recognition: " + doc->Inno() + " changed after its reading was queued; it is read again");
        Forget(it->second.id);
        mEntries.erase(it);
    }
    Entry entry{doc, doc->PagesRevision(), Submit(doc->FilePaths(1), first)};
    return mEntries[doc.get()] = entry;
}

void RecognitionQueue::Drop(const CInno* doc) {
    auto it = mEntries.find(doc);
    if (it == mEntries.end()) return;
    Forget(it->second.id);
    mEntries.erase(it);
}

void RecognitionQueue::Offer(const CInno* receiving) {
    if (mStop) return;
    std::set<const CInno*> awaiting;
    for (const std::shared_ptr<CInno>& doc : mList.AllInnos()) {
        if (!AwaitsReading(*doc)) continue;
        awaiting.insert(doc.get());
        if (doc.get() != receiving) Ensure(doc, false);
    }
    // Readings no document waits for any more (it left the list, or was read meanwhile) go.
    for (auto it = mEntries.begin(); it != mEntries.end();) {
        const bool gone = awaiting.count(it->first) == 0 || it->second.doc.expired();
        if (gone) Forget(it->second.id);
        it = gone ? mEntries.erase(it) : std::next(it);
    }
}

bool RecognitionQueue::Holds(const std::shared_ptr<CInno>& doc) const {
    auto it = doc ? mEntries.find(doc.get()) : mEntries.end();
    return it != mEntries.end() && it->second.doc.lock() == doc && it->second.revision == doc->PagesRevision();
}

bool RecognitionQueue::Wait(const std::function<bool()>& done, const std::function<void()>& serve) {
    serve();
    std::unique_lock<std::mutex> lock(mMutex);
    return mDone.wait_for(lock, kSlice, [&] { return mStop || done(); });
}

std::optional<PageReading> RecognitionQueue::Take(const std::shared_ptr<CInno>& doc, const std::function<void()>& serve) {
    while (true) {
        if (mStop || !doc || !mList.Contains(*doc) || !AwaitsReading(*doc)) {
            if (doc) Drop(doc.get());
            return std::nullopt;
        }
        {
            std::lock_guard<std::mutex> lock(mMutex);
            if (mSupported == false) return std::nullopt;
        }
        const std::uint64_t id = Ensure(doc, true).id;
        {
            std::lock_guard<std::mutex> lock(mMutex);
            auto done = mFinished.find(id);
            if (done != mFinished.end()) {
                PageReading reading = std::move(done->second);
                mFinished.erase(done);
                mEntries.erase(doc.get());
                return reading;
            }
        }
        if (!serve) return std::nullopt;
        // The person may change the document meanwhile: it is looked at again before it is taken.
        Wait([&] { return mFinished.count(id) != 0; }, serve);
    }
}

bool RecognitionQueue::IsSupported(const std::function<void()>& serve) {
    while (true) {
        {
            std::lock_guard<std::mutex> lock(mMutex);
            if (mSupported) return *mSupported;
            if (mStop) return false;
        }
        Wait([&] { return mSupported.has_value(); }, serve);
    }
}

std::string RecognitionQueue::EngineError() const {
    std::lock_guard<std::mutex> lock(mMutex);
    return mEngineError;
}

bool RecognitionQueue::Busy() const {
    std::lock_guard<std::mutex> lock(mMutex);
    return !mQueue.empty() || !mRunning.empty();
}

}  // namespace dorvex
