// The header that begins every window record, declarable without the
// toolkit's headers, so that a record's header (msgdlg.h) need not pull
// them in.
#pragma once

#include <cstdint>

// The toolkit's own spelling, so that both declarations name one type.
typedef struct _GtkWidget GtkWidget;

typedef struct UIDialog {
    GtkWidget* window;        // the record's top-level, null until built
    struct UIDialog* parent;  // record of the window this one belongs to
    int32_t size;             // size of the whole record
} UIDialog;
