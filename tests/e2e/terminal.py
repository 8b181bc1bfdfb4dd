#!/usr/bin/env python3
"""The command-line upgrade answered at its prompts on a terminal, as a user answers it.

    terminal.py SCENARIO SIM CLI

  choices    in a network namespace of its own whose loopback has two addresses (the device given
             with --device, on loopback): the user picks the second address of this PC from the list,
             changes the user name at the password prompt, and the upgrade succeeds from that address.
  interrupt  Ctrl-C at each prompt of the run ends it at once: silently at the warning, with
             "Upgrade Failed: User Abort" at the password prompt.
  hostile    a device whose status page carries terminal control sequences and a fake line: they
             reach the terminal as visible escapes only (confirmation and trace); the user declines.

Exits 77 (skipped) without root: the device's port 80 and TFTP's port 69.
"""
import os
import pty
import re
import select
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77


def fail(message, transcript=""):
    print(f"FAIL: {message}\n--- terminal\n{transcript}", file=sys.stderr)
    sys.exit(1)


class Terminal:
    """The CLI on a pseudo-terminal of its own."""

    def __init__(self, argv):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.execv(argv[0], argv)
        self.text = ""

    def expect(self, wanted, timeout=20):
        end = time.monotonic() + timeout
        while wanted not in self.text:
            left = end - time.monotonic()
            if left <= 0 or not self._read(left):
                fail(f"expected {wanted!r}", self.text)
        # What follows the prompt belongs to the next question.
        self.text = self.text[self.text.index(wanted) + len(wanted):]

    def type(self, line):
        os.write(self.fd, (line + "\n").encode())

    def interrupt(self):
        os.write(self.fd, b"\x03")  # the terminal turns it into SIGINT for the program

    def wait(self, timeout=90):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                while self._read(0.1):
                    pass
                return os.waitstatus_to_exitcode(status)
            self._read(0.2)
        os.kill(self.pid, signal.SIGKILL)
        fail("the upgrade did not end", self.text)

    def _read(self, timeout):
        ready, _, _ = select.select([self.fd], [], [], timeout)
        if not ready:
            return False
        try:
            data = os.read(self.fd, 4096)
        except OSError:
            return False
        self.text += data.decode(errors="replace")
        return bool(data)


def start_sim(sim, log, *args):
    proc = subprocess.Popen([sim, *args], stdout=log, stderr=subprocess.STDOUT)
    for _ in range(100):
        with open(log.name) as f:
            if "listening" in f.read():
                return proc
        if proc.poll() is not None:
            break
        time.sleep(0.05)
    fail("the simulator did not start")


def choices(sim, cli):
    # Only inside the namespace made below: its loopback is ours alone.
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    subprocess.run(["ip", "addr", "add", "127.0.0.77/8", "dev", "lo"], check=True)
    with tempfile.NamedTemporaryFile("w+") as log:
        device = start_sim(sim, log, "--address", "127.0.0.2", "--once", "--flash-seconds", "1",
                           "--user", "operator", "--password", "secret")
        term = Terminal([cli, "--device", "127.0.0.2"])
        term.expect("Continue? [y/N] ")
        term.type("y")
        term.expect("2) 127.0.0.77")
        term.expect("Your IP Address [1]: ")
        term.type("2")
        term.expect("Your IP Address: 127.0.0.77")
        term.expect("User [admin]: ")
        term.type("operator")
        term.expect("Password for operator: ")
        term.type("secret")
        term.expect("Upgrade? [y/N] ")
        term.type("y")
        status = term.wait()
        device.wait(timeout=30)
        log.seek(0)
        device_log = log.read()
        if status != 0 or "Upgrade Successful!" not in term.text:
            fail(f"exit status {status}", term.text + device_log)
        if "127.0.0.77" not in device_log:
            fail("the image was not fetched from the address picked", device_log)


def interrupt(sim, cli):
    # At the warning: the run ends silently, as Cancel there does.
    term = Terminal([cli])
    term.expect("Continue? [y/N] ")
    term.interrupt()
    status = term.wait(timeout=5)
    if status != 1 or "Upgrade Failed" in term.text:
        fail(f"warning: exit status {status}", term.text)
    # At the password prompt: the user aborts.
    with tempfile.NamedTemporaryFile("w+") as log:
        device = start_sim(sim, log, "--address", "127.0.0.41", "--password", "secret")
        term = Terminal([cli, "--device", "127.0.0.41", "--yes"])
        term.expect("User [admin]: ")
        term.interrupt()
        status = term.wait(timeout=5)
        device.terminate()
        device.wait()
        if status != 1 or "Upgrade Failed: User Abort" not in term.text:
            fail(f"password: exit status {status}", term.text)


def hostile(sim, cli):
    fields = ["--serial", "\x1b[2J\x1b[HQOR1", "--product-name", "\x1b]0;owned\x07QOR-4710",
              "--mac", "02:00\r\nUpgrade Successful!", "--hardware-version", "\u009b31m1.0\x7f"]
    with tempfile.NamedTemporaryFile("w+") as log:
        device = start_sim(sim, log, "--address", "127.0.0.42", *fields)
        term = Terminal([cli, "--device", "127.0.0.42", "--verbose"])
        term.expect("Continue? [y/N] ")
        term.type("y")
        while "Upgrade? [y/N] " not in term.text:
            if "Your IP Address [1]: " in term.text:
                term.expect("Your IP Address [1]: ")
                term.type("")
            elif not term._read(20):
                fail("no confirmation", term.text)
        shown = term.text
        term.expect("Upgrade? [y/N] ")
        term.type("n")
        status = term.wait(timeout=10)
        device.terminate()
        device.wait()
    for visible in ["\\x1b[2J\\x1b[HQOR1", "\\x1b]0;owned\\x07QOR-4710", "02:00\\x0d\\x0aUpgrade Successful!",
                    "\\u009b31m1.0\\x7f"]:
        if visible not in shown:
            fail(f"expected {visible!r} on the confirmation", shown)
    # The program's own escape (erase to the end of the progress line) is the only one there may be.
    stray = re.findall(r"\x1b(?!\[K)|\x07|\x7f|\x9b", term.text)
    if stray or re.search(r"^Upgrade Successful!", term.text, re.M):
        fail(f"device bytes reached the terminal raw: {stray!r}", repr(term.text))
    if status != 1 or "Upgrade Failed: User Abort" not in term.text:
        fail(f"exit status {status}", term.text)


def main():
    scenario, sim, cli = sys.argv[1:4]
    if os.geteuid() != 0:
        print("skipped: binding ports 80 and 69 needs root")
        sys.exit(SKIP)
    if scenario == "choices":
        if os.environ.get("QOR_IN_NAMESPACE") != "1":
            env = dict(os.environ, QOR_IN_NAMESPACE="1")
            sys.exit(subprocess.run(["unshare", "--net", sys.executable, *sys.argv], env=env).returncode)
        choices(sim, cli)
    elif scenario == "interrupt":
        interrupt(sim, cli)
    elif scenario == "hostile":
        hostile(sim, cli)
    else:
        fail(f"unknown scenario {scenario}")
    print(f"ok: {scenario}")


if __name__ == "__main__":
    main()
