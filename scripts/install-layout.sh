# What Tavlo installs and where; sourced by scripts/install and
# scripts/uninstall, which take the same options:
#   (none)          for the current user: ~/.vst3, ~/.lv2, ~/.clap, ~/.local/bin,
#                   ~/.local/share
#   --prefix DIR    system-wide under DIR (e.g. /usr/local, as root):
#                   DIR/lib/vst3, DIR/lib/lv2, DIR/lib/clap, DIR/bin, DIR/share
# TAVLO_VST3_DIR, TAVLO_LV2_DIR, TAVLO_CLAP_DIR, TAVLO_BIN_DIR, TAVLO_SHARE_DIR
# and TAVLO_VST3_PRESETS_DIR override single folders.
#
# To install something more, add one line to tavlo_install_items below (and
# its build target to TAVLO_INSTALL_TARGETS):
#   item bundle NAME FOLDER       the build's folder NAME, copied whole into
#                                 FOLDER under its last component (replaced
#                                 on every install)
#   item file NAME FOLDER [MODE]  the build's file NAME (default mode 0644),
#                                 installed under its last component
# and, for a new kind of folder, its variable beside the others, e.g.
#   TAVLO_MAN1_DIR="$TAVLO_SHARE_DIR/man/man1" ... item file tavlo-render.1 "$TAVLO_MAN1_DIR"
# Folders are made 0755, files 0644, programs and modules (*.so) 0755.
# Every path put in place is recorded in the manifest with its content's
# SHA-256, from which scripts/uninstall removes exactly the files that are
# still what was put there. Both keep their state in TAVLO_STATE_DIR, where
# no plug-in host looks: the manifest, and the bundles while they are copied
# (or, for a folder on another filesystem, a hidden folder in that folder).

tavlo_layout()
{
  local prefix=""
  while [ $# -gt 0 ]; do
    case "$1" in
      --prefix) [ $# -ge 2 ] || { echo "$0: --prefix needs a folder" >&2; exit 2; }
                prefix="$2"; shift 2 ;;
      --prefix=*) prefix="${1#--prefix=}"; shift ;;
      -h|--help) sed -n '2,/^set -/p' "$0" | sed -e '$d' -e 's/^# \{0,1\}//'; exit 0 ;;
      *) echo "$0: unknown argument '$1' (try --help)" >&2; exit 2 ;;
    esac
  done
  if [ -n "$prefix" ]; then
    prefix="$(realpath -m -- "$prefix")"
    TAVLO_VST3_DIR="${TAVLO_VST3_DIR:-$prefix/lib/vst3}"
    TAVLO_LV2_DIR="${TAVLO_LV2_DIR:-$prefix/lib/lv2}"
    TAVLO_CLAP_DIR="${TAVLO_CLAP_DIR:-$prefix/lib/clap}"
    TAVLO_BIN_DIR="${TAVLO_BIN_DIR:-$prefix/bin}"
    TAVLO_SHARE_DIR="${TAVLO_SHARE_DIR:-$prefix/share}"
    TAVLO_VST3_PRESETS_DIR="${TAVLO_VST3_PRESETS_DIR:-$TAVLO_SHARE_DIR/vst3/presets}"
  else
    : "${HOME:?HOME is not set}"
    TAVLO_VST3_DIR="${TAVLO_VST3_DIR:-$HOME/.vst3}"
    TAVLO_LV2_DIR="${TAVLO_LV2_DIR:-$HOME/.lv2}"
    TAVLO_CLAP_DIR="${TAVLO_CLAP_DIR:-$HOME/.clap}"
    TAVLO_BIN_DIR="${TAVLO_BIN_DIR:-$HOME/.local/bin}"
    TAVLO_SHARE_DIR="${TAVLO_SHARE_DIR:-${XDG_DATA_HOME:-$HOME/.local/share}}"
    TAVLO_VST3_PRESETS_DIR="${TAVLO_VST3_PRESETS_DIR:-$HOME/.vst3/presets}"
  fi
  TAVLO_STATE_DIR="$TAVLO_SHARE_DIR/tavlo"
  TAVLO_MANIFEST="$TAVLO_STATE_DIR/installed-files"
  TAVLO_MAN1_DIR="$TAVLO_SHARE_DIR/man/man1"
  TAVLO_COMPLETION_DIR="$TAVLO_SHARE_DIR/bash-completion/completions"
  TAVLO_APPLICATIONS_DIR="$TAVLO_SHARE_DIR/applications"
}

TAVLO_INSTALL_TARGETS=(Tavlo TavloLV2Bundle TavloCLAPBundle tavlo-render tavlo_render_docs tavlo-jack
                       tavlo_jack_docs)
tavlo_install_items()
{
  item bundle Tavlo.vst3 "$TAVLO_VST3_DIR"
  item bundle Tavlo.lv2 "$TAVLO_LV2_DIR"
  # A CLAP host loads the file Tavlo.clap, whose editor reads its images in
  # the folder beside it: the folder first, so that the module is never
  # there without them.
  item bundle Tavlo.clap.resources "$TAVLO_CLAP_DIR"
  item file Tavlo.clap "$TAVLO_CLAP_DIR" 0755
  item file tavlo-render "$TAVLO_BIN_DIR" 0755
  item file tavlo-render.1 "$TAVLO_MAN1_DIR"
  item file completions/tavlo-render "$TAVLO_COMPLETION_DIR"
  # tavlo-jack's editor reads the CLAP bundle's images, installed above.
  item file tavlo-jack "$TAVLO_BIN_DIR" 0755
  item file tavlo-jack.1 "$TAVLO_MAN1_DIR"
  item file completions/tavlo-jack "$TAVLO_COMPLETION_DIR"
  item file tavlo-jack.desktop "$TAVLO_APPLICATIONS_DIR"
}

# What earlier releases installed and this one no longer does, removed by
# an install as an uninstall would remove it: the factory presets as
# .vstpreset files, which hosts listed beside the plug-in's own program list
# (every preset twice in Ardour's menu); the program list alone serves them.
tavlo_retired_items()
{
  retired "$TAVLO_VST3_PRESETS_DIR/Quillmarshworks"
}

# One install or uninstall at a time for a layout: holds a lock on the
# state folder (which must exist) until the script ends. Staging folders
# found there, or beside the bundles where older installs staged, then
# belong to no running install: they are removed.
tavlo_lock_and_sweep()
{
  exec 9< "$TAVLO_STATE_DIR"
  if ! flock -n 9; then
    echo "Waiting for another install or uninstall of Tavlo in $TAVLO_STATE_DIR to end..."
    flock 9
  fi
  local stale folder
  local -a folders=()
  # Where an install stages when that folder is on another filesystem than
  # the state folder (the subshell keeps the caller's item).
  while IFS= read -r folder; do folders+=("$folder"/.tavlo-staging.??????); done \
    < <(item() { printf '%s\n' "$3"; }; tavlo_install_items)
  for stale in "$TAVLO_STATE_DIR"/staging.* "${folders[@]}" \
               "$TAVLO_VST3_DIR"/.Tavlo.vst3.?????? "$TAVLO_LV2_DIR"/.Tavlo.lv2.??????; do
    [ -e "$stale" ] || [ -L "$stale" ] || continue
    rm -rf -- "$stale"
    echo "Removed $stale, left by an install that was stopped."
  done
}
