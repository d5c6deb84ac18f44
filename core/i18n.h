// The message catalogue, without the toolkit.
#pragma once

#include <clocale>

// Every user-visible text is its own key in the "quellon" catalogue: _() for
// a text shown where it is written, N_() for one kept in a table.
#define GETTEXT_PACKAGE "quellon"
#include <glib/gi18n-lib.h>

// A text whose form follows a count.
#define P_(singular, plural, count) g_dngettext(GETTEXT_PACKAGE, (singular), (plural), (count))
