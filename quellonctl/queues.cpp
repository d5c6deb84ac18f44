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

}  // namespace

bool PpdFailed(const DiscoveredPrinter& queue)
{
    return queue.state == PpdState::kFetchFailed || queue.state == PpdState::kUnreadable;
}

std::string ListingReason(const DiscoveredPrinter& queue)
{
    if (queue.state == PpdState::kNoPpd)
        return "no-ppd";
    if (PpdFailed(queue))
        return "ppd-failed";
    if (IsSupportedModel(queue.model.c_str()))
        return "";
    if (queue.model.empty())
        return "no-model";
    return CaseVariant(queue.model) ? "model-case" : "unsupported-model";
}

std::string NearModel(const DiscoveredPrinter& queue)
{
    const char* near = ListingReason(queue) == "model-case" ? CaseVariant(queue.model) : nullptr;
    return near ? near : "";
}

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
    for (DiscoveredPrinter& printer : DiscoverPrinters(1).printers) {
        const bool listed = ListingReason(printer).empty();
        (listed ? inventory.listed : inventory.others).push_back(std::move(printer));
    }
    return inventory;
}

bool SameQueue(const std::string& a, const std::string& b)
{
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

const DiscoveredPrinter* FindQueue(const std::vector<DiscoveredPrinter>& queues,
                                   const std::string& name)
{
    const auto found =
        std::find_if(queues.begin(), queues.end(),
                     [&](const DiscoveredPrinter& queue) { return SameQueue(queue.name, name); });
    return found != queues.end() ? &*found : nullptr;
}
