// Window records and modal display by nested main loops.
#include <gtest/gtest.h>

#include "dialog.h"
#include "gui.h"

namespace {

using harness::Gui;
using harness::LoopGuard;

struct Record {
    UIDialog dialog;
    int extra;
};

// A record with a window of its own, released with the test.
struct Window {
    explicit Window(UIDialog* parent)
        : record(reinterpret_cast<Record*>(CreateDialog(sizeof(Record), parent)))
    {
        record->dialog.window = gtk_dialog_new();
    }
    ~Window()
    {
        gtk_widget_destroy(record->dialog.window);
        DisposeDialog(&record->dialog);
    }
    UIDialog* header() { return &record->dialog; }
    bool visible() const { return gtk_widget_get_visible(record->dialog.window); }
    Record* record;
};

TEST(DialogRecord, HeaderKeepsSizeAndParent)
{
    UIDialog* parent = CreateDialog(sizeof(UIDialog), nullptr);
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(parent->parent, nullptr);
    UIDialog* child = CreateDialog(sizeof(Record), parent);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->window, nullptr);
    EXPECT_EQ(child->parent, parent);
    EXPECT_EQ(child->size, static_cast<int>(sizeof(Record)));
    DisposeDialog(child);
    DisposeDialog(parent);
    DisposeDialog(nullptr);
}

TEST(DialogRecord, SizeSmallerThanTheHeaderIsRefused)
{
    EXPECT_EQ(CreateDialog(static_cast<int>(sizeof(UIDialog)) - 1, nullptr), nullptr);
    EXPECT_EQ(CreateDialog(-1, nullptr), nullptr);
}

// A warning over the settings dialog over the main window: each HideDialog
// ends only its own level, and the dialog below stays on screen.
TEST(ModalLoops, NestedShowAndHideEndOneLevelEach)
{
    Gui();
    Window main_window(nullptr);
    gtk_widget_show(main_window.record->dialog.window);
    Window settings(main_window.header());
    Window warning(settings.header());

    struct Steps {
        Window* settings;
        Window* warning;
        std::vector<std::string> seen;
    } steps{&settings, &warning, {}};
    LoopGuard guard;

    g_idle_add(
        [](gpointer data) -> gboolean {
            auto* s = static_cast<Steps*>(data);
            s->seen.push_back("settings loop, level " + std::to_string(gtk_main_level()));
            g_idle_add(
                [](gpointer data) -> gboolean {
                    auto* s = static_cast<Steps*>(data);
                    s->seen.push_back("warning loop, level " + std::to_string(gtk_main_level()));
                    EXPECT_TRUE(s->warning->visible());
                    EXPECT_TRUE(s->settings->visible());
                    HideDialog(s->warning->header());
                    return FALSE;
                },
                s);
            ShowDialog(s->warning->header());
            s->seen.push_back("back in settings loop, level " + std::to_string(gtk_main_level()));
            EXPECT_FALSE(s->warning->visible());
            EXPECT_TRUE(s->settings->visible());
            HideDialog(s->settings->header());
            return FALSE;
        },
        &steps);
    ShowDialog(settings.header());

    EXPECT_FALSE(guard.fired());
    EXPECT_EQ(gtk_main_level(), 0u);
    EXPECT_FALSE(settings.visible());
    EXPECT_TRUE(main_window.visible());
    EXPECT_EQ(steps.seen,
              (std::vector<std::string>{"settings loop, level 1", "warning loop, level 2",
                                        "back in settings loop, level 1"}));
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(settings.record->dialog.window)),
              GTK_WINDOW(main_window.record->dialog.window));
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(warning.record->dialog.window)),
              GTK_WINDOW(settings.record->dialog.window));
}

TEST(ModalLoops, HideWithoutRecordQuitsNoLoop)
{
    Gui();
    Window dialog(nullptr);
    struct Steps {
        Window* dialog;
        bool still_running = false;
    } steps{&dialog};
    LoopGuard guard;

    g_idle_add(
        [](gpointer data) -> gboolean {
            auto* s = static_cast<Steps*>(data);
            HideDialog(nullptr);
            // Runs only if the loop survived the call above.
            g_idle_add(
                [](gpointer data) -> gboolean {
                    auto* s = static_cast<Steps*>(data);
                    s->still_running = gtk_main_level() == 1;
                    HideDialog(s->dialog->header());
                    return FALSE;
                },
                s);
            return FALSE;
        },
        &steps);
    ShowDialog(dialog.header());

    EXPECT_FALSE(guard.fired());
    EXPECT_TRUE(steps.still_running);
    EXPECT_FALSE(dialog.visible());
}

TEST(ModalLoops, WithoutWindowShowReturnsAndHideOutsideALoopOnlyHides)
{
    Gui();
    UIDialog* bare = CreateDialog(sizeof(UIDialog), nullptr);
    ShowDialog(bare);  // nothing could ever quit its loop: must not start one
    ShowDialog(nullptr);
    harness::LogCapture log;
    Window dialog(nullptr);
    gtk_widget_show(dialog.record->dialog.window);
    HideDialog(dialog.header());
    EXPECT_FALSE(dialog.visible());
    EXPECT_TRUE(log.messages().empty()) << log.messages().front();
    DisposeDialog(bare);
}

}  // namespace
