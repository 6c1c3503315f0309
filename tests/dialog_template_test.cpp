// The dialog template as the layer reads it from the resource script.
#include <gtest/gtest.h>

#include "../port/dialog_template.h"
#include "../res/resource.h"

#include <windows.h>

namespace {

TEST(DialogTemplate, RecordDialogIsReadAsWritten)
{
    const port::DialogTemplate *d = port::FindDialogTemplate("record");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(port::FindDialogTemplate("RECORD"), d);
    // WS_VISIBLE, WS_CAPTION, WS_SYSMENU, WS_THICKFRAME, WS_CLIPCHILDREN, DS_SETFONT
    EXPECT_EQ(d->style, 0x12CC0040u);
    EXPECT_EQ(d->exStyle, 0u);
    EXPECT_EQ(d->x, 100);
    EXPECT_EQ(d->y, 100);
    EXPECT_EQ(d->cx, 235);
    EXPECT_EQ(d->cy, 160);
    EXPECT_EQ(d->caption.rfind("Larkspan 1.0 ", 0), 0u);
    EXPECT_EQ(d->pointSize, 8);
    EXPECT_EQ(d->faceName, "MS Sans Serif");
    ASSERT_EQ(d->items.size(), 3u);

    const port::DialogItem &record = d->items[0], &stop = d->items[1], &contact = d->items[2];
    EXPECT_EQ(record.id, IDC_RECORD);
    EXPECT_EQ(record.className, "Button");
    EXPECT_EQ(record.text, "Record");
    EXPECT_EQ(record.style, 0x50010000u);
    EXPECT_EQ((std::vector<int>{record.x, record.y, record.cx, record.cy}),
              (std::vector<int>{7, 138, 40, 14}));
    EXPECT_EQ(stop.id, IDC_STOP);
    EXPECT_EQ(stop.text, "Stop");
    EXPECT_EQ(stop.style, 0x58010000u);
    EXPECT_EQ((std::vector<int>{stop.x, stop.y, stop.cx, stop.cy}), (std::vector<int>{51, 138, 40, 14}));
    EXPECT_EQ(contact.id, -1);
    EXPECT_EQ(contact.className, "Static");
    EXPECT_EQ(contact.style, 0x50021000u);
    EXPECT_EQ((std::vector<int>{contact.x, contact.y, contact.cx, contact.cy}),
              (std::vector<int>{111, 134, 116, 18}));
    // "Contact: " address "; " two blanks, web address
    EXPECT_EQ(contact.text.rfind("Contact: ", 0), 0u);
    size_t semicolon = contact.text.find(";  ");
    ASSERT_NE(semicolon, std::string::npos);
    EXPECT_NE(contact.text.find('@'), std::string::npos);
    EXPECT_LT(contact.text.find('@'), semicolon);
}

TEST(DialogTemplate, ResourceCompilerDefaultsAndShortForms)
{
    std::vector<port::DialogTemplate> dialogs;
    std::string error;
    ASSERT_TRUE(
        port::ParseResourceScript("Plain DIALOG 1, 2, 30, 40\n"
                                  "BEGIN\n"
                                  "  DEFPUSHBUTTON \"O\"\"K\", 1, 5, 6, 7, 8\n"
                                  "  LTEXT \"Hi\", -1, 1, 1, 9, 9, (0x1000L | 0x2)\n"
                                  "END\n",
                                  &dialogs, &error))
        << error;
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].style, (uint32_t)(WS_POPUP | WS_BORDER | WS_SYSMENU));
    EXPECT_EQ(dialogs[0].items[0].text, "O\"K");
    EXPECT_EQ(dialogs[0].items[0].style, (uint32_t)(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON));
    EXPECT_EQ(dialogs[0].items[1].style, (uint32_t)(WS_CHILD | WS_VISIBLE | WS_GROUP | 0x1002));
}

TEST(DialogTemplate, BrokenScriptsSayWhere)
{
    std::vector<port::DialogTemplate> dialogs;
    std::string error;
    EXPECT_FALSE(port::ParseResourceScript("X DIALOG 1, 2, 3\nBEGIN\nEND\n", &dialogs, &error));
    EXPECT_NE(error.find("line"), std::string::npos);
    EXPECT_FALSE(
        port::ParseResourceScript("X DIALOG 1, 2, 3, 4\nBEGIN\n CONTROL \"a\", 1\n", &dialogs, &error));
    EXPECT_FALSE(port::ParseResourceScript("X MENU\n", &dialogs, &error));
}

}  // namespace
