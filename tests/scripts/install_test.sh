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
# folder given), the LV2 bundle beside it in the LV2 folder, and the CLAP
# module with its resources in the CLAP folder.
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
  check_one_bundle "$3/Tavlo.clap.resources" "$build/Tavlo.clap.resources" .
  cmp -s "$build/Tavlo.clap" "$3/Tavlo.clap" && [ "$(mode "$3/Tavlo.clap")" = 755 ] && ok "$3/Tavlo.clap, 755" \
    || fail "$3/Tavlo.clap is not the built module with mode 755"
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

# tavlo-jack beside tavlo-render: the program, the desktop file, the
# manual page and the completion (its editor's images are the CLAP
# bundle's).
check_jack() {
  local bin="$1" share="$2" f
  cmp -s "$build/tavlo-jack" "$bin/tavlo-jack" && [ "$(mode "$bin/tavlo-jack")" = 755 ] && ok "$bin/tavlo-jack, 755" \
    || fail "$bin/tavlo-jack is not the built program with mode 755"
  for f in "$share/applications/tavlo-jack.desktop" "$share/man/man1/tavlo-jack.1" \
           "$share/bash-completion/completions/tavlo-jack"; do
    [ "$(mode "$f" 2>/dev/null)" = 644 ] && ok "$f" || fail "$f missing or not 644"
  done
  grep -q "^Exec=tavlo-jack" "$share/applications/tavlo-jack.desktop" || fail "the desktop file does not start tavlo-jack"
}

# No factory preset as a .vstpreset file where VST 3 hosts look: they list
# the plug-in's program list, and would list every preset twice.
check_no_presets() {
  local presets="$1"
  [ -z "$(find "$presets" -name '*.vstpreset' 2>/dev/null)" ] && ok "no preset files in $presets" \
    || fail "factory preset files installed in $presets"
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
check_bundle "$home/.vst3/Tavlo.vst3" "$home/.lv2/Tavlo.lv2" "$home/.clap"
check_docs "$home/.local/share"
check_jack "$home/.local/bin" "$home/.local/share"
check_no_presets "$home/.vst3/presets"
[ "$(mode "$home/.local/bin/tavlo-render")" = 755 ] && ok "renderer 755" || fail "renderer mode $(mode "$home/.local/bin/tavlo-render")"
[ "$(mode "$home/.local/share")" = 755 ] || fail "made ~/.local/share with mode $(mode "$home/.local/share")"
grep -q "not on your PATH" <<< "$out" && ok "PATH note" || fail "no note that ~/.local/bin is not on PATH"
# The installed renderer finds the installed bundle by itself (beside it,
# in ../lib/vst3, then ~/.vst3) and renders what the build's renderer does.
system_bundle=0
for b in /usr/local/lib/vst3/Tavlo.vst3 /usr/lib/vst3/Tavlo.vst3; do [ -e "$b" ] && system_bundle=1; done
out="$(run "$home/.local/bin/tavlo-render" -q --set Input=80 "$tmp/installed.wav" 2>&1)" \
  && ok "the installed tavlo-render renders" || fail "the installed tavlo-render: $out"
"$build/tavlo-render" -q --plugin "$build/Tavlo.vst3" --set Input=80 "$tmp/built.wav" > /dev/null
cmp -s "$tmp/installed.wav" "$tmp/built.wav" && ok "it renders as the build does" || fail "the installed render differs"
rm -f "$tmp/installed.wav"
mv "$home/.vst3/Tavlo.vst3" "$tmp/aside.vst3"
out="$(run "$home/.local/bin/tavlo-render" -q "$tmp/installed.wav" 2>&1)"
if [ "$system_bundle" = 1 ]; then
  echo "skip  the renderer without ~/.vst3/Tavlo.vst3: this machine has a Tavlo.vst3 of its own"
elif grep -q "no Tavlo.vst3 beside this program, in its ../lib/vst3, or in ~/.vst3" <<< "$out"; then
  ok "without ~/.vst3/Tavlo.vst3 the installed renderer finds none (so it used that one)"
else
  fail "the installed renderer found a bundle other than ~/.vst3/Tavlo.vst3: $out"
fi
mv "$tmp/aside.vst3" "$home/.vst3/Tavlo.vst3"
rm -f "$tmp/installed.wav" "$tmp/built.wav"

# The factory preset files an earlier release installed, recorded as it
# recorded them, go with the next install, but for one the user changed.
old="$home/.vst3/presets/Quillmarshworks/Tavlo"
mkdir -p "$old"
cp "$build/vst3-presets/Quillmarshworks/Tavlo/"*.vstpreset "$old/"
manifest="$home/.local/share/tavlo/installed-files"
old_real="$(cd -P "$old" && pwd)"
{ echo "d $(dirname "$old_real")"; echo "d $old_real"
  for f in "$old_real"/*.vstpreset; do echo "f $(sha256sum < "$f" | cut -c1-64) $f"; done; } >> "$manifest"
echo changed >> "$old/Piano.vstpreset"
out="$(run "$src/scripts/install" 2>&1)" && ok "installing again" || fail "installing again: $out"
[ "$(ls -A "$old")" = Piano.vstpreset ] && ok "the earlier release's preset files are gone, the changed one stays" \
  || fail "preset files left after installing again: $(ls -A "$old")"
rm -rf "$home/.vst3/presets"
check_bundle "$home/.vst3/Tavlo.vst3" "$home/.lv2/Tavlo.lv2" "$home/.clap"
[ -z "$(find "$home/.vst3" "$home/.lv2" -maxdepth 1 -name '.Tavlo*')" ] || fail "staging folder left in ~/.vst3 or ~/.lv2"
out="$(run "$src/scripts/uninstall" 2>&1)" && ok "uninstall for a user" || fail "uninstall for a user: $out"
[ "$(tree "$home")" = "$before" ] && ok "home exactly as before" \
  || fail "home differs after uninstall: $(diff <(echo "$before") <(tree "$home"))"
out="$(run "$src/scripts/uninstall" 2>&1)" && grep -q "Nothing to uninstall" <<< "$out" \
  && ok "uninstalling twice" || fail "uninstalling twice: $out"

# ---- Uninstall keeps what is no longer what install put there: an edited
# preset file, a wrapper script in place of the renderer, and a developer's
# own build linked in place of the VST 3 bundle, which must survive whole.
home_real="$(cd -P "$home" && pwd)"
out="$(run "$src/scripts/install" 2>&1)" || fail "install before the changes: $out"
echo "# mine" >> "$home/.lv2/Tavlo.lv2/presets.ttl"
edited="$(cat "$home/.lv2/Tavlo.lv2/presets.ttl")"
printf '#!/bin/sh\nexec /opt/tavlo-render "$@"\n' > "$home/.local/bin/tavlo-render"
mkdir -p "$tmp/dev"
cp -R "$build/Tavlo.vst3" "$tmp/dev/Tavlo.vst3"
rm -rf "$home/.vst3/Tavlo.vst3"
ln -s "$tmp/dev/Tavlo.vst3" "$home/.vst3/Tavlo.vst3"
out="$(run "$src/scripts/uninstall" 2>&1)" && ok "uninstall after changes" || fail "uninstall after changes: $out"
diff -r "$build/Tavlo.vst3" "$tmp/dev/Tavlo.vst3" > /dev/null && ok "the linked build is whole" \
  || fail "uninstall deleted files of the build linked in place of the bundle"
[ -L "$home/.vst3/Tavlo.vst3" ] || fail "the link in place of the bundle was removed"
[ "$(cat "$home/.lv2/Tavlo.lv2/presets.ttl" 2>/dev/null)" = "$edited" ] && ok "the edited presets.ttl stays" \
  || fail "the edited presets.ttl was removed or changed"
grep -q "/opt/tavlo-render" "$home/.local/bin/tavlo-render" 2>/dev/null && ok "the wrapper script stays" \
  || fail "the wrapper script in place of tavlo-render was removed"
for note in "Left $home_real/.vst3/Tavlo.vst3: a symbolic link now (to $tmp/dev/Tavlo.vst3)" \
            "Left $home_real/.lv2/Tavlo.lv2/presets.ttl: changed since scripts/install put it there" \
            "Left $home_real/.local/bin/tavlo-render: changed since scripts/install put it there"; do
  grep -qF "$note" <<< "$out" && ok "note: ${note%%:*}" || fail "no note '$note' in: $out"
done
[ "$(grep -c '^Left' <<< "$out")" = 3 ] || fail "notes for more than the three things left: $out"
[ "$(ls -A "$home/.lv2/Tavlo.lv2")" = presets.ttl ] && ok "only presets.ttl left in Tavlo.lv2" \
  || fail "more than presets.ttl left in Tavlo.lv2: $(ls -A "$home/.lv2/Tavlo.lv2")"
# Uninstalling again once the three are taken away by hand removes the
# folders that held them: home is as before.
rm -f "$home/.vst3/Tavlo.vst3" "$home/.lv2/Tavlo.lv2/presets.ttl" "$home/.local/bin/tavlo-render"
out="$(run "$src/scripts/uninstall" 2>&1)" && ok "uninstall again" || fail "uninstall again: $out"
grep -q '^Left' <<< "$out" && fail "notes of things left a second time: $out"
[ "$(tree "$home")" = "$before" ] && ok "everything else was removed" \
  || fail "home differs after uninstall: $(diff <(echo "$before") <(tree "$home"))"
rm -rf "$tmp/dev"

# ---- A manifest written before files carried their checksum: uninstall
# leaves those files (it cannot tell them from others) and says how to go
# on; installing and uninstalling again then removes everything.
out="$(run "$src/scripts/install" 2>&1)" || fail "install: $out"
sed -i 's/^f [0-9a-f]\{64\} /f /' "$home/.local/share/tavlo/installed-files"
out="$(run "$src/scripts/uninstall" 2>&1)" && grep -q "Left [0-9]* files installed by an older scripts/install" <<< "$out" \
  && [ -f "$home/.lv2/Tavlo.lv2/manifest.ttl" ] && ok "files of an older manifest stay" || fail "older manifest: $out"
out="$(run "$src/scripts/install" 2>&1)" && out="$(run "$src/scripts/uninstall" 2>&1)" \
  && [ "$(tree "$home")" = "$before" ] && ok "install and uninstall again remove them" \
  || fail "after an older manifest, home differs: $out $(diff <(echo "$before") <(tree "$home"))"

# ---- An install killed while copying leaves nothing a host loads, and the
# next install or uninstall sweeps what it left. A build whose LV2 bundle
# holds a few thousand more files slows the copy down enough to catch it.
pad="$tmp/padded"
mkdir -p "$pad/completions"
cp -R "$build/Tavlo.vst3" "$build/Tavlo.lv2" "$build/Tavlo.clap" "$build/Tavlo.clap.resources" "$build/tavlo-render" \
  "$build/tavlo-render.1" "$pad/"
cp "$build/completions/tavlo-render" "$pad/completions/"
mkdir "$pad/Tavlo.lv2/pad"
(cd "$pad/Tavlo.lv2/pad" && seq -f 'f%g' 1 3000 | xargs touch)
state="$home/.local/share/tavlo"
caught=0
for attempt in 1 2 3 4 5; do
  (umask 077; HOME="$home" TAVLO_BUILD_DIR="$pad" XDG_DATA_HOME= PATH="/usr/bin:/bin" \
     exec setsid bash "$src/scripts/install" > /dev/null 2>&1) &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    if compgen -G "$state/staging.*" > /dev/null || compgen -G "$home/.lv2/.Tavlo*" > /dev/null \
       || compgen -G "$home/.vst3/.Tavlo*" > /dev/null; then
      kill -KILL -- -"$pid" 2>/dev/null && caught=1
      break
    fi
  done
  wait "$pid" 2>/dev/null
  [ "$caught" = 1 ] && break
done
if [ "$caught" = 1 ]; then
  ok "an install killed while copying"
  left_over="$(find "$home/.vst3" "$home/.lv2" -mindepth 1 -maxdepth 1 -name '.*')"
  [ -z "$left_over" ] && ok "nothing staged where hosts look" || fail "staged where hosts look: $left_over"
  uris="$(LV2_PATH="$home/.lv2" lv2ls 2>/dev/null | grep -c quillmarshworks || true)"
  [ "$uris" -le 1 ] && ok "LV2 hosts see no second Tavlo" || fail "lv2ls lists Tavlo $uris times"
else
  fail "no install was caught while copying in five tries"
fi
mkdir -p "$home/.lv2/.Tavlo.lv2.Ab3dE9"  # where older installs staged, beside the bundles
echo '<x> a <y> .' > "$home/.lv2/.Tavlo.lv2.Ab3dE9/manifest.ttl"
out="$(run "$src/scripts/install" 2>&1)" && ok "installing after the killed one" || fail "installing after the killed one: $out"
grep -q "Removed $state/staging\.[A-Za-z0-9]*, left by an install that was stopped" <<< "$out" \
  && ok "the killed install's staging folder is swept" || fail "no sweep of the killed install's staging folder: $out"
grep -q "Removed $home/.lv2/.Tavlo.lv2.Ab3dE9, left by an install that was stopped" <<< "$out" \
  && ok "the old staging folder beside the bundles is swept" || fail "no sweep of the old staging folder: $out"
[ -z "$(compgen -G "$state/staging.*")" ] && [ ! -e "$home/.lv2/.Tavlo.lv2.Ab3dE9" ] \
  && ok "no staging folder is left" || fail "staging folders left: $(ls -A "$state" "$home/.lv2")"
[ ! -e "$home/.lv2/Tavlo.lv2/pad" ] || fail "the killed install's bundle was not replaced"
out="$(run "$src/scripts/uninstall" 2>&1)" && ok "uninstall after the killed install" || fail "uninstall: $out"
[ "$(tree "$home")" = "$before" ] && ok "home exactly as before" \
  || fail "home differs after uninstall: $(diff <(echo "$before") <(tree "$home"))"
rm -rf "$pad"

# ---- An install stopped at any step (Ctrl-C or SIGTERM), fresh or over a
# complete install: every bundle where hosts look is the whole built one or
# absent, and uninstall then leaves the prefix exactly as before, once.
# TAVLO_INSTALL_TEST_STOP_AT=N makes the install signal itself at step N;
# the loop runs until an install passes its last step.
# The loop copies and hashes every file a few hundred times: it installs a
# copy of the build whose files are cut to 64 KiB, which takes the same
# steps in a fraction of the time (a sanitizer build's modules are 10 to
# 45 MB each).
stop="$tmp/stop" light="$tmp/light"
(
  source "$src/scripts/install-layout.sh"
  tavlo_layout --prefix "$stop"
  item() { mkdir -p "$light/$(dirname "$2")" && cp -R "$build/$2" "$light/$2"; }
  tavlo_install_items
)
find "$light" -type f -size +64k -exec truncate -s 64K {} +
# whole_or_none BUILD: what is wrong with the bundles in $stop, installed from BUILD.
whole_or_none() {
  local b from="$1"
  for b in "$stop/lib/vst3/Tavlo.vst3:$from/Tavlo.vst3" "$stop/lib/lv2/Tavlo.lv2:$from/Tavlo.lv2" \
           "$stop/lib/clap/Tavlo.clap.resources:$from/Tavlo.clap.resources" "$stop/lib/clap/Tavlo.clap:$from/Tavlo.clap"; do
    [ -e "${b%%:*}" ] || [ -L "${b%%:*}" ] || continue
    diff -r "${b#*:}" "${b%%:*}" > /dev/null 2>&1 || { echo "${b%%:*} is not the whole built bundle"; return; }
  done
  [ ! -e "$stop/lib/lv2/Tavlo.lv2" ] || { [ -f "$stop/lib/lv2/Tavlo.lv2/manifest.ttl" ] \
    && [ -f "$stop/lib/lv2/Tavlo.lv2/Tavlo.so" ] && [ -f "$stop/lib/lv2/Tavlo.lv2/TavloUI.so" ]; } \
    || echo "Tavlo.lv2 lacks its manifest or modules"
  [ ! -e "$stop/lib/vst3/Tavlo.vst3" ] || [ -f "$stop/lib/vst3/Tavlo.vst3/Contents/x86_64-linux/Tavlo.so" ] \
    || echo "Tavlo.vst3 lacks its module"
  # A CLAP host that finds the module finds its images too.
  [ ! -e "$stop/lib/clap/Tavlo.clap" ] || [ -f "$stop/lib/clap/Tavlo.clap.resources/bg.png" ] \
    || echo "Tavlo.clap is there without its resources"
}
# After a stopped install in $stop: uninstall twice; what went wrong, if anything.
undo_and_compare() {
  local out
  out="$(run "$src/scripts/uninstall" --prefix "$stop" 2>&1)" || { echo "uninstall failed: $out"; return; }
  grep -q "^Note:\|^Left" <<< "$out" && { echo "uninstall left something: $out"; return; }
  [ -z "$(cd "$stop" && find . -mindepth 1)" ] || { echo "left after uninstall: $(cd "$stop" && find . -mindepth 1 | head -5)"; return; }
  out="$(run "$src/scripts/uninstall" --prefix "$stop" 2>&1)"
  grep -q "Nothing to uninstall" <<< "$out" || echo "a second uninstall: $out"
}
stop_problems="" n=0 last=0 over_last=0
while [ "$last" = 0 ] && [ "$n" -lt 200 ]; do
  n=$((n + 1))
  sig=INT; [ $((n % 2)) = 0 ] && sig=TERM
  rm -rf "$stop"; mkdir "$stop"
  stopped() {
    run env TAVLO_BUILD_DIR="$light" TAVLO_INSTALL_TEST_STOP_AT="$n" TAVLO_INSTALL_TEST_SIGNAL="$sig" \
      "$src/scripts/install" --prefix "$stop" > /dev/null 2>&1
  }
  stopped && last=1
  p="$(whole_or_none "$light")"
  [ -z "$p" ] || stop_problems+="  fresh install stopped at step $n by SIG$sig: $p"$'\n'
  # Over the complete install, stopped at the same step of its own (it has
  # fewer: its folders are there).
  if [ "$over_last" = 0 ]; then
    run env TAVLO_BUILD_DIR="$light" "$src/scripts/install" --prefix "$stop" > /dev/null 2>&1 \
      || stop_problems+="  install after step $n failed"$'\n'
    stopped && over_last=1
    p="$(whole_or_none "$light")"
    [ -z "$p" ] || stop_problems+="  install over a complete one stopped at step $n by SIG$sig: $p"$'\n'
  fi
  p="$(undo_and_compare)"
  [ -z "$p" ] || stop_problems+="  after step $n: $p"$'\n'
done
if [ "$last" = 1 ] && [ "$n" -gt 10 ] && [ -z "$stop_problems" ]; then
  ok "installs stopped at each of their $((n - 1)) steps leave whole bundles or none, and uninstall removes all"
else
  fail "installs stopped at a step ($n steps, last=$last):"$'\n'"$stop_problems"
fi
# Without the hook: Ctrl-C after a few delays, within the install's time.
stop_problems=""
for delay in 0.05 0.1 0.15 0.2 0.25 0.3 0.4; do
  rm -rf "$stop"; mkdir "$stop"
  (umask 077; TAVLO_BUILD_DIR="$build" PATH="/usr/bin:/bin" timeout -s INT "$delay" "$src/scripts/install" --prefix "$stop" > /dev/null 2>&1)
  p="$(whole_or_none "$build")$(undo_and_compare)"
  [ -z "$p" ] || stop_problems+="  Ctrl-C after $delay s: $p"$'\n'
done
[ -z "$stop_problems" ] && ok "installs stopped by Ctrl-C after 0.05 to 0.4 s are undone" \
  || fail "installs stopped by Ctrl-C:"$'\n'"$stop_problems"
rm -rf "$stop"

# ---- System-wide under a prefix whose bin and lib exist, as /usr/local's do.
prefix="$tmp/sys/usr/local"
mkdir -p "$prefix/bin" "$prefix/lib" "$prefix/share"
before="$(tree "$tmp/sys")"
out="$(run "$src/scripts/install" --prefix "$prefix" 2>&1)" && ok "install under a prefix" || fail "install under a prefix: $out"
check_bundle "$prefix/lib/vst3/Tavlo.vst3" "$prefix/lib/lv2/Tavlo.lv2" "$prefix/lib/clap"
check_docs "$prefix/share"
check_jack "$prefix/bin" "$prefix/share"
check_no_presets "$prefix/share/vst3/presets"
[ "$(mode "$prefix/lib/vst3")" = 755 ] || fail "lib/vst3 mode $(mode "$prefix/lib/vst3")"
[ "$(mode "$prefix/lib/lv2")" = 755 ] || fail "lib/lv2 mode $(mode "$prefix/lib/lv2")"
[ "$(mode "$prefix/bin/tavlo-render")" = 755 ] || fail "bin/tavlo-render mode $(mode "$prefix/bin/tavlo-render")"
[ ! -e "$home/.vst3/Tavlo.vst3" ] && [ ! -e "$home/.lv2/Tavlo.lv2" ] && [ ! -e "$home/.clap" ] \
  || fail "a prefix install touched the home folder"
# PREFIX/bin/tavlo-render finds PREFIX/lib/vst3/Tavlo.vst3, with none in ~/.vst3.
out="$(run "$prefix/bin/tavlo-render" -q --set Input=80 "$tmp/prefix.wav" 2>&1)" && [ -s "$tmp/prefix.wav" ] \
  && ok "the renderer under the prefix finds its bundle" || fail "the renderer under the prefix: $out"
rm -f "$tmp/prefix.wav"
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
check_bundle "$tmp/cmake/lib/vst3/Tavlo.vst3" "$tmp/cmake/lib/lv2/Tavlo.lv2" "$tmp/cmake/lib/clap"
check_docs "$tmp/cmake/share"
check_no_presets "$tmp/cmake/share/vst3/presets"
[ "$(mode "$tmp/cmake/bin/tavlo-render")" = 755 ] || fail "cmake-installed renderer mode $(mode "$tmp/cmake/bin/tavlo-render")"

echo "$failures failure(s)"
[ "$failures" = 0 ]
