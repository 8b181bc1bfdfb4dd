#!/usr/bin/python
# -*- coding: utf-8 -*-
# Upgrades the QOR devices of a site from the managed PC, with qor-upgrade-cli.
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: firmware
short_description: Upgrade the firmware of QOR devices from the managed PC
version_added: "1.0.0"
description:
  - Runs C(qor-upgrade-cli) on the managed PC for the devices given. Each device fetches the firmware
    carried by the installed program by TFTP from this PC, so the PC must be on the devices' network.
  - A device that already runs the carried version is left alone, and so is one that runs a newer
    version, unless C(force) or C(allow_downgrade) say otherwise.
  - The task reports C(changed) only when some device was flashed, and fails when any device ended in
    a failure; C(devices) carries every device's outcome code and the program's message.
  - In check mode nothing is flashed; the devices are read and C(devices) says what a run would do
    with each (C(flash), C(skipped_current), C(skipped_newer), or why it cannot be reached).
options:
  local_address:
    description: The address of this PC the devices fetch from; by default the first one.
    type: str
  jobs:
    description: Devices upgraded at once.
    type: int
  canary:
    description: The first N devices go alone; the rest start only if all N ended upgraded.
    type: int
  max_failures:
    description: Once N devices have failed, no further device starts.
    type: int
  timeout:
    description: Seconds a device may stay in one phase (reading, waiting for the fetch, verifying).
    type: int
  force:
    description: Flash devices that already run the carried version.
    type: bool
    default: false
  allow_downgrade:
    description: Flash devices that run a newer version than the carried one.
    type: bool
    default: false
  report:
    description: Also keep the program's JSON report at this path on the managed PC.
    type: path
extends_documentation_fragment:
  - qor.upgrade.devices
attributes:
  check_mode:
    support: full
notes:
  - The TFTP listener binds UDP ports 69 to 168 through the package's bind helper; install the
    C(qor-upgrade) Debian package first (role C(qor.upgrade.site_pc)).
  - Run one play per site PC at a time (C(serial)); the program itself reports a device that another
    run is upgrading as C(busy).
author:
  - qor-upgrade maintainers
"""

EXAMPLES = r"""
- name: Upgrade the site's adapters, one canary first
  qor.upgrade.firmware:
    devices: [192.0.2.10, 192.0.2.11, 192.0.2.12]
    user: admin
    password: "{{ vault_qor_password }}"
    canary: 1
    max_failures: 1

- name: What would be flashed
  qor.upgrade.firmware:
    devices_file: /etc/qor/devices.txt
  check_mode: true
  register: plan
"""

RETURN = r"""
devices:
  description:
    - One entry a device, in the order given. In a run, the report's fields; in check mode, the plan's.
  returned: always
  type: list
  elements: dict
  contains:
    address:
      description: The device's address.
      type: str
    outcome:
      description:
        - In a run, one of C(upgraded), C(skipped_current), C(skipped_newer), C(declined), C(auth_failed),
          C(unreachable), C(no_fetch), C(upload_incomplete), C(version_not_matching),
          C(no_response_after_flash), C(interrupted), C(not_started), C(busy).
        - In check mode, what a run would do (C(flash), a skip, or why the device cannot be had).
      type: str
    message:
      description: The program's message for a failure; empty otherwise.
      type: str
    version_before:
      description: The software version the device reported before.
      type: str
    version_after:
      description: The version it reported after flashing; null when it was not flashed.
      type: str
  sample:
    - {address: 192.0.2.10, outcome: upgraded, message: "", version_before: 3.1.0, version_after: 3.2.1}
failed_devices:
  description: Addresses of the devices that ended in a failure.
  returned: always
  type: list
  elements: str
carried:
  description: The product and versions the installed program carries.
  returned: always
  type: dict
rc:
  description: The program's exit status.
  returned: always
  type: int
"""

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.qor.upgrade.plugins.module_utils.cli import (
    DEVICE_OPTIONS,
    NOT_FAILED,
    Workspace,
    device_arguments,
    parse_json,
    run_cli,
)


def fleet_arguments(p):
    args = ["--yes"]
    for option, flag in (("canary", "--canary"), ("max_failures", "--max-failures"), ("timeout", "--timeout")):
        if p[option] is not None:
            args += [flag, str(p[option])]
    if p["force"]:
        args.append("--force")
    if p["allow_downgrade"]:
        args.append("--allow-downgrade")
    return args


def plan(module, workspace):
    args = device_arguments(module, workspace) + ["--plan", "--json"]
    if module.params["force"]:
        args.append("--force")
    if module.params["allow_downgrade"]:
        args.append("--allow-downgrade")
    rc, out, err = run_cli(module, args)
    result = parse_json(module, out, "plan", rc, err)
    devices = []
    for d in result.get("devices", []):
        entry = dict(d)
        entry["outcome"] = d.get("action")
        entry["message"] = d.get("error", "")
        entry["version_before"] = d.get("software_version")
        entry["version_after"] = None
        devices.append(entry)
    unreachable = [d["address"] for d in devices if not d.get("answered")]
    changed = any(d["outcome"] == "flash" for d in devices)
    response = dict(changed=changed, devices=devices, failed_devices=unreachable,
                    carried=result.get("carried", {}), rc=rc)
    if unreachable:
        module.fail_json(msg="devices that did not answer: %s" % ", ".join(unreachable), **response)
    module.exit_json(**response)


def upgrade(module, workspace):
    report = workspace.file("report.json")
    args = device_arguments(module, workspace) + fleet_arguments(module.params) + ["--report", report]
    rc, out, err = run_cli(module, args)
    try:
        with open(report) as f:
            text = f.read()
    except IOError:
        module.fail_json(msg="qor-upgrade-cli wrote no report", rc=rc, stdout=out, stderr=err)
    result = parse_json(module, text, "report", rc, err)
    if module.params["report"]:
        with open(module.params["report"], "w") as f:
            f.write(text)
    devices = result.get("devices", [])
    failed = [d for d in devices if d.get("outcome") not in NOT_FAILED]
    # Flashed is flashed, verified or not: the device has changed.
    changed = any(d.get("flashed") or d.get("outcome") == "upgraded" for d in devices)
    response = dict(changed=changed, devices=devices, failed_devices=[d["address"] for d in failed],
                    carried=result.get("carried", {}), rc=rc, stdout=out, stderr=err)
    if failed:
        lines = ["%s: %s (%s)" % (d["address"], d.get("message") or d.get("outcome"), d.get("outcome"))
                 for d in failed]
        module.fail_json(msg="; ".join(lines), **response)
    module.exit_json(**response)


def main():
    argument_spec = dict(DEVICE_OPTIONS)
    argument_spec.update(
        canary=dict(type="int"),
        max_failures=dict(type="int"),
        timeout=dict(type="int"),
        force=dict(type="bool", default=False),
        allow_downgrade=dict(type="bool", default=False),
        report=dict(type="path"),
    )
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True,
                           mutually_exclusive=[("password", "password_file")],
                           required_one_of=[("devices", "devices_file")])
    with Workspace() as workspace:
        if module.check_mode:
            plan(module, workspace)
        else:
            upgrade(module, workspace)


if __name__ == "__main__":
    main()
