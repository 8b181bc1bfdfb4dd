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

Exits 77 (skipped) without root: the devices' port 80, TFTP's port 69 and the namespace.
"""
import json
import os
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77
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


def main():
    scenario, sim, cli, target, transition = sys.argv[1:6]
    if os.geteuid() != 0:
        print("skipped: ports 80 and 69 and a network namespace need root")
        sys.exit(SKIP)
    if os.environ.get("QOR_IN_NAMESPACE") != "1":
        env = dict(os.environ, QOR_IN_NAMESPACE="1")
        probe = subprocess.run(["unshare", "--net", "true"], capture_output=True)
        if probe.returncode != 0:
            print("skipped: cannot make a network namespace: " + probe.stderr.decode().strip())
            sys.exit(SKIP)
        sys.exit(subprocess.run(["unshare", "--net", sys.executable, *sys.argv], env=env).returncode)
    # Only inside the namespace made above: its loopback is ours alone.
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)

    with tempfile.TemporaryDirectory() as work:
        if scenario == "ten":
            ten(sim, cli, target, transition, work)
        elif scenario == "interrupt":
            interrupt(sim, cli, work)
        else:
            fail(f"unknown scenario {scenario}")


if __name__ == "__main__":
    main()
