#include "support.h"

#include <cstdio>
#include <cstring>

namespace {

// Folders searched for pixmaps, the most recently added first.
GList* pixmaps_directories = nullptr;

// The widget one step nearer the top-level: a menu's attach widget, else
// the container parent, else the parent a constructor recorded for a
// window of its own (a combo's popup).
GtkWidget* ParentOf(GtkWidget* widget)
{
    GtkWidget* parent = GTK_IS_MENU(widget) ? gtk_menu_get_attach_widget(GTK_MENU(widget))
                                            : gtk_widget_get_parent(widget);
    if (!parent)
        parent = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(widget), "GladeParentKey"));
    return parent;
}

// The first existing "directory/filename", newly allocated, or null.
gchar* find_pixmap_file(const gchar* filename)
{
    for (GList* dir = pixmaps_directories; dir; dir = dir->next) {
        gchar* path = g_strdup_printf("%s%s%s", static_cast<const gchar*>(dir->data),
                                      G_DIR_SEPARATOR_S, filename);
        if (g_file_test(path, G_FILE_TEST_EXISTS))
            return path;
        g_free(path);
    }
    return nullptr;
}

// The found path of a non-empty `filename`, or null after the warning.
gchar* FindPixmapOrWarn(const gchar* filename)
{
    if (!filename || !filename[0])
        return nullptr;
    gchar* path = find_pixmap_file(filename);
    if (!path)
        g_warning(_("Couldn't find pixmap file: %s"), filename);
    return path;
}

}  // namespace

// Finds the widget registered under `widget_name` on the top-level that
// `widget` belongs to.
GtkWidget* lookup_widget(GtkWidget* widget, const gchar* widget_name)
{
    GtkWidget* found = nullptr;
    if (widget && widget_name) {
        for (GtkWidget* parent; (parent = ParentOf(widget));)
            widget = parent;
        found = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(widget), widget_name));
    }
    if (!found)
        g_warning("Widget not found: %s", widget_name ? widget_name : "(null)");
    return found;
}

// Registers `widget` on `top` and keeps it alive until `top` is finalised.
void hookup_object(GtkWidget* top, GtkWidget* widget, const gchar* name)
{
    g_object_set_data_full(G_OBJECT(top), name, gtk_widget_ref(widget),
                           reinterpret_cast<GDestroyNotify>(gtk_widget_unref));
}

// Registers a widget that `top` keeps alive anyway (itself, its own boxes).
void hookup_object_no_ref(GtkWidget* top, GtkWidget* widget, const gchar* name)
{
    g_object_set_data(G_OBJECT(top), name, widget);
}

// Adds a folder to search for pixmaps, ahead of those added before.
void add_pixmap_directory(const gchar* directory)
{
    pixmaps_directories = g_list_prepend(pixmaps_directories, g_strdup(directory));
}

// An image of the named pixmap file; an empty image when there is none.
GtkWidget* create_pixmap(GtkWidget* /*widget*/, const gchar* filename)
{
    gchar* path = FindPixmapOrWarn(filename);
    if (!path)
        return gtk_image_new();
    GtkWidget* pixmap = gtk_image_new_from_file(path);
    g_free(path);
    return pixmap;
}

// The named pixmap file loaded as a pixbuf, or null.
GdkPixbuf* create_pixbuf(const gchar* filename)
{
    gchar* path = FindPixmapOrWarn(filename);
    if (!path)
        return nullptr;
    GError* error = nullptr;
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(path, &error);
    if (!pixbuf) {
        std::fprintf(stderr, "Failed to load pixbuf file: %s: %s\n", path,
                     error ? error->message : "");
        g_clear_error(&error);
    }
    g_free(path);
    return pixbuf;
}

// Describes every action of `action` that is named `action_name`.
void glade_set_atk_action_description(AtkAction* action, const gchar* action_name,
                                      const gchar* description)
{
    const gint count = atk_action_get_n_actions(action);
    for (gint i = 0; i < count; ++i) {
        const gchar* name = atk_action_get_name(action, i);
        if (name && action_name && std::strcmp(name, action_name) == 0)
            atk_action_set_description(action, i, description);
    }
}
