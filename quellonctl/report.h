// Where quellonctl's words go: the report on standard output (text a line
// a printer as soon as it is known, JSON one document at the end), and
// one line a message on standard error.
#pragma once

#include <string>
#include <vector>

#include "options.h"
#include "result.h"

// "quellonctl: MESSAGE" on standard error.
void SayError(const std::string& message);
// As a monitoring plugin, whose standard error may be shown as its output
// or not at all: from here on messages are kept for the plugin's report,
// and an interrupted run ends as UNKNOWN.
void SpeakAsPlugin();
std::vector<std::string> KeptMessages();

// Standard input, output or error closed at start would hand their numbers
// to the next descriptors opened (a scheduler's socket would be read as
// names, or written a report): each is held with /dev/null. Call it first.
void HoldClosedDescriptors();
// Whether everything printed reached standard output: a report that went
// nowhere (a full disk, a closed pipe, an output closed at start) is a
// failure, said in one line.
bool OutputWritten();
// Ends an interrupted run after its report: 128 + the signal (a plugin's
// UNKNOWN), or 1 when the report could not be written. Printers still under way hold their
// threads, so the process does not wait for them.
[[noreturn]] void EndInterrupted();

class Reporter {
public:
    explicit Reporter(const Options& options) : options_(options) {}
    // One more printer, in order: text shows it now.
    void Ready(const PrinterResult& result);
    // The whole run: JSON as one document, text the printers not shown yet,
    // or the plugin's report.
    void Finish(const RunRecord& run);

private:
    bool Tells() const;

    const Options& options_;
    size_t shown_ = 0;
};
