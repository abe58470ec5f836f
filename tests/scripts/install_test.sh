#!/usr/bin/env bash
# Installs into a temporary home and a temporary system prefix, as a user
# with a strict umask would, checks what arrived and with which modes, and
# uninstalls again: the trees must be exactly as before. Also the CMake
# install rules under a prefix.
#   install_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src="$1" build="$2"
tmp="$(mktemp -d)"
trap 'chmod -R u+w "$tmp" 2>/dev/null; rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL  $*"; failures=$((failures + 1)); }
ok() { echo "ok    $*"; }

mode() { stat -c %a "$1"; }
tree() { (cd "$1" && find . -printf '%p %m %y\n' | sort); }

# Modes of an installed bundle: folders and the module 755, all else 644;
# and it holds what the build's bundle holds. For the VST 3 bundle (the
# folder given) and the LV2 bundle beside it in the LV2 folder.
check_one_bundle() {
  local b="$1" built="$2" res="$3" bad
  bad="$(find "$b" -type d ! -perm 0755; find "$b" -type f ! -name '*.so' ! -perm 0644;
         find "$b" -type f -name '*.so' ! -perm 0755)"
  [ -z "$bad" ] && ok "modes in $b" || fail "modes in $b: $bad"
  diff -r "$built" "$b" > /dev/null && ok "$b is the built bundle" || fail "$b differs from the build"
  local f
  for f in DejaVuSans.ttf DejaVuSans-Bold.ttf DejaVuSansMono.ttf DejaVuSansMono-Bold.ttf DejaVu-LICENSE.txt bg.png; do
    [ -f "$b/$res/$f" ] || fail "$b lacks $res/$f"
  done
}
check_bundle() {
  check_one_bundle "$1" "$build/Tavlo.vst3" Contents/Resources
  check_one_bundle "$2" "$build/Tavlo.lv2" Resources
  [ -f "$2/manifest.ttl" ] && [ -f "$2/Tavlo.so" ] && [ -f "$2/TavloUI.so" ] || fail "$2 lacks its manifest or modules"
}

# The renderer's manual page and bash completion, where man and
# bash-completion look, readable by all.
check_docs() {
  local share="$1" f
  for f in "$share/man/man1/tavlo-render.1" "$share/bash-completion/completions/tavlo-render"; do
    [ "$(mode "$f" 2>/dev/null)" = 644 ] && ok "$f" || fail "$f missing or not 644"
  done
  cmp -s "$share/man/man1/tavlo-render.1" "$build/tavlo-render.1" || fail "the installed manual page is not the built one"
}

# The VST 3 factory presets, in the vendor and plug-in folders hosts search:
# the build's files, one per program, readable by all.
check_presets() {
  local d="$1" bad
  bad="$(find "$d" -type d ! -perm 0755; find "$d" -type f ! -perm 0644)"
  [ -z "$bad" ] && ok "modes in $d" || fail "modes in $d: $bad"
  diff -r "$build/vst3-presets/Quillmarshworks/Tavlo" "$d" > /dev/null && ok "$d holds the built presets" \
    || fail "$d differs from the build's presets"
  [ "$(find "$d" -name '*.vstpreset' | wc -l)" = 12 ] && [ -f "$d/Default.vstpreset" ] \
    && [ -f "$d/Kick & Snare Punch.vstpreset" ] || fail "$d lacks presets"
}

# ---- For a user: a fresh home with another plug-in already in ~/.vst3.
home="$tmp/home"
mkdir -p "$home/.vst3/Other.vst3/Contents" "$home/.lv2/Other.lv2" "$home/.local/bin"
echo other > "$home/.lv2/Other.lv2/manifest.ttl"
echo other > "$home/.vst3/Other.vst3/Contents/file"
echo mine > "$home/.local/bin/tool"
before="$(tree "$home")"
run() { (umask 077; HOME="$home" TAVLO_BUILD_DIR="$build" XDG_DATA_HOME= PATH="/usr/bin:/bin" "$@"); }

out="$(run "$src/scripts/install" 2>&1)" && ok "install for a user" || fail "install for a user: $out"
check_bundle "$home/.vst3/Tavlo.vst3" "$home/.lv2/Tavlo.lv2"
check_docs "$home/.local/share"
check_presets "$home/.vst3/presets/Quillmarshworks/Tavlo"
[ "$(mode "$home/.local/bin/tavlo-render")" = 755 ] && ok "renderer 755" || fail "renderer mode $(mode "$home/.local/bin/tavlo-render")"
[ "$(mode "$home/.local/share")" = 755 ] || fail "made ~/.local/share with mode $(mode "$home/.local/share")"
grep -q "not on your PATH" <<< "$out" && ok "PATH note" || fail "no note that ~/.local/bin is not on PATH"
out="$(run "$src/scripts/install" 2>&1)" && ok "installing again" || fail "installing again: $out"
check_bundle "$home/.vst3/Tavlo.vst3" "$home/.lv2/Tavlo.lv2"
[ -z "$(find "$home/.vst3" "$home/.lv2" -maxdepth 1 -name '.Tavlo*')" ] || fail "staging folder left in ~/.vst3 or ~/.lv2"
out="$(run "$src/scripts/uninstall" 2>&1)" && ok "uninstall for a user" || fail "uninstall for a user: $out"
[ "$(tree "$home")" = "$before" ] && ok "home exactly as before" \
  || fail "home differs after uninstall: $(diff <(echo "$before") <(tree "$home"))"
out="$(run "$src/scripts/uninstall" 2>&1)" && grep -q "Nothing to uninstall" <<< "$out" \
  && ok "uninstalling twice" || fail "uninstalling twice: $out"

# ---- System-wide under a prefix whose bin and lib exist, as /usr/local's do.
prefix="$tmp/sys/usr/local"
mkdir -p "$prefix/bin" "$prefix/lib" "$prefix/share"
before="$(tree "$tmp/sys")"
out="$(run "$src/scripts/install" --prefix "$prefix" 2>&1)" && ok "install under a prefix" || fail "install under a prefix: $out"
check_bundle "$prefix/lib/vst3/Tavlo.vst3" "$prefix/lib/lv2/Tavlo.lv2"
check_docs "$prefix/share"
check_presets "$prefix/share/vst3/presets/Quillmarshworks/Tavlo"
[ "$(mode "$prefix/lib/vst3")" = 755 ] || fail "lib/vst3 mode $(mode "$prefix/lib/vst3")"
[ "$(mode "$prefix/lib/lv2")" = 755 ] || fail "lib/lv2 mode $(mode "$prefix/lib/lv2")"
[ "$(mode "$prefix/bin/tavlo-render")" = 755 ] || fail "bin/tavlo-render mode $(mode "$prefix/bin/tavlo-render")"
[ ! -e "$home/.vst3/Tavlo.vst3" ] && [ ! -e "$home/.lv2/Tavlo.lv2" ] || fail "a prefix install touched the home folder"
# Something else that lands in lib/vst3 meanwhile stays.
mkdir "$prefix/lib/vst3/Else.vst3"
out="$(run "$src/scripts/uninstall" --prefix="$prefix" 2>&1)" && ok "uninstall under a prefix" || fail "uninstall under a prefix: $out"
rmdir "$prefix/lib/vst3/Else.vst3" || fail "another bundle in lib/vst3 was removed"
rmdir "$prefix/lib/vst3" 2>/dev/null || true
[ "$(tree "$tmp/sys")" = "$before" ] && ok "prefix exactly as before" \
  || fail "prefix differs after uninstall: $(diff <(echo "$before") <(tree "$tmp/sys"))"

out="$(run "$src/scripts/install" --bogus 2>&1)" && fail "an unknown option was accepted" || ok "unknown option refused"

# ---- cmake --install follows the prefix.
out="$( (umask 077; cmake --install "$build" --prefix "$tmp/cmake") 2>&1)" && ok "cmake --install" || fail "cmake --install: $out"
check_bundle "$tmp/cmake/lib/vst3/Tavlo.vst3" "$tmp/cmake/lib/lv2/Tavlo.lv2"
check_docs "$tmp/cmake/share"
check_presets "$tmp/cmake/share/vst3/presets/Quillmarshworks/Tavlo"
[ "$(mode "$tmp/cmake/bin/tavlo-render")" = 755 ] || fail "cmake-installed renderer mode $(mode "$tmp/cmake/bin/tavlo-render")"

echo "$failures failure(s)"
[ "$failures" = 0 ]
