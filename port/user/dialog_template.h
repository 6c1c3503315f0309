// Dialog templates read from the program's resource script.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace port {

struct DialogItem {
    std::string className;  // "Button", "Static", ...
    std::string text;
    int id = 0;
    int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    uint32_t style = 0;
};

struct DialogTemplate {
    std::string name;
    uint32_t style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    std::string caption;
    int pointSize = 0;
    std::string faceName;
    std::vector<DialogItem> items;  // in template order, which is the tab order
};

// Reads every DIALOG resource of a preprocessed resource script (macros
// already expanded): STYLE, CAPTION and FONT statements, and CONTROL
// statements for its controls. On failure returns false and says where in
// `error`.
bool ParseResourceScript(const std::string &text, std::vector<DialogTemplate> *dialogs, std::string *error);

// The dialogs of a script; none, and why on stderr, if it cannot be read.
std::vector<DialogTemplate> ReadDialogTemplates(const char *script);

// The program's own dialog named `name` (case-insensitive), or null.
const DialogTemplate *FindDialogTemplate(const char *name);

}  // namespace port
