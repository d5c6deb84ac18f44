#include "result.h"

#include "model.h"

bool Succeeded(const PrinterResult& result)
{
    return result.outcome != Outcome::kFailed && result.outcome != Outcome::kNotDone &&
           result.outcome != Outcome::kUnconfirmed;
}

bool Differs(const PrinterResult& result)
{
    return result.outcome == Outcome::kWouldChange;
}

PrinterResult Begin(const DiscoveredPrinter& queue)
{
    PrinterResult result;
    result.queue = queue.name;
    result.model = queue.model;
    result.driver = queue.driver;
    const char* minimum = GetMinFirmVersion(queue.model.c_str());
    result.min_firmware = minimum ? minimum : "";
    return result;
}

PrinterResult Unworked(PrinterResult result, Outcome outcome, FailureKind kind)
{
    result.outcome = outcome;
    result.failure.kind = kind;
    return result;
}
