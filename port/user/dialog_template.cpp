// Reads dialog templates from the preprocessed resource script, so the Linux
// dialog is built from the same script the Windows resource compiler reads:
// the statements that script uses, and a line that says what else it
// cannot read.
#include "dialog_template.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <strings.h>

#include <windows.h>

namespace port {

namespace {

// The statements of the program's script, after the preprocessor: names,
// punctuation, plain strings, and numbers, alone or joined by '|'.
class Reader {
public:
    explicit Reader(const std::string &text) : text_(text) {}

    bool AtEnd()
    {
        SkipSpace();
        return pos_ >= text_.size();
    }

    // A keyword or name: letters, digits and underscores.
    bool Word(std::string *word)
    {
        SkipSpace();
        size_t start = pos_;
        while (pos_ < text_.size() && (isalnum((unsigned char)text_[pos_]) || text_[pos_] == '_'))
            pos_++;
        *word = text_.substr(start, pos_ - start);
        return !word->empty();
    }

    bool Punct(char c)
    {
        SkipSpace();
        if (pos_ < text_.size() && text_[pos_] == c) {
            pos_++;
            return true;
        }
        return false;
    }

    bool String(std::string *out)
    {
        if (!Punct('"'))
            return false;
        const size_t end = text_.find('"', pos_);
        if (end == std::string::npos)
            return false;
        *out = text_.substr(pos_, end - pos_);
        pos_ = end + 1;
        return true;
    }

    // Numbers joined by '|', each perhaps negative, with an L suffix, or in
    // parentheses (as resource.h writes -1).
    bool Number(long *value)
    {
        long result = 0;
        do {
            const bool parenthesised = Punct('(');
            SkipSpace();
            const char *start = text_.c_str() + pos_;
            char *end = nullptr;
            const long v = strtol(start, &end, 0);
            if (end == start)
                return false;
            pos_ += end - start;
            if (pos_ < text_.size() && (text_[pos_] == 'L' || text_[pos_] == 'l'))
                pos_++;
            if (parenthesised && !Punct(')'))
                return false;
            result |= v;
        } while (Punct('|'));
        *value = result;
        return true;
    }

    size_t Line() const
    {
        size_t line = 1;
        for (size_t i = 0; i < pos_ && i < text_.size(); i++)
            if (text_[i] == '\n')
                line++;
        return line;
    }

private:
    // The preprocessor has taken the comments out.
    void SkipSpace()
    {
        while (pos_ < text_.size() && isspace((unsigned char)text_[pos_]))
            pos_++;
    }

    const std::string &text_;
    size_t pos_ = 0;
};

bool IsKeyword(const std::string &word, const char *keyword)
{
    return strcasecmp(word.c_str(), keyword) == 0;
}

bool ReadRect(Reader &in, int *x, int *y, int *cx, int *cy)
{
    long v[4];
    for (int i = 0; i < 4; i++) {
        if ((i > 0 && !in.Punct(',')) || !in.Number(&v[i]))
            return false;
    }
    *x = (int)v[0];
    *y = (int)v[1];
    *cx = (int)v[2];
    *cy = (int)v[3];
    return true;
}

// CONTROL "text", id, "class", style, x, y, cx, cy
bool ReadControl(Reader &in, DialogItem *item)
{
    long id = 0, style = 0;
    if (!in.String(&item->text) || !in.Punct(',') || !in.Number(&id) || !in.Punct(',') ||
        !in.String(&item->className) || !in.Punct(',') || !in.Number(&style) || !in.Punct(',') ||
        !ReadRect(in, &item->x, &item->y, &item->cx, &item->cy))
        return false;
    item->id = (int)id;
    // A CONTROL statement is always a visible child unless its style says otherwise.
    item->style = (uint32_t)style | WS_CHILD | WS_VISIBLE;
    return true;
}

// DIALOG x, y, cx, cy, then STYLE, CAPTION and FONT, and the controls
// between BEGIN and END.
bool ReadDialog(Reader &in, DialogTemplate *dialog, std::string *error)
{
    if (!ReadRect(in, &dialog->x, &dialog->y, &dialog->cx, &dialog->cy)) {
        *error = "bad dialog rectangle";
        return false;
    }
    bool hasStyle = false;
    long value = 0;
    std::string word;
    while (in.Word(&word) && !IsKeyword(word, "BEGIN")) {
        bool read;
        if (IsKeyword(word, "STYLE")) {
            read = hasStyle = in.Number(&value);
            dialog->style = (uint32_t)value;
        } else if (IsKeyword(word, "CAPTION")) {
            read = in.String(&dialog->caption);
        } else if (IsKeyword(word, "FONT")) {
            read = in.Number(&value) && in.Punct(',') && in.String(&dialog->faceName);
            dialog->pointSize = (int)value;
        } else {
            *error = "unsupported dialog statement " + word;
            return false;
        }
        if (!read) {
            *error = "bad " + word + " statement";
            return false;
        }
    }
    if (!IsKeyword(word, "BEGIN") || !hasStyle) {
        *error = hasStyle ? "dialog without BEGIN" : "dialog without STYLE";
        return false;
    }
    while (in.Word(&word) && !IsKeyword(word, "END")) {
        DialogItem item;
        if (!IsKeyword(word, "CONTROL")) {
            *error = "unsupported control statement " + word;
            return false;
        }
        if (!ReadControl(in, &item)) {
            *error = "bad control";
            return false;
        }
        dialog->items.push_back(item);
    }
    if (!IsKeyword(word, "END")) {
        *error = "dialog without END";
        return false;
    }
    return true;
}

}  // namespace

bool ParseResourceScript(const std::string &text, std::vector<DialogTemplate> *dialogs, std::string *error)
{
    Reader in(text);
    while (!in.AtEnd()) {
        std::string name, kind;
        if (!in.Word(&name) || !in.Word(&kind)) {
            *error = "line " + std::to_string(in.Line()) + ": expected a resource";
            return false;
        }
        if (!IsKeyword(kind, "DIALOG")) {
            *error = "line " + std::to_string(in.Line()) + ": unsupported resource " + kind;
            return false;
        }
        DialogTemplate dialog;
        dialog.name = name;
        std::string why;
        if (!ReadDialog(in, &dialog, &why)) {
            *error = "line " + std::to_string(in.Line()) + ": " + why;
            return false;
        }
        dialogs->push_back(dialog);
    }
    return true;
}

std::vector<DialogTemplate> ReadDialogTemplates(const char *script)
{
    std::vector<DialogTemplate> dialogs;
    std::string error;
    if (!ParseResourceScript(script, &dialogs, &error)) {
        fprintf(stderr, "larkspan: the dialog templates cannot be read: %s\n", error.c_str());
        dialogs.clear();
    }
    return dialogs;
}

extern const char *const kResourceScript;

const DialogTemplate *FindDialogTemplate(const char *name)
{
    static const std::vector<DialogTemplate> dialogs = ReadDialogTemplates(kResourceScript);
    for (const DialogTemplate &dialog : dialogs)
        if (name && strcasecmp(dialog.name.c_str(), name) == 0)
            return &dialog;
    return nullptr;
}

}  // namespace port
