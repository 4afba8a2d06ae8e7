"""A NetworkManager for the network-wait tests: python-dbusmock's template on a private bus.

Usage: nm_mock.py --address-file F --state N   serve: a private bus with the mock on it; the
                                               bus address is written to F once the mock
                                               answers, with NetworkManager's State N
       nm_mock.py --address A --state N        switch the served mock to State N (20 is
                                               disconnected, 70 connected to the internet)
The served bus and mock stop when this process is terminated.
"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import dbus

NAME = "org.freedesktop.NetworkManager"


def set_state(address, state):
    bus = dbus.bus.BusConnection(address)
    mock = bus.get_object(NAME, "/org/freedesktop")
    mock.SetGlobalConnectionState(dbus.UInt32(state), dbus_interface="org.freedesktop.DBus.Mock")


def serve(address_file, state):
    # The bus's socket lies in a folder of this run's own; the folder, the bus and the mock
    # go when the run stops, also when it fails on the way.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    folder = tempfile.mkdtemp(prefix="kz-nm-bus-")
    procs = []
    try:
        daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1",
                                   "--address=unix:dir=" + folder], stdout=subprocess.PIPE,
                                  text=True)
        procs.append(daemon)
        address = daemon.stdout.readline().strip()
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=address)
        procs.insert(0, subprocess.Popen([sys.executable, "-m", "dbusmock", "--system",
                                          "--template", "networkmanager"], env=env,
                                         stdout=subprocess.DEVNULL))
        bus = dbus.bus.BusConnection(address)
        for _ in range(200):
            if bus.name_has_owner(NAME):
                break
            time.sleep(0.05)
        set_state(address, state)
        with open(address_file + ".tmp", "w") as f:
            f.write(address)
        os.rename(address_file + ".tmp", address_file)
        while True:
            time.sleep(3600)
    finally:
        # The folder goes first: a caller that tires of waiting kills the group.
        shutil.rmtree(folder, True)
        for p in procs:
            p.terminate()
            p.wait()


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--address-file")
    p.add_argument("--address")
    p.add_argument("--state", type=int, required=True)
    a = p.parse_args()
    if a.address:
        set_state(a.address, a.state)
    else:
        serve(a.address_file, a.state)


if __name__ == "__main__":
    main()
