// By-name widget lookup, the widget registry, pixmaps and accessibility.
#pragma once

#include <gtk/gtk.h>

#include "i18n.h"

GtkWidget* lookup_widget(GtkWidget* widget, const gchar* widget_name);

// Registry: store `widget` on `top` under `name`. The referencing form takes
// a reference that is dropped when `top` is finalised.
void hookup_object(GtkWidget* top, GtkWidget* widget, const gchar* name);
void hookup_object_no_ref(GtkWidget* top, GtkWidget* widget, const gchar* name);

void add_pixmap_directory(const gchar* directory);
GtkWidget* create_pixmap(GtkWidget* widget, const gchar* filename);
GdkPixbuf* create_pixbuf(const gchar* filename);
void glade_set_atk_action_description(AtkAction* action, const gchar* action_name,
                                      const gchar* description);
