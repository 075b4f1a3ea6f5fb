#pragma once
// How the scan list tells the things that show or keep it (the tree, its labels, the recovery
// file) that it changed. A follower reads what it needs from the list itself; the kinds only
// say what moved, so that a follower may skip a change that cannot concern it.

namespace dorvex {

class CScanList;

namespace change {
constexpr unsigned DocumentAdded = 1;
constexpr unsigned DocumentRemoved = 2;
constexpr unsigned DocumentRenamed = 4;
constexpr unsigned PagesChanged = 8;   // pages added, removed, moved or their files changed
constexpr unsigned StateChanged = 16;
constexpr unsigned DocumentMoved = 32;  // order within a batch, attachment to another document
}  // namespace change

class IScanListObserver {
public:
    virtual ~IScanListObserver() = default;
    // `changes` holds the kinds above. Called after the change, never in the middle of an
    // edit that groups its steps; it must not throw. false: the follower could not keep up
    // (its record may still name files of a document taken away, which then stay on disk).
    virtual bool ScanListChanged(const CScanList& list, unsigned changes) = 0;
};

}  // namespace dorvex
