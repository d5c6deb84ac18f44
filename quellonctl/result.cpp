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

bool Holds(const PrinterResult& result)
{
    return result.outcome == Outcome::kUnchanged || result.outcome == Outcome::kChanged;
}

bool Unreachable(const PrinterResult& result)
{
    switch (result.failure.kind) {
    case FailureKind::kResolve:
    case FailureKind::kConnect:
    case FailureKind::kDeadline:
    case FailureKind::kClosed:
        return result.outcome == Outcome::kFailed;
    default:
        return false;
    }
}

bool RunSucceeded(const RunRecord& run)
{
    if (!run.worked || run.interrupted)
        return false;
    for (const PrinterResult& result : run.results) {
        if (!Succeeded(result))
            return false;
    }
    return true;
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
