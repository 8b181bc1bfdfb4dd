# -*- coding: utf-8 -*-
# The options every module of this collection shares: which devices, and how to reach them.
from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    DOCUMENTATION = r"""
options:
  devices:
    description: IPv4 addresses of the devices.
    type: list
    elements: str
  devices_file:
    description:
      - A file on the managed PC with one address a line; a line may carry C(user=NAME) and
        C(password-file=PATH) for that device.
    type: path
  user:
    description: Administrator user name the devices ask for (the program's default is C(admin)).
    type: str
  password:
    description:
      - Administrator password. Handed to the program in a file only the task's user can read, removed
        afterwards; never logged.
    type: str
  password_file:
    description: A file on the managed PC whose first line is the password.
    type: path
  connect_timeout:
    description: Seconds a device may take to connect and answer a status read.
    type: int
  executable:
    description: The command line program, by name on the PATH or by path.
    type: str
    default: qor-upgrade-cli
"""
