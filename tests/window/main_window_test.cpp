// The main window: its widgets and registry, the printer list, selection,
// and the two ways out.
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "callbacks.h"
#include "cupsd.h"
#include "gui.h"
#include "interface.h"
#include "startcheck.h"
#include "support.h"
#include "widgets.h"

namespace {

using harness::Gui;

// ------------------------------------------------------------------ registry

struct Registered {
    const char* name;
    const char* parent;  // registered name of the containing widget; "" for the top-level
    bool referenced;
};

constexpr std::array<Registered, 12> kMainWindow = {{
    {"ShutdownMain_Dialog", "", false},
    {"vbox42", "ShutdownMain_Dialog", false},
    {"vbox43", "vbox42", true},
    {"vbox44", "vbox43", true},
    {"label161", "vbox44", true},
    {"label162", "vbox44", true},
    {"ShutdownMainDlg_scrolledwindow", "vbox43", true},
    {"ShutdownMainDlg_treeview", "ShutdownMainDlg_scrolledwindow", true},
    {"hbox63", "vbox43", true},
    {"ShutdownMainDlg_Set_button", "hbox63", true},
    {"hbuttonbox7", "vbox42", false},
    {"ShutdownMainDlg_Exit_button", "hbuttonbox7", true},
}};

struct MainWindow {
    MainWindow()
    {
        Gui();
        window = create_ShutdownMain_Dialog();
    }
    ~MainWindow() { gtk_widget_destroy(window); }
    GtkWidget* get(const char* name) const { return lookup_widget(window, name); }
    GtkWidget* window;
};

TEST(MainWindowRegistry, EveryWidgetRegisteredInItsPlaceWithTheRightReference)
{
    MainWindow w;
    for (const Registered& r : kMainWindow) {
        SCOPED_TRACE(r.name);
        GtkWidget* widget = w.get(r.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(gtk_widget_get_toplevel(widget), w.window);
        if (*r.parent) {
            EXPECT_EQ(gtk_widget_get_parent(widget), w.get(r.parent));
        }
        if (widget == w.window)
            continue;
        // The container holds one reference; the registry one more, if any.
        EXPECT_EQ(G_OBJECT(widget)->ref_count, r.referenced ? 2u : 1u);
        EXPECT_TRUE(gtk_widget_get_visible(widget));
    }
    EXPECT_FALSE(gtk_widget_get_visible(w.window));
}

TEST(MainWindowRegistry, WindowProperties)
{
    MainWindow w;
    GtkWindow* window = GTK_WINDOW(w.window);
    EXPECT_STREQ(gtk_window_get_title(window), "Quellon");
    EXPECT_FALSE(gtk_window_get_resizable(window));
    EXPECT_FALSE(gtk_window_get_modal(window));
    EXPECT_EQ(gtk_window_get_type_hint(window), GDK_WINDOW_TYPE_HINT_DIALOG);
    gint width = 0, height = 0;
    gtk_widget_get_size_request(w.window, &width, &height);
    EXPECT_EQ(width, 522);
    EXPECT_EQ(height, 374);

    GtkTreeView* tree = GTK_TREE_VIEW(w.get("ShutdownMainDlg_treeview"));
    EXPECT_TRUE(gtk_tree_view_get_reorderable(tree));
    EXPECT_FALSE(gtk_tree_view_get_enable_search(tree));
    EXPECT_TRUE(gtk_tree_view_get_headers_visible(tree));
    EXPECT_EQ(gtk_dialog_get_response_for_widget(GTK_DIALOG(w.window),
                                                 w.get("ShutdownMainDlg_Exit_button")),
              0);
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(w.get("ShutdownMainDlg_Set_button"))),
                 "Auto Shutdown Settings...");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(w.get("label162"))), "Printer List:");
}

// -------------------------------------------------------------- printer list

// A window model over printer records that the test owns.
using Printers = std::vector<std::pair<const char*, const char*>>;

// The rows of a printer list as "printer|model", in the order shown.
std::vector<std::string> RowsOf(GtkTreeView* tree)
{
    std::vector<std::string> rows;
    GtkTreeModel* model = gtk_tree_view_get_model(tree);
    GtkTreeIter iter;
    for (gboolean ok = gtk_tree_model_get_iter_first(model, &iter); ok;
         ok = gtk_tree_model_iter_next(model, &iter)) {
        gchar* printer = nullptr;
        gchar* product = nullptr;
        gtk_tree_model_get(model, &iter, 0, &printer, 1, &product, -1);
        rows.push_back(std::string(printer) + "|" + product);
        g_free(printer);
        g_free(product);
    }
    return rows;
}

struct ListedModel {
    explicit ListedModel(const Printers& printers) : records(printers.size())
    {
        Gui();
        for (size_t i = 0; i < printers.size(); ++i) {
            std::strcpy(records[i].printerName, printers[i].first);
            std::strcpy(records[i].modelName, printers[i].second);
            wnd.printersInfo[i] = &records[i];
        }
        wnd.printers_num = static_cast<int>(printers.size());
        wnd.dialog.window = create_ShutdownMain_Dialog();
        g_autoshutdown_window = &wnd;
    }
    ~ListedModel()
    {
        g_autoshutdown_window = nullptr;
        gtk_widget_destroy(wnd.dialog.window);
    }
    GtkTreeView* tree() const
    {
        return GTK_TREE_VIEW(lookup_widget(wnd.dialog.window, "ShutdownMainDlg_treeview"));
    }
    std::vector<std::string> Rows() const { return RowsOf(tree()); }
    void Select(int row) const
    {
        GtkTreePath* path = gtk_tree_path_new_from_indices(row, -1);
        gtk_tree_view_set_cursor(tree(), path, nullptr, FALSE);
        gtk_tree_path_free(path);
    }
    bool SetButtonSensitive() const
    {
        return gtk_widget_get_sensitive(
            lookup_widget(wnd.dialog.window, "ShutdownMainDlg_Set_button"));
    }
    std::vector<UIPrinterInfo> records;
    UIAutoShutdownWnd wnd{};
};

TEST(PrinterList, ShowsSupportedPrintersInDiscoveryOrder)
{
    ListedModel m(Printers{{"first", "Brelko M230"},
                           {"lower", "brelko m220"},
                           {"unknown", "Other 100"},
                           {"twin-a", "Brelko M240C/M248C"},
                           {"longer", "Brelko M210X"},
                           {"empty", ""},
                           {"twin-b", "Brelko M240C/M248C"},
                           {"last", "Brelko M250C"}});
    ASSERT_EQ(SetTreeViewWidget(&m.wnd), 1);
    EXPECT_EQ(m.Rows(),
              (std::vector<std::string>{"first|Brelko M230", "twin-a|Brelko M240C/M248C",
                                        "twin-b|Brelko M240C/M248C", "last|Brelko M250C"}));
    std::vector<std::string> titles;
    for (int i = 0; GtkTreeViewColumn* column = gtk_tree_view_get_column(m.tree(), i); ++i)
        titles.push_back(gtk_tree_view_column_get_title(column));
    EXPECT_EQ(titles, (std::vector<std::string>{"Printer Name", "Product Name"}));
}

TEST(PrinterList, NoSupportedPrinterGivesAnEmptyList)
{
    ListedModel m(Printers{{"a", "Other"}, {"b", "BRELKO M210"}});
    ASSERT_EQ(SetTreeViewWidget(&m.wnd), 1);
    EXPECT_TRUE(m.Rows().empty());
}

TEST(PrinterList, ClickingAColumnTitleSortsByIt)
{
    ListedModel m(Printers{
        {"c-queue", "Brelko M210"}, {"a-queue", "Brelko M250C"}, {"b-queue", "Brelko M220"}});
    ASSERT_EQ(SetTreeViewWidget(&m.wnd), 1);
    GtkTreeViewColumn* printer = gtk_tree_view_get_column(m.tree(), 0);
    GtkTreeViewColumn* product = gtk_tree_view_get_column(m.tree(), 1);

    gtk_tree_view_column_clicked(printer);
    EXPECT_EQ(m.Rows(), (std::vector<std::string>{"a-queue|Brelko M250C", "b-queue|Brelko M220",
                                                  "c-queue|Brelko M210"}));
    gtk_tree_view_column_clicked(printer);
    EXPECT_EQ(m.Rows(), (std::vector<std::string>{"c-queue|Brelko M210", "b-queue|Brelko M220",
                                                  "a-queue|Brelko M250C"}));
    gtk_tree_view_column_clicked(product);
    EXPECT_EQ(m.Rows(), (std::vector<std::string>{"c-queue|Brelko M210", "b-queue|Brelko M220",
                                                  "a-queue|Brelko M250C"}));
    gtk_tree_view_column_clicked(product);
    EXPECT_EQ(m.Rows(), (std::vector<std::string>{"a-queue|Brelko M250C", "b-queue|Brelko M220",
                                                  "c-queue|Brelko M210"}));
}

// --------------------------------------------------------------- selection

TEST(Selection, StoresZeroFilledNamesAndEnablesTheButton)
{
    const std::string long_name(255, 'L');
    ListedModel m(Printers{{long_name.c_str(), "Brelko M240C/M248C"}, {"s", "Brelko M210"}});
    ASSERT_EQ(SetTreeViewWidget(&m.wnd), 1);
    SetWidgetSensitive(m.wnd.dialog.window, "ShutdownMainDlg_Set_button", FALSE);

    m.Select(0);
    EXPECT_EQ(std::string(m.wnd.selectedPrinterName), long_name);
    EXPECT_STREQ(m.wnd.selectedModelName, "Brelko M240C/M248C");
    EXPECT_TRUE(m.SetButtonSensitive());

    m.Select(1);
    char printer[PRINTER_TEXT_SIZE] = "s";
    char model[PRINTER_TEXT_SIZE] = "Brelko M210";
    EXPECT_EQ(std::memcmp(m.wnd.selectedPrinterName, printer, sizeof(printer)), 0)
        << "bytes of the longer name survived";
    EXPECT_EQ(std::memcmp(m.wnd.selectedModelName, model, sizeof(model)), 0);
}

TEST(Selection, CursorChangeWithoutSelectedRowChangesNothing)
{
    ListedModel m(Printers{{"p", "Brelko M210"}});
    ASSERT_EQ(SetTreeViewWidget(&m.wnd), 1);
    SetWidgetSensitive(m.wnd.dialog.window, "ShutdownMainDlg_Set_button", FALSE);
    std::strcpy(m.wnd.selectedPrinterName, "kept");

    gtk_tree_selection_unselect_all(gtk_tree_view_get_selection(m.tree()));
    g_signal_emit_by_name(m.tree(), "cursor-changed");
    EXPECT_STREQ(m.wnd.selectedPrinterName, "kept");
    EXPECT_FALSE(m.SetButtonSensitive());
}

// CUPS accepts queue names that are not UTF-8: the list shows a valid
// rendering without a toolkit warning, while the selection keeps the
// queue's own bytes, which are what the daemon must be sent.
TEST(Selection, NonUtf8QueueNameShowsValidTextAndKeepsItsBytes)
{
    const std::string raw = "caf\xE9-\xFF\xFEq";
    ListedModel m(Printers{{raw.c_str(), "Brelko M210"}, {"caf\xC3\xA9", "Brelko M220"}});
    // The toolkit's warnings go to standard error, some past any log handler.
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(SetTreeViewWidget(&m.wnd), 1);
    gtk_widget_show_all(m.wnd.dialog.window);
    GtkRequisition size;
    gtk_widget_size_request(m.wnd.dialog.window, &size);
    while (gtk_events_pending())
        gtk_main_iteration();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

    EXPECT_EQ(m.Rows(), (std::vector<std::string>{"caf\\xE9-\\xFF\\xFEq|Brelko M210",
                                                  "caf\xC3\xA9|Brelko M220"}));
    m.Select(0);
    EXPECT_EQ(std::string(m.wnd.selectedPrinterName), raw);
    m.Select(1);
    EXPECT_STREQ(m.wnd.selectedPrinterName, "caf\xC3\xA9");
}

// ----------------------------------------------------------- the ways out

// A started program's model over a private scheduler's queues, up to the
// outer loop.
struct StartedModel {
    explicit StartedModel(const std::vector<std::pair<std::string, std::string>>& queues)
    {
        Gui();
        for (const auto& [name, model] : queues)
            EXPECT_TRUE(cupsd.AddQueue(name, harness::MakePpd(model)));
        cupsd.UseInThisProcess();
        g_autoshutdown_window = CreateAutoShutdownWnd();
        wnd = g_autoshutdown_window;
        if (!wnd)
            return;
        // What an opened settings dialog leaves behind.
        wnd->tocode = g_strdup("UTF-8");
        wnd->fromcode = g_strdup("UTF-8");
        gtk_widget_realize(wnd->dialog.window);
        gtk_widget_show(wnd->dialog.window);
    }
    ~StartedModel()
    {
        if (!wnd)
            return;
        DisposeAutoShutdownWnd();
        g_autoshutdown_window = nullptr;
        gtk_widget_destroy(wnd->dialog.window);
        DisposeDialog(&wnd->dialog);
    }
    std::vector<std::string> Rows() const
    {
        return RowsOf(GTK_TREE_VIEW(lookup_widget(wnd->dialog.window, "ShutdownMainDlg_treeview")));
    }
    // Runs the outer loop as main does; true when the exit path ended it.
    bool RunOuterLoop(void (*action)(StartedModel*))
    {
        struct Call {
            StartedModel* self;
            void (*action)(StartedModel*);
        } call{this, action};
        harness::LoopGuard guard;
        g_idle_add(
            [](gpointer data) -> gboolean {
                auto* c = static_cast<Call*>(data);
                c->action(c->self);
                return FALSE;
            },
            &call);
        gtk_main();
        return !guard.fired();
    }
    void ExpectMembersReleased() const
    {
        EXPECT_EQ(wnd->tocode, nullptr);
        EXPECT_EQ(wnd->fromcode, nullptr);
        EXPECT_EQ(wnd->msg_dlg, nullptr);
        EXPECT_EQ(wnd->asset_dlg, nullptr);
        EXPECT_EQ(wnd->pVxskt, nullptr);
        EXPECT_EQ(wnd->printers_num, 0);
        // The window stays until the process ends.
        EXPECT_TRUE(GTK_IS_WIDGET(wnd->dialog.window));
    }
    harness::PrivateCupsd cupsd;
    UIAutoShutdownWnd* wnd = nullptr;
};

const std::vector<std::pair<std::string, std::string>> kQueues = {
    {"Alpha", "Brelko M210"}, {"Beta", "brelko m220"},    {"Delta", "Other Laser 9"},
    {"Gamma", "Brelko M230"}, {"Gamma-2", "Brelko M230"},
};

// Discovery through a real scheduler feeds the list: CUPS's order, only
// the supported models, the same model twice as two rows.
TEST(StartedProgram, ListsTheSupportedQueuesOfTheScheduler)
{
    StartedModel m(kQueues);
    ASSERT_NE(m.wnd, nullptr);
    EXPECT_EQ(m.wnd->printers_num, 5);
    EXPECT_EQ(m.Rows(), (std::vector<std::string>{"Alpha|Brelko M210", "Gamma|Brelko M230",
                                                  "Gamma-2|Brelko M230"}));
}

TEST(WaysOut, ExitButtonReleasesMembersAndEndsTheOuterLoop)
{
    StartedModel m(kQueues);
    ASSERT_NE(m.wnd, nullptr);
    ASSERT_EQ(m.wnd->printers_num, 5);
    EXPECT_TRUE(m.RunOuterLoop([](StartedModel* s) {
        gtk_button_clicked(
            GTK_BUTTON(lookup_widget(s->wnd->dialog.window, "ShutdownMainDlg_Exit_button")));
    }));
    m.ExpectMembersReleased();
}

// The close request comes from the X server, as a window manager sends it.
TEST(WaysOut, CloseRequestBehavesLikeExit)
{
    StartedModel m(kQueues);
    ASSERT_NE(m.wnd, nullptr);
    ASSERT_EQ(m.wnd->printers_num, 5);
    harness::Pump();
    EXPECT_TRUE(m.RunOuterLoop([](StartedModel* s) {
        EXPECT_TRUE(Gui().CloseWindow(harness::Xid(s->wnd->dialog.window)));
    }));
    m.ExpectMembersReleased();
    EXPECT_TRUE(gtk_widget_get_visible(m.wnd->dialog.window));
}

TEST(WaysOut, SettingsButtonWithoutModelDoesNothing)
{
    MainWindow w;
    on_ShutdownMainDlg_Set_button_clicked(GTK_BUTTON(w.get("ShutdownMainDlg_Set_button")), nullptr);
    on_treeview1_cursor_changed(GTK_TREE_VIEW(w.get("ShutdownMainDlg_treeview")), nullptr);
    DisposeAutoShutdownWnd();
}

}  // namespace
