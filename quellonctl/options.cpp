#include "options.h"

#include <cstring>

#include "format.h"
#include "i18n.h"
#include "printerops.h"

namespace {

constexpr int kMinJobs = 1;
constexpr int kMaxJobs = 64;
// A day: anything longer is a typing slip, not a deadline.
constexpr int64_t kMaxTimeoutMs = 86400 * 1000LL;

// A whole decimal number in [low, high]; no sign, blanks or suffix.
bool ParseInteger(const std::string& text, int64_t low, int64_t high, int64_t* value)
{
    if (text.empty() || text.size() > 12)
        return false;
    int64_t number = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + (c - '0');
    }
    if (number < low || number > high)
        return false;
    *value = number;
    return true;
}

// Seconds with up to three decimals ("2", "0.5"), read the same in every
// locale; more than 0, at most a day.
bool ParseSeconds(const std::string& text, int64_t* ms)
{
    const size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    if (whole.empty() || fraction.size() > 3 || (point != std::string::npos && fraction.empty()))
        return false;
    int64_t seconds = 0;
    int64_t thousandths = 0;
    fraction.resize(3, '0');
    if (!ParseInteger(whole, 0, kMaxTimeoutMs / 1000, &seconds) ||
        !ParseInteger(fraction, 0, 999, &thousandths))
        return false;
    *ms = seconds * 1000 + thousandths;
    return *ms > 0 && *ms <= kMaxTimeoutMs;
}

}  // namespace

bool ParseSetting(const std::string& text, Setting* setting)
{
    if (text == "off" || text == "on") {
        setting->kind = text == "off" ? Setting::kOff : Setting::kOn;
        return true;
    }
    int64_t hours = 0;
    if (text.size() != 1 || !ParseInteger(text, TIMER_MIN_HOURS, TIMER_MAX_HOURS, &hours))
        return false;
    setting->kind = Setting::kHours;
    setting->hours = static_cast<unsigned>(hours);
    return true;
}

namespace {

// Walks the arguments: options anywhere, "--" ends them.
class Parser {
public:
    Parser(const std::vector<std::string>& args, Options* options, std::string* error, bool plugin)
        : args_(args), options_(options), error_(error), plugin_(plugin)
    {
    }

    bool Run()
    {
        bool options_done = false;
        for (index_ = 0; index_ < args_.size(); ++index_) {
            const std::string& arg = args_[index_];
            if (!options_done && arg == "--") {
                options_done = true;
            } else if (!options_done && arg.size() > 1 && arg[0] == '-') {
                if (!Option(arg))
                    return false;
            } else {
                words_.push_back(arg);
            }
        }
        if (plugin_) {
            words_.insert(words_.begin(), "check");
            options_->nagios = true;
        }
        return options_->help || options_->version || Words();
    }

private:
    // The value of an option given as "--name=value" or "--name value".
    bool Value(const std::string& name, const std::string& arg, std::string* value)
    {
        if (arg.size() > name.size() && arg[name.size()] == '=') {
            *value = arg.substr(name.size() + 1);
            return true;
        }
        if (index_ + 1 >= args_.size())
            return Fail(Printf(_("option %s needs a value"), name.c_str()));
        *value = args_[++index_];
        return true;
    }

    static bool Is(const std::string& arg, const char* name)
    {
        const size_t length = std::strlen(name);
        return arg.compare(0, length, name) == 0 && (arg.size() == length || arg[length] == '=');
    }

    bool Option(const std::string& arg)
    {
        if (arg == "--all")
            options_->all = true;
        else if (arg == "--dry-run")
            options_->dry_run = true;
        else if (arg == "--json")
            options_->json = true;
        else if (arg == "-q" || arg == "--quiet")
            options_->quiet = true;
        else if (arg == "-v" || arg == "--verbose")
            options_->verbose = true;
        else if (arg == "-h" || arg == "--help")
            options_->help = true;
        else if (arg == "-V" || arg == "--version")
            options_->version = true;
        else if (Is(arg, "--jobs"))
            return Ranged("--jobs", arg, kMinJobs, kMaxJobs,
                          _("--jobs wants a number from 1 to 64, not \"%s\""), &options_->jobs);
        else if (Is(arg, "--model"))
            return Model(arg);
        else if (Is(arg, "--exclude"))
            return Exclude(arg);
        else if (arg == "--nagios")
            options_->nagios = true;
        else if (Is(arg, "--offline"))
            return Offline(arg);
        else if (Is(arg, "--metrics"))
            return Metrics(arg);
        else if (Is(arg, "--timeout"))
            return Timeout("--timeout", arg);
        else if (arg.compare(0, 2, "-t") == 0)
            return Timeout("-t", arg);
        else if (Is(arg, "--port"))
            return Ranged("--port", arg, 1, 65535,
                          _("--port wants a number from 1 to 65535, not \"%s\""), &options_->port);
        else
            return Fail(Printf(_("unknown option %s"), arg.c_str()));
        return true;
    }

    // A whole number from `min` to `max` for `name`; `complaint` (with the
    // value given) when it is not one.
    bool Ranged(const char* name, const std::string& arg, int64_t min, int64_t max,
                const char* complaint, int* out)
    {
        std::string value;
        int64_t number = 0;
        if (!Value(name, arg, &value))
            return false;
        if (!ParseInteger(value, min, max, &number))
            return Fail(Printf(complaint, value.c_str()));
        *out = static_cast<int>(number);
        return true;
    }

    bool Model(const std::string& arg)
    {
        model_given_ = true;
        return Value("--model", arg, &options_->model);
    }

    bool Exclude(const std::string& arg)
    {
        std::string pattern;
        if (!Value("--exclude", arg, &pattern))
            return false;
        options_->excludes.push_back(pattern);
        return true;
    }

    bool Offline(const std::string& arg)
    {
        std::string value;
        if (!Value("--offline", arg, &value))
            return false;
        offline_given_ = true;
        if (value == "critical")
            options_->offline = OfflineState::kCritical;
        else if (value == "warning")
            options_->offline = OfflineState::kWarning;
        else if (value == "ok")
            options_->offline = OfflineState::kOk;
        else
            return Fail(
                Printf(_("--offline wants critical, warning or ok, not \"%s\""), value.c_str()));
        return true;
    }

    bool Metrics(const std::string& arg)
    {
        metrics_given_ = true;
        return Value("--metrics", arg, &options_->metrics);
    }

    // "--timeout S", "--timeout=S", and as plugins take it "-t S" or "-tS".
    bool Timeout(const std::string& name, const std::string& arg)
    {
        std::string value;
        if (name == "-t" && arg.size() > 2 && arg[2] != '=')
            value = arg.substr(2);
        else if (!Value(name, arg, &value))
            return false;
        if (!ParseSeconds(value, &options_->timeout_ms))
            return Fail(Printf(_("--timeout wants seconds above 0, not \"%s\""), value.c_str()));
        return true;
    }

    // The command and what follows it, by the rules of its row.
    bool Words()
    {
        if (words_.empty())
            return Fail(_("no command given: list, get, set, apply or check"));
        const CommandRow* row = FindCommand(words_[0]);
        if (!row)
            return Fail(Printf(_("unknown command \"%s\": list, get, set, apply or check"),
                               words_[0].c_str()));
        options_->command = row->command;
        std::vector<std::string> rest(words_.begin() + 1, words_.end());
        if (row->takes == Takes::kNothing && !rest.empty())
            return Fail(_("list takes no queue names"));
        if (options_->dry_run && !row->writes)
            return Fail(_("--dry-run goes with set and apply only"));
        if (!ChoosesByName(*row) && (model_given_ || !options_->excludes.empty()))
            return Fail(_("--model and --exclude go with get and set only"));
        if (model_given_ && options_->model.empty())
            return Fail(_("--model wants a model name, as quellonctl list shows it"));
        if (!Monitoring(*row))
            return false;
        if (row->takes == Takes::kPolicy)
            return Policy(rest);
        if (row->takes == Takes::kQueuesAndValue && !SetValue(&rest))
            return false;
        if (row->takes == Takes::kQueuesAndValue && rest.empty() && !options_->all &&
            options_->model.empty())
            return Fail(_("set needs queue names, --model or --all before the value"));
        if (row->takes != Takes::kNothing && options_->all && !rest.empty())
            return Fail(_("name queues or give --all, not both"));
        for (const std::string& queue : rest) {
            if (queue.empty())
                return Fail(_("an empty queue name"));
        }
        options_->queues = rest;
        return true;
    }

    // --nagios, --offline and --metrics, by the rules of the command's row.
    bool Monitoring(const CommandRow& row)
    {
        if (options_->nagios && !row.plugin)
            return Fail(_("--nagios goes with check only"));
        if (offline_given_ && !options_->nagios)
            return Fail(_("--offline goes with --nagios only"));
        if (metrics_given_ && !row.metrics)
            return Fail(_("--metrics goes with get, apply and check only"));
        if (metrics_given_ && options_->metrics.empty())
            return Fail(_("--metrics wants a file name"));
        // The plugin reports to its monitoring system, on that system's
        // schedule; the metrics file belongs to the scheduled run.
        if (metrics_given_ && options_->nagios)
            return Fail(_("--metrics does not go with --nagios"));
        if (options_->nagios && options_->json)
            return Fail(_("--json does not go with --nagios"));
        if (options_->nagios)
            options_->quiet = true;
        return true;
    }

    bool Policy(const std::vector<std::string>& rest)
    {
        if (rest.size() != 1 || rest[0].empty())
            return Fail(_("apply and check need one policy file (or - for standard input)"));
        if (options_->all)
            return Fail(_("--all goes with list, get and set only"));
        options_->policy = rest[0];
        return true;
    }

    bool SetValue(std::vector<std::string>* rest)
    {
        if (rest->empty())
            return Fail(_("set needs a value: off, on, or 1 to 8 hours"));
        const std::string value = rest->back();
        rest->pop_back();
        if (!ParseSetting(value, &options_->setting))
            return Fail(
                Printf(_("\"%s\" is not a value: off, on, or 1 to 8 hours"), value.c_str()));
        return true;
    }

    bool Fail(const std::string& message)
    {
        *error_ = message;
        return false;
    }

    const std::vector<std::string>& args_;
    Options* options_;
    std::string* error_;
    size_t index_ = 0;
    const bool plugin_;
    std::vector<std::string> words_;
    bool model_given_ = false;
    bool offline_given_ = false;
    bool metrics_given_ = false;
};

}  // namespace

bool ParseArguments(const std::vector<std::string>& args, Options* options, std::string* error,
                    bool plugin)
{
    return Parser(args, options, error, plugin).Run();
}

bool PluginInPlay(const std::vector<std::string>& args, bool plugin)
{
    for (const std::string& arg : args) {
        if (plugin || arg == "--nagios")
            return true;
        if (arg == "--")
            break;
    }
    return plugin;
}

unsigned short WantedTimer(const Setting& setting, unsigned short held)
{
    const unsigned hours = held & TIMER_HOURS;
    switch (setting.kind) {
    case Setting::kOff:
        return static_cast<unsigned short>(held | TIMER_OFF);
    case Setting::kOn:
        return static_cast<unsigned short>(
            hours >= TIMER_MIN_HOURS && hours <= TIMER_MAX_HOURS ? hours : TIMER_DEFAULT_HOURS);
    case Setting::kHours:
        break;
    }
    return static_cast<unsigned short>(setting.hours);
}

std::string HelpText()
{
    return _("Usage: quellonctl [OPTION]... list [--all]\n"
             "       quellonctl [OPTION]... get [--all | QUEUE...]\n"
             "       quellonctl [OPTION]... set [--dry-run] (--all | QUEUE...) VALUE\n"
             "       quellonctl [OPTION]... apply [--dry-run] POLICY\n"
             "       quellonctl [OPTION]... check [--nagios [--offline STATE]] POLICY\n"
             "Shows and sets the auto shutdown timer of Brelko printers.\n"
             "\n"
             "Commands:\n"
             "  list              the supported queues, with model and driver version\n"
             "  get               firmware version and timer (every listed queue when none\n"
             "                    is named)\n"
             "  set               sets the timer; VALUE is off, on, or 1 to 8 (hours)\n"
             "  apply             sets each printer a policy file selects to its value\n"
             "                    (lines of QUEUE, PATTERN or model:NAME, then VALUE;\n"
             "                    - reads standard input)\n"
             "  check             whether each printer a policy selects holds its value\n"
             "\n"
             "A QUEUE may be a shell pattern ('lp*', ignoring case), or - to read queue\n"
             "names from standard input, one a line.\n"
             "\n"
             "Options:\n"
             "      --all         list: also the other queues and why they are not listed;\n"
             "                    get, set: every listed queue\n"
             "      --dry-run     set, apply: everything but the write; shows what would\n"
             "                    change\n"
             "      --model MODEL get, set: only queues of this model (as list shows it)\n"
             "      --exclude PATTERN\n"
             "                    get, set: leave out the queues matching PATTERN\n"
             "      --json        one JSON document on standard output\n"
             "      --nagios      check: a monitoring plugin's output and exit status\n"
             "                    (0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN), in English\n"
             "      --offline STATE\n"
             "                    --nagios: printers that cannot be reached or do not\n"
             "                    answer count as critical (default), warning or ok\n"
             "      --metrics FILE\n"
             "                    get, apply, check: also write Prometheus metrics to FILE\n"
             "      --jobs N      printers at a time, 1 to 64 (default 8)\n"
             "  -t, --timeout SECONDS\n"
             "                    deadline per printer for connecting and every exchange\n"
             "                    (default 15)\n"
             "      --port PORT   the printer daemon's port (default ZELD_PORT, else 59787)\n"
             "  -q, --quiet       report only the printers that failed (check: and those\n"
             "                    that differ)\n"
             "  -v, --verbose     the frames exchanged, in hex, on standard error\n"
             "  -h, --help        this text\n"
             "  -V, --version     the version\n"
             "\n"
             "Exit status: 0 every printer came out as asked; 1 at least one failed;\n"
             "2 usage error; 3 the CUPS scheduler cannot be reached; 4 check: a printer\n"
             "differs from the policy; 130 interrupted. With --nagios, and as\n"
             "check_quellon, the plugin's states instead.\n");
}
