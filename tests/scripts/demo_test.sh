#!/usr/bin/env bash
# The README's first command, scripts/demo, run as a user runs it (on the
# build at hand, its files into a temporary folder): it succeeds, builds only
# what it needs, and writes the renders, plots, snapshots and curve it lists.
#   demo_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src="$1" build="$2"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL  $*"; failures=$((failures + 1)); }
ok() { echo "ok    $*"; }

# As on a machine that has none of the packages: an apt-get that only notes
# what it was asked to install (and a sudo that runs it, not the real one).
fake="$tmp/fake-bin"
mkdir -p "$fake"
printf '#!/bin/sh\nexit 1\n' > "$fake/dpkg-query"
printf '#!/bin/sh\necho "$*" >> "%s"\n' "$tmp/apt.log" > "$fake/apt-get"
printf '#!/bin/sh\nexec "$@"\n' > "$fake/sudo"
chmod +x "$fake"/*
out="$(cd "$tmp" && PATH="$fake:$PATH" TAVLO_BUILD_DIR="$build" TAVLO_DEMO_DIR="$tmp/demo" TAVLO_JOBS=1 bash "$src/scripts/demo" 2>&1)" \
  && ok "scripts/demo" || fail "scripts/demo: $out"
asked="$(grep -w install "$tmp/apt.log" 2>/dev/null)"
if ! grep -qw cmake <<< "$asked" || ! grep -qw libcairo2-dev <<< "$asked"; then
  fail "the demo did not install the build's packages: '$asked'"
elif extra="$(grep -owE 'sox|jq|x42-plugins|swh-lv2|valgrind|xvfb|xdotool|ardour' <<< "$asked")"; then
  fail "the demo installs the tests' and benchmarks' packages too: $(echo $extra)"
else
  ok "the demo installs the build's packages only"
fi
grep -q "Built target tavlo-render" <<< "$out" && ok "it builds the renderer" || fail "no renderer built: $out"
grep -q "Built target TavloCLAPBundle" <<< "$out" && ok "it builds the CLAP bundle" || fail "no CLAP bundle built: $out"
grep -Eq 'test|bench|juce|xvfb|filmstrips|probe' <<< "$(grep 'Built target' <<< "$out")" \
  && fail "it builds more than the bundles and the renderer: $(grep 'Built target' <<< "$out")" || ok "only what it needs"

# Width and height from a PNG's header.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{ print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8 }'; }
for f in dry.png:1600x940 compressed.png:1600x940 dry-editor.png:786x483 compressed-editor.png:786x483 curve.png:1000x960; do
  name="${f%%:*}" size="${f#*:}"
  [ "$(png_size "$tmp/demo/$name" 2>/dev/null)" = "$size" ] && ok "$name, $size" || fail "$name is not a $size PNG"
  grep -qF "  $tmp/demo/$name" <<< "$out" || fail "$name is not in the list of files written"
done
for f in dry.wav compressed.wav; do
  [ "$(soxi -D "$tmp/demo/$f" 2>/dev/null)" = "8.000000" ] && [ "$(soxi -r "$tmp/demo/$f")" = 48000 ] \
    && ok "$f: 8 s at 48 kHz" || fail "$f is not 8 s at 48 kHz"
done
# The compressed render takes the loop down by about 6 dB on average, as
# the README says.
avg="$(grep "compressed.wav: 8.00 s" <<< "$out" | sed -n 's/.*gain reduction max [0-9.]* dB avg \([0-9.]*\) dB.*/\1/p')"
awk -v x="${avg:-0}" 'BEGIN { exit !(x >= 5 && x <= 7) }' && ok "the compressed render: $avg dB of average gain reduction" \
  || fail "the compressed render: '$avg' dB of average gain reduction, not about 6"
grep -q "Input 400: 1 dB of compression from" <<< "$out" && ok "the curve's lines" || fail "no curve lines: $out"
grep -q "scripts/install" <<< "$out" && ok "it points to scripts/install" || fail "no word of scripts/install"

# scripts/deps while another package manager holds dpkg's lock: it says it
# waits, waits, and installs once the lock is free (a small package that is
# not installed, removed again after).
pkg=hello hold=8
if [ "$(id -u)" != 0 ]; then
  echo "skip  scripts/deps waiting for dpkg's lock: not root"
elif dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
  echo "skip  scripts/deps waiting for dpkg's lock: $pkg is installed here already"
elif ! grep -q 'Candidate: [0-9]' <<< "$(apt-cache policy "$pkg" 2>/dev/null)"; then
  echo "skip  scripts/deps waiting for dpkg's lock: no $pkg package to install"
else
  echo "$pkg" > "$tmp/one.txt"
  # apt takes the lock with fcntl, as this does.
  python3 -c 'import fcntl, sys, time
f = open("/var/lib/dpkg/lock-frontend", "w"); fcntl.lockf(f, fcntl.LOCK_EX)
print("held", flush=True); time.sleep(float(sys.argv[1]))' "$hold" > "$tmp/held" &
  holder=$!
  cleanup() {
    kill "$holder" 2>/dev/null; wait "$holder" 2>/dev/null
    if dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      DEBIAN_FRONTEND=noninteractive apt-get -q -o DPkg::Lock::Timeout=60 purge -y "$pkg" > /dev/null 2>&1
    fi
    rm -rf "$tmp"
  }
  trap cleanup EXIT
  for _ in $(seq 50); do grep -q held "$tmp/held" && break; sleep 0.1; done
  start=$SECONDS
  out="$(TAVLO_APT_LOCK_TIMEOUT=60 bash "$src/scripts/deps" "$tmp/one.txt" 2>&1)"
  rc=$? took=$((SECONDS - start))
  if [ "$rc" = 0 ] && grep -q "Waiting for another package manager to finish (up to 60 s)" <<< "$out" \
     && dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" && [ "$took" -ge $((hold - 2)) ]; then
    ok "scripts/deps waits for dpkg's lock ($took s) and then installs"
  else
    fail "scripts/deps with dpkg's lock held: exit $rc after $took s: $out"
  fi
fi

echo "$failures failure(s)"
[ "$failures" = 0 ]
