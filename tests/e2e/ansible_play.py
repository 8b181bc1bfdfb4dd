#!/usr/bin/env python3
"""The sample playbook of the Ansible collection, run by ansible-playbook on this machine.

    ansible_play.py REPO SIM CLI

Two sites, both this machine with the local connection, each with simulated devices on 127.x in a
network namespace of the test's own: north 127.0.0.2 and 127.0.0.3, south 127.0.0.4 and 127.0.0.5,
all on 3.1.0. In order:
  - ansible-doc renders the modules' documentation;
  - check mode reports a change, says each device would be flashed and flashes nothing;
  - the first run reports a change and upgrades every device;
  - the second run reports no change and no device fetches again;
  - with 127.0.0.6, which reports a wrong version after flashing, added to the north site, the play
    fails with the device's message and the south site is not started.

Exits 77 (skipped) without root (the devices' port 80, TFTP's port 69, the namespace) or without
ansible-playbook.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

import namespace
from fleet import fail

NORTH, SOUTH = ["127.0.0.2", "127.0.0.3"], ["127.0.0.4", "127.0.0.5"]
WRONG_VERSION = "127.0.0.6"


def start_sim(sim, work):
    log = open(os.path.join(work, "sim.log"), "w+")
    images = os.path.join(work, "images")
    os.mkdir(images)
    argv = [sim, "--save-images", images, "--version-before", "3.1.0", "--flash-seconds", "1"]
    for address in NORTH + SOUTH + [WRONG_VERSION]:
        argv += ["--address", address]
        if address == WRONG_VERSION:
            argv += ["--report-version", "9.9.9"]
    proc = subprocess.Popen(argv, stdout=log, stderr=subprocess.STDOUT)
    for _ in range(200):
        with open(log.name) as f:
            if f.read().count("listening on") == 5:
                return proc, log, images
        if proc.poll() is not None:
            break
        time.sleep(0.05)
    with open(log.name) as f:
        fail("the simulator did not start its devices", f.read())


def inventory(work, cli, north):
    path = os.path.join(work, "inventory-%d.yml" % len(north))
    with open(path, "w") as f:
        f.write(f"""all:
  children:
    sites:
      vars:
        ansible_connection: local
        ansible_python_interpreter: {sys.executable}
        qor_upgrade_cli: {cli}
        qor_canary: 1
      hosts:
        site-north:
          qor_devices: {north}
        site-south:
          qor_devices: {SOUTH}
""")
    return path


def playbook(repo, work, inventory_path, *extra):
    env = dict(os.environ,
               ANSIBLE_COLLECTIONS_PATH=os.path.join(repo, "ansible", "collections"),
               ANSIBLE_LOCAL_TEMP=os.path.join(work, "ansible-tmp"),
               ANSIBLE_HOME=os.path.join(work, "ansible-home"),
               ANSIBLE_NOCOLOR="1", ANSIBLE_FORCE_COLOR="0", ANSIBLE_RETRY_FILES_ENABLED="0")
    argv = ["ansible-playbook", "-i", inventory_path,
            os.path.join(repo, "ansible", "examples", "upgrade.yml"), *extra]
    start = time.monotonic()
    run = subprocess.run(argv, env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=600)
    print(f"ansible-playbook {' '.join(extra)}: status {run.returncode} after {time.monotonic() - start:.0f} s")
    return run.returncode, run.stdout + run.stderr


def recap(output):
    """Each host's counters from the play recap."""
    hosts = {}
    for host, counters in re.findall(r"^(site-\w+)\s*:\s*(ok=.*)$", output, re.M):
        hosts[host] = {k: int(v) for k, v in re.findall(r"(\w+)=(\d+)", counters)}
    return hosts


def fetched(images):
    return sorted(os.listdir(images))


def scenario(repo, sim, cli, work):
    env = dict(os.environ, ANSIBLE_COLLECTIONS_PATH=os.path.join(repo, "ansible", "collections"),
               ANSIBLE_HOME=os.path.join(work, "ansible-home"))
    for module in ("qor.upgrade.firmware", "qor.upgrade.firmware_info"):
        doc = subprocess.run(["ansible-doc", module], env=env, capture_output=True, text=True)
        if doc.returncode != 0 or "devices_file" not in doc.stdout:
            fail(f"ansible-doc {module} did not render", doc.stdout, doc.stderr)

    device, log, images = start_sim(sim, work)
    two_sites = inventory(work, cli, NORTH)

    status, output = playbook(repo, work, two_sites, "--check")
    hosts = recap(output)
    if status != 0 or any(hosts.get(h, {}).get("changed") != 1 for h in ("site-north", "site-south")):
        fail(f"check mode: status {status}, expected both sites changed", output)
    for address in NORTH + SOUTH:
        if f"{address}: flash" not in output:
            fail(f"check mode does not say that {address} would be flashed", output)
    if fetched(images):
        fail("check mode flashed a device", output, fetched(images))

    status, output = playbook(repo, work, two_sites)
    hosts = recap(output)
    if status != 0 or any(hosts.get(h, {}).get("changed") != 1 for h in ("site-north", "site-south")):
        fail(f"first run: status {status}, expected both sites changed", output)
    expected = [f"{a}-1.bin" for a in NORTH + SOUTH]
    if fetched(images) != expected:
        fail("first run: not every device fetched its image once", output, fetched(images))
    for address in NORTH + SOUTH:
        if f"{address}: upgraded" not in output:
            fail(f"first run: {address} is not reported upgraded", output)

    status, output = playbook(repo, work, two_sites)
    hosts = recap(output)
    if status != 0 or any(hosts.get(h, {}).get("changed") != 0 for h in ("site-north", "site-south")):
        fail(f"second run: status {status}, expected no change", output)
    if fetched(images) != expected:
        fail("second run: a device fetched again", output, fetched(images))
    for address in NORTH + SOUTH:
        if f"{address}: skipped_current" not in output:
            fail(f"second run: {address} is not reported current", output)

    status, output = playbook(repo, work, inventory(work, cli, NORTH + [WRONG_VERSION]))
    hosts = recap(output)
    if status == 0 or hosts.get("site-north", {}).get("failed") != 1:
        fail(f"faulty device: status {status}, expected the north site failed", output)
    if f"{WRONG_VERSION}: Upgrade Failed: Version not matching (version_not_matching)" not in output:
        fail("the failure does not carry the device's message", output)
    if "site-south" in output.split("PLAY [Upgrade the QOR devices")[-1].split("PLAY RECAP")[0]:
        fail("the south site was started after the north one failed", output)

    device.terminate()
    device.wait(timeout=30)
    log.close()
    with open(log.name) as f:
        if "FAULT" in f.read():
            fail("a device saw what a device must never see", open(log.name).read())
    print("ok: check mode, first run, idempotent second run, failing device; ansible-doc renders")


def main():
    repo, sim, cli = sys.argv[1:4]
    if not shutil.which("ansible-playbook"):
        print("skipped: no ansible-playbook (Debian's ansible-core)")
        sys.exit(namespace.SKIP)
    namespace.enter()
    with tempfile.TemporaryDirectory() as work:
        scenario(repo, sim, cli, work)


if __name__ == "__main__":
    main()
