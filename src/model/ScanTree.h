#pragma once
// The tree beside the viewers, as a model: a collection of keyed nodes that the Qt view draws.
// Like a tree-view control, a node's index is its 1-based position in the collection (the order
// of addition); removing a node moves every later node's index down by one, and moving a node
// under another parent keeps its index. A node names the list, batch or document it shows, so
// a click finds its object whatever was removed before it; the lists' Index fields are set from
// the nodes at every update.
//
// Layout: root "掃描作業" (picture 5) > list "已掃描影像(n)" or "待掃描清單(n)" (picture 1) >
// batch (key "b,"/"a," + number, picture 1) > document (key "d,"/"c," + number, text
// "number(pages)", picture = its state). A scanned document attached to another (Parent) hangs
// under its main document's node.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace dorvex {

class CBatchNo;
class CInno;
class CScanList;

struct TreeNode {
    std::string Key;  // "" for the root and the list nodes
    std::string Text;
    int Image = 0;
    bool Expanded = false;
    // What the node shows (none for the root).
    const CScanList* List = nullptr;
    std::weak_ptr<CBatchNo> Batch;
    std::weak_ptr<CInno> Document;
};

class ScanTree {
public:
    static constexpr const char* kRootText = "掃描作業";
    static constexpr const char* kScannedTitle = "已掃描影像";
    static constexpr const char* kToScanTitle = "待掃描清單";
    static constexpr int kRootImage = 5;
    static constexpr int kListImage = 1;

    // ---- The node collection ----
    int Count() const { return static_cast<int>(mNodes.size()); }
    // nullptr outside 1..Count.
    const TreeNode* Node(int index) const;
    int ParentOf(int index) const;             // 0 for a top-level node or outside the collection
    std::vector<int> Children(int index) const;  // in display order; 0 gives the top-level nodes
    int FindKey(const std::string& key) const;   // first node with that key, 0 for none
    // Adds a node as the last child of `parent` (0: top level) and returns its index.
    int Add(int parent, const std::string& key, const std::string& text, int image);
    // Removes the node with all its descendants; later indices move down.
    void Remove(int index);
    // Makes the node the last child of `parent`; nothing when that would put it under itself.
    void Move(int index, int parent);
    void SetText(int index, const std::string& text);
    void SetImage(int index, int image);
    void SetExpanded(int index, bool expanded);

    int RootIndex = 0;  // the root node "掃描作業"
    int Selected = 0;   // the selected node, 0 for none
    bool Visible = false;

    // Empties the tree; both lists' stored indices are cleaned first so that every object gets
    // a new node at the next update.
    void Clear(CScanList& scanList, CScanList* toScanList);

    // ---- Refresh from the model ----
    // Only in scan mode "0": the scan list and, when `scanListVisible`, the to-scan list under
    // the root; then the tree is shown with every node expanded.
    void UpdateTreeView(const std::string& scanMode, CScanList& scanList, CScanList* toScanList,
                        bool scanListVisible);
    // Brings the list's nodes up to date: nodes of batches and documents no longer in the list
    // go (attachments of a gone document move to their batch), objects without a node get one
    // (batches only with `refresh`), the list text and, with `refresh`, every document's text,
    // key and picture are rewritten; documents are shown in list order, scanned ones under
    // their main document or their batch. Running it again changes nothing.
    void UpdateNodeByCScanList(CScanList& list, const std::string& title, bool refresh);
    void ExpandNodes(bool expanded);

    // ---- Gestures ----
    // The scanned document shown by a node ("d" key), or nullptr.
    std::shared_ptr<CInno> DocumentAt(const CScanList& scanList, int index) const;

    // Renaming by label edit of a scanned document's node. The number is the label up to its
    // "(" (the page count the label shows). Refused (false, label unchanged) for an empty
    // number, for a number another scanned document has, or for a node that shows no scanned
    // document. Otherwise the document takes the number, the to-scan entries of the old and new
    // numbers become 4 and 3 (their pictures follow), and the label reads "number(ActPage)".
    bool AfterLabelEdit(CScanList& scanList, CScanList* toScanList, int index, const std::string& newLabel);

    // Takes a scanned document out: its node and its entry; the stored indices of both lists
    // follow the removed node, its to-scan entry is not scanned any more (4) and the lists are
    // compared again. Its attachments stay, now under the batch. Returns false when the node
    // shows no scanned document. The caller clears the viewers when it was the document shown,
    // rewrites the recovery file and only then deletes the document's files, so that a crash
    // in between never leaves a record of part of it.
    bool DeleteDocument(CScanList& scanList, CScanList* toScanList, int index);

    // Dragging (only with recognition on): a scanned document may be dropped on another
    // document or on its own batch, within its batch and never under itself. On a document it
    // becomes that document's attachment; on its batch it is attached to nothing.
    bool CanDrag(int index, bool recognition) const;
    bool CanDrop(const CScanList& scanList, int source, int target) const;
    bool DragDrop(CScanList& scanList, int source, int target, bool recognition);

private:
    struct Entry {
        int id = 0;  // stable while the node lives
        int parentId = 0;
        TreeNode node;
    };
    int PositionOfId(int id) const;
    bool IsUnder(int index, int ancestor) const;
    int EnsureRoot();
    // Index of the node that a scanned document should hang under.
    int HomeOf(const CScanList& scanList, const CInno& doc) const;
    // The to-scan entry of that number takes the state; its picture follows.
    void MarkListed(CScanList* toScanList, const std::string& inno, std::int32_t value);
    // Takes away the nodes under the list's node whose object left the list.
    void RemoveGone(const CScanList& list, int listNode);
    // The lists' and their objects' Index fields from the nodes that show them (0: none).
    void Reindex(CScanList& list) const;
    bool InList(const CScanList& list, int index) const;

    std::vector<Entry> mNodes;  // collection order
    std::vector<int> mOrder;    // ids; siblings are shown in the order they have here
    std::unordered_map<int, int> mPositions;  // id -> index
    int mNextId = 1;
};

// The status panels of the page view: "批號：", "文號：", "頁碼：" and the page selector.
struct ImgBar {
    std::string BatchPanel;
    std::string InnoPanel;
    std::string PagePanel;
    std::string PageSelector;
    // Writes the panels of the arguments given.
    void Update(const std::optional<std::string>& batchNo, const std::optional<std::string>& inno,
                const std::optional<int>& page);
};

}  // namespace dorvex
