"""Network and mount namespaces of a test's own, for scenarios with simulated devices on 127.x.

Inside them the loopback is the test's alone, and so are the device locks under /run/lock: a run
elsewhere on this machine (another test, in a namespace of its own) locks the same addresses for
devices of its own.
"""
import os
import subprocess
import sys

SKIP = 77


def enter():
    """Runs this script again inside new namespaces and exits with its status; returns inside them.
    Exits 77 (skipped) without root (the devices' port 80, TFTP's port 69, the namespaces)."""
    if os.geteuid() != 0:
        print("skipped: ports 80 and 69 and a network namespace need root")
        sys.exit(SKIP)
    if os.environ.get("QOR_IN_NAMESPACE") != "1":
        env = dict(os.environ, QOR_IN_NAMESPACE="1")
        probe = subprocess.run(["unshare", "--net", "--mount", "true"], capture_output=True)
        if probe.returncode != 0:
            print("skipped: cannot make a network namespace: " + probe.stderr.decode().strip())
            sys.exit(SKIP)
        sys.exit(subprocess.run(["unshare", "--net", "--mount", sys.executable, *sys.argv], env=env).returncode)
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    os.makedirs("/run/lock", exist_ok=True)
    subprocess.run(["mount", "-t", "tmpfs", "qor-locks", "/run/lock"], check=True)
