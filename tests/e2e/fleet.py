#!/usr/bin/env python3
"""Many simulated devices upgraded in one run of the two-stage command line.

    fleet.py SCENARIO SIM CLI_TWO_STAGE TARGET_IMAGE TRANSITION_IMAGE

The devices are 127.0.0.2 and up, in a network namespace of the test's own, so that nothing else on
this machine uses their addresses or the TFTP ports meanwhile.

  ten        Ten devices, 127.0.0.2 to 127.0.0.11. Three are on 3.1.0 behind the
password the run knows, three on 3.1.0 without one, and one on 3.0.0, older than the transition image
3.0.5: it gets the transition image and then the target image, while the others go straight to the
target. Three fail: one has a password the run does not know, one never fetches, one reports a wrong
version after flashing. The run must end with exit status 1, the report must list the seven verified
devices and the three failures with the system's messages, and each verified device must have received
its images byte for byte.
  interrupt  Four devices, two at a time: Ctrl-C while the first two write their image to flash ends
             every run with "Upgrade Failed: User Abort"; the two waiting their turn never fetched, and
             the table names the two that were flashed.
  automation Seven runs at once in one namespace, each on devices of its own, as scripts use them:
             older, current and newer devices (only the older is flashed); a canary that fails keeps
             the rest from starting; SIGTERM mid-run leaves a fresh report; an unwritable report
             path touches no device; --plan flashes nothing (and shows a device name with an escape
             and a byte that is not UTF-8 escaped, as U+FFFD in JSON); 20 silent devices listed before 5
             healthy ones delay them by the connect time-out alone; two runs on the same devices
             (the second reports them busy).

Exits 77 (skipped) without root: the devices' port 80, TFTP's port 69 and the namespace.
"""
import json
import os
import signal
import subprocess
import sys
import tempfile
import time

import namespace

GOOD = ["127.0.0.%d" % n for n in range(2, 9)]
TWO_STAGE = "127.0.0.7"
WRONG_PASSWORD, NEVER_FETCHES, WRONG_VERSION = "127.0.0.9", "127.0.0.10", "127.0.0.11"
WAIT_LIMIT = 10  # seconds the run waits for a device to fetch


def fail(message, *texts):
    print("FAIL: " + message, file=sys.stderr)
    for text in texts:
        print("---", file=sys.stderr)
        print(text, file=sys.stderr)
    sys.exit(1)


def device_options():
    options = ["--version-before", "3.1.0", "--flash-seconds", "1"]
    for address in GOOD + [WRONG_PASSWORD, NEVER_FETCHES, WRONG_VERSION]:
        options += ["--address", address]
        if address in GOOD[:3]:
            options += ["--password", "secret"]
        if address == TWO_STAGE:
            options += ["--version-before", "3.0.0"]
        if address == WRONG_PASSWORD:
            options += ["--password", "not-the-one-given"]
        if address == NEVER_FETCHES:
            options.append("--never-fetch")
        if address == WRONG_VERSION:
            options += ["--report-version", "9.9.9"]
    return options


def start_sim(sim, work, options, count):
    log = open(os.path.join(work, "sim.log"), "w+")
    images = os.path.join(work, "images")
    os.mkdir(images)
    proc = subprocess.Popen([sim, "--save-images", images] + options, stdout=log, stderr=subprocess.STDOUT)
    for _ in range(200):
        with open(log.name) as f:
            if f.read().count("listening on") == count:
                return proc, log, images
        if proc.poll() is not None:
            break
        time.sleep(0.05)
    with open(log.name) as f:
        fail(f"the simulator did not start its {count} devices", f.read())


def read(work, name):
    with open(os.path.join(work, name)) as f:
        return f.read()


def same_bytes(path, reference):
    if not os.path.exists(path):
        return False
    with open(path, "rb") as a, open(reference, "rb") as b:
        return a.read() == b.read()


def check(work, status, elapsed, target, transition, images):
    output, device_log = read(work, "cli.out"), read(work, "sim.log")
    if status != 1:
        fail(f"exit status {status}, expected 1", output, device_log)
    with open(os.path.join(work, "report.json")) as f:
        report = json.load(f)
    devices = {d["address"]: d for d in report["devices"]}
    if len(devices) != 10 or report["upgraded"] != 7 or report["failed"] != 3:
        fail("the report does not count 7 upgraded and 3 failed", json.dumps(report, indent=1))

    for address in GOOD:
        d = devices[address]
        if not (d["verified"] and d["outcome"] == "upgraded" and d["version_after"] == "3.2.1"):
            fail(f"{address} not verified on 3.2.1", json.dumps(d, indent=1), output, device_log)
    expected_failures = {
        WRONG_PASSWORD: ("Upgrade Failed: User Abort", "did not accept the user name and password"),
        NEVER_FETCHES: ("Upgrade Failed: User Abort", f"did not ask for its image within {WAIT_LIMIT} s"),
        WRONG_VERSION: ("Upgrade Failed: Version not matching", ""),
    }
    for address, (message, note) in expected_failures.items():
        d = devices[address]
        if d["verified"] or d["message"] != message or note not in d["note"]:
            fail(f"{address}: expected '{message}' ({note})", json.dumps(d, indent=1), output)
        if message not in output or address not in output:
            fail(f"{address}: its failure is not in the table", output)
    if devices[WRONG_VERSION]["version_after"] != "9.9.9" or devices[WRONG_PASSWORD]["answered"]:
        fail("the failures' versions are not as the devices reported them", json.dumps(report, indent=1))

    two = devices[TWO_STAGE]
    uploads = [(p["phase"], p["stage"]) for p in two["phases"] if p["phase"] == "uploading"]
    if two["gets"] != "3.0.5, then 3.2.1" or uploads != [("uploading", 0), ("uploading", 1)]:
        fail("the two-stage device did not get the transition image first", json.dumps(two, indent=1))
    for address in GOOD:
        if address != TWO_STAGE and devices[address]["gets"] != "3.2.1":
            fail(f"{address} was to get more than the target image", json.dumps(devices[address], indent=1))

    # What each verified device received, byte for byte; nothing for those that never fetched.
    for address in GOOD:
        wanted = [transition, target] if address == TWO_STAGE else [target]
        for n, reference in enumerate(wanted, 1):
            if not same_bytes(os.path.join(images, f"{address}-{n}.bin"), reference):
                fail(f"{address}: image {n} is not {os.path.basename(reference)} byte for byte", device_log)
        if os.path.exists(os.path.join(images, f"{address}-{len(wanted) + 1}.bin")):
            fail(f"{address} received one image too many", device_log)
    for address in (WRONG_PASSWORD, NEVER_FETCHES):
        if os.path.exists(os.path.join(images, f"{address}-1.bin")):
            fail(f"{address} received an image", device_log)
    if "FAULT" in device_log:
        fail("a device saw what a device must never see", device_log)

    if "7 of 10 devices upgraded and verified; 3 not." not in output:
        fail("no closing line", output)
    # The settling waits overlap: one after the other, the devices would take more than five minutes.
    if elapsed > 120:
        fail(f"the run took {elapsed:.0f} s", output)


def ten(sim, cli, target, transition, work):
    device, log, images = start_sim(sim, work, device_options(), 10)
    with open(os.path.join(work, "password"), "w") as f:
        f.write("secret\n")
    with open(os.path.join(work, "report.json.tmp"), "w") as f:  # the user's own: left alone
        f.write("mine\n")
    with open(os.path.join(work, "devices"), "w") as f:
        f.write("# the office\n" + "\n".join(GOOD[:4]) + "\n\n" +
                "\n".join(GOOD[4:] + [WRONG_PASSWORD, NEVER_FETCHES, WRONG_VERSION]) + "  # upstairs\n")
    start = time.monotonic()
    with open(os.path.join(work, "cli.out"), "w") as out:
        status = subprocess.run(
            [cli, "--devices", os.path.join(work, "devices"), "--password-file",
             os.path.join(work, "password"), "--yes", "--jobs", "10", "--timeout", str(WAIT_LIMIT),
             "--report", os.path.join(work, "report.json")],
            stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT, timeout=240).returncode
    elapsed = time.monotonic() - start
    device.terminate()
    device.wait(timeout=30)
    log.close()
    check(work, status, elapsed, target, transition, images)
    if read(work, "report.json.tmp") != "mine\n" or any(".tmp-" in name for name in os.listdir(work)):
        fail("the report's writing touched the user's file or left its temporary", *sorted(os.listdir(work)))
    print(f"ok: ten devices in {elapsed:.0f} s, seven verified, three failed as expected")


def interrupt(sim, cli, work):
    addresses = ["127.0.0.%d" % n for n in range(2, 6)]
    device, log, images = start_sim(sim, work, ["--version-before", "3.1.0", "--count", "4"], 4)
    argv = [cli, "--yes", "--jobs", "2", "--report", os.path.join(work, "report.json")]
    for address in addresses:
        argv += ["--device", address]
    with open(os.path.join(work, "cli.out"), "w") as out:
        proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        for _ in range(400):
            if read(work, "cli.out").count("to flash") == 2:
                break
            time.sleep(0.05)
        proc.send_signal(signal.SIGINT)
        status = proc.wait(timeout=20)
    device.terminate()
    device.wait(timeout=30)
    log.close()
    output, device_log = read(work, "cli.out"), read(work, "sim.log")
    if status != 1:
        fail(f"exit status {status}, expected 1", output, device_log)
    with open(os.path.join(work, "report.json")) as f:
        devices = {d["address"]: d for d in json.load(f)["devices"]}
    for address in addresses:
        d = devices[address]
        flashed = address in addresses[:2]
        if d["message"] != "Upgrade Failed: User Abort" or (d["flashed"] == "3.2.1") != flashed:
            fail(f"{address}: expected a user abort, flashed: {flashed}", json.dumps(d, indent=1), output)
        if not flashed and any(p["phase"] == "uploading" for p in d["phases"]):
            fail(f"{address} did not wait its turn", json.dumps(d, indent=1), output)
    if "Interrupted. Flashed before the end: 127.0.0.2 (3.2.1), 127.0.0.3 (3.2.1)." not in output:
        fail("the table does not say which devices were flashed", output)
    if not set(os.listdir(images)) <= {"127.0.0.2-1.bin", "127.0.0.3-1.bin"}:
        fail("a device waiting its turn fetched", device_log)
    print("ok: Ctrl-C ended every run; the two flashed devices are named")


def addresses(first, count):
    return ["127.0.0.%d" % n for n in range(first, first + count)]


MIXED = {"127.0.0.2": "3.1.0", "127.0.0.3": "3.2.1", "127.0.0.4": "10.0.0"}
CANARY = addresses(10, 3)
SIGNALLED = addresses(20, 2)
UNTOUCHED = "127.0.0.30"
PLANNED = "127.0.0.40"
SILENT, HEALTHY = addresses(50, 20), addresses(70, 5)
SHARED = addresses(80, 2)
# A terminal escape and a byte that is not UTF-8 (passed to the simulator as that byte).
HOSTILE_NAME = "QOR-4710\x1b[2J\udcff"


def automation_devices():
    options = ["--version-before", "3.1.0", "--flash-seconds", "1"]
    for address, version in MIXED.items():
        options += ["--address", address, "--version-before", version]
    for address in CANARY:
        options += ["--address", address] + (["--report-version", "9.9.9"] if address == CANARY[0] else [])
    for address in SIGNALLED + [UNTOUCHED] + HEALTHY + SHARED:
        options += ["--address", address]
    options += ["--address", PLANNED, "--product-name", HOSTILE_NAME]
    for address in SILENT:
        options += ["--address", address, "--never-answer-http"]
    return options


def automation(sim, cli, work):
    device, log, images = start_sim(sim, work, automation_devices(), 3 + 3 + 2 + 2 + 20 + 5 + 2)

    def start(name, devices, *options):
        argv = [cli, "--yes", "--report", os.path.join(work, name + ".json"), *options]
        for address in devices:
            argv += ["--device", address]
        out = open(os.path.join(work, name + ".out"), "w")
        return subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT), time.monotonic()

    def report(name):
        with open(os.path.join(work, name + ".json")) as f:
            return json.load(f)

    def outcomes(name):
        return {d["address"]: d["outcome"] for d in report(name)["devices"]}

    def wait_for(name, text, count=1):
        for _ in range(1200):
            if read(work, name + ".out").count(text) >= count:
                return
            time.sleep(0.05)
        fail(f"{name}: no '{text}'", read(work, name + ".out"))

    # An unwritable report and --plan end before anything else starts: what they did not do is seen in
    # the devices' log.
    bad = subprocess.run([cli, "--yes", "--device", UNTOUCHED, "--report", os.path.join(work, "no", "r.json")],
                         stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=30)
    if bad.returncode != 2 or "--report" not in bad.stderr:
        fail(f"an unwritable report: exit status {bad.returncode}, expected 2", bad.stdout + bad.stderr)
    plan = subprocess.run([cli, "--plan", "--json", "--device", PLANNED, "--device", "127.0.0.3"],
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
    actions = {d["address"]: d["action"] for d in json.loads(plan.stdout)["devices"]}
    if plan.returncode != 0 or actions != {PLANNED: "flash", "127.0.0.3": "skipped_current"}:
        fail(f"--plan: exit status {plan.returncode}, actions {actions}", plan.stdout + plan.stderr)
    names = [d["product_name"] for d in json.loads(plan.stdout)["devices"] if d["address"] == PLANNED]
    table = subprocess.run([cli, "--plan", "--device", PLANNED], stdin=subprocess.DEVNULL, capture_output=True,
                           timeout=60).stdout
    if names != ["QOR-4710\x1b[2J\ufffd"] or b"\x1b" in table or b"QOR-4710\\x1b[2J\\xff" not in table:
        fail(f"the device's name in --plan: {names}", table.decode(errors="replace"))

    with open(os.path.join(work, "signalled.json"), "w") as f:
        f.write('{"upgraded": 10}\n')  # an earlier run's report, to be replaced
    runs = {
        "mixed": start("mixed", MIXED),
        "canary": start("canary", CANARY, "--canary", "1", "--failed", os.path.join(work, "canary.failed")),
        "signalled": start("signalled", SIGNALLED),
        "silent": start("silent", SILENT + HEALTHY),
        "shared": start("shared", SHARED),
    }
    wait_for("shared", "--yes: upgrading")
    second = subprocess.run([cli, "--yes", "--device", SHARED[0], "--device", SHARED[1], "--report",
                             os.path.join(work, "second.json")],
                            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
    wait_for("signalled", "to flash", 2)
    runs["signalled"][0].send_signal(signal.SIGTERM)
    status, elapsed = {}, {}
    for name, (proc, started) in runs.items():
        status[name] = proc.wait(timeout=200)
        elapsed[name] = time.monotonic() - started
    device.terminate()
    device.wait(timeout=30)
    log.close()
    device_log = read(work, "sim.log")
    saved = set(os.listdir(images))

    def expect(name, wanted, exit_status):
        got = outcomes(name)
        if got != wanted or status[name] != exit_status:
            fail(f"{name}: exit status {status[name]}, outcomes {got}; expected {exit_status}, {wanted}",
                 read(work, name + ".out"), json.dumps(report(name), indent=1))

    expect("mixed", {"127.0.0.2": "upgraded", "127.0.0.3": "skipped_current", "127.0.0.4": "skipped_newer"}, 0)
    expect("canary", {CANARY[0]: "version_not_matching", CANARY[1]: "not_started", CANARY[2]: "not_started"}, 1)
    if read(work, "canary.failed").split() != CANARY:
        fail("--failed does not list the canary run's devices", read(work, "canary.failed"))
    expect("signalled", {a: "interrupted" for a in SIGNALLED}, 1)
    if report("signalled")["ending"] != "terminated":
        fail("the report of the signalled run does not say how it ended", json.dumps(report("signalled")))
    expect("silent", {**{a: "unreachable" for a in SILENT}, **{a: "upgraded" for a in HEALTHY}}, 1)
    expect("shared", {a: "upgraded" for a in SHARED}, 0)
    second_outcomes = outcomes("second")
    if second.returncode != 1 or second_outcomes != {a: "busy" for a in SHARED}:
        fail(f"the second run on the same devices: {second.returncode}, {second_outcomes}", second.stdout)

    wanted_images = {"127.0.0.2-1.bin", CANARY[0] + "-1.bin"} | {a + "-1.bin" for a in HEALTHY + SHARED}
    if not wanted_images <= saved or saved - wanted_images - {a + "-1.bin" for a in SIGNALLED}:
        fail(f"images fetched: {sorted(saved)}", device_log)
    lines = device_log.splitlines()
    if any(f"[{UNTOUCHED}] 127." in line for line in lines):
        fail(f"{UNTOUCHED} was contacted though the report could not be written", device_log)
    if any("upgrade?" in line for line in lines if f"[{PLANNED}]" in line):
        fail("--plan asked a device to upgrade", device_log)
    # One device alone: the mixed run, which flashed one device. The healthy devices behind the
    # silent ones wait for the connect time-out and no longer.
    if elapsed["silent"] > 1.5 * elapsed["mixed"]:
        fail(f"the healthy devices behind silent ones took {elapsed['silent']:.0f} s, one device "
             f"{elapsed['mixed']:.0f} s", read(work, "silent.out"))
    print(f"ok: one device {elapsed['mixed']:.0f} s, 5 behind 20 silent {elapsed['silent']:.0f} s; "
          "skips, canary, SIGTERM, unwritable report, plan and busy as expected")


def main():
    scenario, sim, cli, target, transition = sys.argv[1:6]
    namespace.enter()

    with tempfile.TemporaryDirectory() as work:
        if scenario == "ten":
            ten(sim, cli, target, transition, work)
        elif scenario == "interrupt":
            interrupt(sim, cli, work)
        elif scenario == "automation":
            automation(sim, cli, work)
        else:
            fail(f"unknown scenario {scenario}")


if __name__ == "__main__":
    main()
