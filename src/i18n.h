// The message catalogue, without the toolkit.
#pragma once

#include <clocale>
#include <libintl.h>

#define QUELLON_DOMAIN "quellon"
// Every user-visible text is its own key in the "quellon" catalogue.
#define _(text) dcgettext(QUELLON_DOMAIN, (text), LC_MESSAGES)
// A text whose form follows a count.
#define P_(singular, plural, count) \
    dcngettext(QUELLON_DOMAIN, (singular), (plural), (count), LC_MESSAGES)
