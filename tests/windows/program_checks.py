#!/usr/bin/env python3
"""Checks of the Windows programs under Wine, driven from Linux: each command of velomark-cli.exe
is run as the Linux build's velomark-cli is, against a simulated lidar on a pseudo-terminal that
the Wine prefix maps to a COM port; outputs and the frames the lidar received must be the same.
The window is started under Xvfb, shown in a screenshot and closed.

Usage: program_checks.py WINDOWS_BUILD LINUX_BUILD WORK_DIR SIGNER_PEM SIGNER_KEY
WINEPREFIX must name the prefix the layer tests ran in: the signer's certificate (SIGNER_PEM,
its key SIGNER_KEY) is in its "MY" store.
Prints one line per group: "NAME  N passed, M failed".
"""
import os
import subprocess
import sys
import time

COM = "COM6"
LIDAR = "VZQ Sim 12345"


class Checks:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, ok, what, detail=""):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
            print(f"FAIL {what}" + (f": {detail}" if detail else ""), flush=True)
        return ok

    def group(self, name, run):
        before = (self.passed, self.failed)
        try:
            run()
        except (OSError, subprocess.SubprocessError, ValueError) as error:
            self.check(False, name, repr(error))
        print(f"{name:<24} {self.passed - before[0]} passed, {self.failed - before[1]} failed", flush=True)


def crlf(text):
    """Linux output as the Windows build writes text: lines end in CR LF there."""
    return text.replace(b"\n", b"\r\n")


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def same_output(checks, what, linux, windows, enough=lambda out: True):
    """The Windows program succeeds and writes what the Linux one writes, with its line ends."""
    return checks.check(windows.returncode == 0 and windows.stdout == crlf(linux.stdout) and enough(linux.stdout),
                        what, f"{windows.stdout[:200]!r} against {linux.stdout[:200]!r}")


class Lidar:
    """lidar-sim on a pseudo-terminal that the prefix maps to COM6; its events file records
    what it received."""

    def __init__(self, sim, work, name, options):
        self.events = os.path.join(work, f"{name}.events")
        if os.path.exists(self.events):
            os.remove(self.events)
        self.process = subprocess.Popen([sim, "--events", self.events, *options], stdout=subprocess.PIPE, text=True)
        self.tty = self.process.stdout.readline().strip()
        link = os.path.join(os.environ["WINEPREFIX"], "dosdevices", COM.lower())
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(self.tty, link)

    def received(self):
        """Every byte the lidar received, in order, as hex (reads may cut them differently)."""
        with open(self.events, encoding="ascii") as events:
            return "".join(line.split()[2] for line in events if line.split()[1:2] == ["RX"])

    def stop(self):
        self.process.terminate()
        self.process.wait(10)


class Programs:
    def __init__(self, windows_build, linux_build, work, signer_pem, signer_key):
        self.work = work
        self.signer_pem, self.signer_key = signer_pem, signer_key
        self.exe = os.path.join(windows_build, "src", "cli", "velomark-cli.exe")
        self.window = os.path.join(windows_build, "src", "app", "velomark.exe")
        self.cli = os.path.join(linux_build, "src", "cli", "velomark-cli")
        self.sim = os.path.join(linux_build, "tools", "lidar-sim", "lidar-sim")

    def windows(self, *args):
        return subprocess.run(["wine", self.exe, *args], capture_output=True, timeout=120)

    def linux(self, *args):
        return subprocess.run([self.cli, *args], capture_output=True, timeout=120)


def version(checks, programs):
    same_output(checks, "--version", programs.linux("--version"), programs.windows("--version"))


def lidar_commands(checks, programs):
    def same(name, options, command, *more, output=None):
        """Runs the same command against a fresh lidar from each build; "{stem}" in `more`
        stands for the side's file-name prefix in the work folder, written as that side writes
        a path. Returns the Windows program's result."""
        results = {}
        for side, run, path in (("linux", programs.linux, str), ("windows", programs.windows, winpath)):
            lidar = Lidar(programs.sim, programs.work, f"{name}-{side}", options)
            port = lidar.tty if side == "linux" else COM
            stem = path(os.path.join(programs.work, f"{name}-{side}"))
            try:
                result = run(command, "--port", port, "--name", LIDAR, *(part.format(stem=stem) for part in more))
            finally:
                lidar.stop()
            results[side] = (result, lidar.received())
        (linux, linux_rx), (windows, windows_rx) = results["linux"], results["windows"]
        checks.check(linux.returncode == 0 and windows.returncode == 0, f"{name}: both succeed",
                     f"exit {linux.returncode} and {windows.returncode}: {windows.stderr[-400:]!r}")
        checks.check(windows_rx == linux_rx and windows_rx, f"{name}: the lidar received the same frames",
                     f"{windows_rx[:200]} against {linux_rx[:200]}")
        if output:
            with open(output.format(side="linux"), "rb") as a, open(output.format(side="windows"), "rb") as b:
                linux_bytes, windows_bytes = a.read(), b.read()
            checks.check(windows_bytes == crlf(linux_bytes) and linux_bytes, f"{name}: the same output")
        return windows

    same("identify", [], "identify")
    # A generated log follows the clock; both programs get the one a first lidar generated.
    stored = os.path.join(programs.work, "stored.dump")
    lidar = Lidar(programs.sim, programs.work, "stored", ["--demo-log", "150"])
    try:
        programs.linux("retrieve", "--port", lidar.tty, "--quiet", "--output", os.devnull, "--dump", stored,
                       "--archive", os.path.join(programs.work, "stored-archive"))
    finally:
        lidar.stop()
    # The older firmware's dump comes in 4096-byte bursts, each one in the port's buffer at once.
    bursts = ["--dump-baud", "100000000", "--dump-burst", "4096", "--dump-pause", "100"]
    for firmware, pace in (("9.3", []), ("9.2", bursts)):
        name = f"retrieve-{firmware}"
        same(name, ["--firmware", firmware, "--stored-log", stored, *pace], "retrieve", "--quiet",
             "--output", "{stem}.csv", "--dump", "{stem}.dump", "--archive", "{stem}-archive",
             output=os.path.join(programs.work, name + "-{side}.csv"))
    live = same("live", ["--live-interval", "200"], "live", "--seconds", "3", "--output", "{stem}.csv")
    checks.check(live.stdout.count(b"\n") >= 5, "live: the Windows program wrote the records", repr(live.stdout[:200]))
    same("erase", ["--demo-log", "20"], "erase", "--yes")


def decode(checks, programs):
    # The dump the Windows program retrieved above, decoded by both programs; the firmwares'
    # dumps differ only in the decoder, which the Linux tests own.
    dump = os.path.join(programs.work, "retrieve-9.3-windows.dump")
    for form in ("csv", "gpx"):
        arguments = ["decode", "--lidar-id", "12345", "--format", form]
        same_output(checks, f"decode {form}: byte for byte", programs.linux(*arguments, dump),
                    programs.windows(*arguments, winpath(dump)), enough=lambda out: out.count(b"\n") > 10)


def certificates(checks, programs):
    """The signer's certificate, which the layer tests imported into the prefix's "MY" store, as
    the recipient of an export: OpenSSL opens it with the signer's key."""
    listed = programs.windows("certs")
    checks.check(listed.returncode == 0 and b"Velomark Signer" in listed.stdout, "certs lists the signer's certificate",
                 repr(listed.stdout[:300]) + repr(listed.stderr[-300:]))
    plain = os.path.join(programs.work, "retrieve-9.3-windows.csv")
    sealed = os.path.join(programs.work, "export.p7m")
    encrypted = programs.windows("encrypt", "--to", "CN=Velomark Signer, O=Traffic Unit", winpath(plain),
                                 winpath(sealed))
    checks.check(encrypted.returncode == 0, "encrypt --to", repr(encrypted.stderr[-400:]))
    opened = subprocess.run(["openssl", "cms", "-decrypt", "-inform", "DER", "-in", sealed, "-recip",
                             programs.signer_pem, "-inkey", programs.signer_key], capture_output=True)
    with open(plain, "rb") as f:
        checks.check(opened.returncode == 0 and opened.stdout and opened.stdout == f.read(), "OpenSSL decrypts the export",
                     repr(opened.stderr[-300:]))


def signing(checks, programs):
    """A download record the Windows program archived, signed through velomark-cli.exe with the
    same certificate and key; OpenSSL checks it."""
    archive = os.path.join(programs.work, "retrieve-9.3-windows-archive")
    records = sorted(name for name in os.listdir(archive) if name.endswith(".json"))
    if not checks.check(len(records) == 1, "one download record archived", repr(records)):
        return
    record = os.path.join(archive, records[0])
    signed = programs.windows("sign", "--with", "Velomark Signer", winpath(record))
    checks.check(signed.returncode == 0, "sign --with", repr(signed.stderr[-400:]))
    verify = lambda content: subprocess.run(["openssl", "cms", "-verify", "-binary", "-inform", "DER", "-in",
                                             record + ".p7s", "-content", content, "-noverify", "-out", os.devnull],
                                            capture_output=True)
    verified = verify(record)
    checks.check(verified.returncode == 0, "OpenSSL verifies the record's signature", repr(verified.stderr[-300:]))
    changed = os.path.join(programs.work, "changed.json")
    with open(record, "rb") as original, open(changed, "wb") as copy:
        copy.write(original.read().replace(b"VZQ Sim 12345", b"VZQ Sim 12346"))
    checks.check(verify(changed).returncode != 0, "a changed record fails OpenSSL's check")


def window(checks, programs, screenshot):
    """The window under Xvfb through Wine's X11 driver; closed as a user closes it."""
    shot = os.path.join(programs.work, "window.png")
    env = dict(os.environ, VELOMARK_LIDARS=f"{LIDAR}={COM}")
    script = f"""
wine '{programs.window}' &
app=$!
for _ in $(seq 60); do
  xwininfo -root -tree 2>/dev/null | grep -q '"Velomark' && break
  sleep 1
done
sleep 3
import -window root '{shot}'
wine taskkill /IM velomark.exe >/dev/null 2>&1
timeout 30 tail --pid=$app -f /dev/null || exit 124
wait $app
"""
    result = subprocess.run(["xvfb-run", "-a", "-s", "-screen 0 1280x800x24", "bash", "-c", script],
                            capture_output=True, env=env, timeout=240)
    checks.check(result.returncode == 0, "the window closes cleanly", f"exit {result.returncode}")
    colours = subprocess.run(["identify", "-format", "%k", shot], capture_output=True, text=True)
    checks.check(colours.returncode == 0 and int(colours.stdout or 0) > 50, "the window shows on the screen",
                 f"{colours.stdout} colours")
    if colours.returncode == 0 and screenshot:
        subprocess.run(["convert", shot, "-trim", "+repage", screenshot], check=True)


def installer(checks, setup):
    """Installs silently, runs the installed program, uninstalls and looks for what is left."""
    prefix = os.environ["WINEPREFIX"]
    folder = os.path.join(prefix, "drive_c", "Program Files", "Velomark")
    menu = os.path.join(prefix, "drive_c", "ProgramData", "Microsoft", "Windows", "Start Menu", "Programs", "Velomark")
    key = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velomark"
    registered = lambda: subprocess.run(["wine", "reg", "query", key], capture_output=True, timeout=120).returncode == 0
    settle = lambda: subprocess.run(["wineserver", "-w"], timeout=300)

    installed = subprocess.run(["wine", setup, "/S"], capture_output=True, timeout=300)
    settle()
    checks.check(installed.returncode == 0, "the installer runs silently", f"exit {installed.returncode}")
    files = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
    checks.check(files == ["licences", "uninstall.exe", "velomark-cli.exe", "velomark.exe"], "the installed files",
                 repr(files))
    licences = sorted(os.listdir(os.path.join(folder, "licences"))) if "licences" in files else []
    checks.check(len(licences) == 4, "the licence texts", repr(licences))
    checks.check(os.path.isfile(os.path.join(menu, "Velomark.lnk")), "the Start-menu entry")
    checks.check(registered(), "the uninstaller is registered")
    version = subprocess.run(["wine", "C:\\Program Files\\Velomark\\velomark-cli.exe", "--version"],
                             capture_output=True, timeout=120)
    checks.check(version.returncode == 0 and version.stdout.startswith(b"Velomark "), "the installed program runs",
                 repr(version.stdout))

    # The uninstaller copies itself away and returns at once; the wait is for that copy.
    removed = subprocess.run(["wine", "C:\\Program Files\\Velomark\\uninstall.exe", "/S"], capture_output=True,
                             timeout=300)
    settle()
    for _ in range(30):
        if not os.path.exists(folder):
            break
        time.sleep(1)
    checks.check(removed.returncode == 0, "the uninstaller runs silently", f"exit {removed.returncode}")
    left = [os.path.join(top, name) for path in (folder, menu) if os.path.exists(path)
            for top, dirs, names in os.walk(path) for name in [""] + dirs + names]
    checks.check(not left and not registered(), "nothing is left after the uninstall", repr(left))


def toolchain(checks):
    """The toolchain is built once: a second run of its script builds nothing."""
    folder = subprocess.run(["scripts/windows-toolchain.sh", "--print-dir"], capture_output=True, text=True).stdout.strip()
    complete = os.path.join(folder, "complete")
    before = os.stat(complete).st_mtime_ns if os.path.exists(complete) else None
    again = subprocess.run(["scripts/windows-toolchain.sh"], capture_output=True, text=True, timeout=60)
    checks.check(again.returncode == 0 and again.stdout.strip() == folder and not again.stderr
                 and before == os.stat(complete).st_mtime_ns, "a second run reuses the toolchain",
                 again.stderr[-300:])
    checks.check(all(os.path.getsize(os.path.join(folder, name)) > 0 for name in ("build.log", "build-times.txt")),
                 "the toolchain keeps its log and build times")


def main():
    screenshot = os.environ.get("VELOMARK_WINDOWS_SCREENSHOT", "")
    checks = Checks()
    programs = Programs(*sys.argv[1:6])
    checks.group("toolchain", lambda: toolchain(checks))
    checks.group("program: version", lambda: version(checks, programs))
    checks.group("program: lidar commands", lambda: lidar_commands(checks, programs))
    checks.group("program: decode", lambda: decode(checks, programs))
    checks.group("program: certificates", lambda: certificates(checks, programs))
    checks.group("program: signing", lambda: signing(checks, programs))
    # Without xvfb-run the group fails on the missing program.
    checks.group("program: window", lambda: window(checks, programs, screenshot))
    setup = os.environ.get("VELOMARK_WINDOWS_SETUP", "")
    if setup:
        checks.group("installer", lambda: installer(checks, setup))
    return 0 if checks.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
