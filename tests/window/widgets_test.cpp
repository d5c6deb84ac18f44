// The signal-suppression counter and the by-name widget helpers.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gui.h"
#include "support.h"
#include "widgets.h"

namespace {

using harness::Gui;
using harness::LogCapture;

// ------------------------------------------------------------- the counter

enum Op { Disable, Enable };

struct CounterCase {
    const char* name;
    std::vector<Op> ops;
    std::vector<gboolean> results;
};

// Test names, not bytes, in the listings.
void PrintTo(const CounterCase& c, std::ostream* os)
{
    *os << c.name;
}

class Counter : public testing::TestWithParam<CounterCase> {};

TEST_P(Counter, ResultsFollowTheOpenSections)
{
    SigInit();
    std::vector<gboolean> results;
    for (Op op : GetParam().ops)
        results.push_back(op == Disable ? SigDisable() : SigEnable());
    EXPECT_EQ(results, GetParam().results);
    // Whatever happened, the counter is back at 0: the next section is the
    // user's again.
    EXPECT_TRUE(SigDisable());
    SigEnable();
}

INSTANTIATE_TEST_SUITE_P(Sequences, Counter,
                         testing::Values(CounterCase{"TwoSectionsNested",
                                                     {Disable, Disable, Enable, Enable},
                                                     {TRUE, FALSE, FALSE, FALSE}},
                                         CounterCase{"UnmatchedEnableStaysAtZero",
                                                     {Enable, Disable, Enable},
                                                     {TRUE, TRUE, FALSE}},
                                         CounterCase{"SectionsOneAfterAnother",
                                                     {Disable, Enable, Disable, Enable},
                                                     {TRUE, FALSE, TRUE, FALSE}},
                                         CounterCase{"ExtraEnablesAfterSection",
                                                     {Disable, Enable, Enable, Enable},
                                                     {TRUE, FALSE, TRUE, TRUE}}),
                         [](const auto& info) { return std::string(info.param.name); });

// A handler fired by the program's own change skips its work and leaves
// the counter as it found it.
TEST(CounterInHandlers, HandlerDuringFillingSkipsItsWork)
{
    Gui();
    SigInit();
    GtkWidget* check = gtk_check_button_new();
    g_object_ref_sink(check);
    static int work_done;
    work_done = 0;
    g_signal_connect(check, "toggled", G_CALLBACK(+[](GtkToggleButton*, gpointer) {
                         if (SigDisable())
                             ++work_done;
                         SigEnable();
                     }),
                     nullptr);

    SigDisable();  // the program fills the widgets
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), TRUE);
    SigEnable();
    EXPECT_EQ(work_done, 0);

    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), FALSE);  // the user
    EXPECT_EQ(work_done, 1);
    EXPECT_TRUE(SigDisable());
    SigEnable();
    g_object_unref(check);
}

// ------------------------------------------------- a registered test window

// A window built by the registry convention, with a classic combo.
struct ComboWindow {
    ComboWindow()
    {
        Gui();
        window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        GtkWidget* box = gtk_vbox_new(FALSE, 0);
        gtk_container_add(GTK_CONTAINER(window), box);
        label = gtk_label_new("before");
        gtk_box_pack_start(GTK_BOX(box), label, FALSE, FALSE, 0);
        check = gtk_check_button_new_with_label("check");
        gtk_box_pack_start(GTK_BOX(box), check, FALSE, FALSE, 0);
        combo = gtk_combo_new();
        gtk_box_pack_start(GTK_BOX(box), combo, FALSE, FALSE, 0);
        gtk_widget_show_all(window);
        g_object_set_data(G_OBJECT(GTK_COMBO(combo)->popwin), "GladeParentKey", combo);

        hookup_object_no_ref(window, window, "Test_window");
        hookup_object(window, box, "vbox1");
        hookup_object(window, label, "Test_label");
        hookup_object(window, check, "Test_checkbutton");
        hookup_object(window, combo, "Test_combo");
        hookup_object(window, GTK_COMBO(combo)->entry, "Test_combo_entry");
    }
    ~ComboWindow() { gtk_widget_destroy(window); }

    std::vector<std::string> ComboStrings() const
    {
        std::vector<std::string> out;
        for (GList* item = GTK_LIST(GTK_COMBO(combo)->list)->children; item; item = item->next) {
            GtkWidget* child = gtk_bin_get_child(GTK_BIN(item->data));
            out.push_back(gtk_label_get_text(GTK_LABEL(child)));
        }
        return out;
    }
    std::string EntryText() const { return gtk_entry_get_text(GTK_ENTRY(GTK_COMBO(combo)->entry)); }

    GtkWidget* window;
    GtkWidget* label;
    GtkWidget* check;
    GtkWidget* combo;
};

GList* Strings(std::vector<const char*> texts)
{
    GList* list = nullptr;
    for (const char* text : texts)
        list = g_list_append(list, const_cast<char*>(text));
    return list;
}

TEST(ComboHelpers, BothAbsentChangesNothing)
{
    ComboWindow w;
    GList* list = Strings({"1", "2"});
    SetGListToCombo(w.window, list, "Test_combo", "2");
    g_list_free(list);

    SetGListToCombo(w.window, nullptr, "Test_combo", nullptr);
    EXPECT_EQ(w.ComboStrings(), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(w.EntryText(), "2");
}

TEST(ComboHelpers, ListAndTextReplaceStringsThenEntry)
{
    ComboWindow w;
    GList* first = Strings({"a", "b", "c"});
    SetGListToCombo(w.window, first, "Test_combo", "b");
    g_list_free(first);
    // The entry shows what the caller says even when the list lacks it.
    GList* second = Strings({"1", "2", "3", "4", "5", "6", "7", "8"});
    SetGListToCombo(w.window, second, "Test_combo", "12");
    g_list_free(second);

    EXPECT_EQ(w.ComboStrings(), (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7", "8"}));
    EXPECT_EQ(w.EntryText(), "12");
    EXPECT_STREQ(GetCurrComboText(w.window, "Test_combo_entry"), "12");
}

TEST(ComboHelpers, NameThatIsNotACombo)
{
    ComboWindow w;
    LogCapture log;
    GList* list = Strings({"1"});
    SetGListToCombo(w.window, list, "Test_label", "1");
    SetGListToCombo(w.window, list, "No_such_combo", "1");
    ComboSignalConnect(w.window, "No_such_combo", G_CALLBACK(+[] {}));
    g_list_free(list);
    EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(w.label))), "before");
    EXPECT_TRUE(log.Contains("Widget not found: No_such_combo"));
}

gboolean CountEvent(GtkWidget*, GdkEvent*, gpointer)
{
    return FALSE;
}

TEST(ComboHelpers, SignalGoesToThePopupWindow)
{
    ComboWindow w;
    GtkWidget* popwin = GTK_COMBO(w.combo)->popwin;
    ComboSignalConnect(w.window, "Test_combo", G_CALLBACK(CountEvent));
    EXPECT_TRUE(gtk_widget_get_realized(w.combo));
    EXPECT_NE(g_signal_handler_find(popwin, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                    reinterpret_cast<gpointer>(CountEvent), nullptr),
              0u);
    EXPECT_EQ(g_signal_handler_find(w.combo, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                    reinterpret_cast<gpointer>(CountEvent), nullptr),
              0u);
}

TEST(WidgetHelpers, ActOnTheNamedWidget)
{
    ComboWindow w;
    SetTextToLabel(w.window, "Test_label", "after");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(w.label)), "after");

    SetActiveCheckButton(w.window, "Test_checkbutton", TRUE);
    EXPECT_TRUE(GetToggleButtonActive(w.window, "Test_checkbutton"));
    SetActiveCheckButton(w.window, "Test_checkbutton", FALSE);
    EXPECT_FALSE(GetToggleButtonActive(w.window, "Test_checkbutton"));

    SetWidgetSensitive(w.window, "Test_checkbutton", FALSE);
    EXPECT_FALSE(gtk_widget_get_sensitive(w.check));

    // Any widget of the window will do as the starting point.
    HideWidget(w.label, "Test_checkbutton");
    EXPECT_FALSE(gtk_widget_get_visible(w.check));
    ShowWidget(w.label, "Test_checkbutton");
    EXPECT_TRUE(gtk_widget_get_visible(w.check));

    SetDialogTitle(w.window, "Title");
    SetDialogTitle(w.window, nullptr);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(w.window)), "Title");
}

TEST(WidgetHelpers, UnregisteredNamesChangeNothing)
{
    ComboWindow w;
    LogCapture log;
    ShowWidget(w.window, "Missing_a");
    HideWidget(w.window, "Missing_b");
    EXPECT_FALSE(GetToggleButtonActive(w.window, "Missing_c"));
    EXPECT_EQ(GetCurrComboText(w.window, "Missing_d"), nullptr);
    for (const char* name : {"a", "b", "c", "d"})
        EXPECT_TRUE(log.Contains(std::string("Widget not found: Missing_") + name)) << name;
}

}  // namespace
