#!/usr/bin/env python3
"""The whole tool at scale against what a user would run instead (cp -r, /bin/cp, pugixml).

Run through bench/scale/run.sh, which builds the Release binaries first. Every comparison runs both
sides in one go, alternating A B A B after one untimed run of each (which warms the page cache and
checks that both sides produced the same files); outputs are wiped, untimed, before every run.
Figures are medians of wall time; the CPU time (user + system, the process and everything it
waited for) is reported beside them, because it moves much less than wall time when other work
shares the machine.
"""
import argparse
import datetime
import json
import os
import shlex
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gen import SHAPES  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
GEN = os.path.join(HERE, "gen.py")
BEGIN = "<!-- scale figures: begin (written by bench/scale/run.sh) -->"
END = "<!-- scale figures: end -->"
DISK_BEGIN = "<!-- disk figures: begin (written by bench/scale/run.sh on a disk) -->"
DISK_END = "<!-- disk figures: end -->"
SHAPE_BEGIN = "<!-- shape figures: begin (written by bench/scale/run.sh --only shapes) -->"
SHAPE_END = "<!-- shape figures: end -->"
# Set by --drop-caches: every timed run starts with the page cache emptied (needs root).
DROP_CACHES = False


def drop_caches():
    """Writes dirty pages out and empties the page cache, so that the next run reads from the disk."""
    os.sync()
    with open("/proc/sys/vm/drop_caches", "w") as handle:
        handle.write("3\n")


def log(text):
    print(text, flush=True)


class Run:
    """One finished process: wall time, CPU time, exit code."""

    def __init__(self, wall, cpu, code):
        self.wall, self.cpu, self.code = wall, cpu, code


def run(argv, env=None, stdout=subprocess.DEVNULL):
    start = time.perf_counter()
    process = subprocess.Popen(argv, env=env, stdout=stdout, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    error = process.stderr.read().decode(errors="replace")
    process.stderr.close()
    if process.returncode != 0:
        raise SystemExit("failed (%d): %s\n%s" % (process.returncode, " ".join(argv), error))
    return Run(wall, usage.ru_utime + usage.ru_stime, process.returncode)


def peak_kb(argv, env=None):
    """Peak resident set of one run, in KB, read by GNU time: the rusage that Python gets for its own
    children counts the Python process's pages too (the child starts as a copy of it), which GNU time's
    small child does not."""
    out = "/tmp/lumvar-scale-peak.%d" % os.getpid()
    subprocess.run(["/usr/bin/time", "-f", "%M", "-o", out] + argv, env=env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(out) as handle:
        value = int(handle.read().split()[-1])
    os.remove(out)
    return value


def wipe(*paths):
    for path in paths:
        if os.path.isdir(path) and not os.path.islink(path):
            shutil.rmtree(path)
        elif os.path.exists(path):
            os.remove(path)
    os.sync()


def tree_listing(root):
    """Relative path and size of every file below root, and the relative path of every folder."""
    files, folders = {}, set()
    for folder, subfolders, names in os.walk(root):
        relative = os.path.relpath(folder, root)
        folders.update(os.path.normpath(os.path.join(relative, name)) for name in subfolders)
        for name in names:
            files[os.path.normpath(os.path.join(relative, name))] = os.path.getsize(os.path.join(folder, name))
    return files, folders


def same_trees(a, b, what):
    left, right = tree_listing(a), tree_listing(b)
    if left != right:
        only_a = sorted(set(left[0]) ^ set(right[0]))[:5]
        raise SystemExit("%s: the two sides produced different files (%s ...)" % (what, only_a))


class Pair:
    """A comparison: our side (A) and the peer (B), each with a preparation that is not timed."""

    def __init__(self, name, ours, theirs, prepare_ours, prepare_theirs, check=None):
        self.name, self.ours, self.theirs = name, ours, theirs
        self.prepare_ours, self.prepare_theirs, self.check = prepare_ours, prepare_theirs, check

    def measure(self, runs):
        self.prepare_ours()
        self.ours()
        self.prepare_theirs()
        self.theirs()
        if self.check:
            self.check()
        a, b = [], []
        for _ in range(runs):
            self.prepare_ours()
            if DROP_CACHES:
                drop_caches()
            a.append(self.ours())
            self.prepare_theirs()
            if DROP_CACHES:
                drop_caches()
            b.append(self.theirs())
        return Result(self.name, a, b)


class Result:
    def __init__(self, name, a, b):
        self.name = name
        self.a = [r.wall for r in a]
        self.b = [r.wall for r in b]
        self.a_cpu = statistics.median(r.cpu for r in a)
        self.b_cpu = statistics.median(r.cpu for r in b)

    @property
    def ours(self):
        return statistics.median(self.a)

    @property
    def theirs(self):
        return statistics.median(self.b)

    @property
    def ratio(self):
        return self.ours / self.theirs

    @property
    def cpu_ratio(self):
        return self.a_cpu / self.b_cpu if self.b_cpu > 0 else float("nan")

    def spread(self, values):
        return "%.3f–%.3f" % (min(values), max(values))


class Bench:
    def __init__(self, args):
        self.args = args
        self.bin = os.path.abspath(args.bin)
        self.lumvar = os.path.join(self.bin, "lumvar")
        self.cmd = os.path.join(self.bin, "lumvar-cmd")
        self.copy_step = os.path.join(self.bin, "scale_copy_step")
        self.xml = os.path.join(self.bin, "scale_xml")
        self.work = os.path.abspath(args.work)
        os.makedirs(self.work, exist_ok=True)
        self.results = {}
        self.notes = []

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def env(self, program_data):
        env = dict(os.environ)
        env["ProgramData"] = program_data
        return env

    def generate(self, files):
        out = self.path("installation-%d" % files)
        started = time.perf_counter()
        result = subprocess.run([sys.executable, GEN, "installation", "--files", str(files), "--out", out,
                                 "--seed", str(self.args.seed)], check=True, capture_output=True, text=True)
        manifest = json.loads(result.stdout)
        log("   installation of %d files, %.0f MB (ready in %.1f s)"
            % (manifest["total_files"], manifest["total_bytes"] / 1e6, time.perf_counter() - started))
        return out, manifest

    def fresh_template(self):
        out = self.path("fresh")
        subprocess.run([sys.executable, GEN, "fresh", "--out", out, "--seed", str(self.args.seed)], check=True)
        return out

    # ---- the comparisons ----------------------------------------------------------------------

    def backup_pair(self, inst):
        ours_pd, theirs_pd = self.path("out", "backup-ours"), self.path("out", "backup-theirs")
        script = self.path("out", "backup-cp.sh")
        self.write_backup_script(inst, os.path.join(theirs_pd, "Lumvar"), script)

        def prepare_ours():
            wipe(ours_pd)
            os.makedirs(ours_pd)

        def prepare_theirs():
            wipe(theirs_pd)
            os.makedirs(theirs_pd)

        argv = [self.lumvar, "/backup", inst + "/suite", inst + "/modules", inst + "/data"]
        pair = Pair("/backup", lambda: run(argv, env=self.env(ours_pd)),
                    lambda: run(["/bin/sh", script]), prepare_ours, prepare_theirs,
                    lambda: same_trees(os.path.join(ours_pd, "Lumvar"), os.path.join(theirs_pd, "Lumvar"), "/backup"))
        pair.argv, pair.env, pair.output, pair.baseline = argv, self.env(ours_pd), ours_pd, None
        return pair

    def write_backup_script(self, inst, backup, script):
        """cp of exactly the files that "/backup" saves, into the same places, with as few cp runs as
        the layout allows: the five single files at once, each module folder's matching files at
        once per destination, the data folder with one cp -r."""
        q = shlex.quote
        lines = ["set -e", "mkdir -p %s" % " ".join(q(os.path.join(backup, p)) for p in
                                                     ("diesel", "gas", "Data/diesel", "Data/gas"))]
        singles = [inst + "/suite/Common/CommonConfig.xml", inst + "/modules/eobd/eobd.ini",
                   inst + "/modules/oscillo/oscillo.ini", inst + "/modules/Utility/Dorvel.ini",
                   inst + "/modules/wizard/ConfigurationWizard.xml"]
        lines.append("cp %s %s/" % (" ".join(q(s) for s in singles), q(backup)))
        for module, settings, data_ext, place in (("fumi", "diesel", "opa", "diesel"), ("gas", "gas", "gas", "gas")):
            folder = os.path.join(inst, "modules", module)
            names = sorted(os.listdir(folder))
            pick = lambda exts: [os.path.join(folder, n) for n in names
                                 if os.path.isfile(os.path.join(folder, n)) and
                                 os.path.splitext(n)[1][1:].lower() in exts]
            lines.append("cp %s %s/" % (" ".join(q(p) for p in pick({"crk", "ini", "txt", "xml"})),
                                        q(os.path.join(backup, settings))))
            lines.append("cp %s %s/" % (" ".join(q(p) for p in pick({data_ext})), q(os.path.join(backup, "Data", place))))
        lines.append("cp -r %s/. %s/" % (q(inst + "/data"), q(os.path.join(backup, "Data"))))
        with open(script, "w") as handle:
            handle.write("\n".join(lines) + "\n")

    def restore_pair(self, inst):
        """Restores from one backup made by the tool (untimed) into a fresh installation."""
        saved_pd = self.path("out", "restore-source")
        wipe(saved_pd)
        os.makedirs(saved_pd)
        run([self.lumvar, "/backup", inst + "/suite", inst + "/modules", inst + "/data"], env=self.env(saved_pd))
        fresh = self.fresh_template()
        ours, theirs = self.path("out", "restore-ours"), self.path("out", "restore-theirs")
        script = self.path("out", "restore-cp.sh")
        self.write_restore_script(os.path.join(saved_pd, "Lumvar"), theirs, script)

        def prepare(target):
            def go():
                wipe(target)
                shutil.copytree(fresh, target)
            return go

        argv = [self.lumvar, "/restore", ours + "/config", ours + "/data", ours + "/common"]
        pair = Pair("/restore", lambda: run(argv, env=self.env(saved_pd)),
                    lambda: run(["/bin/sh", script]), prepare(ours), prepare(theirs),
                    lambda: self.check_restore(ours, theirs))
        pair.argv, pair.env, pair.output, pair.baseline = argv, self.env(saved_pd), ours, fresh
        return pair

    def check_restore(self, ours, theirs):
        # The merge rewrites our CommonConfig.xml (cp leaves it as installed); compare the rest.
        left, right = tree_listing(ours), tree_listing(theirs)
        for files in (left[0], right[0]):
            files.pop("config/CommonConfig.xml", None)
        if left != right:
            raise SystemExit("/restore: the two sides produced different files (%s ...)"
                             % sorted(set(left[0]) ^ set(right[0]))[:5])

    def write_restore_script(self, backup, target, script):
        """cp of the twelve saved items into the same destinations as the copy-back steps."""
        q = shlex.quote
        data = os.path.join(backup, "Data")
        lines = ["set -e"]

        def flat(folder, destination):
            names = [os.path.join(folder, n) for n in sorted(os.listdir(folder)) if os.path.isfile(os.path.join(folder, n))]
            lines.append("mkdir -p %s" % q(destination))
            if names:
                lines.append("cp %s %s/" % (" ".join(q(n) for n in names), q(destination)))

        def tree(folder, destination):
            lines.append("mkdir -p %s" % q(destination))
            lines.append("cp -r %s/. %s/" % (q(folder), q(destination)))

        flat(os.path.join(backup, "diesel"), target + "/config/diesel")
        lines.append("mkdir -p %s && cp %s %s/" % (q(target + "/config/eobd"), q(backup + "/eobd.ini"), q(target + "/config/eobd")))
        tree(os.path.join(data, "kormo", "Exchange - In"), target + "/data/kormo/In")
        tree(os.path.join(data, "kormo", "Exchange - Out"), target + "/data/kormo/Out")
        flat(os.path.join(backup, "gas"), target + "/config/gas")
        lines.append("cp %s %s %s/" % (q(backup + "/oscillo.ini"), q(backup + "/ConfigurationWizard.xml"), q(target + "/config")))
        flat(os.path.join(data, "kormo"), target + "/data/kormo/rec")
        for name in ("clientmanager", "diesel", "gas", "oscillo"):
            tree(os.path.join(data, name), target + "/data/" + name)
        with open(script, "w") as handle:
            handle.write("\n".join(lines) + "\n")

    def xcopy_pair(self, inst):
        ours, theirs = self.path("out", "xcopy-ours"), self.path("out", "xcopy-theirs")
        parameters = '/c XCOPY "%s" "%s/" /e /i /v /y' % (inst + "/data", ours)
        return Pair("XCOPY stand-in /e /v", lambda: run([self.cmd, parameters]),
                    lambda: run(["cp", "-r", inst + "/data", theirs]),
                    lambda: wipe(ours), lambda: wipe(theirs), lambda: same_trees(ours, theirs, "XCOPY"))

    def copy_step_pair(self, inst):
        ours_pd, theirs_pd = self.path("out", "step-ours"), self.path("out", "step-theirs")

        def prepare(folder):
            def go():
                wipe(folder)
                os.makedirs(folder)
            return go

        return Pair("copy step per file", lambda: run([self.copy_step, "tool", inst + "/modules"], env=self.env(ours_pd)),
                    lambda: run([self.copy_step, "cp", inst + "/modules", theirs_pd + "/Lumvar"]),
                    prepare(ours_pd), prepare(theirs_pd),
                    lambda: same_trees(os.path.join(ours_pd, "Lumvar"), os.path.join(theirs_pd, "Lumvar"), "copy step"))

    def matching_files(self, inst):
        result = subprocess.run([self.copy_step, "cp", inst + "/modules", self.path("out", "count")],
                                check=True, capture_output=True, text=True)
        wipe(self.path("out", "count"))
        return int(result.stdout.strip())

    # ---- where the copy time goes -----------------------------------------------------------------

    def start_time(self, rounds=101):
        """Median CPU time (user + system) of one run of the interpreter that starts, finds its source
        missing and exits: what each interpreter run costs before a byte is copied."""
        parameters = '/c XCOPY "%s" "%s/" /i /v /y' % (self.path("no-such-source"), self.path("out", "none"))
        times = []
        for _ in range(rounds):
            process = subprocess.Popen([self.cmd, parameters], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            _, _, usage = os.wait4(process.pid, 0)
            times.append(usage.ru_utime + usage.ru_stime)
        return statistics.median(times)

    def interpreter_runs(self, pair):
        """Interpreter runs that one run of the verb starts, counted with strace, and the bytes it
        copied; untimed."""
        pair.prepare_ours()
        trace = self.path("out", "execve.trace")
        subprocess.run(["strace", "-f", "-qq", "-e", "trace=execve", "-o", trace] + pair.argv, env=pair.env,
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(trace) as handle:
            runs = sum(1 for line in handle if "lumvar-cmd" in line and line.rstrip().endswith("= 0"))
        os.remove(trace)
        copied = sum(tree_listing(pair.output)[0].values())
        if pair.baseline:
            copied -= sum(tree_listing(pair.baseline)[0].values())
        return runs, copied

    def breakdown(self, inst, table):
        """Share of verification, process start and data copy in the CPU time (user + system) of
        /backup, /restore and the XCOPY stand-in, which moves little with the load of the machine:
        verification from the XCOPY stand-in with and without /v (alternating), per byte; process
        start from the interpreter runs of each, counted, times the CPU time of one start; the rest
        is the copy itself. Wall time beyond the CPU time is waiting: for the disk, or for a core."""
        ours, plain = self.path("out", "xcopy-v"), self.path("out", "xcopy-plain")
        data = inst + "/data"
        verify = Pair("XCOPY /e with and without /v",
                      lambda: run([self.cmd, '/c XCOPY "%s" "%s/" /e /i /v /y' % (data, ours)]),
                      lambda: run([self.cmd, '/c XCOPY "%s" "%s/" /e /i /y' % (data, plain)]),
                      lambda: wipe(ours), lambda: wipe(plain),
                      lambda: same_trees(ours, plain, "XCOPY without /v")).measure(self.args.runs)
        data_bytes = sum(tree_listing(data)[0].values())
        per_byte = max(0.0, verify.a_cpu - verify.b_cpu) / data_bytes
        start = self.start_time()
        rows = []
        by_name = {r.name: r for r in table}
        # Each pair is made just before its run: making the restore pair writes its backup folder into
        # the output folder, which every run here wipes after it.
        for name, make in (("/backup", self.backup_pair), ("/restore", self.restore_pair)):
            runs, copied = self.interpreter_runs(make(inst))
            rows.append(self.breakdown_row(name, by_name[name], runs, copied, start, per_byte))
            wipe(self.path("out"))
            os.makedirs(self.path("out"))
        rows.append(self.breakdown_row("XCOPY stand-in /e /v", by_name["XCOPY stand-in /e /v"], 1, data_bytes,
                                       start, per_byte))
        return {"start": start, "verify_with": verify.a_cpu, "verify_without": verify.b_cpu,
                "verify_wall": [verify.ours, verify.theirs], "rows": rows}

    @staticmethod
    def breakdown_row(name, result, runs, copied, start, per_byte):
        # The tool's own process counts as one more start.
        starting = (runs + 1) * start
        verifying = copied * per_byte
        return {"name": name, "wall": result.ours, "total": result.a_cpu, "runs": runs, "bytes": copied,
                "start": starting, "verify": verifying, "copy": max(0.0, result.a_cpu - starting - verifying)}

    # ---- the merge for every shape of file ----------------------------------------------------------

    def shape_figures(self):
        """For each shape of gen.py and each size: the merge end to end as a "/restore" whose backup
        folder holds only the saved CommonConfig.xml, alternating with the settings-like file of the
        same size (the reference of throughput); peak memory by GNU time, smallest of three runs."""
        sizes = self.args.shape_sizes
        rows = []
        for size in sizes:
            cases = {}
            for shape in SHAPES:
                folder = self.path("shapes", "%s-%g" % (shape, size))
                saved, live = os.path.join(folder, "saved.xml"), os.path.join(folder, "live.xml")
                subprocess.run([sys.executable, GEN, "shape", "--shape", shape, "--size-mb", str(size),
                                "--saved", saved, "--live", live, "--seed", str(self.args.seed)], check=True)
                cases[shape] = self.merge_case(folder, saved, live)
            reference = cases["settings"]
            for shape in SHAPES:
                if shape == "settings":
                    continue
                case = cases[shape]
                # The shape and the settings-like file of the same size, alternating.
                a, b = [], []
                for _ in range(self.args.shape_runs):
                    case["prepare"]()
                    a.append(case["run"]())
                    reference["prepare"]()
                    b.append(reference["run"]())
                result = Result(shape, a, b)
                peak = min(self.case_peak(case) for _ in range(3))
                reference_peak = min(self.case_peak(reference) for _ in range(3))
                row = {"shape": shape, "size_mb": size, "bytes": case["bytes"], "ref_bytes": reference["bytes"],
                       "seconds": result.ours, "ref_seconds": result.theirs, "spread": result.spread(result.a),
                       "ref_spread": result.spread(result.b), "peak_kb": peak, "ref_peak_kb": reference_peak,
                       "cpu": result.a_cpu, "ref_cpu": result.b_cpu,
                       "load": os.getloadavg()[0]}
                rows.append(row)
                log("   %-10s %6.1f MB: %.3f s (settings-like %.3f s), throughput ratio %.2f, peak %.0f MB = %.2f times"
                    % (shape, case["bytes"] / 1e6, result.ours, result.theirs,
                       (case["bytes"] / result.ours) / (reference["bytes"] / result.theirs), peak / 1024,
                       peak * 1024 / case["bytes"]))
            wipe(self.path("shapes"))
        return rows

    def merge_case(self, folder, saved, live):
        pd = os.path.join(folder, "ProgramData")
        os.makedirs(os.path.join(pd, "Lumvar"))
        shutil.move(saved, os.path.join(pd, "Lumvar", "CommonConfig.xml"))
        target = os.path.join(folder, "installation")
        argv = [self.lumvar, "/restore", target + "/config", target + "/data", target + "/common"]

        def prepare():
            wipe(target)
            for sub in ("config", "data", "common"):
                os.makedirs(os.path.join(target, sub))
            shutil.copy(live, os.path.join(target, "config", "CommonConfig.xml"))

        return {"prepare": prepare, "run": lambda: run(argv, env=self.env(pd)), "argv": argv, "env": self.env(pd),
                "bytes": os.path.getsize(live) + os.path.getsize(os.path.join(pd, "Lumvar", "CommonConfig.xml"))}

    @staticmethod
    def case_peak(case):
        case["prepare"]()
        return peak_kb(case["argv"], env=case["env"])

    # ---- settings files -------------------------------------------------------------------------

    def xml_figures(self):
        size = self.args.xml_mb
        live = self.path("xml", "CommonConfig-live.xml")
        saved = self.path("xml", "CommonConfig-saved.xml")
        for variant, path, mb in (("live", live, size), ("saved", saved, 64 / 1024)):
            subprocess.run([sys.executable, GEN, "config", "--size-mb", str(mb), "--variant", variant,
                            "--out", path, "--seed", str(self.args.seed)], check=True)
        out = subprocess.run([self.xml, "parse", live, str(self.args.xml_rounds)], check=True,
                             capture_output=True, text=True).stdout
        parse = json.loads(out)
        peak = {side: min(peak_kb([self.xml, "load-" + side, live]) for _ in range(3))
                for side in ("lumvar", "pugixml")}
        merge = self.merge_figures(saved, live)
        return {"bytes": os.path.getsize(live), "saved_bytes": os.path.getsize(saved), "parse": parse,
                "load_peak_kb": peak, "merge": merge}

    def merge_figures(self, saved, live):
        """The merge end to end: a "/restore" whose backup folder holds only the saved
        CommonConfig.xml, so every copy-back step finds nothing and the merge is its only work.
        Peer: the same merge written with pugixml."""
        pd = self.path("merge", "ProgramData")
        wipe(self.path("merge"))
        os.makedirs(os.path.join(pd, "Lumvar"))
        shutil.copy(saved, os.path.join(pd, "Lumvar", "CommonConfig.xml"))
        target = self.path("merge", "installation")
        peer_live = self.path("merge", "pugixml-live.xml")

        def prepare_ours():
            wipe(target)
            for folder in ("config", "data", "common"):
                os.makedirs(os.path.join(target, folder))
            shutil.copy(live, os.path.join(target, "config", "CommonConfig.xml"))

        def ours():
            return run([self.lumvar, "/restore", target + "/config", target + "/data", target + "/common"],
                       env=self.env(pd))

        prepare_ours()
        try:
            ours()
        except SystemExit as failure:
            return {"pending": "the restore failed: %s" % str(failure).splitlines()[0]}
        with open(os.path.join(target, "config", "CommonConfig.xml"), "rb") as handle:
            merged = b'<brand name="Lumen Diagnostica Pro"/>' in handle.read(1 << 16)
        if not merged:
            return {"pending": "this build's /restore does not merge CommonConfig.xml yet"}
        pair = Pair("merge", ours, lambda: run([self.xml, "merge-pugixml", saved, peer_live]),
                    prepare_ours, lambda: shutil.copy(live, peer_live))
        a, b = [], []
        for _ in range(self.args.runs):
            pair.prepare_ours()
            a.append(pair.ours())
            pair.prepare_theirs()
            b.append(pair.theirs())
        result = Result("merge", a, b)
        peaks = []
        for _ in range(3):
            prepare_ours()
            peaks.append((peak_kb([self.lumvar, "/restore", target + "/config", target + "/data", target + "/common"],
                                  env=self.env(pd)), 0))
            shutil.copy(live, peer_live)
            peaks[-1] = (peaks[-1][0], peak_kb([self.xml, "merge-pugixml", saved, peer_live]))
        return {"ours": result.ours, "theirs": result.theirs, "ours_cpu": result.a_cpu, "theirs_cpu": result.b_cpu,
                "ours_peak_kb": min(p[0] for p in peaks), "theirs_peak_kb": min(p[1] for p in peaks),
                "spread_ours": result.spread(result.a), "spread_theirs": result.spread(result.b)}

    # ---- the whole run --------------------------------------------------------------------------

    def main(self):
        args = self.args
        started = time.perf_counter()
        log("== Lumvar at scale, work folder %s, %d runs of each side" % (self.work, args.runs))
        if args.only == "shapes":
            log("== The merge for every shape of file, sizes %s MB" % ", ".join("%g" % x for x in args.shape_sizes))
            load = os.getloadavg()[0]
            rows = self.shape_figures()
            if not args.keep:
                wipe(self.work)
            report_shapes(rows, load, time.perf_counter() - started, args.doc, args.shape_plot)
            return
        main_size = args.main_files
        sizes = sorted(set(args.sizes) | {main_size})
        installs = {}
        log("== Generating installations")
        for files in sizes:
            installs[files] = self.generate(files)
        inst, manifest = installs[main_size]
        os.makedirs(self.path("out"), exist_ok=True)

        table = []
        log("== %d files: /backup, /restore, XCOPY stand-in, copy step" % main_size)
        for make in (self.backup_pair, self.restore_pair, self.xcopy_pair, self.copy_step_pair):
            result = make(inst).measure(args.runs)
            table.append(result)
            log("   %-22s ours %.3f s  peer %.3f s  ratio %.2f  (CPU ratio %.2f)"
                % (result.name, result.ours, result.theirs, result.ratio, result.cpu_ratio))
            wipe(self.path("out"))
            os.makedirs(self.path("out"))
        matching = self.matching_files(inst)
        log("== Where the time goes: XCOPY with and without /v, one interpreter start, interpreter runs")
        split = self.breakdown(inst, table)
        log("   %s" % json.dumps(split))
        wipe(self.path("out"))
        os.makedirs(self.path("out"))

        xml = None
        if args.only == "all":
            log("== Settings file of %.0f MB: load and parse, merge" % args.xml_mb)
            xml = self.xml_figures()
            log("   load+parse ours %.3f s  pugixml %.3f s  ratio %.2f"
                % (xml["parse"]["lumvar"], xml["parse"]["pugixml"], xml["parse"]["lumvar"] / xml["parse"]["pugixml"]))
            log("   merge: %s" % json.dumps(xml["merge"]))

        log("== Scaling: /backup and /restore against cp for %s files" % ", ".join(str(s) for s in sizes))
        series = {}
        for files in sizes:
            if files == main_size:
                series[files] = (table[0], table[1])
                continue
            runs = max(1, args.scale_runs)
            backup = self.backup_pair(installs[files][0]).measure(runs)
            restore = self.restore_pair(installs[files][0]).measure(runs)
            series[files] = (backup, restore)
            log("   %6d files: /backup %.3f s (cp %.3f s), /restore %.3f s (cp %.3f s)"
                % (files, backup.ours, backup.theirs, restore.ours, restore.theirs))
            wipe(self.path("out"))
            os.makedirs(self.path("out"))
            if not args.keep and files != main_size:
                wipe(installs[files][0])

        figures = {
            "date": datetime.datetime.now().strftime("%Y-%m-%d %H:%M"),
            "machine": machine(),
            "work": self.work,
            "filesystem": filesystem(self.work),
            "runs": args.runs,
            "scale_runs": args.scale_runs,
            "main": {"files": manifest["total_files"], "bytes": manifest["total_bytes"], "matching": matching},
            "table": [{"name": r.name, "ours": r.ours, "theirs": r.theirs, "ours_cpu": r.a_cpu, "theirs_cpu": r.b_cpu,
                       "spread_ours": r.spread(r.a), "spread_theirs": r.spread(r.b)} for r in table],
            "xml": xml,
            "breakdown": split,
            "drop_caches": DROP_CACHES,
            "series": {files: {"bytes": installs[files][1]["total_bytes"],
                               "backup": [b.ours, b.theirs], "restore": [r.ours, r.theirs]}
                       for files, (b, r) in series.items()},
            "elapsed": time.perf_counter() - started,
        }
        if not args.keep:
            wipe(self.work)
        report(figures, args.doc, args.plot, args.figures)
        if args.only == "all":
            log("== The merge for every shape of file")
            started = time.perf_counter()
            load = os.getloadavg()[0]
            rows = self.shape_figures()
            report_shapes(rows, load, time.perf_counter() - started, args.doc, args.shape_plot)


def machine():
    model = "unknown processor"
    with open("/proc/cpuinfo") as handle:
        for line in handle:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    load = os.getloadavg()[0]
    memory = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") / 2**30
    return "%s, %d cores, %.0f GB memory, load average %.1f at the start" % (model, os.cpu_count(), memory, load)


def filesystem(path):
    best, kind = "", "unknown"
    with open("/proc/mounts") as handle:
        for line in handle:
            parts = line.split()
            if path.startswith(parts[1]) and len(parts[1]) > len(best):
                best, kind = parts[1], parts[2]
    return kind


TARGETS = {
    "/backup": ("at most 1.5 times", 1.5),
    "/restore": ("at most 1.5 times", 1.5),
    "XCOPY stand-in /e /v": ("at most 1.3 times", 1.3),
    "copy step per file": ("at most 0.5 times", 0.5),
}
# On a disk the copies wait for the same device as their peers, and /restore is held to 1.3.
DISK_TARGETS = dict(TARGETS, **{"/restore": ("at most 1.3 times", 1.3)})
PEERS = {
    "/backup": "cp of the same files (one cp -r for the data folder)",
    "/restore": "cp of the same twelve items back",
    "XCOPY stand-in /e /v": "cp -r of the data folder (no verification)",
    "copy step per file": "posix_spawn of /bin/cp per file",
}


def verdict(ratio, limit):
    return "met" if ratio <= limit else "missed"


def report(f, doc, plot, figures_path):
    lines = []
    main = f["main"]
    lines.append("Run of %s on %s; work folder on %s%s. Wall times are medians of %d runs of each side "
                 "(alternating, after one untimed run of each); the range of all runs is given beside "
                 "each figure. CPU is user + system time of the process and of everything it started."
                 % (f["date"], f["machine"], f["filesystem"],
                    ", page cache dropped before every timed run" if f.get("drop_caches") else "", f["runs"]))
    lines.append("")
    lines.append("Installation: %d files, %.2f GB; %d matching files in the fumi and gas folders."
                 % (main["files"], main["bytes"] / 1e9, main["matching"]))
    lines.append("")
    lines.append("| What | Lumvar (s) | Peer | Peer (s) | Ratio | CPU ratio | Target | |")
    lines.append("|---|---|---|---|---|---|---|---|")
    for row in f["table"]:
        name = row["name"]
        ours, theirs = row["ours"], row["theirs"]
        text, limit = (DISK_TARGETS if f["filesystem"] != "tmpfs" else TARGETS)[name]
        if name == "copy step per file":
            per = main["matching"]
            lines.append("| %s (%d files; per file) | %.3f (%.2f ms, %s) | %s | %.3f (%.2f ms, %s) | %.2f | %.2f | %s | %s |"
                         % (name, per, ours, ours / per * 1e3, row["spread_ours"], PEERS[name], theirs,
                            theirs / per * 1e3, row["spread_theirs"], ours / theirs,
                            row["ours_cpu"] / row["theirs_cpu"], text, verdict(ours / theirs, limit)))
            continue
        lines.append("| %s | %.3f (%s) | %s | %.3f (%s) | %.2f | %.2f | %s | %s |"
                     % (name, ours, row["spread_ours"], PEERS[name], theirs, row["spread_theirs"], ours / theirs,
                        row["ours_cpu"] / row["theirs_cpu"], text, verdict(ours / theirs, limit)))
    if f["xml"]:
        xml_rows(lines, f["xml"])
    breakdown_rows(lines, f["breakdown"])
    if len(f["series"]) > 1:
        lines.append("")
        lines.append("Time against installation size (medians of %d runs at each size but the %d-file one):"
                     % (f["scale_runs"], main["files"]))
    scaling_rows(lines, f, doc, plot, figures_path)


def xml_rows(lines, xml):
    parse = xml["parse"]
    ratio = parse["lumvar"] / parse["pugixml"]
    lines.append("| LoadFileText + ParseDocument, %.1f MB settings file | %.3f (fastest %.3f) | pugixml load_file | "
                 "%.3f (fastest %.3f) | %.2f | | at most 1.0 times | %s |"
                 % (xml["bytes"] / 1e6, parse["lumvar"], parse["lumvar_min"], parse["pugixml"],
                    parse["pugixml_min"], ratio, verdict(ratio, 1.0)))
    merge = xml["merge"]
    if "pending" in merge:
        lines.append("| merge of a %.1f MB live file end to end | pending: %s | pugixml, same merge | | | | | |"
                     % (xml["bytes"] / 1e6, merge["pending"]))
        lines.append("| peak memory of that merge | pending | | | | | at most 4 times the file | |")
    else:
        lines.append("| merge of a %.1f MB live file end to end (\"/restore\", saved file %d KB) | %.3f (%s) | "
                     "pugixml, same merge, layout kept | %.3f (%s) | %.2f | %.2f | (none) | |"
                     % (xml["bytes"] / 1e6, xml["saved_bytes"] // 1024, merge["ours"], merge["spread_ours"],
                        merge["theirs"], merge["spread_theirs"], merge["ours"] / merge["theirs"],
                        merge["ours_cpu"] / merge["theirs_cpu"]))
        times = merge["ours_peak_kb"] * 1024 / xml["bytes"]
        lines.append("| peak memory of that merge (maximum resident set) | %.1f MB = %.2f times the file | pugixml | "
                     "%.1f MB | %.2f | | at most 4 times the file | %s |"
                     % (merge["ours_peak_kb"] / 1024, times, merge["theirs_peak_kb"] / 1024,
                        merge["ours_peak_kb"] / merge["theirs_peak_kb"], verdict(times, 4.0)))
    peak = xml["load_peak_kb"]
    lines.append("| peak memory of load + parse alone | %.1f MB | pugixml load_file | %.1f MB | %.2f | | | |"
                 % (peak["lumvar"] / 1024, peak["pugixml"] / 1024, peak["lumvar"] / peak["pugixml"]))


def breakdown_rows(lines, split):
    lines.append("")
    lines.append("Where the time goes, in CPU time (user + system, which moves little with the load): one "
                 "interpreter start (a run of `lumvar-cmd` that finds its source missing) takes %.2f ms; the XCOPY "
                 "stand-in /e over the data folder takes %.3f s with /v and %.3f s without (wall %.3f and %.3f s); "
                 "the difference is the verification, charged to each row by the bytes it copies; process start "
                 "is the interpreter runs (counted with strace) and the tool's own process times one start; the "
                 "rest is the copy itself. Waiting is wall time beyond the CPU time: for the disk, or for a core "
                 "on a busy machine."
                 % (split["start"] * 1e3, split["verify_with"], split["verify_without"], split["verify_wall"][0],
                    split["verify_wall"][1]))
    lines.append("")
    lines.append("| What | Wall (s) | CPU (s) | Interpreter runs | GB copied | Process start (CPU s, share) | "
                 "Verification (CPU s, share) | Data copy and the rest (CPU s, share) | Waiting (s) |")
    lines.append("|---|---|---|---|---|---|---|---|---|")
    for row in split["rows"]:
        total = row["total"]
        lines.append("| %s | %.3f | %.3f | %d | %.2f | %.3f (%.0f%%) | %.3f (%.0f%%) | %.3f (%.0f%%) | %.3f |"
                     % (row["name"], row["wall"], total, row["runs"], row["bytes"] / 1e9, row["start"],
                        100 * row["start"] / total, row["verify"], 100 * row["verify"] / total, row["copy"],
                        100 * row["copy"] / total, max(0.0, row["wall"] - total)))


def replace_block(doc, begin, end, block):
    if os.path.exists(doc):
        with open(doc) as handle:
            text = handle.read()
    else:
        text = "# Performance\n"
    if begin in text and end in text:
        head, rest = text.split(begin, 1)
        tail = rest.split(end, 1)[1]
        text = head + begin + "\n" + block + "\n" + end + tail
    else:
        text += "\n%s\n%s\n%s\n" % (begin, block, end)
    with open(doc, "w") as handle:
        handle.write(text)


def scaling_rows(lines, f, doc, plot, figures_path):
    lines.append("")
    series = sorted(f["series"].items(), key=lambda item: int(item[0]))
    # One installation size (a run on a disk, say) has no scaling to show.
    if len(series) > 1:
        lines.append("| Files | GB | /backup (s) | cp (s) | /restore (s) | cp back (s) |")
        lines.append("|---|---|---|---|---|---|")
        for files, row in series:
            lines.append("| %d | %.2f | %.3f | %.3f | %.3f | %.3f |"
                         % (int(files), row["bytes"] / 1e9, row["backup"][0], row["backup"][1], row["restore"][0],
                            row["restore"][1]))
        fits = []
        for index, label in ((0, "/backup"), (1, "cp for the backup")):
            fits.append((label, linear_fit([(int(k), v["backup"][index]) for k, v in series])))
        for index, label in ((0, "/restore"), (1, "cp for the restore")):
            fits.append((label, linear_fit([(int(k), v["restore"][index]) for k, v in series])))
        lines.append("")
        lines.append("Straight-line fits of time against the number of files: " + "; ".join(
            "%s %.3f s per 1,000 files, R² %.3f" % (label, slope * 1000, r2) for label, (slope, _, r2) in fits) + ".")
    lines.append("")
    on_disk = f["filesystem"] != "tmpfs"
    if len(series) > 1:
        lines.append("![Time against installation size](%s)" % os.path.basename(plot))
        lines.append("")
    lines.append("Full run: %.0f s." % f["elapsed"])
    block = "\n".join(lines)
    print()
    print(block)
    if on_disk:
        replace_block(doc, DISK_BEGIN, DISK_END, block)
    else:
        replace_block(doc, BEGIN, END, block)
    with open(figures_path, "w") as handle:
        json.dump(f, handle, indent=1)
    if len(series) > 1:
        draw(series, plot)


SHAPE_UNITS = {name: unit for name, (_, _, unit) in SHAPES.items()}


def report_shapes(rows, load, elapsed, doc, plot):
    lines = ["Run of %s on %s; load average %.1f at the start. Each shape runs end to end as a \"/restore\" whose "
             "backup folder holds only the saved CommonConfig.xml, alternating with the settings-like file of the "
             "same size (`gen.py shape --shape settings`); wall times are medians of the runs, throughput is the "
             "two files' bytes per second (the CPU ratio is the same from user + system time), peak memory the smallest maximum resident set of three runs."
             % (datetime.datetime.now().strftime("%Y-%m-%d %H:%M"), machine().split(", load")[0], load), "",
             "| Shape | Files (MB) | Merge (s) | MB/s | Settings-like (s, same size) | Throughput ratio | CPU ratio | "
             "Peak (MB) | Peak / files | Load | Memory (at most 5) | Time (at least 0.5) |",
             "|---|---|---|---|---|---|---|---|---|---|---|---|"]
    for row in rows:
        mbs = row["bytes"] / 1e6 / row["seconds"]
        ref = row["ref_bytes"] / 1e6 / row["ref_seconds"]
        times = row["peak_kb"] * 1024 / row["bytes"]
        cpu = (row["bytes"] / row["cpu"]) / (row["ref_bytes"] / row["ref_cpu"])
        lines.append("| %s | %.1f | %.3f (%s) | %.0f | %.3f (%s) | %.2f | %.2f | %.0f | %.2f | %.1f | %s | %s |"
                     % (row["shape"], row["bytes"] / 1e6, row["seconds"], row["spread"], mbs, row["ref_seconds"],
                        row["ref_spread"], mbs / ref, cpu, row["peak_kb"] / 1024, times, row["load"],
                        "met" if times <= 5 else "missed", "met" if mbs / ref >= 0.5 else "missed"))
    refs = {}
    for row in rows:
        refs[row["size_mb"]] = (row["ref_bytes"], row["ref_peak_kb"])
    lines.append("")
    lines.append("Settings-like reference: " + "; ".join(
        "%.1f MB, peak %.0f MB = %.2f times" % (b / 1e6, p / 1024, p * 1024 / b) for b, p in sorted(refs.values())) + ".")
    lines.append("")
    lines.append("The shapes (`bench/scale/gen.py shape`): " + "; ".join(
        "%s: %s%s" % (name, what, " (%s)" % unit if unit else "") for name, (_, what, unit) in SHAPES.items()) + ".")
    lines.append("")
    lines.append("![Peak memory against file size for each shape](%s)" % os.path.basename(plot))
    lines.append("")
    lines.append("Shapes run: %.0f s." % elapsed)
    block = "\n".join(lines)
    print()
    print(block)
    replace_block(doc, SHAPE_BEGIN, SHAPE_END, block)
    draw_shapes(rows, refs, plot)


def draw_shapes(rows, refs, plot):
    if shutil.which("gnuplot") is None:
        log("gnuplot not found: no plot")
        return
    data = plot + ".dat"
    names = [name for name in SHAPES if name != "settings"]
    with open(data, "w") as handle:
        for b, p in sorted(refs.values()):
            handle.write("%f %f\n" % (b / 1e6, p / 1024))
        for name in names:
            handle.write("\n\n")
            for row in sorted((r for r in rows if r["shape"] == name), key=lambda r: r["bytes"]):
                handle.write("%f %f\n" % (row["bytes"] / 1e6, row["peak_kb"] / 1024))
    plots = ["'%s' index 0 using 1:2 with linespoints pt 7 lw 2 title 'settings-like'" % data]
    for index, name in enumerate(names, start=1):
        plots.append("'%s' index %d using 1:2 with linespoints pt 7 title '%s'" % (data, index, name))
    plots.append("5*x with lines dt 2 lc rgb '#888888' title '5 times the files'")
    plots.append("2*x with lines dt 3 lc rgb '#bbbbbb' title 'the two texts in UTF-16'")
    script = "\n".join([
        "set terminal pngcairo size 900,560 font 'sans,11'" if has_pngcairo() else "set terminal png size 900,560",
        "set output '%s'" % plot,
        "set title 'Merge (\"/restore\"): peak memory against the size of the two files'",
        "set xlabel 'saved + live CommonConfig.xml (MB)'",
        "set ylabel 'maximum resident set (MB)'",
        "set key top left",
        "set grid",
        "set xrange [0:*]",
        "set yrange [0:*]",
        "plot " + ", \\\n     ".join(plots),
    ])
    subprocess.run(["gnuplot"], input=script, text=True, check=True, capture_output=True)
    os.remove(data)


def linear_fit(points):
    n = len(points)
    mx = sum(x for x, _ in points) / n
    my = sum(y for _, y in points) / n
    sxx = sum((x - mx) ** 2 for x, _ in points)
    sxy = sum((x - mx) * (y - my) for x, y in points)
    slope = sxy / sxx if sxx else 0.0
    intercept = my - slope * mx
    total = sum((y - my) ** 2 for _, y in points)
    residual = sum((y - intercept - slope * x) ** 2 for x, y in points)
    return slope, intercept, (1 - residual / total) if total else 1.0


def draw(series, plot):
    if shutil.which("gnuplot") is None:
        log("gnuplot not found: no plot")
        return
    data = plot + ".dat"
    with open(data, "w") as handle:
        for files, row in series:
            handle.write("%d %f %f %f %f\n" % (int(files), row["backup"][0], row["backup"][1],
                                                row["restore"][0], row["restore"][1]))
    script = "\n".join([
        "set terminal pngcairo size 900,560 font 'sans,11'" if has_pngcairo() else "set terminal png size 900,560",
        "set output '%s'" % plot,
        "set title 'Lumvar at scale: time against installation size'",
        "set xlabel 'files in the installation (about 52 KB each on average)'",
        "set ylabel 'seconds (median)'",
        "set key top left",
        "set grid",
        "set xrange [0:*]",
        "set fit quiet",
        "set fit logfile '/dev/null'",
        "set yrange [0:*]",
        "fb(x) = ab*x + bb; fit fb(x) '%s' using 1:2 via ab, bb" % data,
        "fr(x) = ar*x + br; fit fr(x) '%s' using 1:4 via ar, br" % data,
        "plot '%s' using 1:2 with linespoints pt 7 lc rgb '#1f77b4' title '/backup', \\" % data,
        "     '%s' using 1:3 with linespoints pt 5 lc rgb '#aec7e8' title 'cp of the same files', \\" % data,
        "     '%s' using 1:4 with linespoints pt 7 lc rgb '#d62728' title '/restore', \\" % data,
        "     '%s' using 1:5 with linespoints pt 5 lc rgb '#ff9896' title 'cp back', \\" % data,
        "     fb(x) with lines dt 2 lc rgb '#1f77b4' title 'straight line through /backup', \\",
        "     fr(x) with lines dt 2 lc rgb '#d62728' title 'straight line through /restore'",
    ])
    subprocess.run(["gnuplot"], input=script, text=True, check=True, capture_output=True)
    os.remove(data)
    for leftover in ("fit.log",):
        if os.path.exists(leftover):
            os.remove(leftover)


def has_pngcairo():
    result = subprocess.run(["gnuplot", "-e", "set terminal"], capture_output=True, text=True)
    return "pngcairo" in (result.stdout + result.stderr)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", required=True, help="folder with lumvar, lumvar-cmd, scale_copy_step, scale_xml")
    parser.add_argument("--work", default="/dev/shm/lumvar-scale", help="scratch folder for installations and outputs")
    parser.add_argument("--runs", type=int, default=7, help="timed runs of each side at the main size")
    parser.add_argument("--scale-runs", type=int, default=3, help="timed runs of each side at the other sizes")
    parser.add_argument("--main-files", type=int, default=20000)
    parser.add_argument("--sizes", type=lambda text: [int(s) for s in text.split(",")], default=[1000, 5000, 20000, 50000])
    parser.add_argument("--xml-mb", type=float, default=20)
    parser.add_argument("--xml-rounds", type=int, default=11)
    parser.add_argument("--seed", type=int, default=2026)
    parser.add_argument("--doc", default=os.path.join(REPO, "docs", "performance.md"))
    parser.add_argument("--plot", default=os.path.join(REPO, "docs", "performance-scale.png"))
    parser.add_argument("--figures", default=os.path.join(REPO, "build", "scale", "scale-figures.json"),
                        help="all figures of the run, as JSON")
    parser.add_argument("--keep", action="store_true", help="keep the work folder (generated installations)")
    parser.add_argument("--only", choices=["all", "copies", "shapes"], default="all",
                        help="copies: the copy comparisons and their breakdown only; shapes: the merge shapes only")
    parser.add_argument("--drop-caches", action="store_true",
                        help="empty the page cache before every timed copy run (needs root; for a disk)")
    parser.add_argument("--shape-sizes", type=lambda text: [float(s) for s in text.split(",")], default=[25, 100, 200],
                        help="sizes in MB of the large file of each shape")
    parser.add_argument("--shape-runs", type=int, default=5, help="timed runs of each shape and of its reference")
    parser.add_argument("--shape-plot", default=os.path.join(REPO, "docs", "performance-shapes.png"))
    args = parser.parse_args()
    global DROP_CACHES
    DROP_CACHES = args.drop_caches
    Bench(args).main()
    return 0


if __name__ == "__main__":
    sys.exit(main())
