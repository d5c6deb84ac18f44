// Building the window model at start-up, and taking a partly built one
// down again when a step fails.
#include <string>

#include <gtest/gtest.h>

#include "gui.h"
#include "interface.h"
#include "ppddata.h"
#include "startcheck.h"
#include "widgets.h"

namespace {

// Puts the real start-up steps back after a test changed one.
struct StepsGuard {
    StepsGuard() : saved(g_startup_steps) {}
    ~StepsGuard() { g_startup_steps = saved; }
    StartupSteps saved;
};

int NoPrinters(UIAutoShutdownWnd*)
{
    return 0;
}

// Discovery that stored two records, which a failed start-up must free
// (the sanitizer build reports them otherwise).
int TwoPrinters(UIAutoShutdownWnd* wnd)
{
    AddUIPrinterInfo2UIAutoShutdownWnd(wnd, CreateUIPrinterInfo("one"));
    AddUIPrinterInfo2UIAutoShutdownWnd(wnd, CreateUIPrinterInfo("two"));
    return 0;
}

bool g_window_made;
bool g_window_finalised;

GtkWidget* WatchedWindow()
{
    GtkWidget* window = create_ShutdownMain_Dialog();
    g_window_made = true;
    g_object_weak_ref(
        G_OBJECT(window), [](gpointer, GObject*) { g_window_finalised = true; }, nullptr);
    return window;
}

struct FailureCase {
    const char* name;
    void (*break_step)(StartupSteps&);
    const char* line;  // what start-up says on standard error ("" for nothing)
};

// Test names, not bytes, in the listings.
void PrintTo(const FailureCase& c, std::ostream* os)
{
    *os << c.name;
}

class StartupFailure : public testing::TestWithParam<FailureCase> {};

// Every failure ends with no model and says once what failed. Discovery
// reports its own failures (naming the queue), so start-up adds nothing.
TEST_P(StartupFailure, SaysOnceWhatFailedAndReleasesThePartlyBuiltModel)
{
    harness::Gui();
    StepsGuard guard;
    g_startup_steps.get_printers_info = TwoPrinters;
    g_startup_steps.create_main_window = WatchedWindow;
    g_window_made = g_window_finalised = false;
    GetParam().break_step(g_startup_steps);

    UIAutoShutdownWnd* wnd = reinterpret_cast<UIAutoShutdownWnd*>(1);
    const std::string err = harness::CaptureStderr([&] { wnd = CreateAutoShutdownWnd(); });
    EXPECT_EQ(wnd, nullptr);
    EXPECT_EQ(err, GetParam().line);
    // A main window that was made is gone again (the sanitizer build checks
    // the record itself).
    EXPECT_EQ(g_window_finalised, g_window_made);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, StartupFailure,
    testing::Values(
        FailureCase{"RecordAllocation",
                    [](StartupSteps& s) {
                        s.create_dialog = [](int, UIDialog*) -> UIDialog* { return nullptr; };
                    },
                    "quellon: cannot allocate the window model\n"},
        FailureCase{"Discovery",
                    [](StartupSteps& s) {
                        s.get_printers_info = [](UIAutoShutdownWnd* wnd) {
                            return TwoPrinters(wnd) - 1;
                        };
                    },
                    ""},
        FailureCase{
            "MainWindow",
            [](StartupSteps& s) { s.create_main_window = []() -> GtkWidget* { return nullptr; }; },
            "quellon: cannot create the main window\n"},
        FailureCase{"PrinterList",
                    [](StartupSteps& s) { s.set_tree_view = [](UIAutoShutdownWnd*) { return 0; }; },
                    "quellon: cannot create the printer list\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Startup, BuildsTheMainWindowHiddenWithTheSettingsButtonInsensitive)
{
    harness::Gui();
    StepsGuard guard;
    g_startup_steps.get_printers_info = NoPrinters;
    UIAutoShutdownWnd* wnd = CreateAutoShutdownWnd();
    ASSERT_NE(wnd, nullptr);
    EXPECT_EQ(wnd->dialog.parent, nullptr);
    EXPECT_EQ(wnd->dialog.size, static_cast<int>(sizeof(UIAutoShutdownWnd)));
    ASSERT_NE(wnd->dialog.window, nullptr);
    EXPECT_FALSE(gtk_widget_get_visible(wnd->dialog.window));
    EXPECT_FALSE(
        gtk_widget_get_sensitive(getWidget(wnd->dialog.window, "ShutdownMainDlg_Set_button")));
    EXPECT_EQ(wnd->printers_num, 0);
    EXPECT_EQ(wnd->pVxskt, nullptr);
    EXPECT_EQ(wnd->tocode, nullptr);
    EXPECT_STREQ(wnd->selectedPrinterName, "");

    g_autoshutdown_window = wnd;
    DisposeAutoShutdownWnd();
    gtk_widget_destroy(wnd->dialog.window);
    DisposeDialog(&wnd->dialog);
    g_autoshutdown_window = nullptr;
}

}  // namespace
