// Reads dialog templates from a preprocessed resource script, so the Linux
// dialog is built from the same script the Windows resource compiler reads.
#include "dialog_template.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <strings.h>

#include <windows.h>

namespace port {

namespace {

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
        SkipSpace();
        if (pos_ >= text_.size() || text_[pos_] != '"')
            return false;
        pos_++;
        out->clear();
        while (pos_ < text_.size()) {
            char c = text_[pos_++];
            if (c == '"') {
                if (pos_ < text_.size() && text_[pos_] == '"') {  // "" stands for one quote
                    out->push_back('"');
                    pos_++;
                    continue;
                }
                return true;
            }
            if (c == '\\' && pos_ < text_.size()) {
                char e = text_[pos_++];
                out->push_back(e == 'n' ? '\n' : e == 't' ? '\t' : e);
                continue;
            }
            out->push_back(c);
        }
        return false;
    }

    // A constant expression: numbers joined by | and +, with unary minus,
    // NOT and parentheses, as resource compilers accept them.
    bool Number(long *value)
    {
        long result = 0;
        if (!Term(&result))
            return false;
        for (;;) {
            long rhs = 0;
            if (Punct('|')) {
                if (!Term(&rhs))
                    return false;
                result |= rhs;
            } else if (Punct('+')) {
                if (!Term(&rhs))
                    return false;
                result += rhs;
            } else {
                break;
            }
        }
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
    bool Term(long *value)
    {
        if (Punct('(')) {
            if (!Number(value) || !Punct(')'))
                return false;
            return true;
        }
        if (Punct('-')) {
            if (!Term(value))
                return false;
            *value = -*value;
            return true;
        }
        if (Punct('~')) {
            if (!Term(value))
                return false;
            *value = ~*value;
            return true;
        }
        SkipSpace();
        const char *start = text_.c_str() + pos_;
        char *end = nullptr;
        long v = strtol(start, &end, 0);
        if (end == start)
            return false;
        pos_ += end - start;
        while (pos_ < text_.size() &&
               (text_[pos_] == 'L' || text_[pos_] == 'l' || text_[pos_] == 'U' || text_[pos_] == 'u'))
            pos_++;
        *value = v;
        return true;
    }

    void SkipSpace()
    {
        for (;;) {
            while (pos_ < text_.size() && isspace((unsigned char)text_[pos_]))
                pos_++;
            if (text_.compare(pos_, 2, "//") == 0) {
                while (pos_ < text_.size() && text_[pos_] != '\n')
                    pos_++;
                continue;
            }
            break;
        }
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
        if (i > 0 && !in.Punct(','))
            return false;
        if (!in.Number(&v[i]))
            return false;
    }
    *x = (int)v[0];
    *y = (int)v[1];
    *cx = (int)v[2];
    *cy = (int)v[3];
    return true;
}

// CONTROL "text", id, "class", style, x, y, cx, cy [, exstyle]
bool ReadControl(Reader &in, DialogItem *item)
{
    long id = 0, style = 0;
    if (!in.String(&item->text) || !in.Punct(',') || !in.Number(&id) || !in.Punct(','))
        return false;
    if (!in.String(&item->className)) {
        if (!in.Word(&item->className))
            return false;
    }
    if (!in.Punct(',') || !in.Number(&style) || !in.Punct(','))
        return false;
    if (!ReadRect(in, &item->x, &item->y, &item->cx, &item->cy))
        return false;
    long exStyle = 0;
    if (in.Punct(',') && !in.Number(&exStyle))
        return false;
    item->id = (int)id;
    // A CONTROL statement is always a visible child unless its style says otherwise.
    item->style = (uint32_t)style | WS_CHILD | WS_VISIBLE;
    item->exStyle = (uint32_t)exStyle;
    return true;
}

bool ReadDialog(Reader &in, DialogTemplate *dialog, std::string *error)
{
    if (!ReadRect(in, &dialog->x, &dialog->y, &dialog->cx, &dialog->cy)) {
        *error = "bad dialog rectangle";
        return false;
    }
    bool hasStyle = false, hasCaption = false, hasFont = false;
    long style = 0;
    std::string word;
    while (in.Word(&word)) {
        if (IsKeyword(word, "BEGIN"))
            break;
        long value = 0;
        if (IsKeyword(word, "STYLE")) {
            if (!in.Number(&style))
                break;
            hasStyle = true;
        } else if (IsKeyword(word, "EXSTYLE")) {
            if (!in.Number(&value))
                break;
            dialog->exStyle = (uint32_t)value;
        } else if (IsKeyword(word, "CAPTION")) {
            if (!in.String(&dialog->caption))
                break;
            hasCaption = true;
        } else if (IsKeyword(word, "FONT")) {
            if (!in.Number(&value) || !in.Punct(',') || !in.String(&dialog->faceName))
                break;
            dialog->pointSize = (int)value;
            hasFont = true;
        } else {
            *error = "unknown dialog statement " + word;
            return false;
        }
    }
    if (!IsKeyword(word, "BEGIN")) {
        *error = "bad dialog statement " + word;
        return false;
    }
    // What a resource compiler adds: a default style, a caption bar for a
    // caption, and the font flag for a font.
    uint32_t full = hasStyle ? (uint32_t)style : (uint32_t)(WS_POPUP | WS_BORDER | WS_SYSMENU);
    if (hasCaption)
        full |= WS_CAPTION;
    if (hasFont)
        full |= DS_SETFONT;
    dialog->style = full;

    while (in.Word(&word) && !IsKeyword(word, "END")) {
        // Only the general CONTROL statement: the program's script has no other.
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

extern const char kResourceScript[];

const DialogTemplate *FindDialogTemplate(const char *name)
{
    static const std::vector<DialogTemplate> dialogs = ReadDialogTemplates(kResourceScript);
    for (const DialogTemplate &dialog : dialogs)
        if (name && strcasecmp(dialog.name.c_str(), name) == 0)
            return &dialog;
    return nullptr;
}

}  // namespace port
