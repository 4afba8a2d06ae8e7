"""Independent reader for the autostart tests: GLib's key-file parser and shell quoting.

Usage: desktop_entry_peer.py ENTRYFILE
Prints the entry's groups, one a line, then the program path its Exec= key names, as hex of
its UTF-8 bytes (so any characters pass unchanged).
"""
import sys

import gi

gi.require_version("GLib", "2.0")
from gi.repository import GLib  # noqa: E402


def main():
    keyfile = GLib.KeyFile()
    with open(sys.argv[1], "rb") as f:
        data = f.read().decode("utf-8")
    keyfile.load_from_data(data, len(data.encode("utf-8")), GLib.KeyFileFlags.NONE)
    for group in keyfile.get_groups()[0]:
        print(group)
    ok, argv = GLib.shell_parse_argv(keyfile.get_string("Desktop Entry", "Exec"))
    # A literal % is written %% in Exec= (field codes); nothing else uses %.
    print(argv[0].replace("%%", "%").encode("utf-8").hex())


if __name__ == "__main__":
    main()
