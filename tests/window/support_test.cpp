// Widget lookup across windows of their own, and the pixmap search.
#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "gui.h"
#include "support.h"

namespace {

using harness::Gui;
using harness::LogCapture;

// A top-level with a classic combo, registered by the convention.
struct ComboWindow {
    explicit ComboWindow(bool record_parent)
    {
        Gui();
        window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        combo = gtk_combo_new();
        gtk_container_add(GTK_CONTAINER(window), combo);
        gtk_widget_show_all(window);
        if (record_parent)
            g_object_set_data(G_OBJECT(GTK_COMBO(combo)->popwin), "GladeParentKey", combo);
        hookup_object_no_ref(window, window, "Test_window");
        hookup_object(window, combo, "Test_combo");
        hookup_object(window, GTK_COMBO(combo)->entry, "Test_combo_entry");
    }
    ~ComboWindow() { gtk_widget_destroy(window); }
    GtkWidget* window;
    GtkWidget* combo;
};

TEST(LookupWidget, FromInsideTheComboPopupReachesTheTopLevel)
{
    ComboWindow w(true);
    GtkWidget* list = GTK_COMBO(w.combo)->list;  // deep inside the popup window
    ASSERT_NE(gtk_widget_get_toplevel(list), w.window);
    EXPECT_EQ(lookup_widget(list, "Test_combo_entry"), GTK_COMBO(w.combo)->entry);
    EXPECT_EQ(lookup_widget(GTK_COMBO(w.combo)->popwin, "Test_window"), w.window);
}

TEST(LookupWidget, PopupWithoutParentKeyIsATopLevelOfItsOwn)
{
    ComboWindow w(false);
    LogCapture log;
    EXPECT_EQ(lookup_widget(GTK_COMBO(w.combo)->list, "Test_combo"), nullptr);
    EXPECT_EQ(log.messages(), std::vector<std::string>{"Widget not found: Test_combo"});
}

TEST(LookupWidget, MenuClimbsToItsAttachWidget)
{
    Gui();
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWidget* button = gtk_button_new();
    gtk_container_add(GTK_CONTAINER(window), button);
    GtkWidget* menu = gtk_menu_new();
    GtkWidget* item = gtk_menu_item_new_with_label("item");
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    gtk_menu_attach_to_widget(GTK_MENU(menu), button, nullptr);
    hookup_object(window, button, "Test_button");
    EXPECT_EQ(lookup_widget(item, "Test_button"), button);
    gtk_widget_destroy(window);
}

TEST(Registry, ReferencedWidgetOutlivesItsContainerUntilTheTopLevelGoes)
{
    Gui();
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWidget* box = gtk_vbox_new(FALSE, 0);
    GtkWidget* label = gtk_label_new("x");
    gtk_container_add(GTK_CONTAINER(window), box);
    gtk_box_pack_start(GTK_BOX(box), label, FALSE, FALSE, 0);
    hookup_object_no_ref(window, box, "vbox1");
    hookup_object(window, label, "label1");
    EXPECT_EQ(G_OBJECT(box)->ref_count, 1u);
    EXPECT_EQ(G_OBJECT(label)->ref_count, 2u);

    harness::Finalised label_gone(label);
    gtk_container_remove(GTK_CONTAINER(box), label);
    EXPECT_FALSE(label_gone());
    EXPECT_EQ(lookup_widget(window, "label1"), label);

    gtk_widget_destroy(window);
    EXPECT_TRUE(label_gone());
}

// ------------------------------------------------------------------ pixmaps

struct PixmapDirs {
    PixmapDirs() { Gui(); }
    // Writes a width x 1 PNG named `name` into `dir`.
    static void WritePng(const std::string& dir, const std::string& name, int width)
    {
        GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, 1);
        gdk_pixbuf_fill(pixbuf, 0);
        ASSERT_TRUE(gdk_pixbuf_save(pixbuf, (dir + "/" + name).c_str(), "png", nullptr, nullptr));
        g_object_unref(pixbuf);
    }
    harness::TempDir a, b, c;
};

TEST(Pixmaps, LatestDirectoryIsSearchedFirst)
{
    PixmapDirs dirs;
    PixmapDirs::WritePng(dirs.a.path(), "p.png", 3);
    PixmapDirs::WritePng(dirs.b.path(), "p.png", 5);
    PixmapDirs::WritePng(dirs.a.path(), "only-a.png", 7);
    add_pixmap_directory(dirs.a.path().c_str());
    add_pixmap_directory(dirs.b.path().c_str());

    GdkPixbuf* from_b = create_pixbuf("p.png");
    ASSERT_NE(from_b, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(from_b), 5);
    g_object_unref(from_b);
    GdkPixbuf* from_a = create_pixbuf("only-a.png");
    ASSERT_NE(from_a, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(from_a), 7);
    g_object_unref(from_a);

    GtkWidget* image = create_pixmap(nullptr, "p.png");
    EXPECT_EQ(gtk_image_get_storage_type(GTK_IMAGE(image)), GTK_IMAGE_PIXBUF);
    g_object_ref_sink(image);
    g_object_unref(image);
}

// Any kind of entry counts as found; one that cannot be loaded says so.
TEST(Pixmaps, FoundEntryThatIsNoImageFailsToLoad)
{
    PixmapDirs dirs;
    PixmapDirs::WritePng(dirs.a.path(), "q.png", 3);
    ASSERT_EQ(mkdir((dirs.b / "q.png").c_str(), 0755), 0);
    add_pixmap_directory(dirs.a.path().c_str());
    add_pixmap_directory(dirs.b.path().c_str());

    GdkPixbuf* pixbuf = reinterpret_cast<GdkPixbuf*>(1);
    const std::string err = harness::CaptureStderr([&] { pixbuf = create_pixbuf("q.png"); });
    EXPECT_EQ(pixbuf, nullptr);
    EXPECT_EQ(err.rfind("Failed to load pixbuf file: " + (dirs.b / "q.png") + ": ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
}

TEST(Pixmaps, MissingOrEmptyNames)
{
    PixmapDirs dirs;
    add_pixmap_directory(dirs.a.path().c_str());
    LogCapture log;
    GtkWidget* empty = create_pixmap(nullptr, "");
    GtkWidget* none = create_pixmap(nullptr, nullptr);
    EXPECT_EQ(create_pixbuf(""), nullptr);
    EXPECT_TRUE(log.messages().empty());

    GtkWidget* missing = create_pixmap(nullptr, "missing.png");
    EXPECT_EQ(create_pixbuf("missing.png"), nullptr);
    EXPECT_EQ(log.messages(), (std::vector<std::string>{"Couldn't find pixmap file: missing.png",
                                                        "Couldn't find pixmap file: missing.png"}));
    for (GtkWidget* image : {empty, none, missing}) {
        EXPECT_EQ(gtk_image_get_storage_type(GTK_IMAGE(image)), GTK_IMAGE_EMPTY);
        g_object_ref_sink(image);
        g_object_unref(image);
    }
}

}  // namespace
