#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR under /usr and checks what landed there: the
# file list against installed-files.txt, the desktop entry with desktop-file-validate, the
# AppStream metadata with appstreamcli (neither may report anything), and that the installed
# program writes its autostart entry naming itself and the installed icon.
# Usage: install_check.sh BUILD_DIR EXPECTED_LIST
set -euo pipefail
build="$1"
expected="$2"
work="$(mktemp -d)"
trap 'kill "${pid:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
dest="$work/root"
fail=0

DESTDIR="$dest" cmake --install "$build" --prefix /usr >/dev/null
(cd "$dest" && find . \( -type f -o -type l \) | sed 's|^\./|/|' | LC_ALL=C sort) >"$work/got"
if ! diff -u "$expected" "$work/got"; then
  echo "install_check: the installed files differ from $expected" >&2
  fail=1
fi

out="$(desktop-file-validate "$dest"/usr/share/applications/*.desktop 2>&1)" || true
if [[ -n "$out" ]]; then
  echo "install_check: desktop-file-validate: $out" >&2
  fail=1
fi
# On success appstreamcli prints only its summary line.
out="$(appstreamcli validate --no-net --no-color "$dest"/usr/share/metainfo/*.xml 2>&1)" || fail=1
issues="$(grep -v -e '^$' -e 'Validation was successful' <<<"$out" || true)"
if [[ -n "$issues" ]]; then
  echo "install_check: appstreamcli: $out" >&2
  fail=1
fi

# Installed, the autostart entry names the installed program and the icon by its id.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_DATA_HOME="$work/home/data"
export XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=offscreen KADENZA_TRAY_WAIT=0
# No session bus: nothing of this run shows up on the desktop of whoever runs the test.
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
"$dest/usr/bin/kadenza" >"$work/log" 2>&1 </dev/null &
pid=$!
entry="$XDG_CONFIG_HOME/autostart/kadenza.desktop"
for _ in $(seq 100); do
  [[ -s "$entry" ]] && break
  sleep 0.1
done
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
want="$(printf '%s\n' '[Desktop Entry]' 'Type=Application' 'Name=Kadenza' \
  'Comment=Odesílá připravený e-mail podle nastaveného rozvrhu' 'Icon=cz.kadenza.Kadenza' \
  "Exec=$dest/usr/bin/kadenza" 'Terminal=false' 'X-GNOME-Autostart-enabled=true')"
if [[ "$(cat "$entry" 2>/dev/null)" != "$want" ]]; then
  echo "install_check: autostart entry of the installed program:" >&2
  diff -u <(echo "$want") "$entry" >&2 || cat "$work/log" >&2
  fail=1
fi
exit "$fail"
