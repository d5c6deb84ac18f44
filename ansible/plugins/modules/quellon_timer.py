# -*- coding: utf-8 -*-
# The auto shutdown timer of Brelko printers as an Ansible task: a thin layer
# over quellonctl's JSON output, which already reads before it writes, writes
# only what differs and reads every write back.
#
# No "#!" line: Ansible picks the interpreter itself, and the file is not
# meant to be run on its own.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: quellon_timer
short_description: Set the auto shutdown timer of Brelko laser printers
description:
  - Sets when the Brelko laser printers of a print server switch themselves
    off, through C(quellonctl), for the CUPS queues selected by name, pattern
    or model, or for all the queues a policy file selects.
  - A printer that already holds the wanted setting is not written to; every
    write is read back, and a printer counts as changed only when it reports
    the new value.
  - Printers that fail (unreachable, refused, too old a firmware, a write that
    did not take...) fail the task, which names each one and the reason's
    code; the others are still done.
version_added: "1.0.0"
author: Quellon developers
options:
  name:
    description:
      - Queue names or shell-style patterns (C(*), C(?), C([...])), matched
        against the CUPS queue names without regard to letter case.
      - A selection that matches no queue fails the task and writes nothing.
    type: list
    elements: str
  model:
    description:
      - Every queue of this model, as C(quellonctl list) prints it, for
        example C(Brelko M220). With I(name), only the queues that match both.
    type: str
  exclude:
    description:
      - Patterns of queue names to leave out of the selection.
    type: list
    elements: str
    default: []
  state:
    description:
      - C(off) switches the timer off (the printer keeps its hours); C(on)
        switches it on, after I(hours) or, without them, after the hours the
        printer keeps (4 when those are not 1 to 8).
      - Unquoted C(on) and C(off) are fine, although YAML reads them as
        booleans.
    type: str
    choices: ["on", "off"]
  hours:
    description:
      - Switch the printer off after this many hours, 1 to 8. Implies
        I(state=on).
    type: int
  policy:
    description:
      - The path of a policy file on the managed host (lines of
        C(SELECTOR VALUE); see C(quellonctl(1))). Applies it as
        C(quellonctl apply) does. Excludes I(name), I(model), I(exclude),
        I(state) and I(hours).
    type: path
  timeout:
    description:
      - Seconds each printer may take, connection and every exchange
        together (quellonctl's default is 15); more than 0, with up to
        three decimals, such as C(10) or C(0.5).
    type: raw
  port:
    description:
      - The TCP port of the printer daemon, when not the default 59787.
    type: int
  cups_server:
    description:
      - The CUPS scheduler to ask for the queues (host, host:port or the path
        of its socket), when not the one libcups finds by itself.
    type: str
  quellonctl:
    description:
      - The quellonctl program to run, a path or a name looked up in the
        C(PATH).
    type: path
    default: quellonctl
notes:
  - Supports check mode (nothing is written; C(changed) says whether anything
    would change) and diff mode (each printer's timer before and after).
  - Needs the quellonctl package on the managed host, which installs this
    module too.
requirements:
  - quellonctl
"""

EXAMPLES = r"""
- name: Front office printers switch off after 2 hours
  quellon_timer:
    name: ["front-*"]
    hours: 2

- name: Every M220 but the lab's switches off, with the hours they keep
  quellon_timer:
    model: Brelko M220
    exclude: ["lab-*"]
    state: off

- name: The plotter room's printers never switch off
  quellon_timer:
    name: [plotter-1, plotter-2]
    state: off

- name: Apply the site's policy file
  quellon_timer:
    policy: /etc/quellon/policy

- name: Report drift from the policy, writing nothing
  quellon_timer:
    policy: /etc/quellon/policy
  check_mode: true
  diff: true
  register: drift
"""

RETURN = r"""
changed:
  description: Whether a printer was written to (in check mode, whether one
    would be).
  returned: always
  type: bool
summary:
  description: How many printers came out each way.
  returned: when quellonctl ran
  type: dict
  sample: {"changed": 2, "unchanged": 5, "would_change": 0, "unconfirmed": 0, "failed": 1}
printers:
  description: One record per selected printer, as quellonctl reports it.
  returned: when quellonctl ran
  type: list
  elements: dict
  contains:
    queue:
      description: The CUPS queue name.
      type: str
    model:
      description: The model its PPD names.
      type: str
    firmware:
      description: The firmware version the printer reports, or null.
      type: str
    timer:
      description: The timer as read before anything was written
        (C(enabled), C(hours), C(raw)), or null.
      type: dict
    wanted:
      description: The timer asked for, or null.
      type: dict
    after:
      description: The timer the printer reports after the write, or null.
      type: dict
    result:
      description: C(changed), C(unchanged), C(would-change), C(unconfirmed),
        C(failed) or C(not-done).
      type: str
    error:
      description: Why it failed, a stable code such as C(unreachable),
        C(timeout), C(refused), C(verify-failed) or C(old-firmware).
      type: str
  sample:
    - {"queue": "front-1", "model": "Brelko M220", "driver": "2.60", "firmware": "01.05",
       "min_firmware": "01.01", "timer": {"enabled": true, "hours": 4, "raw": 4},
       "wanted": {"enabled": true, "hours": 2, "raw": 2},
       "after": {"enabled": true, "hours": 2, "raw": 2}, "reply_lost": false,
       "result": "changed"}
cmd:
  description: The quellonctl command line that ran.
  returned: always
  type: list
  elements: str
"""

from ansible.module_utils.basic import AnsibleModule
from ansible.module_utils import quellonctl

# Results that fail the task: the printer was not brought to the wanted
# value, or nobody knows whether it was.
FAILED_RESULTS = ("failed", "unconfirmed", "not-done")
# quellonctl's exit statuses that still come with a JSON document.
STATUS_DONE = 0
STATUS_PRINTERS_FAILED = 1
SELECTION_OPTIONS = ("name", "model", "exclude", "state", "hours")


def normalise_state(value):
    """on/off as written, or as the booleans YAML turns unquoted on/off into."""
    if value is None or isinstance(value, bool):
        return {None: None, True: "on", False: "off"}[value]
    text = str(value).strip().lower()
    return {"on": "on", "true": "on", "off": "off", "false": "off"}.get(text, "invalid")


def timer_value(module):
    """The VALUE word of quellonctl set, from state and hours."""
    state = normalise_state(module.params["state"])
    hours = module.params["hours"]
    if state == "invalid":
        module.fail_json(msg="state must be on or off, not %r" % module.params["state"])
    if hours is not None and not 1 <= hours <= 8:
        module.fail_json(msg="hours must be 1 to 8, not %d" % hours)
    if state == "off":
        if hours is not None:
            module.fail_json(msg="hours go with state on: state off keeps the printer's hours")
        return "off"
    if hours is not None:
        return str(hours)
    if state is None:
        module.fail_json(msg="one of state or hours is needed")
    return "on"


def command_line(module):
    p = module.params
    cmd = quellonctl.base_command(module)
    dry_run = ["--dry-run"] if module.check_mode else []
    if p["policy"] is not None:
        return cmd + ["apply"] + dry_run + ["--", p["policy"]]
    if not p["name"] and not p["model"]:
        module.fail_json(msg="name, model or policy is needed to select printers")
    return cmd + ["set"] + dry_run + quellonctl.selection_arguments(module) + [timer_value(module)]


def describe(timer):
    if timer is None:
        return "unknown\n"
    if timer.get("enabled"):
        return "on, switches off after %s hours\n" % timer.get("hours")
    return "off (%s hours kept)\n" % timer.get("hours")


def diffs(printers):
    """One before/after pair for each printer that changed or would."""
    result = []
    for printer in printers:
        outcome = printer.get("result")
        if outcome not in ("changed", "would-change", "unconfirmed"):
            continue
        # A dry run's "after" is what would be written; an unconfirmed
        # write's is not known.
        after = printer.get("wanted" if outcome == "would-change" else "after")
        result.append({
            "before_header": printer.get("queue"),
            "after_header": printer.get("queue"),
            "before": describe(printer.get("timer")),
            "after": describe(after),
        })
    return result


def main():
    argument_spec = dict(
        # raw: YAML hands over unquoted on/off as booleans.
        state=dict(type="raw"),
        hours=dict(type="int"),
    )
    argument_spec.update(quellonctl.SELECTION_ARGUMENTS)
    argument_spec.update(quellonctl.CONNECTION_ARGUMENTS)
    module = AnsibleModule(
        argument_spec=argument_spec,
        mutually_exclusive=[("policy", option) for option in SELECTION_OPTIONS],
        supports_check_mode=True,
    )
    cmd = command_line(module)
    rc, document, err = quellonctl.run(module, cmd, (STATUS_DONE, STATUS_PRINTERS_FAILED))
    printers = document["printers"]

    changed = bool(document.get("changed")) or (
        module.check_mode and any(p.get("result") == "would-change" for p in printers))
    result = dict(changed=changed, printers=printers, summary=document.get("summary"), cmd=cmd)
    if module._diff:
        result["diff"] = diffs(printers)
    message = quellonctl.failure_message(printers, FAILED_RESULTS)
    if message or rc != STATUS_DONE:
        module.fail_json(msg=message or err.strip() or "quellonctl reported a failure",
                         rc=rc, stderr=err, **result)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
