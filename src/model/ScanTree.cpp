#include "model/ScanTree.h"

#include <algorithm>

#include "model/ScanList.h"
#include "support/Text.h"

namespace dorvex {
namespace {

constexpr const char* kScannedBatch = "b,";
constexpr const char* kScannedDoc = "d,";
constexpr const char* kToScanBatch = "a,";
constexpr const char* kToScanDoc = "c,";

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

std::string Counted(const std::string& text, int count) { return text + "(" + std::to_string(count) + ")"; }

// The document number a label holds: the text before its "(" (the page count), when that
// bracket is not the first character.
std::string LabelNumber(const std::string& label) {
    std::size_t bracket = label.find('(');
    return Trim(bracket != std::string::npos && bracket > 0 ? label.substr(0, bracket) : label);
}

}  // namespace

// ---- The node collection ----

const TreeNode* ScanTree::Node(int index) const {
    if (index < 1 || index > Count()) return nullptr;
    return &mNodes[static_cast<std::size_t>(index - 1)].node;
}

int ScanTree::PositionOfId(int id) const {
    auto found = mPositions.find(id);
    return found == mPositions.end() ? 0 : found->second;
}

int ScanTree::ParentOf(int index) const {
    if (!Node(index)) return 0;
    int parentId = mNodes[static_cast<std::size_t>(index - 1)].parentId;
    return parentId == 0 ? 0 : PositionOfId(parentId);
}

std::vector<int> ScanTree::Children(int index) const {
    std::vector<int> children;
    if (index != 0 && !Node(index)) return children;
    int parentId = index == 0 ? 0 : mNodes[static_cast<std::size_t>(index - 1)].id;
    for (int id : mOrder) {
        int position = PositionOfId(id);
        if (mNodes[static_cast<std::size_t>(position - 1)].parentId == parentId) children.push_back(position);
    }
    return children;
}

int ScanTree::FindKey(const std::string& key) const {
    for (int i = 1; i <= Count(); ++i) {
        if (Node(i)->Key == key) return i;
    }
    return 0;
}

bool ScanTree::IsUnder(int index, int ancestor) const {
    for (int at = index; at != 0; at = ParentOf(at)) {
        if (at == ancestor) return true;
    }
    return false;
}

int ScanTree::Add(int parent, const std::string& key, const std::string& text, int image) {
    Entry entry;
    entry.id = mNextId++;
    entry.parentId = Node(parent) ? mNodes[static_cast<std::size_t>(parent - 1)].id : 0;
    entry.node.Key = key;
    entry.node.Text = text;
    entry.node.Image = image;
    mNodes.push_back(entry);
    mOrder.push_back(entry.id);
    mPositions[entry.id] = Count();
    return Count();
}

void ScanTree::Remove(int index) {
    if (!Node(index)) return;
    std::vector<int> gone;  // positions, ascending
    for (int i = 1; i <= Count(); ++i) {
        if (IsUnder(i, index)) gone.push_back(i);
    }
    auto shifted = [&gone](int stored) {
        if (std::find(gone.begin(), gone.end(), stored) != gone.end()) return 0;
        return stored - static_cast<int>(std::count_if(gone.begin(), gone.end(), [stored](int g) { return g < stored; }));
    };
    RootIndex = shifted(RootIndex);
    Selected = shifted(Selected);
    for (auto it = gone.rbegin(); it != gone.rend(); ++it) {
        int id = mNodes[static_cast<std::size_t>(*it - 1)].id;
        mOrder.erase(std::find(mOrder.begin(), mOrder.end(), id));
        mNodes.erase(mNodes.begin() + (*it - 1));
    }
    mPositions.clear();
    for (int i = 1; i <= Count(); ++i) mPositions[mNodes[static_cast<std::size_t>(i - 1)].id] = i;
}

void ScanTree::Move(int index, int parent) {
    if (!Node(index) || (parent != 0 && !Node(parent)) || IsUnder(parent, index)) return;
    Entry& entry = mNodes[static_cast<std::size_t>(index - 1)];
    entry.parentId = parent == 0 ? 0 : mNodes[static_cast<std::size_t>(parent - 1)].id;
    mOrder.erase(std::find(mOrder.begin(), mOrder.end(), entry.id));
    mOrder.push_back(entry.id);
}

void ScanTree::SetText(int index, const std::string& text) {
    if (Node(index)) mNodes[static_cast<std::size_t>(index - 1)].node.Text = text;
}

void ScanTree::SetImage(int index, int image) {
    if (Node(index)) mNodes[static_cast<std::size_t>(index - 1)].node.Image = image;
}

void ScanTree::SetExpanded(int index, bool expanded) {
    if (Node(index)) mNodes[static_cast<std::size_t>(index - 1)].node.Expanded = expanded;
}

void ScanTree::Clear(CScanList& scanList, CScanList* toScanList) {
    scanList.CleanNodesIndex();
    if (toScanList) toScanList->CleanNodesIndex();
    mNodes.clear();
    mOrder.clear();
    mPositions.clear();
    RootIndex = 0;
    Selected = 0;
}

// ---- Refresh from the model ----

int ScanTree::EnsureRoot() {
    if (!Node(RootIndex)) RootIndex = Add(0, "", kRootText, kRootImage);
    return RootIndex;
}

void ScanTree::UpdateTreeView(const std::string& scanMode, CScanList& scanList, CScanList* toScanList,
                              bool scanListVisible) {
    if (scanMode != "0") return;
    EnsureRoot();
    UpdateNodeByCScanList(scanList, kScannedTitle, true);
    if (scanListVisible && toScanList) UpdateNodeByCScanList(*toScanList, kToScanTitle, true);
    Visible = true;
    ExpandNodes(true);
}

int ScanTree::HomeOf(const CScanList& scanList, const CInno& doc) const {
    auto parent = doc.Parent();
    if (parent && Node(parent->Index) && scanList.GetInnoByIndex(parent->Index) == parent &&
        !IsUnder(parent->Index, doc.Index)) {
        return parent->Index;
    }
    auto batch = doc.BatchNo();
    return batch && Node(batch->Index) ? batch->Index : 0;
}

bool ScanTree::InList(const CScanList& list, int index) const {
    const TreeNode* node = Node(index);
    if (!node || node->List != nullptr) return true;
    if (std::shared_ptr<CInno> doc = node->Document.lock()) {
        auto batch = doc->BatchNo();
        return batch && list.GetBatchNo(batch->BatchNo) == batch && batch->GetInno(doc->Inno()) == doc;
    }
    if (std::shared_ptr<CBatchNo> batch = node->Batch.lock()) return list.GetBatchNo(batch->BatchNo) == batch;
    return false;  // its object is gone
}

void ScanTree::RemoveGone(const CScanList& list, int listNode) {
    for (bool again = true; again;) {
        again = false;
        for (int i = 1; i <= Count(); ++i) {
            if (i == listNode || !IsUnder(i, listNode) || InList(list, i)) continue;
            // A document's attachments stay: they move up and find their home below.
            int up = ParentOf(i);
            for (int child : Children(i)) Move(child, up);
            Remove(i);
            again = true;
            break;
        }
    }
}

void ScanTree::Reindex(CScanList& list) const {
    list.Index = 0;
    for (std::int32_t b = 1; b <= list.Length(); ++b) {
        auto batch = list.BatchNoList(b);
        batch->Index = 0;
        for (std::int32_t d = 1; d <= batch->Length(); ++d) batch->Item(d)->Index = 0;
    }
    for (int i = 1; i <= Count(); ++i) {
        const TreeNode& node = mNodes[static_cast<std::size_t>(i - 1)].node;
        if (node.List == &list) {
            list.Index = i;
        } else if (auto doc = node.Document.lock()) {
            if (list.Index != 0 && IsUnder(i, list.Index) && InList(list, i)) doc->Index = i;
        } else if (auto batch = node.Batch.lock()) {
            if (list.Index != 0 && IsUnder(i, list.Index) && InList(list, i)) batch->Index = i;
        }
    }
}

void ScanTree::UpdateNodeByCScanList(CScanList& list, const std::string& title, bool refresh) {
    const bool scanned = title == kScannedTitle;
    const char* batchPrefix = scanned ? kScannedBatch : kToScanBatch;
    const char* docPrefix = scanned ? kScannedDoc : kToScanDoc;
    auto docText = [scanned](const CInno& doc) {
        return Counted(doc.Inno(), scanned ? doc.ActPage() : doc.PredictPage);
    };

    Reindex(list);
    const std::string listText = Counted(title, list.TotalInnos());
    if (list.Index != 0) {
        SetText(list.Index, listText);
        RemoveGone(list, list.Index);
        Reindex(list);
    } else {
        list.Index = Add(EnsureRoot(), "", listText, kListImage);
        mNodes.back().node.List = &list;
    }

    for (std::int32_t b = 1; b <= list.Length(); ++b) {
        auto batch = list.BatchNoList(b);
        if (batch->Index == 0 && refresh) {
            batch->Index = Add(list.Index, batchPrefix + batch->BatchNo, batch->BatchNo, kListImage);
            mNodes.back().node.Batch = batch;
        }
        if (batch->Index == 0) continue;
        for (std::int32_t d = 1; d <= batch->Length(); ++d) {
            auto doc = batch->Item(d);
            if (doc->Index != 0) continue;
            doc->Index = Add(batch->Index, docPrefix + doc->Inno(), docText(*doc), doc->state());
            mNodes.back().node.Document = doc;
        }
    }
    for (const auto& doc : list.AllInnos()) {
        if (doc->Index == 0) continue;
        if (refresh) {
            TreeNode& node = mNodes[static_cast<std::size_t>(doc->Index - 1)].node;
            node.Key = docPrefix + doc->Inno();
            node.Text = docText(*doc);
            node.Image = doc->state();
        }
        // Every document takes its place again, so that the tree shows the list's order.
        int home = scanned ? HomeOf(list, *doc) : ParentOf(doc->Index);
        if (home != 0) Move(doc->Index, home);
    }
}

void ScanTree::ExpandNodes(bool expanded) {
    for (auto& entry : mNodes) entry.node.Expanded = expanded;
}

// ---- Gestures ----

std::shared_ptr<CInno> ScanTree::DocumentAt(const CScanList& scanList, int index) const {
    const TreeNode* node = Node(index);
    if (!node || !StartsWith(node->Key, kScannedDoc) || !InList(scanList, index)) return nullptr;
    return node->Document.lock();
}

void ScanTree::MarkListed(CScanList* toScanList, const std::string& inno, std::int32_t value) {
    auto entry = toScanList ? toScanList->GetInno2(inno) : nullptr;
    if (!entry) return;
    entry->SetState(value);
    SetImage(entry->Index, entry->state());
}

bool ScanTree::AfterLabelEdit(CScanList& scanList, CScanList* toScanList, int index, const std::string& newLabel) {
    auto doc = DocumentAt(scanList, index);
    const std::string number = LabelNumber(newLabel);
    if (!doc || number.empty() || scanList.IsInnoExists(number)) return false;

    MarkListed(toScanList, doc->Inno(), state::New);
    doc->SetInno(number);
    MarkListed(toScanList, number, state::Scanned);
    doc->SetIsMine(toScanList && toScanList->IsInnoExists(number));

    Entry& entry = mNodes[static_cast<std::size_t>(index - 1)];
    entry.node.Key = kScannedDoc + number;
    entry.node.Text = Counted(number, doc->ActPage());
    entry.node.Image = doc->state();
    return true;
}

bool ScanTree::DeleteDocument(CScanList& scanList, CScanList* toScanList, int index) {
    auto doc = DocumentAt(scanList, index);
    if (!doc) return false;
    // Its attachments stay, under their batch.
    for (const auto& other : scanList.AllInnos()) {
        if (other->Parent() == doc) other->SetParent(nullptr);
    }
    if (auto batch = doc->BatchNo()) batch->RemoveInnoByIndex(batch->GetIndexByInno(doc->Inno()));
    doc->Index = 0;
    if (!scanList.IsInnoExists(doc->Inno())) MarkListed(toScanList, doc->Inno(), state::New);
    CompareScanList(scanList, toScanList);
    UpdateNodeByCScanList(scanList, kScannedTitle, true);
    return true;
}

bool ScanTree::CanDrag(int index, bool recognition) const {
    return recognition && Node(index) && StartsWith(Node(index)->Key, kScannedDoc);
}

bool ScanTree::CanDrop(const CScanList& scanList, int source, int target) const {
    auto doc = DocumentAt(scanList, source);
    const TreeNode* node = Node(target);
    if (!doc || !node || target == source) return false;
    auto batch = doc->BatchNo();
    if (StartsWith(node->Key, kScannedBatch)) return batch && batch->Index == target;
    auto main = DocumentAt(scanList, target);
    return main && main->BatchNo() == batch && !IsUnder(target, source);
}

bool ScanTree::DragDrop(CScanList& scanList, int source, int target, bool recognition) {
    if (!recognition || !CanDrop(scanList, source, target)) return false;
    auto doc = DocumentAt(scanList, source);
    doc->SetParent(DocumentAt(scanList, target));  // none when dropped on its batch
    Move(source, target);
    return true;
}

// ---- Status panels ----

void ImgBar::Update(const std::optional<std::string>& batchNo, const std::optional<std::string>& inno,
                    const std::optional<int>& page) {
    if (batchNo) BatchPanel = "批號：" + *batchNo;
    if (inno) InnoPanel = "文號：" + *inno;
    if (page) {
        PageSelector = std::to_string(*page);
        PagePanel = "頁碼：" + PageSelector;
    }
}

}  // namespace dorvex
