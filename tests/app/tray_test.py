"""The application on a virtual X server (Xvfb) with a private session bus, as at a login:
the tray host (a StatusNotifier watcher or an X tray) appears late, or never, and the desktop entry's Exec= line is run while a copy
runs. Usage: tray_test.py KADENZA_BINARY DESKTOP_ENTRY TEST_NAME"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
KADENZA = sys.argv[1] if len(sys.argv) > 1 else ""
DESKTOP_ENTRY = sys.argv[2] if len(sys.argv) > 2 else ""
NO_TRAY = "Oznamovací oblast není k dispozici; nastavení otevřete z nabídky aplikací"


class Lines:
    """Lines a child prints, read with a deadline."""

    def __init__(self, proc):
        self.proc = proc
        os.set_blocking(proc.stdout.fileno(), False)
        self.buffer = b""

    def next(self, timeout):
        end = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            if time.monotonic() > end:
                return None
            chunk = self.proc.stdout.read()
            if chunk:
                self.buffer += chunk
            else:
                time.sleep(0.05)
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.decode()

    def all(self, wait):
        out = []
        while (line := self.next(wait)) is not None:
            out.append(line)
        return out


class Desktop(unittest.TestCase):
    def setUp(self):
        self.procs = []
        self.tmp = tempfile.mkdtemp(prefix="kadenza-tray-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.addCleanup(self.stop_all)
        env = dict(os.environ)
        for var in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS"):
            env.pop(var, None)
        home = os.path.join(self.tmp, "home")
        run = os.path.join(self.tmp, "run")
        os.makedirs(home)
        os.makedirs(run, mode=0o700)
        env.update(HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"),
                   XDG_DATA_HOME=os.path.join(home, "data"), XDG_RUNTIME_DIR=run,
                   QT_QPA_PLATFORM="xcb", KADENZA_TRAY_WAIT="60")
        # Xvfb picks a free display and writes its number to the descriptor given.
        read_fd, write_fd = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0",
                                 "800x600x24", "-nolisten", "tcp"], pass_fds=(write_fd,),
                                stderr=subprocess.DEVNULL)
        self.procs.append(xvfb)
        os.close(write_fd)
        with os.fdopen(read_fd) as f:
            display = f.readline().strip()
        self.assertTrue(display, "Xvfb did not start")
        env["DISPLAY"] = ":" + display
        # The bus's socket lies in the test's folder, which goes when the test ends.
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1",
                                "--address=unix:dir=" + run], stdout=subprocess.PIPE)
        self.procs.append(bus)
        env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().decode().strip()
        self.env = env
        self.data = os.path.join(env["XDG_DATA_HOME"], "Kadenza")

    def stop_all(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
            for f in (p.stdin, p.stdout, p.stderr):
                if f:
                    f.close()

    def start(self, args, **kw):
        p = subprocess.Popen(args, env=self.env, stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, **kw)
        self.procs.append(p)
        return p

    def start_kadenza(self):
        with open(os.path.join(self.tmp, "kadenza.log"), "w") as log:
            return self.start([KADENZA], stderr=log)

    def start_helper(self, script, *args):
        p = self.start(["/usr/bin/python3", os.path.join(HERE, script), *args])
        lines = Lines(p)
        self.assertEqual(lines.next(10), "ready")
        return lines

    def stored_schedule(self):
        # An existing setup.dat: the start shows no window, the schedule runs.
        os.makedirs(self.data, mode=0o700)
        with open(os.path.join(self.data, "setup.dat"), "w") as f:
            f.write("[Nastaveni]\n")

    def history(self):
        try:
            with open(os.path.join(self.data, "historie.log"), encoding="utf-8") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def viewable(self, title):
        out = subprocess.run(["xwininfo", "-root", "-tree"], env=self.env, capture_output=True,
                             text=True).stdout
        ids = [line.split()[0] for line in out.splitlines() if f'"{title}"' in line]
        for wid in ids:
            info = subprocess.run(["xwininfo", "-id", wid], env=self.env, capture_output=True,
                                  text=True).stdout
            if "IsViewable" in info:
                return True
        return False

    def test_late_watcher(self):
        """The panel's watcher comes three seconds after the program: the icon is registered
        with it then, with the program's three menu entries."""
        self.stored_schedule()
        kadenza = self.start_kadenza()
        time.sleep(3)
        self.assertIsNone(kadenza.poll())
        watcher = self.start_helper("status_notifier_watcher.py")
        item = watcher.next(10)
        self.assertIsNotNone(item, "no item registered")
        self.assertTrue(item.startswith("item "), item)
        self.assertEqual(watcher.next(10), "menu Nastavení|Historie odeslání|Konec")
        self.assertIsNone(kadenza.poll())

    def test_late_xembed_tray(self):
        """An X tray (the selection _NET_SYSTEM_TRAY_S0 gets an owner) three seconds after the
        program, no StatusNotifier watcher: the icon asks that tray to dock it."""
        self.stored_schedule()
        kadenza = self.start_kadenza()
        time.sleep(3)
        self.assertIsNone(kadenza.poll())
        tray = self.start_helper("xembed_tray.py")
        self.assertEqual(tray.next(10), "dock")
        self.assertIsNone(kadenza.poll())

    def test_no_tray_host(self):
        """No host within the wait: one notification, one history line, still running."""
        self.env["KADENZA_TRAY_WAIT"] = "2"
        self.stored_schedule()
        notes = self.start_helper("notification_server.py", self.env["DBUS_SESSION_BUS_ADDRESS"],
                                  "--actions")
        kadenza = self.start_kadenza()
        shown = notes.all(6)
        self.assertEqual(shown, [f"notify 0 1 10000 Kadenza|{NO_TRAY} "
                                 "entry=cz.kadenza.Kadenza actions="])
        self.assertIsNone(kadenza.poll())
        lines = [line for line in self.history() if "oznamovací oblast" in line]
        self.assertEqual(len(lines), 1, self.history())
        self.assertTrue(lines[0].endswith(f"\toznamovací oblast\t{NO_TRAY}\t0\t"), lines[0])

    def test_menu_entry_opens_running_copy(self):
        """The applications menu runs the entry's Exec= line: the running copy opens its
        setup window and the new one ends."""
        self.env["KADENZA_TRAY_WAIT"] = "0"
        self.stored_schedule()
        kadenza = self.start_kadenza()
        lock = os.path.join(self.env["XDG_RUNTIME_DIR"])
        end = time.monotonic() + 10
        while not any(n.startswith("kadenza-") for n in os.listdir(lock)):
            self.assertLess(time.monotonic(), end, "the first copy did not start")
            time.sleep(0.1)
        time.sleep(1)
        self.assertFalse(self.viewable("Kadenza"))
        with open(DESKTOP_ENTRY, encoding="utf-8") as f:
            execs = [line[5:] for line in f.read().splitlines() if line.startswith("Exec=")]
        self.assertEqual(execs, ["kadenza"])
        env = dict(self.env, PATH=os.path.dirname(KADENZA) + ":" + self.env["PATH"])
        second = subprocess.run(execs[0].split(), env=env, timeout=20, capture_output=True)
        self.assertEqual(second.returncode, 0, second.stderr)
        end = time.monotonic() + 10
        while not self.viewable("Kadenza"):
            self.assertLess(time.monotonic(), end, "no setup window")
            time.sleep(0.2)
        self.assertIsNone(kadenza.poll())


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], *sys.argv[3:]], verbosity=2)
