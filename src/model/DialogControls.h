#pragma once
// The state of the widgets a dialog controller owns; the Qt views draw these and forward the
// person's gestures to the controller.

#include <string>
#include <vector>

namespace dorvex {

struct ComboBox {
    std::vector<std::string> items;
    int listIndex = -1;  // 0-based selection, -1 when nothing is selected
    std::string text;    // the edit text of an editable combo (follows the selection)

    void Clear() { items.clear(); listIndex = -1; text.clear(); }
    void Select(int index) {
        if (index >= 0 && index < static_cast<int>(items.size())) {
            listIndex = index;
            text = items[static_cast<std::size_t>(index)];
        } else {
            listIndex = -1;
        }
    }
    bool HasSelection() const { return listIndex >= 0; }
};

struct TextBox {
    std::string text;
    bool enabled = true;
};

struct Slider {
    int min = 0;
    int max = 0;
    int value = 0;
};

}  // namespace dorvex
