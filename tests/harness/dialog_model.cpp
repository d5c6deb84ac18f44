#include "dialog_model.h"

#include <cstring>

#include "assetdlg.h"
#include "gui.h"
#include "interface.h"
#include "msgdlg.h"
#include "ppddata.h"
#include "startcheck.h"
#include "support.h"
#include "widgets.h"

namespace harness {

namespace {

void CopyName(char (&field)[PRINTER_TEXT_SIZE], const std::string& text)
{
    std::memset(field, 0, sizeof field);
    std::strncpy(field, text.c_str(), sizeof field - 1);
}

struct Pending {
    GtkWidget* window;
    std::function<void()> action;
};

gboolean RunWhenShown(gpointer data)
{
    auto* pending = static_cast<Pending*>(data);
    if (!GTK_WIDGET_MAPPED(pending->window))
        return TRUE;
    pending->action();
    return FALSE;
}

void DeletePending(gpointer data)
{
    delete static_cast<Pending*>(data);
}

gboolean DisposeInLoop(gpointer)
{
    DisposeAutoShutdownWnd();
    return FALSE;
}

}  // namespace

DialogModel::DialogModel(const std::vector<Queue>& printers)
{
    Gui();
    wnd_ = reinterpret_cast<UIAutoShutdownWnd*>(CreateDialog(sizeof(UIAutoShutdownWnd), nullptr));
    for (const Queue& p : printers) {
        UIPrinterInfo* info = CreateUIPrinterInfo(p.name.c_str());
        CopyName(info->modelName, p.model);
        CopyName(info->driverVersion, p.driver);
        AddUIPrinterInfo2UIAutoShutdownWnd(wnd_, info);
    }
    wnd_->dialog.window = create_ShutdownMain_Dialog();
    SetTreeViewWidget(wnd_);
    wnd_->asset_dlg = CreateASSetDlg(&wnd_->dialog);
    wnd_->msg_dlg = CreateMsgDlg(&wnd_->dialog);
    gtk_widget_show(wnd_->dialog.window);
    g_autoshutdown_window = wnd_;
    if (!printers.empty())
        Select(printers[0].name, printers[0].model);
}

DialogModel::~DialogModel()
{
    g_idle_add(DisposeInLoop, nullptr);
    gtk_main();
    gtk_widget_hide(wnd_->dialog.window);
    DisposeDialog(&wnd_->dialog);
    g_autoshutdown_window = nullptr;
}

GtkWidget* DialogModel::settings() const
{
    return wnd_->asset_dlg->dialog.window;
}

GtkWidget* DialogModel::message() const
{
    return wnd_->msg_dlg->dialog.window;
}

GtkWidget* DialogModel::Widget(GtkWidget* window, const char* name) const
{
    return lookup_widget(window, name);
}

void DialogModel::Select(const std::string& printer, const std::string& model)
{
    CopyName(wnd_->selectedPrinterName, printer);
    CopyName(wnd_->selectedModelName, model);
}

guint WhenShown(GtkWidget* window, std::function<void()> action)
{
    return g_timeout_add_full(G_PRIORITY_DEFAULT, 5, RunWhenShown,
                              new Pending{window, std::move(action)}, DeletePending);
}

void Click(GtkWidget* window, const char* button)
{
    gtk_button_clicked(GTK_BUTTON(lookup_widget(window, button)));
}

bool ShowAndAct(GtkWidget* window, const std::function<void()>& show,
                const std::function<void()>& act)
{
    bool shown = false;
    const guint source = WhenShown(window, [&] {
        shown = true;
        act();
    });
    {
        LoopGuard guard;
        show();
    }
    if (!shown)
        g_source_remove(source);
    return shown;
}

}  // namespace harness
