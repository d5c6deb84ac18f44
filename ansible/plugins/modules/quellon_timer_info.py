# -*- coding: utf-8 -*-
# The auto shutdown timers of Brelko printers as facts for a play: what each
# selected printer holds and, against a policy, where it drifted. Only ever
# runs quellonctl's reading commands (get and check), so no printer is
# written to, whatever the task says.
#
# No "#!" line: Ansible picks the interpreter itself, and the file is not
# meant to be run on its own.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: quellon_timer_info
short_description: Read the auto shutdown timer of Brelko laser printers
description:
  - Reads the firmware version and the auto shutdown timer of the Brelko
    laser printers of a print server through C(quellonctl), for the CUPS
    queues selected by name, pattern or model (every listed queue when none
    is selected), or checks the queues a policy file selects against the
    values it wants.
  - Never writes to a printer, so C(changed) is always false.
  - Printers that cannot be read (unreachable, too old a firmware...) fail
    the task, which names each one and the reason's code; the result still
    holds every printer's record, so C(ignore_errors) or C(failed_when)
    keeps what was read.
version_added: "1.0.0"
author: Quellon developers
options:
  name:
    description:
      - Queue names or shell-style patterns (C(*), C(?), C([...])), matched
        against the CUPS queue names without regard to letter case.
      - Without I(name), I(model) and I(policy), every queue C(quellonctl
        list) lists.
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
  policy:
    description:
      - The path of a policy file on the managed host (lines of
        C(SELECTOR VALUE); see C(quellonctl(1))). Reads the queues it selects
        and compares each with what it wants, as C(quellonctl check) does.
        Excludes I(name), I(model) and I(exclude).
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
  - Supports check mode, in which it does just the same.
  - Needs the quellonctl package on the managed host, which installs this
    module too.
seealso:
  - module: quellon_timer
requirements:
  - quellonctl
"""

EXAMPLES = r"""
- name: Read the timers of the front office printers
  quellon_timer_info:
    name: ["front-*"]
  register: front

- name: Say which of them never switch off
  debug:
    msg: "{{ front.printers | selectattr('timer') | rejectattr('timer.enabled')
             | map(attribute='queue') | list }}"

- name: Every M220 but the lab's
  quellon_timer_info:
    model: Brelko M220
    exclude: ["lab-*"]

- name: Where the print server drifted from its policy
  quellon_timer_info:
    policy: /etc/quellon/policy
  register: policy

- name: Name each drifted printer, with what it holds and what it should
  debug:
    msg: "{{ item.queue }} holds {{ item.holds.hours }} h ({{ item.holds.enabled
             | ternary('on', 'off') }}), the policy wants {{ item.wants.hours }} h"
  loop: "{{ policy.drift }}"
"""

RETURN = r"""
changed:
  description: Always false.
  returned: always
  type: bool
summary:
  description: How many printers came out each way. C(holding) and
    C(drift) only with I(policy).
  returned: when quellonctl ran
  type: dict
  contains:
    printers:
      description: Selected printers.
      type: int
    read:
      description: Printers whose timer was read.
      type: int
    failed:
      description: Printers that could not be read.
      type: int
    holding:
      description: Printers that hold what the policy wants.
      type: int
    drift:
      description: Printers that hold something else.
      type: int
  sample: {"printers": 6, "read": 5, "failed": 1, "holding": 4, "drift": 1}
printers:
  description: One record per selected printer, as quellonctl reports it, in
    the order the queues were named or listed.
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
    driver:
      description: The driver version its PPD names.
      type: str
    firmware:
      description: The firmware version the printer reports, or null.
      type: str
    min_firmware:
      description: The oldest firmware the model's timer works with, or null.
      type: str
    timer:
      description: The timer the printer holds (C(enabled), C(hours),
        C(raw)), or null when it could not be read.
      type: dict
    wanted:
      description: The timer the policy wants. Only with I(policy).
      type: dict
    result:
      description: C(read) (without I(policy)), C(unchanged) (holds the
        policy's value), C(would-change) (holds another), C(failed) or
        C(not-done).
      type: str
    error:
      description: Why it failed, a stable code such as C(unreachable),
        C(timeout), C(old-firmware) or C(unknown-queue).
      type: str
  sample:
    - {"queue": "front-1", "model": "Brelko M220", "driver": "2.60", "firmware": "01.05",
       "min_firmware": "01.01", "timer": {"enabled": true, "hours": 4, "raw": 4},
       "result": "read"}
drift:
  description: The printers that do not hold what the policy wants, each
    with what it holds and what the policy wants.
  returned: with I(policy), when quellonctl ran
  type: list
  elements: dict
  contains:
    queue:
      description: The CUPS queue name.
      type: str
    holds:
      description: The timer it holds (C(enabled), C(hours), C(raw)).
      type: dict
    wants:
      description: The timer the policy wants.
      type: dict
  sample:
    - {"queue": "front-2", "holds": {"enabled": false, "hours": 4, "raw": 32772},
       "wants": {"enabled": true, "hours": 2, "raw": 2}}
cmd:
  description: The quellonctl command line that ran.
  returned: always
  type: list
  elements: str
"""

from ansible.module_utils.basic import AnsibleModule
from ansible.module_utils import quellonctl

# Results of a printer whose timer is not known.
FAILED_RESULTS = ("failed", "not-done")
# quellonctl's exit statuses that come with a JSON document: check's 4
# (drift) is an answer, not a failure.
STATUS_DONE = 0
STATUS_PRINTERS_FAILED = 1
STATUS_DRIFT = 4


def command_line(module):
    # Only get and check: neither has a way to write, so a mistake here
    # cannot turn into a write.
    cmd = quellonctl.base_command(module)
    if module.params["policy"] is not None:
        return cmd + ["check", "--", module.params["policy"]]
    return cmd + ["get"] + quellonctl.selection_arguments(module)


def summary(printers, policy):
    def count(*results):
        return sum(1 for p in printers if p.get("result") in results)

    failed = count(*FAILED_RESULTS)
    result = dict(printers=len(printers), read=len(printers) - failed, failed=failed)
    if policy:
        result.update(holding=count("unchanged"), drift=count("would-change"))
    return result


def drift(printers):
    return [dict(queue=p.get("queue"), holds=p.get("timer"), wants=p.get("wanted"))
            for p in printers if p.get("result") == "would-change"]


def main():
    argument_spec = dict(quellonctl.SELECTION_ARGUMENTS)
    argument_spec.update(quellonctl.CONNECTION_ARGUMENTS)
    module = AnsibleModule(
        argument_spec=argument_spec,
        mutually_exclusive=[("policy", option) for option in ("name", "model", "exclude")],
        supports_check_mode=True,
    )
    policy = module.params["policy"] is not None
    cmd = command_line(module)
    statuses = (STATUS_DONE, STATUS_PRINTERS_FAILED) + ((STATUS_DRIFT,) if policy else ())
    rc, document, err = quellonctl.run(module, cmd, statuses)
    printers = document["printers"]

    result = dict(changed=False, printers=printers, summary=summary(printers, policy), cmd=cmd)
    if policy:
        result["drift"] = drift(printers)
    message = quellonctl.failure_message(printers, FAILED_RESULTS)
    if message or rc == STATUS_PRINTERS_FAILED:
        module.fail_json(msg=message or err.strip() or "quellonctl reported a failure",
                         rc=rc, stderr=err, **result)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
