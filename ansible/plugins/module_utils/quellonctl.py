# -*- coding: utf-8 -*-
# What the quellon_timer modules share: building quellonctl's command line
# and reading its JSON answer. quellonctl decides what each printer gets and
# checks every value given to it, so the modules only pass values on.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import decimal
import json
import math
import signal

# The options that say how to reach the printers, the same in every module.
CONNECTION_ARGUMENTS = dict(
    # raw: the seconds go to quellonctl as written, so that its complaint
    # about a bad value names what the user wrote.
    timeout=dict(type="raw"),
    port=dict(type="int"),
    cups_server=dict(type="str"),
    quellonctl=dict(type="path", default="quellonctl"),
)
# Which printers: queue names or patterns, a model, exceptions, or a policy
# file instead of all three.
SELECTION_ARGUMENTS = dict(
    name=dict(type="list", elements="str"),
    model=dict(type="str"),
    exclude=dict(type="list", elements="str", default=[]),
    policy=dict(type="path"),
)


def seconds_argument(module, value):
    """The --timeout value as the user gave it, never in exponent notation."""
    if isinstance(value, bool) or not isinstance(value, (int, float, str)):
        module.fail_json(msg="timeout must be a number of seconds, not %r" % (value,))
    if isinstance(value, int):
        return str(value)
    if isinstance(value, float):
        if not math.isinf(value) and not math.isnan(value):
            # repr is the shortest text that reads back as the same number;
            # its decimal form says 0.00001 where "%g" would say 1e-05, which
            # quellonctl does not read.
            return format(decimal.Decimal(repr(value)), "f")
        module.fail_json(msg="timeout must be a number of seconds, not %r" % (value,))
    return value.strip()


def base_command(module):
    """The program and the options every command takes."""
    p = module.params
    program = p["quellonctl"]
    if "/" not in program:
        program = module.get_bin_path(program, required=True)
    cmd = [program, "--json"]
    if p["timeout"] is not None:
        cmd += ["--timeout", seconds_argument(module, p["timeout"])]
    if p["port"] is not None:
        cmd += ["--port", str(p["port"])]
    return cmd


def selection_arguments(module):
    """--model and --exclude, then the queue names after "--", so that none
    is taken for an option."""
    p = module.params
    args = []
    if p["model"]:
        args += ["--model", p["model"]]
    for pattern in p["exclude"]:
        args += ["--exclude", pattern]
    return args + ["--"] + list(p["name"] or [])


def ended_how(rc):
    """quellonctl's end in words: a signal by its name, not as a negative
    status."""
    if rc < 0:
        try:
            name = signal.Signals(-rc).name
        except (AttributeError, ValueError):
            name = "signal %d" % -rc
        return "quellonctl was killed by %s" % name
    return "quellonctl ended with status %d" % rc


def run(module, cmd, statuses):
    """Runs cmd; returns (rc, document, stderr) when it ended with one of
    statuses and printed the JSON document with its printers, and fails the
    task otherwise."""
    environ = {}
    if module.params["cups_server"]:
        environ["CUPS_SERVER"] = module.params["cups_server"]
    rc, out, err = module.run_command(cmd, environ_update=environ)
    if rc not in statuses:
        # A killed quellonctl may have printed something; what killed it
        # comes first.
        message = ended_how(rc) if rc < 0 else err.strip() or ended_how(rc)
        module.fail_json(msg=message, rc=rc, cmd=cmd, stdout=out, stderr=err)
    try:
        document = json.loads(out)
        if not isinstance(document["printers"], list):
            raise TypeError("printers is not a list")
    except (ValueError, KeyError, TypeError) as error:
        module.fail_json(msg="quellonctl's output is not the JSON expected: %s" % error,
                         rc=rc, cmd=cmd, stdout=out, stderr=err)
    return rc, document, err


def failure_message(printers, failed_results):
    """One line naming each printer whose result is in failed_results, with
    its error code, or None."""
    failed = [p for p in printers if p.get("result") in failed_results]
    if not failed:
        return None
    named = ", ".join("%s (%s)" % (p.get("queue"), p.get("error") or p.get("result"))
                      for p in failed)
    return "%d of %d printers failed: %s" % (len(failed), len(printers), named)
