// dorvex window: the scan window's controller run for a person who performs a script's
// actions one by one; after each action the window's state is printed as one JSON line.

#include <algorithm>
#include <chrono>
#include <deque>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "Commands.h"
#include "control/FrmScan.h"
#include "model/EditDialogs.h"
#include "model/PageFiles.h"
#include "model/SettingsStore.h"
#include "support/Error.h"
#include "support/ModGlobal.h"
#include "support/Prompter.h"
#include "support/ModMath.h"
#include "support/Text.h"

namespace dorvex::cli {
namespace {

constexpr const char* kWindowUsage = R"(usage: dorvex window [--method NAME] [--inno INNO] [--device DEVICE] [--server URL]
                     [--operator NAME] [--set KEY=VALUE]... [--ocr] --script FILE

Runs the scan window (without a display) for the control method NAME (default ShowMultiTwain;
ShowMultiTwainA, ShowMultiEdit, ShowSimpleEdit, ShowSingleTwain, ShowSingleTwainA,
ShowSingleTwainB) with a person who performs the actions of FILE in order, one a line
("#" starts a comment):

  scan                  presses "掃描" and waits for the feeder run to end
  select INNO [PAGE]    selects document INNO (its page PAGE, from 1) and shows it
  command CAPTION       presses the tool-bar button or menu item with that caption
  tree INNO CAPTION     picks CAPTION in the context menu of INNO's node (the tree has
                        that menu with recognition on, --ocr)
  answer CAPTION        the button pressed at the next question (是, 否, 確定, 取消); a
                        question without one gets its default button
  type TEXT             what the person types at the next input box (or as the new number
                        of "合併或分割" and of the tree's "重新命名")
  upload                presses the upload button and waits until it ends
  close                 closes the window
  wait MS               the person pauses

--ocr turns recognition on (EnableOCR), as a page may: documents are read when chosen.

After each action one JSON line goes to standard output: {"step","action","tree":[{batch,
inno,label,pages}],"documents":[{batch,inno,pages,state,files}],"recovery":[{inno,pages}],
"messages":["title: text"]}. An action that cannot be done prints its reason on standard
error and exits 2, the pages left as they were. Exit 64 for a usage error, 1 when the window
cannot be opened.
)";

// The person of the script: answers questions and input boxes with what the script prepared.
class ScriptPerson : public IPrompter {
public:
    std::deque<std::string> answers;
    std::deque<std::string> typed;
    std::vector<std::string> messages;  // of the current step

    MsgResult MessageBox(const std::string& text, const std::string& title, MsgButtons buttons, MsgIcon) override {
        messages.push_back(title + ": " + text);
        if (!answers.empty()) {
            std::string caption = answers.front();
            answers.pop_front();
            if (caption == "是") return MsgResult::Yes;
            if (caption == "否") return MsgResult::No;
            if (caption == "取消") return MsgResult::Cancel;
            return MsgResult::OK;
        }
        return buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel ? MsgResult::Yes : MsgResult::OK;
    }
    std::optional<std::string> InputBox(const std::string& prompt, const std::string& title, const std::string&) override {
        messages.push_back(title + ": " + prompt);
        return Typed();
    }
    std::optional<std::string> Typed() {
        if (typed.empty()) return std::nullopt;
        std::string text = typed.front();
        typed.pop_front();
        return text;
    }
    std::string BrowseForFolder() override { return {}; }
    std::string SaveFileName(const std::string&, const std::string&) override { return {}; }
    void Yield() override {}
    bool Interactive() const override { return !typed.empty(); }
};

struct ActionError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string Label(const std::string& text) {
    std::size_t bracket = text.find('(');
    return bracket == std::string::npos ? text : text.substr(0, bracket);
}

class Desk {
public:
    Desk(ScriptPerson& person, FrmScan& window) : mPerson(person), mWindow(window) {}

    void Run(const std::string& verb, const std::string& rest) {
        if (verb == "scan") return Press("掃描");
        if (verb == "upload") return Press("儲存");
        if (verb == "command") return RunCommand(rest);
        if (verb == "select") return Select(rest);
        if (verb == "tree") return TreeMenu(rest);
        if (verb == "answer") return mPerson.answers.push_back(rest);
        if (verb == "type") return mPerson.typed.push_back(rest);
        if (verb == "close") {
            mWindow.Form_QueryUnload();
            mClosed = true;
            return;
        }
        if (verb == "wait") {
            if (!IsNumeric(rest)) throw ActionError("wait needs milliseconds");
            std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<long>(Val(rest))));
            return;
        }
        throw ActionError("unknown action '" + verb + "'");
    }
    bool Closed() const { return mClosed; }

    std::string State(int step, const std::string& action) const {
        std::ostringstream out;
        out << "{\"step\":" << step << ",\"action\":" << JsonString(action) << ",\"tree\":[";
        const CScanList& list = *mWindow.ScanCompleteList();
        bool first = true;
        for (int node : Shown()) {
            const TreeNode* shown = mWindow.Tree.Node(node);
            auto doc = mWindow.Tree.DocumentAt(list, node);
            out << (first ? "" : ",") << "{\"batch\":" << JsonString(doc && doc->BatchNo() ? doc->BatchNo()->BatchNo : "")
                << ",\"inno\":" << JsonString(doc ? doc->Inno() : Label(shown->Text)) << ",\"label\":" << JsonString(shown->Text)
                << ",\"pages\":" << (doc ? doc->ActPage() : -1) << "}";
            first = false;
        }
        out << "],\"documents\":[";
        first = true;
        for (const auto& doc : list.AllInnos()) {
            std::string files;
            for (int p = 1; p <= (doc->EnableMultiTIFF ? std::min(doc->Length(), 1) : doc->ActPage()); ++p) {
                files += (files.empty() ? "" : ",") + JsonString(doc->FilePaths(p));
            }
            out << (first ? "" : ",") << "{\"batch\":" << JsonString(doc->BatchNo() ? doc->BatchNo()->BatchNo : "")
                << ",\"inno\":" << JsonString(doc->Inno()) << ",\"pages\":" << doc->ActPage() << ",\"state\":" << doc->state()
                << ",\"files\":[" << files << "]}";
            first = false;
        }
        out << "],\"recovery\":[";
        first = true;
        for (const RecoveryEntry& entry : InspectRecoveryFile()) {
            out << (first ? "" : ",") << "{\"inno\":" << JsonString(entry.inno) << ",\"pages\":" << entry.pages << "}";
            first = false;
        }
        out << "],\"messages\":[";
        first = true;
        for (const std::string& message : mPerson.messages) {
            out << (first ? "" : ",") << JsonString(message);
            first = false;
        }
        out << "]}";
        return out.str();
    }

private:
    // The document nodes in the order shown (depth first, children in order).
    std::vector<int> Shown() const {
        std::vector<int> shown;
        std::vector<int> pending = mWindow.Tree.Children(0);
        while (!pending.empty()) {
            int node = pending.front();
            pending.erase(pending.begin());
            if (mWindow.Tree.Node(node)->Key.rfind("d,", 0) == 0) shown.push_back(node);
            std::vector<int> children = mWindow.Tree.Children(node);
            pending.insert(pending.begin(), children.begin(), children.end());
        }
        return shown;
    }
    int NodeOf(const std::string& inno) const {
        for (int node : Shown()) {
            auto doc = mWindow.Tree.DocumentAt(*mWindow.ScanCompleteList(), node);
            if (doc && doc->Inno() == inno) return node;
        }
        throw ActionError("no node shows document '" + inno + "'");
    }
    void Press(const std::string& caption) {
        for (const ToolButton& button : mWindow.Commands.Toolbar1) {
            if (button.Caption != caption) continue;
            if (!button.Enabled || !button.Visible) throw ActionError("the button '" + caption + "' is disabled");
            mWindow.ButtonClick(caption);
            return;
        }
        for (const MenuItem& item : mWindow.Commands.Menus) {
            if (item.Caption != caption || item.Parent.empty()) continue;
            if (!item.Enabled || !item.Visible) throw ActionError("the menu item '" + caption + "' is disabled");
            mWindow.MenuClick(item.Key);
            return;
        }
        throw ActionError("no button or menu item '" + caption + "'");
    }
    void RunCommand(const std::string& caption) {
        // "合併或分割": a split after the page shown into the number typed; with nothing typed
        // the person presses 確定 on the number the window offers.
        mWindow.Pages().ShowMergeCutDialog = [this](FrmMergeCut& dialog) {
            if (std::optional<std::string> number = mPerson.Typed()) dialog.Preset(false, std::max(dialog.StartAt(), 0), true, *number);
            dialog.CmdOK_Click();
        };
        Press(caption);
    }
    void Select(const std::string& rest) {
        std::vector<std::string> words = Split(Trim(rest), ' ');
        if (words.empty() || words[0].empty()) throw ActionError("select needs a document number");
        std::shared_ptr<CInno> doc = mWindow.ScanCompleteList()->GetInno2(words[0]);
        if (!doc) throw ActionError("no document '" + words[0] + "'");
        int page = words.size() > 1 ? static_cast<int>(Val(words[1])) : 1;
        if (page < 1 || page > doc->ActPage()) throw ActionError("document '" + words[0] + "' has no page " + words.back());
        if (mWindow.Tree.Visible) {
            mWindow.TreeView1_Click(NodeOf(words[0]));
        } else {
            mWindow.Pages().CurrentDoc = doc;
        }
        mWindow.CbPg_Click(page);
    }
    void TreeMenu(const std::string& rest) {
        std::size_t space = Trim(rest).find(' ');
        if (space == std::string::npos) throw ActionError("tree needs a document number and a caption");
        const std::string inno = Trim(rest).substr(0, space);
        const std::string caption = Trim(Trim(rest).substr(space + 1));
        int node = NodeOf(inno);
        for (const MenuItem& item : mWindow.Commands.TreeMenu) {
            if (item.Caption != caption || item.Parent.empty()) continue;
            mWindow.TreeView1_Click(node);
            mWindow.Tree.Selected = node;
            if (item.Cmd == dorvex::Command::TreeRename) {
                std::optional<std::string> label = mPerson.Typed();
                if (label) mWindow.TreeView1_AfterLabelEdit(node, *label);
            } else {
                mWindow.Execute(item.Cmd);
            }
            return;
        }
        throw ActionError("no item '" + caption + "' in the tree's menu");
    }

    ScriptPerson& mPerson;
    FrmScan& mWindow;
    bool mClosed = false;
};

std::string ModeOf(const std::string& method) {
    if (method == "ShowMultiTwain" || method == "ShowMultiTwainA" || method == "ShowMultiEdit") return "0";
    if (method == "ShowSimpleEdit") return "1";
    if (method == "ShowSingleTwain" || method == "ShowSingleTwainA") return "2";
    if (method == "ShowSingleTwainB") return "3";
    return {};
}

}  // namespace

int Window(const Args& args) {
    std::string method = "ShowMultiTwain", inno, device, server, operatorName, script;
    std::vector<std::string> settings;
    bool ocr = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kWindowUsage;
            return 0;
        }
        if (arg == "--ocr") {
            ocr = true;
            continue;
        }
        if (arg != "--method" && arg != "--inno" && arg != "--device" && arg != "--server" && arg != "--operator" &&
            arg != "--set" && arg != "--script") {
            return UsageError("unknown argument '" + arg + "'");
        }
        if (i + 1 >= args.size()) return UsageError(arg + " needs a value");
        const std::string& value = args[++i];
        if (arg == "--method") method = value;
        else if (arg == "--inno") inno = value;
        else if (arg == "--device") device = value;
        else if (arg == "--server") server = value;
        else if (arg == "--operator") operatorName = value;
        else if (arg == "--script") script = value;
        else settings.push_back(value);
    }
    const std::string mode = ModeOf(method);
    if (mode.empty()) return UsageError("unknown method '" + method + "'");
    if (script.empty()) return UsageError("window needs --script FILE");
    std::ifstream in(script);
    if (!in) {
        std::cerr << "dorvex window: cannot read " << script << "\n";
        return 1;
    }
    try {
        ScriptPerson person;
        SettingsStore store;
        FrmScan window(person, &store);
        window.SetProperties(prop::Mode, mode);
        window.SetProperties(prop::ServerUrl, server);
        window.SetProperties(prop::Operator, operatorName);
        window.SetProperties(prop::Inno, inno);
        window.EnableOverWrite = method == "ShowSingleTwainA" || method == "ShowMultiEdit";
        if (ocr) {
            SetOcrEnabled(true);
            window.SetEnableOCR(true);
        }
        window.Form_Load();
        for (const std::string& setting : settings) {
            if (!ApplySetting(setting, window.Props)) return UsageError("unknown setting '" + setting + "'");
        }
        if (!device.empty()) window.Scanner().DeviceName = device;
        window.Form_Activate();
        Desk desk(person, window);
        std::string line;
        int step = 0;
        while (std::getline(in, line)) {
            std::size_t hash = line.find('#');
            std::string action = Trim(hash == std::string::npos ? line : line.substr(0, hash));
            if (action.empty()) continue;
            if (desk.Closed()) {
                std::cerr << "dorvex window: step " << step + 1 << ": the window is closed\n";
                return 2;
            }
            std::size_t space = action.find(' ');
            const std::string verb = action.substr(0, space);
            const std::string rest = space == std::string::npos ? std::string() : Trim(action.substr(space + 1));
            person.messages.clear();
            try {
                desk.Run(verb, rest);
            } catch (const ActionError& e) {
                std::cerr << "dorvex window: step " << step + 1 << " (" << action << "): " << e.what() << "\n";
                return 2;
            }
            std::cout << desk.State(++step, action) << "\n" << std::flush;
        }
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "dorvex window: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace dorvex::cli
