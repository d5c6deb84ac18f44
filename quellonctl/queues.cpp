#include "queues.h"

#include <algorithm>
#include <memory>
#include <strings.h>

#include <cups/cups.h>

#include "model.h"
#include "ppddata.h"

namespace {

// Long enough for a scheduler on a loaded machine, short enough that a
// script learns of one that is down within a few seconds.
constexpr int kProbeTimeoutMs = 3000;

struct Discovery {
    Inventory* inventory;
    const std::function<void(const Queue&)>& listed;
};

struct WndDeleter {
    void operator()(UIAutoShutdownWnd* wnd) const
    {
        DestroyPrintersInfo(wnd);
        delete wnd;
    }
};
using WndPtr = std::unique_ptr<UIAutoShutdownWnd, WndDeleter>;

// The supported model `model` differs from only in letter case, or null.
const char* CaseVariant(const std::string& model)
{
    for (int i = 0; const char* name = GetASModelName(i); ++i) {
        if (strcasecmp(name, model.c_str()) == 0)
            return name;
    }
    return nullptr;
}

Queue FromRecord(const UIPrinterInfo& record)
{
    Queue queue{record.printerName, record.modelName, record.driverVersion, "", ""};
    if (IsSupportedModel(record.modelName))
        return queue;
    if (queue.model.empty()) {
        queue.reason = "no-model";
    } else if (const char* near = CaseVariant(queue.model)) {
        queue.reason = "model-case";
        queue.near_model = near;
    } else {
        queue.reason = "unsupported-model";
    }
    return queue;
}

void Found(const UIPrinterInfo* record, void* context)
{
    auto* discovery = static_cast<Discovery*>(context);
    const Queue queue = FromRecord(*record);
    if (!queue.reason.empty()) {
        discovery->inventory->others.push_back(queue);
        return;
    }
    discovery->inventory->listed.push_back(queue);
    if (discovery->listed)
        discovery->listed(queue);
}

}  // namespace

// libcups waits up to half a minute for a scheduler that does not answer,
// and reports one that is down as having no queues. One bounded question
// first tells "down" from "no queues" quickly: anything that answers it in
// IPP is a scheduler, whatever it answers.
bool SchedulerAnswers()
{
    http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                kProbeTimeoutMs, nullptr);
    if (http == nullptr)
        return false;
    httpSetTimeout(http, kProbeTimeoutMs / 1000.0, nullptr, nullptr);
    ipp_t* response = cupsDoRequest(http, ippNewRequest(IPP_OP_CUPS_GET_DEFAULT), "/");
    const bool answered = response != nullptr;
    ippDelete(response);
    httpClose(http);
    return answered;
}

// Queues discovery kept no record of: no PPD file (or beyond the records
// the window model holds).
void AddQueuesWithoutRecord(Inventory* inventory)
{
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests(&dests);
    for (int i = 0; i < count; ++i) {
        const std::string name = dests[i].name;
        if (!FindQueue(inventory->listed, name) && !FindQueue(inventory->others, name))
            inventory->others.push_back(Queue{name, "", "", "no-ppd", ""});
    }
    cupsFreeDests(count, dests);
}

std::string CupsServerName()
{
    return cupsServer();
}

bool LoadInventory(Inventory* inventory, const std::function<void(const Queue&)>& listed)
{
    WndPtr wnd(new UIAutoShutdownWnd{});
    Discovery discovery{inventory, listed};
    return DiscoverPrinters(wnd.get(), 1, Found, &discovery) == 0;
}

const Queue* FindQueue(const std::vector<Queue>& queues, const std::string& name)
{
    const auto found = std::find_if(queues.begin(), queues.end(),
                                    [&](const Queue& queue) { return queue.name == name; });
    return found != queues.end() ? &*found : nullptr;
}
