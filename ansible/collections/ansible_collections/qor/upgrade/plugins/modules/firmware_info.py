#!/usr/bin/python
# -*- coding: utf-8 -*-
# Reads what QOR devices report (product, serial, MAC, versions) from the managed PC; changes nothing.
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: firmware_info
short_description: Read what QOR devices report about themselves
version_added: "1.0.0"
description:
  - Runs C(qor-upgrade-cli --info --json) on the managed PC and returns each device's status page
    fields. Nothing is sent to a device but the status read.
options:
  local_address:
    description: The address of this PC the requests leave from.
    type: str
  jobs:
    description: Devices read at once.
    type: int
extends_documentation_fragment:
  - qor.upgrade.devices
attributes:
  check_mode:
    support: full
author:
  - qor-upgrade maintainers
"""

EXAMPLES = r"""
- name: Inventory of the site's devices
  qor.upgrade.firmware_info:
    devices: [192.0.2.10, 192.0.2.11]
  register: site

- ansible.builtin.debug:
    msg: "{{ site.devices | map(attribute='software_version') | list }}"
"""

RETURN = r"""
devices:
  description: One entry a device, in the order given.
  returned: always
  type: list
  elements: dict
  contains:
    address:
      description: The device's address.
      type: str
    answered:
      description: Whether the device's status page was read.
      type: bool
    product_name:
      description: What the device reports; also C(serial_number), C(mac_address), C(software_version),
        C(hardware_version).
      type: str
    error:
      description: Why a device that did not answer could not be read.
      type: str
unreachable:
  description: Addresses of the devices that did not answer.
  returned: always
  type: list
  elements: str
"""

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.qor.upgrade.plugins.module_utils.cli import (
    DEVICE_OPTIONS,
    Workspace,
    device_arguments,
    parse_json,
    run_cli,
)


def main():
    module = AnsibleModule(argument_spec=dict(DEVICE_OPTIONS), supports_check_mode=True,
                           mutually_exclusive=[("password", "password_file")],
                           required_one_of=[("devices", "devices_file")])
    with Workspace() as workspace:
        rc, out, err = run_cli(module, device_arguments(module, workspace) + ["--info", "--json"])
    result = parse_json(module, out, "device list", rc, err)
    devices = result if isinstance(result, list) else result.get("devices", [])
    unreachable = [d["address"] for d in devices if not d.get("answered")]
    module.exit_json(changed=False, devices=devices, unreachable=unreachable, rc=rc)


if __name__ == "__main__":
    main()
