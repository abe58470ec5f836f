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

out="$(cd "$tmp" && TAVLO_BUILD_DIR="$build" TAVLO_DEMO_DIR="$tmp/demo" TAVLO_JOBS=1 bash "$src/scripts/demo" 2>&1)" \
  && ok "scripts/demo" || fail "scripts/demo: $out"
grep -q "Built target tavlo-render" <<< "$out" && ok "it builds the renderer" || fail "no renderer built: $out"
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

echo "$failures failure(s)"
[ "$failures" = 0 ]
