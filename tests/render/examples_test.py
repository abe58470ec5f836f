#!/usr/bin/env python3
"""Every example command line the user is shown, run as the user would type
it: the commands in the README and the pages in docs/ (code blocks, and
inline commands starting with tavlo-render, sox or lv2apply), and the
examples of `tavlo-render --help` and of its manual page.

Each runs in a folder of its own, under bash with pipefail, with the files
it reads made beforehand (audio with sox, presets and states with
tavlo-render itself), tavlo-render on PATH and the bundles where it and
lv2apply look. It passes when it exits 0 and every file it writes is there
(and audio ones hold audio). A code block is one session: its commands run
in order in one folder, so a later one may read what an earlier wrote.

Usage: examples_test.py [--sanitized] SOURCE_DIR BUILD_DIR
  --sanitized   the build is sanitized: lv2apply cannot load its LV2 bundle
"""

import glob
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

TIMEOUT_S = 120
URI = "https://quillmarshworks.example/plugins/tavlo"
AUDIO = (".wav", ".flac", ".aiff", ".aif", ".ogg", ".mp3", ".rf64", ".w64", ".caf", ".au")
COMMANDS = ("tavlo-render", "sox", "lv2apply", "jq")

# Shown but not runnable as they stand; each says why. An entry that no
# longer matches an example fails, so this list cannot hide one.
NOT_RUN = {
    "tavlo-render --set At": "a prefix to press Tab after, for the completion",
    "sox -M": "an option named in the text, not a command",
    "TAVLO_GOLDEN_OUT=tests/lv2/golden_outputs.txt build/tests/lv2/tavlo_lv2_tests "
    "--gtest_filter='GoldenOutputs.*'":
        "rewrites the project's golden file and fails by design; tests/lv2 runs the comparison",
}

# Shown as what is refused: (exit status, run on a terminal, files there
# beforehand). They pass when refused so and every file in the folder is
# left as it was.
REFUSED = {
    "tavlo-render --set Input=100 take.wav": (1, False, ["take.wav"]),  # a forgotten OUTPUT
    "tavlo-render in.wav -": (1, True, ["in.wav"]),  # typed without a pipe
}

NOT_A_SESSION = "(a code block that is not commands) "

# tavlo-render's options that take a value.
RENDER_VALUE = {"--preset", "--set", "--automate", "--sidechain", "-o", "--output-dir", "--format", "-j",
                "--jobs", "--plugin", "--rate", "--block", "--precision", "--bits", "--save-state",
                "--load-state", "--save-preset", "--plot", "--snapshot", "--curve"}
RENDER_WRITES = {"--save-state", "--save-preset", "--plot", "--snapshot", "--curve"}
RENDER_PRINTS = {"--params", "--presets", "--version", "-h", "--help", "--man-page", "--bash-completion"}
SOX_VALUE = {"-t", "--type", "-r", "--rate", "-c", "--channels", "-b", "--bits", "-e", "--encoding", "-C",
             "--compression", "-v", "--volume", "-V", "--buffer"}


# --- finding the examples ---------------------------------------------------

def command_word(line):
    """The program a shell line runs, past leading VAR=value assignments."""
    for word in line.split():
        if not re.match(r"^[A-Za-z_][A-Za-z0-9_]*=", word):
            return word
    return ""


def runs_a_known_program(line):
    word = command_word(line)
    return word in COMMANDS or word.startswith(("scripts/", "build/"))


def markdown_examples(path, label):
    """[(source, [command, ...])]: one group per code block, one per inline command."""
    groups, block, in_block = [], None, False
    text = open(path, encoding="utf-8").read()
    for line in text.split("\n"):
        if line.startswith("```"):
            if in_block and block:
                joined = re.sub(r"\\\n\s*", "", "\n".join(block)).split("\n")
                lines = [c.strip() for c in joined if c.strip()]
                if all(runs_a_known_program(c) for c in lines):
                    groups.append((label, lines))
                elif any(runs_a_known_program(c) for c in lines):
                    # A drawing or a listing that names a program: reported.
                    groups.append((label, [NOT_A_SESSION + lines[0]]))
            in_block, block = not in_block, []
            continue
        if in_block:
            block.append(line)
    # Inline commands outside code blocks, across line breaks.
    prose = re.sub(r"```.*?```", "", text, flags=re.S)
    for span in re.findall(r"`([^`]+)`", prose):
        span = re.sub(r"\s+", " ", span).strip()
        if re.match(r"^(tavlo-render|sox|lv2apply) ", span):
            groups.append((label, [span]))
    return groups


def help_examples(text):
    section = re.search(r"^Examples:\n(.*?)(?:\n\S|\Z)", text, flags=re.S | re.M)
    if not section:
        return []
    return [("--help", [l.strip()]) for l in section.group(1).split("\n") if re.match(r"^  \S", l)]


def man_examples(roff):
    section = re.search(r"^\.SH EXAMPLES\n(.*?)(?:^\.SH|\Z)", roff, flags=re.S | re.M)
    if not section:
        return []
    out = []
    for block in re.findall(r"^\.nf\n(.*?)^\.fi", section.group(1), flags=re.S | re.M):
        for line in block.split("\n"):
            line = line.replace("\\-", "-").replace("\\e", "\\").replace("\\\\", "\\").strip()
            if line:
                out.append(("man page", [line]))
    return out


def is_synopsis(cmd):
    return "[options]" in cmd or re.search(r"\b(FILE|NAME|DIR|INPUT|OUTPUT|VALUE)\b", cmd) is not None


# --- what an example reads and writes --------------------------------------

def split_pipeline(cmd):
    words = shlex.split(cmd)
    parts, cur = [], []
    for w in words:
        if w == "|":
            parts.append(cur)
            cur = []
        else:
            cur.append(w)
    parts.append(cur)
    # Leading VAR=value words set the environment; later ones are arguments.
    for p in parts:
        while len(p) > 1 and re.match(r"^[A-Za-z_][A-Za-z0-9_]*=", p[0]):
            del p[0]
    return parts


def render_files(args):
    """(inputs, outputs, output_dir, format) of a tavlo-render command line."""
    inputs, outputs, positional = [], [], []
    out_dir, fmt, prints = None, None, False
    i = 0
    while i < len(args):
        a = args[i]
        if a in RENDER_VALUE and i + 1 < len(args):
            v = args[i + 1]
            if a in RENDER_WRITES:
                outputs.append(v)
            elif a in ("--sidechain", "--load-state"):
                inputs.append(v)
            elif a == "--preset" and v.endswith((".vstpreset", ".ttl")):
                inputs.append(v)
            elif a in ("-o", "--output-dir"):
                out_dir = v
            elif a == "--format":
                fmt = v
            i += 2
            continue
        if a in RENDER_PRINTS:
            prints = True
        elif a == "-" or not a.startswith("-"):
            positional.append(a)
        i += 1
    batch = positional if out_dir is not None else []
    if out_dir is not None:
        inputs += positional
    elif len(positional) == 2:
        inputs.append(positional[0])
        outputs.append(positional[1])
    elif len(positional) == 1:
        outputs.append(positional[0])
    elif not outputs and not prints:
        outputs.append("<nothing>")  # nothing named to write: the check below fails it
    return inputs, outputs, out_dir, batch, fmt


def sox_files(args):
    files, i = [], 0
    while i < len(args):
        a = args[i]
        if a in SOX_VALUE:
            i += 2
            continue
        if a == "-" or (not a.startswith("-") and a.lower().endswith(AUDIO)):
            files.append(a)
        elif files and not a.startswith("-"):
            break  # the effects start after the output
        i += 1
    return files[:-1], files[-1:]


def files_of(cmd):
    """(inputs, outputs, batches) named by a command line; '-' left out."""
    inputs, outputs, batches = [], [], []
    for part in split_pipeline(cmd):
        prog, args = os.path.basename(part[0]), part[1:]
        if prog == "tavlo-render":
            i, o, out_dir, batch, fmt = render_files(args)
            inputs += i
            outputs += o
            if out_dir is not None:
                batches.append((out_dir, batch, fmt))
        elif prog == "sox":
            i, o = sox_files(args)
            inputs += i
            outputs += o
        elif prog == "lv2apply":
            for flag, dest in (("-i", inputs), ("-o", outputs)):
                if flag in args and args.index(flag) + 1 < len(args):
                    dest.append(args[args.index(flag) + 1])
    drop = lambda names: [n for n in names if n != "-"]
    return drop(inputs), drop(outputs), batches


# --- the folder an example runs in -----------------------------------------

LV2_MANIFEST = """@prefix lv2: <http://lv2plug.in/ns/lv2core#> .
@prefix pset: <http://lv2plug.in/ns/ext/presets#> .
@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .

<{name}>
	a pset:Preset ;
	lv2:appliesTo <{uri}> ;
	rdfs:seeAlso <{name}> .
"""

# As lilv writes a preset an LV2 host saves.
LV2_PRESET = """@prefix lv2: <http://lv2plug.in/ns/lv2core#> .
@prefix pset: <http://lv2plug.in/ns/ext/presets#> .
@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .

<>
	a pset:Preset ;
	lv2:appliesTo <{uri}> ;
	rdfs:label "Saved in a host" ;
	lv2:port [
		lv2:symbol "input" ;
		pset:value 120.0
	] , [
		lv2:symbol "attack" ;
		pset:value 0.002
	] , [
		lv2:symbol "mix" ;
		pset:value 80.0
	] .
"""


def make_input(name, env, cwd):
    path = os.path.join(cwd, name)
    if os.path.lexists(path):
        return
    os.makedirs(os.path.dirname(path) or cwd, exist_ok=True)
    render = ["tavlo-render", "-q"]
    if name.lower().endswith(AUDIO):
        channels = "1" if "mono" in os.path.basename(name) else "2"
        # Two seconds of pink noise at -6 dBFS peak: loud enough to compress.
        cmd = ["sox", "-q", "-n", "-r", "48000", "-c", channels, "-b", "16", path,
               "synth", "2", "pinknoise", "norm", "-6"]
    elif name.endswith(".vstpreset"):
        cmd = render + ["--preset", "lead-vocal", "--save-preset", path]
    elif name.endswith(".ttl"):
        folder = os.path.dirname(path)
        with open(path, "w") as f:
            f.write(LV2_PRESET.format(uri=URI))
        if not os.path.exists(os.path.join(folder, "manifest.ttl")):
            with open(os.path.join(folder, "manifest.ttl"), "w") as f:
                f.write(LV2_MANIFEST.format(name=os.path.basename(path), uri=URI))
        return
    else:
        cmd = render + ["--set", "Input=80", "--save-state", path]
    subprocess.run(cmd, env=env, cwd=cwd, check=True, timeout=TIMEOUT_S)


def expand_glob(name):
    """Inputs named by a pattern: two files that it matches."""
    if "*" not in name:
        return [name]
    return [name.replace("*", stem, 1).replace("*", "") for stem in ("take1", "take2")]


def audio_frames(path):
    r = subprocess.run(["soxi", "-s", path], capture_output=True, text=True)
    return int(r.stdout.strip()) if r.returncode == 0 and r.stdout.strip().isdigit() else 0


def listing(cwd):
    out = {}
    for root, _, files in os.walk(cwd):
        for f in files:
            p = os.path.join(root, f)
            with open(p, "rb") as fh:
                out[os.path.relpath(p, cwd)] = fh.read()
    return out


def run_one(cmd, env, cwd, written):
    """An error message, or None when the example did what it shows."""
    refused = REFUSED.get(cmd)
    inputs, outputs, batches = files_of(cmd)
    if refused:
        inputs, outputs, batches = refused[2], [], []
    for name in inputs:
        for each in expand_glob(name):
            if each not in written:
                make_input(each, env, cwd)
    expected = list(outputs)
    for out_dir, batch_inputs, fmt in batches:
        for pattern in batch_inputs:
            for f in sorted(glob.glob(os.path.join(cwd, pattern))):
                stem, ext = os.path.splitext(os.path.basename(f))
                expected.append(os.path.join(out_dir, stem + ("." + fmt if fmt else ext)))
        if not batch_inputs:
            expected.append(os.path.join(out_dir, "<nothing>"))
    for name in expected:
        if os.path.lexists(os.path.join(cwd, name)) and name not in inputs:
            return f"{name} is there before the example runs"

    before = listing(cwd)
    stdout = subprocess.PIPE
    master = slave = None
    if refused and refused[1]:
        master, slave = os.openpty()
        stdout = slave
    try:
        r = subprocess.run(["bash", "-o", "pipefail", "-c", cmd], env=env, cwd=cwd, stdout=stdout,
                           stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, timeout=TIMEOUT_S)
    except subprocess.TimeoutExpired:
        return f"still running after {TIMEOUT_S} s"
    finally:
        for fd in (master, slave):
            if fd is not None:
                os.close(fd)
    err = r.stderr.decode(errors="replace").strip()
    if refused:
        if r.returncode != refused[0]:
            return f"exit status {r.returncode}, not the refusal ({refused[0]}) it is shown as: {err}"
        if listing(cwd) != before:
            return "refused, but the folder changed"
        return None
    if r.returncode != 0:
        return f"exit status {r.returncode}: {err}"
    for name in expected:
        path = os.path.join(cwd, name)
        if not os.path.isfile(path) or os.path.getsize(path) == 0:
            return f"{name} was not written"
        if name.lower().endswith(AUDIO) and audio_frames(path) == 0:
            return f"{name} holds no audio"
        written.add(name)
    return None


def main():
    args = sys.argv[1:]
    sanitized = "--sanitized" in args
    args = [a for a in args if a != "--sanitized"]
    if len(args) != 2:
        sys.exit(__doc__)
    source, build = (os.path.abspath(a) for a in args)
    program = os.path.join(build, "tavlo-render")
    for needed in (program, os.path.join(build, "Tavlo.vst3"), os.path.join(build, "Tavlo.lv2")):
        if not os.path.exists(needed):
            sys.exit(f"{needed} is not built")

    work = tempfile.mkdtemp(prefix="tavlo-examples-")
    try:
        return run_all(source, build, program, work, sanitized)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def run_all(source, build, program, work, sanitized):
    home, bin_dir = os.path.join(work, "home"), os.path.join(work, "bin")
    for d in (bin_dir, os.path.join(home, ".lv2"), os.path.join(home, ".vst3")):
        os.makedirs(d)
    # Installed as scripts/install installs them, for a user who runs them.
    os.symlink(program, os.path.join(bin_dir, "tavlo-render"))
    os.symlink(os.path.join(build, "Tavlo.vst3"), os.path.join(home, ".vst3", "Tavlo.vst3"))
    os.symlink(os.path.join(build, "Tavlo.lv2"), os.path.join(home, ".lv2", "Tavlo.lv2"))
    env = dict(os.environ, HOME=home, PATH=bin_dir + os.pathsep + os.environ.get("PATH", ""),
               TMPDIR=work, LC_ALL="C.UTF-8")
    env.pop("LV2_PATH", None)

    groups = []
    for page in ["README.md"] + sorted(glob.glob(os.path.join(source, "docs", "*.md"))):
        path = os.path.join(source, page)
        groups += markdown_examples(path, os.path.relpath(path, source))
    helptext = subprocess.run([program, "--help"], capture_output=True, text=True, check=True).stdout
    man = subprocess.run([program, "--man-page"], capture_output=True, text=True, check=True).stdout
    found_help, found_man = help_examples(helptext), man_examples(man)
    groups += found_help + found_man

    passed = failed = skipped = 0
    if not found_help or not found_man:
        print(f"FAIL no examples found in {'--help' if not found_help else 'the man page'}")
        failed += 1
    seen = set()
    for n, (label, cmds) in enumerate(groups):
        cwd = os.path.join(work, f"example-{n}")
        os.makedirs(cwd)
        written = set()
        for cmd in cmds:
            seen.add(cmd)
            if cmd.startswith(NOT_A_SESSION):
                print(f"SKIP {label}: {cmd}")
                skipped += 1
                continue
            reason = NOT_RUN.get(cmd) or ("a synopsis, with placeholders" if is_synopsis(cmd) else None)
            if not reason and sanitized and any(p[0] == "lv2apply" for p in split_pipeline(cmd)):
                reason = "a sanitizer-built module cannot load into lv2apply, which lacks the runtime"
            if reason:
                print(f"SKIP {label}: {cmd} ({reason})")
                skipped += 1
                continue
            try:
                error = run_one(cmd, env, cwd, written)
            except (subprocess.SubprocessError, OSError, ValueError) as e:
                error = f"could not be set up: {e}"
            if error:
                print(f"FAIL {label}: {cmd}\n     {error}")
                failed += 1
            else:
                print(f"PASS {label}: {cmd}")
                passed += 1
    for cmd in list(NOT_RUN) + list(REFUSED):
        if cmd not in seen:
            print(f"FAIL listed as not run or refused, but no longer shown anywhere: {cmd}")
            failed += 1

    print(f"{skipped} skipped")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
