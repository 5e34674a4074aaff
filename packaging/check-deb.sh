#!/usr/bin/env bash
# Checks a built zanst .deb: unpacks it (dpkg -x) into a temporary root, checks that every file a
# desktop needs is there and valid (desktop entry, icons, metainfo, manual pages, the udev rule),
# that the unpacked programs answer --version and --help, that shlibdeps filled in the
# dependencies, and that lintian reports no error. Prints lintian's warnings. Exit status 1 on the
# first failure.
#
# Usage: packaging/check-deb.sh PACKAGE.deb
set -euo pipefail
deb="$(realpath "$1")" # the checks below run from other folders
check_rules="$(realpath "$(dirname "$0")")/udev/check-rules.sh"
root="$(mktemp -d /tmp/zanst-deb.XXXXXX)"
trap 'rm -rf "$root"' EXIT

fail() {
  echo "check-deb: $*" >&2
  exit 1
}

dpkg-deb --info "$deb" > "$root/control"
dpkg -x "$deb" "$root/fs"
cd "$root/fs"

for f in usr/bin/zanst usr/bin/zanst-sim usr/bin/zanst-cli; do
  [ -x "$f" ] || fail "$f missing or not executable"
  file "$f" | grep -q 'ELF.*stripped' || fail "$f is not a stripped ELF program: $(file "$f")"
  file "$f" | grep -q 'not stripped' && fail "$f carries its symbols"
done
for f in usr/share/applications/zanst.desktop usr/share/metainfo/com.kestrova.zanst.metainfo.xml \
  usr/share/icons/hicolor/scalable/apps/zanst.svg usr/share/man/man1/zanst.1.gz \
  usr/share/man/man1/zanst-sim.1.gz usr/share/doc/zanst/copyright usr/share/doc/zanst/changelog.gz \
  usr/share/doc/zanst/user-guide.md usr/share/man/man1/zanst-cli.1.gz \
  usr/share/bash-completion/completions/zanst-cli; do
  [ -s "$f" ] || fail "$f missing or empty"
done
for size in 16 22 24 32 48 64 128 256; do
  png="usr/share/icons/hicolor/${size}x${size}/apps/zanst.png"
  file "$png" | grep -q "PNG image data, $size x $size," || fail "$png: $(file "$png" 2>&1)"
done
# Every picture the user guide shows is in the package.
grep -o 'screenshots/[a-z0-9-]*\.png' usr/share/doc/zanst/user-guide.md | sort -u | while read -r shot; do
  [ -s "usr/share/doc/zanst/$shot" ] || fail "user guide picture $shot missing"
done

# The latency rule where udev reads package rules, and nothing in it but the latency timer.
rules=usr/lib/udev/rules.d/60-zanst-ftdi-latency.rules
[ -s "$rules" ] || fail "$rules missing or empty"
"$check_rules" "$rules" || fail "$rules does not pass its check"

desktop-file-validate usr/share/applications/zanst.desktop || fail "desktop entry invalid"
grep -qx 'Exec=zanst' usr/share/applications/zanst.desktop || fail "desktop entry does not start zanst"
appstreamcli validate --no-net usr/share/metainfo/com.kestrova.zanst.metainfo.xml || fail "metainfo invalid"

version="$(dpkg-deb --field "$deb" Version)"
for page in zanst zanst-sim zanst-cli; do
  # grep -c reads to the end, so zcat never meets a closed pipe.
  zcat "usr/share/man/man1/$page.1.gz" | grep -c "^\.TH .* \"Zanst $version\"" > /dev/null ||
    fail "man page $page does not name version $version"
  warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "usr/share/man/man1/$page.1.gz" 2>&1 > /dev/null)"
  [ -z "$warnings" ] || fail "man page $page: $warnings"
done

grep -Eq '^ Depends:.*libqt6widgets6.*' "$root/control" || fail "no Qt dependency found by shlibdeps"
grep -Eq '^ Depends:.*libqt6serialport6' "$root/control" || fail "no serial port dependency"
grep -Eq '^ Depends:.*libc6' "$root/control" || fail "no C library dependency"

# Whole outputs first: grep -q would close the pipe early.
out="$(env -u DISPLAY -u WAYLAND_DISPLAY ./usr/bin/zanst --version)"
[[ "$out" == "zanst $version ("* ]] || fail "the packaged zanst reports \"$out\", not version $version"
out="$(env -u DISPLAY -u WAYLAND_DISPLAY ./usr/bin/zanst --help)"
[[ "$out" == *--service* ]] || fail "zanst --help: $out"
out="$(./usr/bin/zanst-sim --help)"
[[ "$out" == *"Usage: zanst-sim"* ]] || fail "zanst-sim --help: $out"
out="$(./usr/bin/zanst-cli --version)"
[[ "$out" == "zanst-cli $version" ]] || fail "the packaged zanst-cli reports \"$out\", not version $version"
out="$(./usr/bin/zanst-cli --help)"
[[ "$out" == *"Usage: zanst-cli"*export* ]] || fail "zanst-cli --help: $out"
# zanst-cli links no widget library.
if readelf -d usr/bin/zanst-cli | grep -E 'NEEDED.*lib(Qt6(Widgets|Gui)|GL|X11|xcb)'; then
  fail "zanst-cli links a widget library"
fi
[[ "$out" == *visits*report* ]] || fail "zanst-cli --help lists no visits and report: $out"
# The PDF writer of report --pdf: beside the package's other private files, stripped, the one
# part that needs Qt Gui; the packaged zanst-cli finds and loads it relative to itself.
pdf_writer="$(ls usr/lib/*/zanst/libzanst_report_pdf.so 2> /dev/null || true)"
[ -s "$pdf_writer" ] || fail "the PDF writer is not in the package's private library folder"
file "$pdf_writer" | grep -q 'ELF.*shared object.*stripped' || fail "$pdf_writer: $(file "$pdf_writer")"
file "$pdf_writer" | grep -q 'not stripped' && fail "$pdf_writer carries its symbols"
readelf -d "$pdf_writer" | grep -q 'NEEDED.*libQt6Gui' || fail "$pdf_writer does not link Qt Gui"
out="$(env -u ZANST_REPORT_PDF_LIBRARY ZANST_SERVICE_DB="sqlite://$root/none.sqlite" \
  ./usr/bin/zanst-cli report 0 --pdf "$root/r.pdf" 2>&1 || true)"
[[ "$out" == *"there is no service log at $root/none.sqlite"* ]] ||
  fail "the packaged zanst-cli does not load its PDF writer: $out"
bash -n usr/share/bash-completion/completions/zanst-cli || fail "bash completion of zanst-cli does not parse"
(
  # shellcheck disable=SC1091
  . usr/share/bash-completion/completions/zanst-cli
  COMP_WORDS=(zanst-cli check --max-)
  COMP_CWORD=2
  _zanst_cli
  [[ " ${COMPREPLY[*]} " == *" --max-spread-mv "* ]] || fail "completion of zanst-cli check --max-: ${COMPREPLY[*]}"
)
lua="$(ls usr/lib/*/wireshark/plugins/zanst.lua 2> /dev/null || true)"
[ -s "$lua" ] || fail "the Wireshark dissector is not where Wireshark looks for global Lua plugins"
if command -v tshark > /dev/null; then
  # A capture of one mode record, exported by the packaged zanst-cli, decoded with the packaged dissector.
  printf 'ZANSTCAP\x01\x00\x18\x00\x90\xd0\x03\x00%b\x02\x01\x00\x03' \
    '\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00' > "$root/mode.zcap"
  ./usr/bin/zanst-cli export "$root/mode.zcap" --pcapng "$root/mode.pcapng" > /dev/null ||
    fail "the packaged zanst-cli cannot export a capture"
  out="$(tshark -X "lua_script:$lua" -r "$root/mode.pcapng" -T fields -e _ws.col.Info 2> /dev/null)"
  [[ "$out" == "Mode: Battery tester" ]] || fail "tshark with the packaged dissector shows \"$out\""
fi

cd /
lintian --tag-display-limit 0 "$deb" > "$root/lintian.txt" 2>&1 || true
cat "$root/lintian.txt"
if grep -q '^E: ' "$root/lintian.txt"; then
  fail "lintian reports errors"
fi
echo "check-deb: $deb passed ($(grep -c '^W: ' "$root/lintian.txt" || true) lintian warnings)"
