# -*- coding: utf-8 -*-
# Running qor-upgrade-cli on the managed PC for the modules of this collection.
from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os
import shutil
import tempfile

# What the command line's exit statuses mean: 0 done, 1 some device failed or did not answer, 2 usage.
USAGE_ERROR = 2

# Endings that are neither a change nor a failure.
NOT_FAILED = ("upgraded", "skipped_current", "skipped_newer")

DEVICE_OPTIONS = dict(
    devices=dict(type="list", elements="str"),
    devices_file=dict(type="path"),
    user=dict(type="str"),
    password=dict(type="str", no_log=True),
    password_file=dict(type="path", no_log=False),
    local_address=dict(type="str"),
    jobs=dict(type="int"),
    connect_timeout=dict(type="int"),
    executable=dict(type="str", default="qor-upgrade-cli"),
)


class Workspace(object):
    """A private folder for the password and the report, removed whatever happens."""

    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="qor-upgrade-")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        shutil.rmtree(self.path, ignore_errors=True)

    def file(self, name, text=None):
        path = os.path.join(self.path, name)
        if text is not None:
            fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
            with os.fdopen(fd, "w") as f:
                f.write(text + "\n")
        return path


def device_arguments(module, workspace):
    """The options that name the devices and how to reach them, as command-line arguments."""
    p = module.params
    if not p["devices"] and not p["devices_file"]:
        module.fail_json(msg="give devices or devices_file")
    if p["password"] is not None and p["password_file"]:
        module.fail_json(msg="give password or password_file, not both")
    args = []
    for address in p["devices"] or []:
        args += ["--device", address]
    if p["devices_file"]:
        args += ["--devices", p["devices_file"]]
    if p["user"]:
        args += ["--user", p["user"]]
    if p["password"] is not None:
        args += ["--password-file", workspace.file("password", p["password"])]
    elif p["password_file"]:
        args += ["--password-file", p["password_file"]]
    if p["local_address"]:
        args += ["--local-address", p["local_address"]]
    if p["jobs"] is not None:
        args += ["--jobs", str(p["jobs"])]
    if p["connect_timeout"] is not None:
        args += ["--connect-timeout", str(p["connect_timeout"])]
    return args


def run_cli(module, args):
    """Runs the command line without a terminal; fails the task on a usage error."""
    executable = module.get_bin_path(module.params["executable"], required=True)
    rc, out, err = module.run_command([executable] + args, data="", binary_data=True)
    if rc == USAGE_ERROR:
        module.fail_json(msg=err.strip() or "qor-upgrade-cli refused its options", rc=rc, stderr=err)
    return rc, out, err


def parse_json(module, text, what, rc, err):
    try:
        return json.loads(text)
    except ValueError:
        module.fail_json(msg="qor-upgrade-cli gave no readable %s" % what, rc=rc, stdout=text, stderr=err)
