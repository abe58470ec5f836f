#!/usr/bin/env python3
"""Tavlo in Ardour 7, headless, once as VST 3 and once as LV2: plug-in scan,
session built in Lua, renders with ardour7-export, and a save / reload /
re-save round trip, with the same hand-worked levels for both bundles. For
the VST 3 also the ranges and latency Ardour reports, presets chosen from
Ardour's list (each in a process with a time limit: a host can deadlock in
the plug-in's call) and the list Ardour shows once Tavlo is installed.

ardour7-export aborts in its own teardown in about a quarter of its runs on
a busy machine, with or without a plug-in in the session, and now and then
hangs. An aborted run can still write every frame, but not always the
right ones (a wild sample at each 2048-frame chunk, or chunks moved): its
render counts only when another run writes the same; the rest are retried.
The tone-only session (no plug-in) is rendered as a control, and its aborts
are counted beside Tavlo's, so that an abort of the tool is told apart from
a fault of Tavlo's.

Prints one line per check and "N passed, M failed"; exits 1 on any failure,
77 (skipped) when Ardour 7 is not installed, unless TAVLO_REQUIRE_HOSTS=1
(as CI sets it), which makes a missing Ardour a failure.

Usage: ardour_interop.py <path to Tavlo.vst3> <path to Tavlo.lv2> [work folder]
       ardour_interop.py --self-test   (the export's retries, against a stand-in tool)
"""

import array
import glob
import hashlib
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET

SKIP = 77
RATE = 48000
FRAMES = 72000  # 1.5 s render
HERE = os.path.dirname(os.path.abspath(__file__))
LIBDIR = "/usr/lib/ardour7"
SCANNER = os.path.join(LIBDIR, "ardour-vst3-scanner")
LV2_URI = "https://quillmarshworks.example/plugins/tavlo"
EXPORT_ATTEMPTS = 4
# ardour7-export runs the session in cycles of this many frames. Its VST 3
# host passes the automation inside a cycle as points with their offsets,
# and Tavlo applies a parameter's last point from the start of the block
# (automation is not yet sample-accurate): a change lands at the start of
# the cycle that holds its point, up to a cycle early, never late.
EXPORT_CYCLE = 1024
# A 1.5 s render takes a few seconds; a hung export is given up well before
# the test's own time limit.
EXPORT_TIMEOUT = 60
# Loading a session and choosing a preset takes about 2 s; a host that
# deadlocks in the plug-in's call never returns.
PRESET_TIMEOUT = 30

# Hand-worked levels (Input 30, Mix 100, Output 0 dB), the same as the JUCE
# host's: a full-scale Nyquist tone settles at gain 0.896799 with the
# colouration term taking 1.15168 % off; Input 0 leaves only the latter.
NYQUIST_GAIN = 0.896799
PREAMP_AT_ONE = 0.9884832
# Main input DC 0.5 with the Nyquist tone on the side-chain: gain 0.944033.
SIDECHAIN_GAIN = 0.944033
PREAMP_AT_HALF = 0.5 - 3.142e-4

passed = 0
failed = 0


def check(ok, name, detail=""):
    global passed, failed
    if ok:
        passed += 1
    else:
        failed += 1
    print("%s  %s%s" % ("PASS" if ok else "FAIL", name, (": " + detail) if detail else ""), flush=True)
    return ok


def finish():
    print("%d passed, %d failed" % (passed, failed), flush=True)
    sys.exit(0 if failed == 0 and passed > 0 else 1)


def read_float_wav(path):
    """Returns (channels, list of per-channel sample arrays) of a 32-bit float WAV."""
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 12 or data[0:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise ValueError("not a WAV file")
    pos, fmt, payload = 12, None, None
    while pos + 8 <= len(data):
        cid, size = struct.unpack_from("<4sI", data, pos)
        body = data[pos + 8:pos + 8 + size]
        if cid == b"fmt ":
            fmt = struct.unpack_from("<HHIIHH", body, 0)
        elif cid == b"data":
            payload = body
        pos += 8 + size + (size & 1)
    if fmt is None or payload is None:
        raise ValueError("WAV without fmt or data chunk")
    tag, channels, rate, _, _, bits = fmt
    if tag not in (3, 0xFFFE) or bits != 32 or rate != RATE:
        raise ValueError("unexpected WAV format %r" % (fmt,))
    samples = array.array("f")
    samples.frombytes(payload[:len(payload) - len(payload) % 4])
    return [samples[c::channels] for c in range(channels)]


def align(a, b, max_lag=4096, probe=2048):
    """Lag d such that channels a[c][i + d] match b[c][i] best. The test
    tone counts the frames it has made, and Ardour runs it for a number of
    cycles before an export starts that depends on how busy the machine is,
    so its start differs between renders, at times by more than a few
    blocks. The two-sine tone repeats every 4800 frames on the left and
    every 19200 on the right, so a match needs both channels. Where b holds
    a stretch of a exactly (the renders that must be equal), that stretch
    gives the lag at any distance (of the lags a period apart, the one at
    which the whole render agrees best); otherwise the best match of the left
    channels over a probe window in the middle, within max_lag."""
    mid = len(b[0]) // 2
    keys = [array.array("f", b[c][mid:mid + 64]).tobytes() for c in range(2)]
    hays = [array.array("f", a[c]).tobytes() for c in range(2)]
    lags = []
    at = hays[0].find(keys[0])
    while at >= 0:
        if at % 4 == 0 and hays[1][at:at + len(keys[1])] == keys[1]:
            lags.append(at // 4 - mid)
        at = hays[0].find(keys[0], at + 1)
    if lags:
        # The tone counts frames modulo its period, so lags a period apart
        # agree equally where the renders are equal; otherwise the lag whose
        # whole render agrees best.
        return min(lags, key=lambda d: (max(max_diff(a[c], b[c], d)[0] for c in range(2)), abs(d)))
    a, b = a[0], b[0]
    best, best_err = 0, None
    for d in range(-max_lag, max_lag + 1):
        if mid + d < 0 or mid + d + probe > len(a):
            continue
        err = 0.0
        for i in range(0, probe, 7):
            e = a[mid + d + i] - b[mid + i]
            err += e * e
            if best_err is not None and err > best_err:
                break
        if best_err is None or err < best_err:
            best, best_err = d, err
    return best


def max_diff(a, b, lag, margin=4096):
    """Largest |a[i + lag] - b[i]| away from the ends (where a lag cuts)."""
    worst, worst_at = 0.0, -1
    for i in range(max(margin, -lag), min(len(b), len(a) - lag) - margin):
        e = abs(a[i + lag] - b[i])
        if e > worst:
            worst, worst_at = e, i
    return worst, worst_at


def peak(x, start, end):
    return max(abs(v) for v in x[start:end])


class ExportLog:
    """Every ardour7-export run: how it ended, for the control render (a
    session with only the test tone) and for the renders with Tavlo."""

    def __init__(self):
        self.runs = {"control": 0, "tavlo": 0}
        self.aborts = {"control": 0, "tavlo": 0}

    def record(self, kind, aborted):
        self.runs[kind] += 1
        if aborted:
            self.aborts[kind] += 1

    def summary(self):
        return ("ardour7-export ended abnormally in %d of %d runs of the tone-only control "
                "and in %d of %d runs with Tavlo" % (self.aborts["control"], self.runs["control"],
                                                     self.aborts["tavlo"], self.runs["tavlo"]))


# No snapshot here comes near this level: the tone peaks at full scale and
# Tavlo's Output is at most 0 dB in them. An export that aborts can leave a
# whole file with one wild sample at the start of each 2048-frame chunk it
# wrote (seen on one channel, values near 1e22).
PLAUSIBLE_PEAK = 4.0


def sane_render(chans):
    """A complete render as every snapshot here makes one: two channels of
    finite samples of plausible level with signal up to the end (a file cut
    short by an abort ends in zeros or holds fewer frames)."""
    if len(chans) != 2 or any(len(c) != FRAMES for c in chans):
        return False
    for c in chans:
        if any(not abs(v) <= PLAUSIBLE_PEAK for v in c):
            return False
        if peak(c, FRAMES - 2048, FRAMES) < 1e-3:
            return False
    return True


class Ardour:
    def __init__(self, work, exports):
        self.work = work
        self.exports = exports
        self.export_tool = ["ardour7-export"]
        self.export_timeout = EXPORT_TIMEOUT
        self.env = dict(os.environ)
        self.env.pop("DISPLAY", None)
        self.env["XDG_CONFIG_HOME"] = os.path.join(work, "config")
        self.env["XDG_CACHE_HOME"] = os.path.join(work, "cache")
        self.env["VST3_PATH"] = os.path.join(work, "vst3")
        self.env["LV2_PATH"] = os.path.join(work, "lv2")

    def run(self, args, env_extra=None, timeout=180):
        env = dict(self.env)
        if env_extra:
            env.update(env_extra)
        try:
            p = subprocess.run(args, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               timeout=timeout, cwd=self.work)
            return p.returncode, p.stdout.decode("utf-8", "replace")
        except subprocess.TimeoutExpired as e:
            out = e.stdout.decode("utf-8", "replace") if e.stdout else ""
            return -1, out + "\n(timed out)"

    def lua(self, script, env_extra, timeout=180):
        # Line-buffered, so that a run that is stopped still shows how far it got.
        stdbuf = ["stdbuf", "-oL"] if shutil.which("stdbuf") else []
        return self.run(stdbuf + ["ardour7-lua", os.path.join(HERE, script)], env_extra, timeout)

    def export(self, session, snapshot, kind="tavlo"):
        """Renders a snapshot to float WAV; None when no attempt gave a
        complete render. The tool may abort after "Done" or, now and then,
        before, or hang (on this machine, about one run in four, as often
        without a plug-in in the session as with one: kind "control" counts
        the tone-only session). An aborted run whose file holds every frame
        of sane audio counts: the abort comes after the file is written, in
        the export's teardown. Other runs are repeated."""
        out = os.path.join(self.work, os.path.basename(session) + "-" + snapshot + ".wav")
        notes = []
        unconfirmed = None
        for attempt in range(EXPORT_ATTEMPTS):
            if os.path.exists(out):
                os.remove(out)
            rc, log = self.run(self.export_tool + ["-b", "float", "-o", out, session, snapshot],
                               timeout=self.export_timeout)
            aborted = rc != 0 or "* Done." not in log
            self.exports.record(kind, aborted)
            chans, why = None, ""
            if os.path.exists(out):
                try:
                    chans = read_float_wav(out)
                except ValueError as e:
                    why = str(e)
            else:
                why = "no file"
            complete = chans is not None and len(chans) == 2 and all(len(c) == FRAMES for c in chans)
            if complete and not aborted:
                return chans, notes
            if complete and sane_render(chans):
                # An abort can also garble a whole file within plausible
                # levels (chunks moved or changed a little): its render is
                # taken only once another aborted run writes the same.
                if unconfirmed is not None and unconfirmed == chans:
                    print("note: ardour7-export of %s exited with %d after writing every frame, "
                          "the same as an earlier aborted run" % (snapshot, rc))
                    return chans, notes
                unconfirmed = chans
                why = "aborted after writing every frame; kept until another run writes the same"
            elif complete:
                why = "render ends in silence or holds samples that are not finite or far beyond full scale"
            elif chans is not None:
                why = "incomplete render (%d frames)" % (len(chans[0]) if chans else 0)
            notes.append("attempt %d: exit %d, %s" % (attempt + 1, rc, why))
            print("note: ardour7-export of %s failed (exit %d, %s), output ends:\n%s"
                  % (snapshot, rc, why, log[-600:]))
        return None, notes


def mark_session_range(path):
    """ardour7-export renders the session range; the Lua API adds a range
    marker, which becomes that range here."""
    with open(path, "r", encoding="utf-8") as f:
        text = f.read()
    new, n = re.subn(r'(<Location [^>]*flags=")IsRangeMarker(")', r"\1IsSessionRange\2", text, count=1)
    with open(path, "w", encoding="utf-8") as f:
        f.write(new)
    return n == 1


def tavlo_processor(path, kind):
    """Tavlo's Processor element of kind "vst3" or "lv2" in a snapshot."""
    root = ET.parse(path).getroot()
    for proc in root.iter("Processor"):
        if proc.get("type") == kind and proc.get("name") == "Tavlo":
            return proc
    return None


def tavlo_state_text(path):
    """Tavlo's saved parameter ports and state stream in a snapshot."""
    proc = tavlo_processor(path, "vst3")
    node = proc.find("vst3") if proc is not None else None
    if node is None:
        return None
    ports = {p.get("id"): p.get("value") for p in node.findall("Port")}
    return ports, node.findtext("chunk")


def tavlo_lv2_ports(path):
    """Tavlo's saved port values (symbol -> text) and its URI in a snapshot."""
    proc = tavlo_processor(path, "lv2")
    node = proc.find("lv2") if proc is not None else None
    if node is None:
        return None
    return {p.get("symbol"): p.get("value") for p in node.findall("Port")}, proc.get("unique-id")


def decode_tavlo_chunk(b64):
    """Ardour stores the plug-in's streams in the VST 3 preset layout: "VST3",
    version, class id, offset of a list of (id, offset, size) entries. Returns
    the nine values and the bypass word of the controller stream ("Cont"),
    after checking the component stream ("Comp") carries the same bytes."""
    import base64
    try:
        raw = base64.b64decode(b64)
    except (ValueError, TypeError):
        return None
    if len(raw) < 48 or raw[0:4] != b"VST3" or raw[8:40] != b"F2AEE70D00DE4F4E5175696C54617631":
        return None
    (list_at,) = struct.unpack_from("<q", raw, 40)
    if list_at < 48 or list_at + 8 > len(raw) or raw[list_at:list_at + 4] != b"List":
        return None
    (count,) = struct.unpack_from("<i", raw, list_at + 4)
    streams = {}
    for k in range(count):
        at = list_at + 8 + 20 * k
        if at + 20 > len(raw):
            return None
        cid, off, size = struct.unpack_from("<4sqq", raw, at)
        if off < 0 or off + size > len(raw):
            return None
        streams[cid] = raw[off:off + size]
    cont = streams.get(b"Cont")
    # The values and the bypass word, then (since 3.3) the tail "TvlT".
    if cont is None or len(cont) < 76 or (len(cont) > 76 and cont[76:80] != b"TvlT"):
        return None
    if b"Comp" in streams and streams[b"Comp"] != cont:
        return None
    values = list(struct.unpack_from("<9d", cont, 0))
    (bypass,) = struct.unpack_from("<i", cont, 72)
    # The tail's entries: the parameters added since the first release
    # ("apnd") follow the nine; the A/B slots ("slot", "othr") are kept apart.
    slots = {}
    at = 88
    while at + 8 <= len(cont):
        tag, size = struct.unpack_from("<4sI", cont, at)
        body = cont[at + 8:at + 8 + size]
        if tag == b"apnd":
            values += list(struct.unpack_from("<%dd" % (size // 8), body, 0))
        elif tag in (b"slot", b"othr"):
            slots[tag] = body
        at += 8 + size
    return values, bypass, slots


def check_scan(ard, bundle_copy):
    so = os.path.join(bundle_copy, "Contents", "x86_64-linux", "Tavlo.so")
    # A cache entry counts only when the module is strictly older than it.
    old = time.time() - 10
    os.utime(so, (old, old))
    rc, out = ard.run([SCANNER, "-v", "-f", bundle_copy], {"LD_LIBRARY_PATH": LIBDIR}, timeout=60)
    found = re.findall(r"Found Plugin: (.*)", out)
    check(found == ["Tavlo"], "[VST3] scanner finds one plug-in, Tavlo", repr(found))
    cache = os.path.join(ard.env["XDG_CACHE_HOME"], "ardour7", "vst",
                         hashlib.sha1(so.encode()).hexdigest() + ".v3i")
    if not check(os.path.exists(cache), "[VST3] scanner wrote the cache entry", cache):
        print(out[-2000:])
        return False
    root = ET.parse(cache).getroot()
    infos = root.findall("VST3Info")
    check(len(infos) == 1, "[VST3] cache holds one class", str(len(infos)))
    if not infos:
        return False
    i = infos[0]
    want = {"uid": "F2AEE70D00DE4F4E5175696C54617631", "name": "Tavlo", "vendor": "Quillmarshworks",
            "category": "Fx|Dynamics", "version": "3.3.0", "n_inputs": "2", "n_aux_inputs": "2",
            "n_outputs": "2", "n_aux_outputs": "0", "n_midi_inputs": "0"}
    got = {k: i.get(k) for k in want}
    check(got == want, "[VST3] cache entry: id, names, version, 2 inputs, 2 aux inputs, 2 outputs",
          " ".join("%s=%s" % kv for kv in got.items()))
    check(os.path.getmtime(so) < os.path.getmtime(cache), "[VST3] module older than its cache entry")
    return True


def write_float_wav(path, chans, frames_in_header=None):
    """A 32-bit float WAV; the header may claim another length, as a file
    cut short by an abort can."""
    n = len(chans[0])
    data = array.array("f", [chans[c][i] for i in range(n) for c in range(len(chans))]).tobytes()
    size = len(data) if frames_in_header is None else frames_in_header * 4 * len(chans)
    fmt = struct.pack("<HHIIHH", 3, len(chans), RATE, RATE * 4 * len(chans), 4 * len(chans), 32)
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 8 + size) + b"WAVE")
        f.write(b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", size) + data)


def fake_export(mode_file, out):
    """Stands in for ardour7-export in the self-test: each run takes the next
    behaviour from mode_file and acts it out on out."""
    with open(mode_file) as f:
        modes = f.read().split()
    mode, rest = modes[0], modes[1:]
    with open(mode_file, "w") as f:
        f.write(" ".join(rest or [mode]))
    tone = [1.0 if i % 2 == 0 else -1.0 for i in range(FRAMES)]
    if mode in ("clean", "abort-after"):
        write_float_wav(out, [tone, tone])
        print("* Done.", flush=True)
    elif mode == "abort-short":
        write_float_wav(out, [tone[:FRAMES // 2], tone[:FRAMES // 2]], frames_in_header=FRAMES)
    elif mode == "abort-garbled":
        write_float_wav(out, [tone, [v * 0.999 if i % 2048 < 16 else v for i, v in enumerate(tone)]])
    elif mode == "abort-wild-chunks":
        wild = [8.7559e22 if i % 2048 == 0 and i > 0 else v for i, v in enumerate(tone)]
        write_float_wav(out, [tone, wild])
    elif mode == "abort-silent-tail":
        quiet = tone[:FRAMES - 4096] + [0.0] * 4096
        write_float_wav(out, [quiet, quiet])
    elif mode == "hang":
        time.sleep(30)
    if mode != "clean":
        os.abort()
    return 0


def self_test():
    """The export's acceptance and retries against a stand-in tool that
    aborts, writes short or silent files, or hangs; no Ardour needed."""
    cases = [
        # behaviour per run, rendered?, runs, aborted runs
        (["clean"], True, 1, 0),
        (["abort-after"], True, 2, 2),
        (["abort-short", "clean"], True, 2, 1),
        (["abort-silent-tail", "abort-after"], True, 3, 3),
        (["abort-wild-chunks", "clean"], True, 2, 1),
        (["abort-garbled", "clean"], True, 2, 1),
        (["abort-garbled", "abort-after", "abort-after"], True, 3, 3),
        (["hang", "clean"], True, 2, 1),
        (["abort-short"], False, EXPORT_ATTEMPTS, EXPORT_ATTEMPTS),
    ]
    work = tempfile.mkdtemp(prefix="tavlo-ardour-selftest-")
    try:
        for modes, rendered, runs, aborts in cases:
            mode_file = os.path.join(work, "modes")
            with open(mode_file, "w") as f:
                f.write(" ".join(modes))
            log = ExportLog()
            ard = Ardour(work, log)
            ard.export_tool = [sys.executable, os.path.abspath(__file__), "--fake-export", mode_file]
            ard.export_timeout = 3
            chans, notes = ard.export(os.path.join(work, "session"), "snap")
            got = (chans is not None, log.runs["tavlo"], log.aborts["tavlo"])
            check(got == (rendered, runs, aborts), "export with runs that go " + ", ".join(modes),
                  "rendered %s in %d runs, %d aborted; %s" % (got + ("; ".join(notes),)))
            if chans is not None:
                check(sane_render(chans), "the accepted render is the whole file (%s)" % ", ".join(modes))
                check(all(c[i] == (1.0 if i % 2 == 0 else -1.0) for c in chans for i in range(FRAMES)),
                      "the accepted render is the tone as written (%s)" % ", ".join(modes))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    finish()


def main():
    if len(sys.argv) >= 2 and sys.argv[1] == "--self-test":
        return self_test()
    if len(sys.argv) >= 3 and sys.argv[1] == "--fake-export":
        return fake_export(sys.argv[2], sys.argv[sys.argv.index("-o") + 1])
    if len(sys.argv) < 3:
        print("usage: ardour_interop.py <Tavlo.vst3> <Tavlo.lv2> [work folder]")
        return 2
    tools = [shutil.which("ardour7-lua"), shutil.which("ardour7-export"),
             SCANNER if os.access(SCANNER, os.X_OK) else None]
    if not all(tools):
        others = sorted(set(os.path.basename(p) for d in os.environ.get("PATH", "").split(os.pathsep) if d
                            for p in glob.glob(os.path.join(d, "ardour*-lua"))) - {"ardour7-lua"})
        what = "Ardour 7 is not installed (apt-get install --no-install-recommends ardour)"
        if others:
            what += "; found %s, which this test does not drive" % ", ".join(others)
        if os.environ.get("TAVLO_REQUIRE_HOSTS") == "1":
            print("FAIL  %s, and TAVLO_REQUIRE_HOSTS=1 requires every host the suite drives" % what)
            return 1
        print("SKIP: %s; the Ardour interop tests did not run" % what)
        return SKIP
    vst3 = os.path.abspath(sys.argv[1])
    lv2 = os.path.abspath(sys.argv[2])
    if not os.path.isfile(os.path.join(vst3, "Contents", "x86_64-linux", "Tavlo.so")):
        print("no Tavlo.so in " + vst3)
        return 1
    if not os.path.isfile(os.path.join(lv2, "manifest.ttl")):
        print("no manifest.ttl in " + lv2)
        return 1

    keep = len(sys.argv) > 3
    work = os.path.abspath(sys.argv[3]) if keep else tempfile.mkdtemp(prefix="tavlo-ardour-")
    if keep:
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
    try:
        run_all(vst3, lv2, work)
    finally:
        if not keep:
            shutil.rmtree(work, ignore_errors=True)
    finish()


# What differs between the two bundles in Ardour: how it lists the
# parameters (the VST 3 host bypass first; the LV2 enable port last), and
# how it stores them.
# The LV2 ports of the parameters added after the first release come after
# every other port, the enable port included.
FORMATS = {
    "VST3": {"params": ["Host Bypass", "Input", "Output", "Attack", "Release", "Mix", "HPF",
                        "Oversample", "Bypass", "Sidechain", "Detector", "Listen"],
             "lead": [("Host Bypass", 0)], "trail": [], "trail_at": 11},
    "LV2": {"params": ["Input", "Output", "Attack", "Release", "Mix", "HPF", "Oversample", "Bypass",
                       "Sidechain", "Enabled", "Detector", "Listen"],
            "lead": [], "trail": [("Enabled", 1)], "trail_at": 9},
}
# The settings of the "state" snapshot, in parameter order, times in
# seconds (as the plug-in stores them); Detector 2 is Linked.
STATE_VALUES = [("Input", 45), ("Output", -3), ("Attack", 0.002), ("Release", 0.2), ("Mix", 80),
                ("HPF", 100), ("Oversample", 1), ("Bypass", 0), ("Sidechain", 1), ("Detector", 2),
                ("Listen", 0)]
# The plug-in's factory presets, in its program list's order, and two of
# them with the settings they make (times in seconds).
FACTORY_PRESETS = ["Default", "Drum Bus Glue", "Drum Room Crush", "Parallel Crush", "Kick & Snare Punch",
                   "Bass Steady", "Lead Vocal", "Acoustic Guitar", "Piano", "Mix Bus Glue", "Gentle Leveller",
                   "Aggressive Character"]
CHOSEN_PRESETS = [
    ("Drum Bus Glue", [("Input", 70), ("Output", 0), ("Attack", 0.010), ("Release", 0.2), ("Mix", 100),
                       ("HPF", 90), ("Oversample", 0)]),
    ("Lead Vocal", [("Input", 160), ("Output", 6.5), ("Attack", 0.002), ("Release", 0.15), ("Mix", 100),
                    ("HPF", 100), ("Oversample", 0)]),
]


def in_host_units(values, time_scale):
    """Settings as Ardour holds them: Attack and Release in the unit of the
    range it reports for them (time_scale 1000: milliseconds)."""
    return [(k, v * time_scale if k in ("Attack", "Release") else v) for k, v in values]


def close_to(got, want):
    # Single precision on the way (Ardour's VST 3 values, LV2 ports).
    return abs(got - want) <= 1e-5 * max(1.0, abs(want))


def value_mismatches(got, want):
    """The settings of want that the (name, text) pairs in got miss."""
    have = dict(got)
    return ["%s=%s (want %g)" % (k, have.get(k), v) for k, v in want
            if k not in have or not close_to(float(have[k]), v)]


def run_all(vst3, lv2, work):
    # Ardour sees private copies, so touching the module's time leaves the
    # build alone.
    os.makedirs(os.path.join(work, "vst3"))
    vst3_copy = os.path.join(work, "vst3", "Tavlo.vst3")
    shutil.copytree(vst3, vst3_copy)
    os.makedirs(os.path.join(work, "lv2"))
    shutil.copytree(lv2, os.path.join(work, "lv2", "Tavlo.lv2"))
    scripts = os.path.join(work, "config", "ardour7", "scripts")
    os.makedirs(scripts)
    shutil.copy(os.path.join(HERE, "tavlo_test_tone.lua"), scripts)
    exports = ExportLog()
    ard = Ardour(work, exports)

    if check_scan(ard, vst3_copy):
        run_format(ard, "VST3", os.path.dirname(vst3))
    run_format(ard, "LV2")
    print(exports.summary(), flush=True)


def control_verdict(ard, session):
    """After a render with Tavlo failed every attempt: the tone-only control
    rendered again, to say whose fault it was."""
    ok = sum(1 for _ in range(EXPORT_ATTEMPTS) if ard.export(session, "dry", "control")[0] is not None)
    if ok == EXPORT_ATTEMPTS:
        return "the tone-only control rendered %d of %d times: look at Tavlo" % (ok, EXPORT_ATTEMPTS)
    return ("the tone-only control failed too (%d of %d rendered): ardour7-export's own abort"
            % (ok, EXPORT_ATTEMPTS))


def check_lv2_state(ard, session, time_scale):
    st = [tavlo_lv2_ports(os.path.join(session, s + ".ardour")) for s in ("state", "state2", "state3")]
    if not check(all(x is not None for x in st), "[LV2] plug-in ports stored in every snapshot"):
        return
    check(all(x[1] == LV2_URI for x in st), "[LV2] stored under the plug-in's URI", st[0][1])
    ports = st[0][0]
    want = dict((k.lower(), v) for k, v in in_host_units(STATE_VALUES, time_scale) + [("Enabled", 1)])
    ok = set(ports) == set(want) and all(
        abs(float(ports[k]) - v) <= 1e-6 * max(1.0, abs(v)) for k, v in want.items())
    check(ok, "[LV2] saved ports hold the session's values",
          " ".join("%s=%s" % kv for kv in sorted(ports.items())))
    check(st[0][0] == st[1][0] == st[2][0], "[LV2] stored ports unchanged by reload and re-save")


def check_vst3_state(ard, session):
    st = [tavlo_state_text(os.path.join(session, s + ".ardour")) for s in ("state", "state2", "state3")]
    if not check(all(x is not None for x in st), "[VST3] plug-in state stored in every snapshot"):
        return
    check(st[0][0] == st[1][0] == st[2][0], "[VST3] stored parameter ports unchanged by reload and re-save")
    decoded = [decode_tavlo_chunk(x[1]) for x in st]
    check(all(d is not None for d in decoded), "[VST3] stored state streams have the plug-in's layout",
          " ".join("%s" % (None if d is None else d[0][:3]) for d in decoded))
    if all(d is not None for d in decoded):
        # Ardour sends the values back after loading, through the
        # normalised scale: Attack and Release (shape 2) may move by a
        # rounding step once, and then stay.
        plain = [v for _, v in STATE_VALUES]  # Input .. Sidechain, in index order
        check(all(abs(a - b) <= 1e-6 * max(1.0, abs(b)) for a, b in zip(decoded[0][0], plain))
              and decoded[0][1] == 0, "[VST3] saved state stream holds the session's values",
              " ".join("%.9g" % v for v in decoded[0][0]))
        close = all(abs(a - b) <= 1e-12 * max(1.0, abs(a))
                    for a, b in zip(decoded[0][0], decoded[1][0]))
        check(close and decoded[0][1] == decoded[1][1], "[VST3] re-saved state holds the same values",
              " ".join("%.17g" % v for v in decoded[1][0]))
        check(decoded[1] == decoded[2], "[VST3] second re-save stores the identical state")
        check(all(len(d[2].get(b"othr", b"")) == 8 * len(STATE_VALUES) and d[2].get(b"slot") == b"\0\0\0\0"
                  for d in decoded) and decoded[0][2] == decoded[1][2],
              "[VST3] both A/B slots stored in every snapshot and kept by reload and re-save",
              " ".join(repr(sorted(d[2])) for d in decoded))
        check_ab_survives(ard, session, st[0][1])


def check_ab_survives(ard, session, chunk):
    """A session whose Tavlo holds a B of its own (Input 200, Detector Mid,
    as the editor's A/B would have left it): reloaded and saved again by
    Ardour, B is still there, and A is still what plays."""
    import base64
    raw = bytearray(base64.b64decode(chunk))
    (list_at,) = struct.unpack_from("<q", raw, 40)
    (count,) = struct.unpack_from("<i", raw, list_at + 4)
    b_values = [200.0, -3.0, 0.002, 0.2, 80.0, 100.0, 1.0, 0.0, 1.0, 3.0, 0.0]
    for k in range(count):
        _, off, size = struct.unpack_from("<4sqq", raw, list_at + 8 + 20 * k)
        at = raw.find(b"othr", off, off + size)
        if at < 0:
            check(False, "[VST3] a stored state with an A/B slot to change")
            return
        struct.pack_into("<%dd" % len(b_values), raw, at + 8, *b_values)
    text = open(os.path.join(session, "state.ardour"), encoding="utf-8").read()
    with open(os.path.join(session, "ab.ardour"), "w", encoding="utf-8") as f:
        f.write(text.replace(chunk, base64.b64encode(bytes(raw)).decode("ascii")))
    rc, out = ard.lua("reload_session.lua", {"TAVLO_SESSION_DIR": session, "TAVLO_SNAPSHOT": "ab",
                                              "TAVLO_RESAVE_AS": "ab2"})
    st = tavlo_state_text(os.path.join(session, "ab2.ardour"))
    decoded = decode_tavlo_chunk(st[1]) if st else None
    other = list(struct.unpack("<11d", decoded[2].get(b"othr", b""))) if decoded and \
        len(decoded[2].get(b"othr", b"")) == 88 else None
    check("SESSION-DONE" in out and other == b_values and close_to(decoded[0][0], 45),
          "[VST3] a session's B slot survives Ardour's reload and re-save, A still shown",
          repr(other) + " Input %r " % (decoded[0][0] if decoded else None) + (out[-400:] if "SESSION-DONE" not in out else ""))


def check_saved_preset(ard, fmt, home, out):
    """The preset Ardour saved from its preset menu's code, read by
    tavlo-render (TAVLO_RENDER, when the test is given it): the settings it
    restores are the session's."""
    tag = "[%s] " % fmt
    render = os.environ.get("TAVLO_RENDER")
    if not render:
        print("SKIP  %spreset read by tavlo-render: TAVLO_RENDER not set" % tag, flush=True)
        return
    uri = re.search(r"^PRESET (.*)$", out, re.M)
    if not check(uri is not None and uri.group(1) != "none", tag + "Ardour saved a user preset",
                 uri.group(1) if uri else "no PRESET line"):
        return
    # Walked, not globbed: the presets live in hidden folders (~/.lv2, ~/.vst3).
    ext = ".ttl" if fmt == "LV2" else ".vstpreset"
    files = [os.path.join(d, f) for d, _, names in os.walk(home) for f in names
             if f.endswith(ext) and f != "manifest.ttl"]
    if not check(len(files) == 1, tag + "one preset file under $HOME", repr(files)):
        return
    state = os.path.join(ard.work, fmt.lower() + "-preset.state")
    bundle = glob.glob(os.path.join(ard.work, "vst3", "Tavlo.vst3"))[0]
    p = subprocess.run([render, "--plugin", bundle, "-y", "--preset", files[0], "--save-state", state],
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
    text = p.stdout.decode("utf-8", "replace")
    if not check(p.returncode == 0 and os.path.exists(state), tag + "tavlo-render reads Ardour's preset", text):
        return
    with open(state, "rb") as f:
        got = struct.unpack_from("<9d", f.read(), 0)
    # Single precision on the way in both formats (LV2 ports; Ardour's VST 3
    # values), as the session's own state check allows.
    ok = all(abs(g - w) <= 1e-6 * max(1.0, abs(w)) for g, (_, w) in zip(got, STATE_VALUES))
    check(ok, tag + "the preset renders with the session's settings", " ".join("%.9g" % v for v in got))


def check_vst3_ranges(out):
    """Ardour's generic view edits Attack and Release in the plug-in's plain
    values: milliseconds, 0.1 to 10.1 (the declaration's range) and 100 to 500."""
    ranges = dict((m[0], (float(m[1]), float(m[2])))
                  for m in re.findall(r"^RANGE (\w+) (\S+) (\S+)$", out, re.M))
    want = {"Attack": (0.1, 10.1), "Release": (100.0, 500.0)}
    ok = set(ranges) == set(want) and all(
        close_to(ranges[k][0], lo) and close_to(ranges[k][1], hi) for k, (lo, hi) in want.items())
    check(ok, "[VST3] Ardour's ranges of Attack and Release in milliseconds (0.1..10.1, 100..500)",
          " ".join("%s %g..%g" % (k, lo, hi) for k, (lo, hi) in sorted(ranges.items())))


def check_latency(tag, out, reloaded):
    """Oversampling delays the signal by a few samples, which the host must be
    told to align the tracks; without it there is none. Headless Ardour
    offers the plug-in no run loop, so it hears of a change it did not ask
    about only when it asks again: the session reloaded with Oversample on
    (the "state" snapshot) has the latency from its first cycle."""
    lat = dict(re.findall(r"^LATENCY (\w[\w ]*) (-?\d+)$", out + "\n" + reloaded, re.M))
    ok = lat.get("off") == lat.get("off again") == "0" and lat.get("reloaded") == "5"
    check(ok, tag + "Ardour's latency for the plug-in: 0 with Oversample off, 5 reloaded with it on",
          ", ".join("%s %s" % kv for kv in sorted(lat.items())) or "no LATENCY lines")


def component_only_preset(src, dst):
    """A copy of an Ardour-saved .vstpreset with only the processor's stream
    (as other hosts and the plug-in's own tools write them), so that the
    host's controller must take the settings from it."""
    with open(src, "rb") as f:
        raw = f.read()
    if len(raw) < 48 or raw[0:4] != b"VST3":
        return False
    (list_at,) = struct.unpack_from("<q", raw, 40)
    if list_at + 8 > len(raw) or raw[list_at:list_at + 4] != b"List":
        return False
    (count,) = struct.unpack_from("<i", raw, list_at + 4)
    for k in range(count):
        at = list_at + 8 + 20 * k
        if at + 20 > len(raw):
            return False
        cid, off, size = struct.unpack_from("<4sqq", raw, at)
        if cid == b"Comp" and off + size <= len(raw):
            body = raw[off:off + size]
            head = raw[0:40] + struct.pack("<q", 48 + len(body))
            with open(dst, "wb") as f:
                f.write(head + body + b"List" + struct.pack("<i", 1) + struct.pack("<4sqq", b"Comp", 48, len(body)))
            return True
    return False


def choose_preset(ard, session, home, label, kind, want, time_scale):
    """Chooses a preset from Ardour's list for the plug-in, in a process of
    its own from the "comp" snapshot (whose settings differ from every
    preset's), with a time limit; then Ardour's values and those of the
    session saved after it, reloaded in another process."""
    tag = "[VST3] "
    snap = "preset-" + re.sub(r"\W+", "-", label.lower())
    t0 = time.time()
    rc, out = ard.lua("preset_session.lua", {"TAVLO_SESSION_DIR": session, "TAVLO_SNAPSHOT": "comp",
                                             "TAVLO_PRESET": label, "TAVLO_RESAVE_AS": snap, "HOME": home},
                      timeout=PRESET_TIMEOUT)
    chosen = re.search(r"^CHOSEN (.*)$", out, re.M)
    what = "%s (%s)" % (chosen.group(1), kind) if chosen else kind
    if "SESSION-DONE" in out:
        detail = "returned after %.1f s, %s" % (time.time() - t0, what)
    elif rc == -1 and "LOADING" in out and "LOADED" not in out:
        detail = "Ardour froze inside load_preset of %s: no return in %d s" % (what, PRESET_TIMEOUT)
    else:
        detail = "exit %d, %s, output ends: %s" % (rc, what, out[-800:])
    if not check("SESSION-DONE" in out, tag + 'choosing "%s" from Ardour\'s preset list' % label, detail):
        return
    want_s, want = want, in_host_units(want, time_scale)
    values = re.findall(r"^VALUE (\w[\w ]*)=(\S+)$", out, re.M)
    controls = re.findall(r"^CONTROL (\w[\w ]*)=(\S+)$", out, re.M)
    bad = ["plug-in " + m for m in value_mismatches(values, want)] + \
          ["control " + m for m in value_mismatches(controls, want)]
    check(not bad, tag + 'Ardour\'s values after choosing "%s"' % label,
          "; ".join(bad) if bad else " ".join("%s=%s" % g for g in values))
    # The plug-in's own stream in the saved session (times in seconds), and
    # Ardour's values once it is reloaded.
    st = tavlo_state_text(os.path.join(session, snap + ".ardour"))
    decoded = decode_tavlo_chunk(st[1]) if st else None
    names = [k for k, _ in STATE_VALUES]
    bad = ["stream " + m for m in value_mismatches(zip(names, decoded[0]), want_s)] if decoded else \
        ["no state stream of the plug-in's layout saved"]
    rc, out = ard.lua("reload_session.lua", {"TAVLO_SESSION_DIR": session, "TAVLO_SNAPSHOT": snap,
                                             "TAVLO_RESAVE_AS": snap + "-2"})
    values = re.findall(r"^VALUE (\w[\w ]*)=(\S+)$", out, re.M)
    bad += ["reloaded " + m for m in value_mismatches(values, want)]
    check("SESSION-DONE" in out and not bad, tag + 'session saved after "%s" holds its values and reloads with them' % label,
          "; ".join(bad) if bad else " ".join("%s=%s" % g for g in values) or out[-800:])


def check_presets_chosen(ard, session, home, time_scale):
    """Factory presets (the plug-in's program list), Ardour's own user preset
    and one that holds the processor's stream only, chosen as a user does."""
    for label, want in CHOSEN_PRESETS:
        choose_preset(ard, session, home, label, "factory preset", want, time_scale)
    saved = [os.path.join(d, f) for d, _, names in os.walk(home) for f in names if f == "Tavlo Render Check.vstpreset"]
    if len(saved) != 1:
        check(False, "[VST3] Ardour's user preset file to load", repr(saved))
        return
    choose_preset(ard, session, home, "Tavlo Render Check", "Ardour's user preset", STATE_VALUES, time_scale)
    other = os.path.join(os.path.dirname(saved[0]), "Tavlo Processor Only.vstpreset")
    if not component_only_preset(saved[0], other):
        check(False, "[VST3] a copy of Ardour's user preset with the processor's stream only", saved[0])
    else:
        choose_preset(ard, session, home, "Tavlo Processor Only", "preset with the processor's stream only",
                      STATE_VALUES, time_scale)


def install_as_user(ard, build, home):
    """Installs what build holds under home, as a user
    does: with scripts/install where every item it installs is there (a
    stand-in cmake makes sure it never builds), otherwise by copying what
    scripts/install-layout.sh says goes where. Returns (ok, how)."""
    root = os.path.dirname(os.path.dirname(os.path.dirname(HERE)))
    layout = os.path.join(root, "scripts", "install-layout.sh")
    env = {k: v for k, v in ard.env.items() if not k.startswith("TAVLO_") and k != "XDG_DATA_HOME"}
    env.update({"HOME": home, "TAVLO_BUILD_DIR": build})
    p = subprocess.run(["bash", "-c", 'source "$1"; tavlo_layout; item() { printf "%s\\n" "$2"; }; tavlo_install_items',
                        "-", layout], env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=30)
    items = p.stdout.decode("utf-8", "replace").split("\n")[:-1]
    if p.returncode != 0 or not items:
        return False, "cannot read the install layout: " + " ".join(items)
    missing = [i for i in items if not os.path.exists(os.path.join(build, i))]
    if not missing:
        shim = os.path.join(ard.work, "no-build")
        os.makedirs(shim, exist_ok=True)
        with open(os.path.join(shim, "cmake"), "w") as f:
            f.write("#!/bin/sh\necho 'scripts/install tried to build' >&2\nexit 1\n")
        os.chmod(os.path.join(shim, "cmake"), 0o755)
        env["PATH"] = shim + os.pathsep + env.get("PATH", "")
        p = subprocess.run([os.path.join(root, "scripts", "install")], env=env, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=120)
        return p.returncode == 0, "scripts/install: " + p.stdout.decode("utf-8", "replace").strip().replace("\n", "; ")
    print("note: %s lacks %s, which scripts/install would build first: copying the rest as "
          "scripts/install-layout.sh lays it out" % (build, ", ".join(missing)), flush=True)
    p = subprocess.run(["bash", "-c", 'source "$1"; tavlo_layout; build="$TAVLO_BUILD_DIR"; '
                        'item() { [ -e "$build/$2" ] || return 0; mkdir -p "$3" && cp -R "$build/$2" "$3/"; }; '
                        'tavlo_install_items', "-", layout], env=env,
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    return p.returncode == 0, "copied as install-layout.sh lays out %s" % ", ".join(
        i for i in items if i not in missing)


def check_installed_presets(ard, build):
    """Tavlo installed under $HOME as a user installs it from build (the
    folder of the bundle under test): Ardour lists each factory preset once,
    beside the user preset saved there."""
    home = os.path.join(ard.work, "install-home")
    os.makedirs(home)
    ok, how = install_as_user(ard, build, home)
    bundle = os.path.join(home, ".vst3", "Tavlo.vst3")
    so = os.path.join(bundle, "Contents", "x86_64-linux", "Tavlo.so")
    if not check(ok and os.path.isfile(so), "[VST3] Tavlo installed under $HOME", how):
        return
    old = time.time() - 10
    os.utime(so, (old, old))
    env = {"HOME": home, "VST3_PATH": os.path.join(home, ".vst3")}
    rc, out = ard.run([SCANNER, "-f", bundle], dict(env, LD_LIBRARY_PATH=LIBDIR), timeout=60)
    user = "Tavlo Listing Check"
    rc, out = ard.lua("preset_list.lua", dict(env, TAVLO_SESSION_DIR=os.path.join(ard.work, "install-session"),
                                              TAVLO_USER_PRESET=user), timeout=PRESET_TIMEOUT)
    if not check("SESSION-DONE" in out, "[VST3] preset list of the installed plug-in read in ardour7-lua",
                 "" if "SESSION-DONE" in out else out[-1500:]):
        return
    labels = [m.split("\t")[0] for m in re.findall(r"^LISTED (.*)$", out, re.M)]
    counts = dict((n, labels.count(n)) for n in labels)
    wrong = ["%s %d times" % (n, counts.get(n, 0)) for n in FACTORY_PRESETS + [user] if counts.get(n, 0) != 1]
    wrong += ["%s (not a factory or the saved preset)" % n for n in counts if n not in FACTORY_PRESETS + [user]]
    check(not wrong, "[VST3] Ardour lists each factory preset once, and the user preset",
          "%d listed; %s" % (len(labels), "; ".join(wrong)) if wrong else "%d listed" % len(labels))


def run_format(ard, fmt, build=None):
    layout = FORMATS[fmt]
    tag = "[%s] " % fmt
    session = os.path.join(ard.work, fmt.lower() + "-session")
    home = os.path.join(ard.work, fmt.lower() + "-home")
    os.makedirs(home)
    rc, out = ard.lua("build_session.lua", {"TAVLO_SESSION_DIR": session,
                                             "TAVLO_SESSION_NAME": "tavlo",
                                             "TAVLO_PLUGIN_TYPE": fmt,
                                             "TAVLO_FRAMES": str(FRAMES),
                                             "HOME": home})
    if not check("SESSION-DONE" in out, tag + "session built in ardour7-lua"):
        print(out[-3000:])
        return
    out_build = out
    params = re.search(r"^PARAMS (.*)$", out, re.M)
    check(params is not None and params.group(1) == ",".join(layout["params"]),
          tag + "Ardour's parameter list", params.group(1) if params else "none")
    name = re.search(r"^NAME (.*)$", out, re.M)
    check(name is not None and name.group(1) == "Tavlo|Quillmarshworks", tag + "plug-in name and maker",
          name.group(1) if name else "none")
    scale = re.search(r"^TIME_SCALE (\d+)$", out, re.M)
    time_scale = int(scale.group(1)) if scale else 1
    if fmt == "VST3":
        check_vst3_ranges(out)
    built = out

    snaps = ["dry", "bypass", "flat", "comp", "automix", "state", "sc_main", "sc_on"]
    for s in snaps:
        if not mark_session_range(os.path.join(session, s + ".ardour")):
            check(False, tag + "session range in " + s)
            return

    # Reload in a fresh process and save again, twice: the values must hold.
    values = []
    for src, dst in (("state", "state2"), ("state2", "state3")):
        rc, out = ard.lua("reload_session.lua", {"TAVLO_SESSION_DIR": session,
                                                  "TAVLO_SNAPSHOT": src, "TAVLO_RESAVE_AS": dst})
        if not check("SESSION-DONE" in out, tag + "reload %s and save as %s in a new process" % (src, dst)):
            print(out[-3000:])
            return
        values.append(re.findall(r"^VALUE (\w[\w ]*)=(\S+)$", out, re.M))
        if src == "state":
            check_latency(tag, built, out)
    settings = in_host_units(STATE_VALUES, time_scale)
    at = layout["trail_at"]
    want = layout["lead"] + settings[:at] + layout["trail"] + settings[at:]
    for k, got in enumerate(values):
        ok = len(got) == len(want) and all(
            g[0] == w[0] and abs(float(g[1]) - w[1]) <= 1e-5 * max(1.0, abs(w[1]))
            for g, w in zip(got, want))
        check(ok, tag + "parameter values after reload %d" % (k + 1), " ".join("%s=%s" % g for g in got))
    check(len(values) == 2 and values[0] == values[1], tag + "re-saved session reloads with the same values")
    if fmt == "LV2":
        check_lv2_state(ard, session, time_scale)
    else:
        check_vst3_state(ard, session)
    check_saved_preset(ard, fmt, home, out_build)
    if fmt == "VST3":
        check_presets_chosen(ard, session, home, time_scale)
        check_installed_presets(ard, build)

    # The tone-only session first: the control for the export tool itself.
    renders = {}
    for s in snaps + ["state2"]:
        chans, notes = ard.export(session, s, "control" if s == "dry" else "tavlo")
        if chans is None and s != "dry":
            notes.append(control_verdict(ard, session))
        if not check(chans is not None, tag + "render " + s, "; ".join(notes)):
            return
        renders[s] = chans

    # Bypass 1 equals the render without the plug-in.
    dry, byp = renders["dry"], renders["bypass"]
    lag = align(byp, dry)
    worst = max(max_diff(byp[c], dry[c], lag)[0] for c in range(2))
    check(peak(dry[0], 0, FRAMES) > 0.5 and worst == 0.0, tag + "Bypass 1 render equals the dry render",
          "lag %d, max difference %g" % (lag, worst))

    # Input 30 on the Nyquist tone: the expected gain reduction.
    flat, comp = renders["flat"], renders["comp"]
    tail = (FRAMES - 9600, FRAMES)
    pf = [peak(flat[c], *tail) for c in range(2)]
    pc = [peak(comp[c], *tail) for c in range(2)]
    check(all(abs(p - PREAMP_AT_ONE) < 1e-4 for p in pf), tag + "Input 0 level",
          "%.6f %.6f (expected %.6f)" % (pf[0], pf[1], PREAMP_AT_ONE))
    check(all(abs(p - NYQUIST_GAIN * PREAMP_AT_ONE) < 2e-4 for p in pc), tag + "Input 30 level",
          "%.6f %.6f (expected %.6f)" % (pc[0], pc[1], NYQUIST_GAIN * PREAMP_AT_ONE))
    gr = 20 * math.log10(pc[0] / pf[0])
    check(abs(gr - 20 * math.log10(NYQUIST_GAIN)) < 0.01, tag + "Input 30 gain reduction",
          "%.3f dB (expected %.3f dB)" % (gr, 20 * math.log10(NYQUIST_GAIN)))

    # Mix automated 0 -> 100 at the middle: dry tone (level 1) before,
    # compressed after, switching near the automation point.
    auto = renders["automix"][0]
    mid = FRAMES // 2
    before = peak(auto, 4096, mid - 4096)
    after = peak(auto, mid + 4096, FRAMES - 256)
    switch = next((i for i in range(len(auto)) if abs(auto[i]) < 0.95), -1)
    check(abs(before - 1.0) < 1e-6, tag + "automation: Mix 0 passes the tone before the point", "%.6f" % before)
    check(abs(after - NYQUIST_GAIN * PREAMP_AT_ONE) < 2e-4, tag + "automation: Mix 100 after the point",
          "%.6f" % after)
    # The ramp to Mix 100 runs from 96 frames before the point to the point.
    # Ardour splits an LV2 plug-in's run at every automation point, so the
    # switch lies on the ramp; the VST 3 bundle takes the cycle's last point
    # from the cycle's start (see EXPORT_CYCLE).
    earliest = mid - 96 if fmt == "LV2" else mid - (EXPORT_CYCLE - 1)
    check(earliest <= switch <= mid, tag + "automation: the change lands at the point",
          "first compressed frame %d, point at %d, allowed from %d" % (switch, mid, earliest))

    # Side-chain: with Sidechain 0 the side track's tone drives the detector.
    scm, sco = renders["sc_main"][0], renders["sc_on"][0]
    lm, lo = peak(scm, *tail), peak(sco, *tail)
    check(abs(lm - PREAMP_AT_HALF) < 1e-4, tag + "Sidechain 1: the main input's DC causes no reduction",
          "%.6f (expected %.6f)" % (lm, PREAMP_AT_HALF))
    check(abs(lo - SIDECHAIN_GAIN * PREAMP_AT_HALF) < 2e-4,
          tag + "Sidechain 0: the connected side-chain drives the detector",
          "%.6f (expected %.6f)" % (lo, SIDECHAIN_GAIN * PREAMP_AT_HALF))
    check(peak(sco, 0, FRAMES) < 0.6, tag + "side track's tone stays out of the mix",
          "peak %.6f" % peak(sco, 0, FRAMES))

    # Save, reload, re-save: the same audio.
    a, b = renders["state"], renders["state2"]
    lag = align(b, a)
    worst = max(max_diff(b[c], a[c], lag)[0] for c in range(2))
    diff_dry = max_diff(a[0], dry[0], align(a, dry))[0]
    check(worst == 0.0, tag + "re-saved session renders identically", "lag %d, max difference %g" % (lag, worst))
    check(diff_dry > 0.05, tag + "the saved settings are audible", "max difference to dry %.4f" % diff_dry)


if __name__ == "__main__":
    sys.exit(main())
