#include "queues.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

#include <cups/cups.h>

#include "discovery.h"
#include "model.h"

namespace {

// Long enough for a scheduler on a loaded machine, short enough that a
// script learns of one that is down within a few seconds.
constexpr int kProbeTimeoutMs = 3000;

// The supported model `model` differs from only in letter case, or null.
const char* CaseVariant(const std::string& model)
{
    for (int i = 0; const char* name = GetASModelName(i); ++i) {
        if (strcasecmp(name, model.c_str()) == 0)
            return name;
    }
    return nullptr;
}

// Why a queue whose PPD was read is not listed; empty when it is.
std::string ModelReason(Queue* queue)
{
    if (IsSupportedModel(queue->model.c_str()))
        return "";
    if (queue->model.empty())
        return "no-model";
    if (const char* near = CaseVariant(queue->model)) {
        queue->near_model = near;
        return "model-case";
    }
    return "unsupported-model";
}

Queue FromPrinter(const DiscoveredPrinter& printer)
{
    Queue queue{printer.name, printer.model, printer.driver, "", "", ""};
    switch (printer.state) {
    case PpdState::kRead:
        queue.reason = ModelReason(&queue);
        break;
    case PpdState::kNoPpd:
        queue.reason = "no-ppd";
        break;
    case PpdState::kFetchFailed:
        queue.reason = "ppd-failed";
        queue.detail = printer.error;
        break;
    case PpdState::kUnreadable:
        queue.reason = "ppd-failed";
        queue.detail = std::strerror(printer.error_number);
        break;
    }
    return queue;
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

std::string CupsServerName()
{
    const std::string server = cupsServer();
    // A local socket has no port.
    if (server.empty() || server[0] == '/')
        return server;
    return server + " port " + std::to_string(ippPort());
}

Inventory LoadInventory()
{
    Inventory inventory;
    for (const DiscoveredPrinter& printer : DiscoverPrinters(1).printers) {
        Queue queue = FromPrinter(printer);
        (queue.reason.empty() ? inventory.listed : inventory.others).push_back(std::move(queue));
    }
    return inventory;
}

const Queue* FindQueue(const std::vector<Queue>& queues, const std::string& name)
{
    const auto found = std::find_if(queues.begin(), queues.end(), [&](const Queue& queue) {
        return strcasecmp(queue.name.c_str(), name.c_str()) == 0;
    });
    return found != queues.end() ? &*found : nullptr;
}
