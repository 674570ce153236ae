#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR and checks what a Debian system will get: every file a
# program looks for beside its executable is there, as a link to where it belongs, and the
# programs run from the staged tree find their catalogues through those links.
set -euo pipefail
build="$1"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install "$build" --prefix /usr >"$stage.log" 2>&1 || { cat "$stage.log"; rm -f "$stage.log"; exit 1; }
rm -f "$stage.log"
fails=0
expect_link() {  # link, target
  if [ "$(readlink "$stage$1")" != "$2" ]; then
    echo "FAIL: $1 should link to $2 (is: $(readlink "$stage$1" || echo none))"
    fails=$((fails + 1))
  fi
}
expect_file() {
  if [ ! -f "$stage$1" ] || [ -L "$stage$1" ]; then
    echo "FAIL: $1 is not a file"
    fails=$((fails + 1))
  fi
}
for f in ravelin ravelin-cli; do expect_file "/usr/lib/ravelin/$f"; done
expect_file /usr/lib/meridia/country
expect_file /usr/bin/modemsim
expect_link /usr/bin/ravelin ../lib/ravelin/ravelin
expect_link /usr/bin/ravelin-cli ../lib/ravelin/ravelin-cli
expect_link /usr/bin/country ../lib/meridia/country
for f in Models.ini Locks.ini; do expect_link "/usr/lib/ravelin/$f" "/etc/ravelin/$f"; expect_file "/etc/ravelin/$f"; done
for f in Country.ini Models.ini; do expect_link "/usr/lib/meridia/$f" "/etc/meridia/$f"; expect_file "/etc/meridia/$f"; done
for f in Flash.ini log.txt history.db; do expect_link "/usr/lib/ravelin/$f" "/var/lib/ravelin/$f"; done
expect_link /usr/lib/meridia/modem.ini /var/lib/meridia/modem.ini
for f in NewFlashLdr.hex OcmFldr.hex; do
  expect_link "/usr/lib/ravelin/$f" "../../share/ravelin/loaders/$f"
  [ -f "$stage/usr/lib/ravelin/$f" ] || { echo "FAIL: $f does not resolve"; fails=$((fails + 1)); }
done
[ -f "$stage/usr/lib/meridia/Help.txt" ] || { echo "FAIL: Help.txt does not resolve"; fails=$((fails + 1)); }
[ -d "$stage/var/lib/ravelin" ] && [ -d "$stage/var/lib/meridia" ] || { echo "FAIL: no /var/lib directories"; fails=$((fails + 1)); }
for f in ravelin meridia; do
  expect_file "/usr/share/applications/$f.desktop"
  grep -q "^Icon=$f$" "$stage/usr/share/applications/$f.desktop" || { echo "FAIL: $f.desktop names another icon"; fails=$((fails + 1)); }
  for size in 48 128; do
    png="$stage/usr/share/icons/hicolor/${size}x$size/apps/$f.png"
    # A PNG of the size its directory names: width and height are big-endian at bytes 16 and 20.
    if [ "$(od -An -tu1 -j16 -N8 "$png" 2>/dev/null | tr -s ' ')" != " 0 0 0 $size 0 0 0 $size" ]; then
      echo "FAIL: $png is not a $size pixel square PNG"
      fails=$((fails + 1))
    fi
  done
done
for page in ravelin ravelin-cli country modemsim; do expect_file "/usr/share/man/man1/$page.1"; done
for doc in README.md exit-codes.txt copyright; do expect_file "/usr/share/doc/ravelin-suite/$doc"; done
expect_file /usr/share/ravelin/sim/ident/demo_bank.ini
expect_file /usr/share/ravelin/sim/country/agere_ab12.txt

# The installed program loads its catalogues through links beside it. Its own links name the real
# /etc, so a copy gets links to the staged /etc: with them it gets past the catalogues (2: not
# found) and reports the missing port (3: no device).
copy="$stage/copy"
mkdir -p "$copy"
cp "$stage/usr/lib/ravelin/ravelin-cli" "$copy/"
for f in Models.ini Locks.ini; do ln -s "$stage/etc/ravelin/$f" "$copy/$f"; done
status=0
SERIAL_PORTS_DIR="$stage/no-ports" "$copy/ravelin-cli" probe COM1 >"$stage/probe.out" 2>&1 || status=$?
if [ "$status" -ne 3 ]; then
  echo "FAIL: ravelin-cli probe through linked catalogues ended with $status:"; cat "$stage/probe.out"
  fails=$((fails + 1))
fi
[ "$fails" -eq 0 ] || exit 1
echo "staged install: all checks passed"
