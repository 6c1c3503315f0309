// The dialog template as the layer reads it from the resource script.
#include <gtest/gtest.h>

#include <regex>

#include "../port/user/dialog_template.h"

#include <windows.h>

namespace {

// The "Record" dialog as the program's design gives it, number for number.
TEST(DialogTemplate, RecordDialogIsReadAsWritten)
{
    const port::DialogTemplate *d = port::FindDialogTemplate("record");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(port::FindDialogTemplate("RECORD"), d);
    // WS_VISIBLE, WS_CAPTION, WS_SYSMENU, WS_THICKFRAME, DS_SETFONT; no
    // popup, no minimize or maximize box. Ours adds WS_CLIPCHILDREN, so the
    // band drawn at every block does not paint over the buttons where the
    // font is small (Wine: 6 x 12 pixel units put them inside the band).
    EXPECT_EQ(d->style, 0x10CC0040u | 0x02000000u);
    EXPECT_EQ((std::vector<int>{d->x, d->y, d->cx, d->cy}), (std::vector<int>{100, 100, 235, 160}));
    // "Larkspan 1.0", then a credit and a year.
    EXPECT_TRUE(std::regex_match(d->caption, std::regex("Larkspan 1\\.0 .*[^ ].* (19|20)[0-9][0-9]")))
        << d->caption;
    EXPECT_EQ(d->pointSize, 8);
    EXPECT_EQ(d->faceName, "MS Sans Serif");
    ASSERT_EQ(d->items.size(), 3u);

    struct Expected {
        const char *className;
        int id;
        uint32_t style;
        int x, y, cx, cy;
    };
    const Expected expected[] = {
        {"Button", 1000, 0x50010000u, 7, 138, 40, 14},   // WS_CHILD WS_VISIBLE WS_TABSTOP BS_PUSHBUTTON
        {"Button", 1001, 0x58010000u, 51, 138, 40, 14},  // and WS_DISABLED
        {"Static", -1, 0x50021000u, 111, 134, 116, 18},  // WS_CHILD WS_VISIBLE WS_GROUP SS_SUNKEN SS_LEFT
    };
    for (int i = 0; i < 3; i++) {
        const port::DialogItem &item = d->items[i];
        SCOPED_TRACE(item.text);
        EXPECT_EQ(item.className, expected[i].className);
        EXPECT_EQ(item.id, expected[i].id);
        EXPECT_EQ(item.style, expected[i].style);
        EXPECT_EQ((std::vector<int>{item.x, item.y, item.cx, item.cy}),
                  (std::vector<int>{expected[i].x, expected[i].y, expected[i].cx, expected[i].cy}));
    }
    EXPECT_EQ(d->items[0].text, "Record");
    EXPECT_EQ(d->items[1].text, "Stop");
    // "Contact: ", an e-mail address, a semicolon, two blanks, a web address.
    EXPECT_TRUE(std::regex_match(
        d->items[2].text, std::regex("Contact: [^ ;@]+@[^ ;@]+\\.[a-z]+;  (https?://)?[^ ;@]+\\.[^ ;@]+")))
        << d->items[2].text;
}

TEST(DialogTemplate, ScriptsItCannotReadSayWhereAndWhy)
{
    std::vector<port::DialogTemplate> dialogs;
    std::string error;
    EXPECT_FALSE(port::ParseResourceScript("X DIALOG 1, 2, 3\nBEGIN\nEND\n", &dialogs, &error));
    EXPECT_NE(error.find("line"), std::string::npos);
    EXPECT_FALSE(port::ParseResourceScript("X DIALOG 1, 2, 3, 4\nBEGIN\nEND\n", &dialogs, &error));
    EXPECT_NE(error.find("dialog without STYLE"), std::string::npos) << error;
    EXPECT_FALSE(port::ParseResourceScript("X DIALOG 1, 2, 3, 4\nSTYLE 1\nBEGIN\n CONTROL \"a\", 1\n",
                                           &dialogs, &error));
    EXPECT_FALSE(port::ParseResourceScript("X MENU\n", &dialogs, &error));
    // A script that cannot be read gives no dialog, and says why.
    testing::internal::CaptureStderr();
    EXPECT_TRUE(
        port::ReadDialogTemplates("X DIALOG 1, 2, 3, 4\nSTYLE 1\nBEGIN\n PUSHBUTTON \"a\", 1\n").empty());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("line 4: unsupported control statement PUSHBUTTON"),
              std::string::npos);
}

}  // namespace
