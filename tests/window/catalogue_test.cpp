// The windows under the Japanese catalogue built here: every text the
// program translates appears in Japanese, the list's column titles stay.
#include <clocale>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "dialog_model.h"
#include "gui.h"
#include "japanese.h"
#include "msgdlg.h"
#include "startcheck.h"
#include "support.h"

namespace {

using namespace harness;

// `shown` is the catalogue's text for `english`, and not English.
::testing::AssertionResult InJapanese(const char* shown, const char* english)
{
    const std::string text = shown ? shown : "(none)";
    const std::string wanted = _(english);
    bool non_ascii = false;
    for (const unsigned char c : text)
        non_ascii = non_ascii || c >= 0x80;
    if (text == wanted && text != english && non_ascii)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << text << "\" for \"" << english << "\"";
}

class Japanese : public ::testing::Test {
protected:
    void SetUp() override
    {
        harness::Gui();  // the toolkit sets the locale from the environment once
        const auto path = harness::JapaneseLocalePath(locales_.path());
        ASSERT_TRUE(path) << "no ja_JP.UTF-8 locale could be made";
        if (!path->empty())
            setenv("LOCPATH", path->c_str(), 1);
        ASSERT_NE(std::setlocale(LC_ALL, harness::kJapaneseLocale), nullptr);
        bindtextdomain(GETTEXT_PACKAGE, QUELLON_CATALOGUE_ROOT);
        bind_textdomain_codeset(GETTEXT_PACKAGE, "UTF-8");
    }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }

    harness::TempDir locales_;
};

const char* Label(DialogModel& m, GtkWidget* window, const char* name)
{
    return gtk_label_get_text(GTK_LABEL(m.Widget(window, name)));
}

const char* ButtonLabel(DialogModel& m, GtkWidget* window, const char* name)
{
    return gtk_button_get_label(GTK_BUTTON(m.Widget(window, name)));
}

TEST_F(Japanese, WindowsAreBuiltInJapaneseWhileColumnTitlesStayEnglish)
{
    DialogModel m({{"lp1"}});
    GtkWidget* main = m.wnd()->dialog.window;
    EXPECT_TRUE(InJapanese(gtk_window_get_title(GTK_WINDOW(main)), "Quellon"));
    EXPECT_TRUE(InJapanese(Label(m, main, "label161"),
                           "Select a printer, and then click [Auto Shutdown Settings]."));
    EXPECT_TRUE(InJapanese(Label(m, main, "label162"), "Printer List:"));
    EXPECT_TRUE(InJapanese(ButtonLabel(m, main, "ShutdownMainDlg_Set_button"),
                           "Auto Shutdown Settings..."));
    EXPECT_TRUE(InJapanese(ButtonLabel(m, main, "ShutdownMainDlg_Exit_button"), "Exit"));
    GtkTreeView* list = GTK_TREE_VIEW(m.Widget(main, "ShutdownMainDlg_treeview"));
    EXPECT_STREQ(gtk_tree_view_column_get_title(gtk_tree_view_get_column(list, 0)), "Printer Name");
    EXPECT_STREQ(gtk_tree_view_column_get_title(gtk_tree_view_get_column(list, 1)), "Product Name");

    GtkWidget* settings = m.settings();
    EXPECT_TRUE(InJapanese(gtk_window_get_title(GTK_WINDOW(settings)), "Auto Shutdown Settings"));
    EXPECT_TRUE(InJapanese(ButtonLabel(m, settings, "ShutdownSDlg_checkbutton"),
                           "Auto Shutdown after Fixed Period"));
    EXPECT_TRUE(InJapanese(Label(m, settings, "label163"), "Auto Shutdown After:   "));
    EXPECT_TRUE(InJapanese(Label(m, settings, "label165"), "hr."));
    EXPECT_TRUE(InJapanese(ButtonLabel(m, settings, "ShutdownSDlg_OK_button"), "OK"));
    EXPECT_TRUE(InJapanese(ButtonLabel(m, settings, "ShutdownSDlg_Cancel_button"), "Cancel "));

    GtkWidget* message = m.message();
    EXPECT_TRUE(InJapanese(ButtonLabel(m, message, "MsgDlg_OK_button"), "OK"));
    EXPECT_TRUE(InJapanese(ButtonLabel(m, message, "MsgDlg_Cancel_button"), "Cancel "));
    for (const MsgTable* row = msg_table; row->type != -1; ++row) {
        ASSERT_TRUE(ShowAndAct(
            message, [&] { ShowMsgDlg(m.wnd(), row->type); },
            [&] { Click(message, "MsgDlg_OK_button"); }));
        EXPECT_TRUE(InJapanese(gtk_window_get_title(GTK_WINDOW(message)), "Warning"));
        EXPECT_TRUE(InJapanese(Label(m, message, "MsgDlg_label"), row->message));
    }
}

}  // namespace
