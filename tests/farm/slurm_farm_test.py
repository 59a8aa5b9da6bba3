#!/usr/bin/env python3
"""dof3d on a real Slurm scheduler: a one-node cluster of this machine.

The test writes a private configuration and state folder under the build
tree, starts munged, slurmctld and slurmd in the foreground as its own
children (their pids recorded), and submits sequences through
scripts/farm-submit-slurm:

  * a sequence in three tasks renders byte for byte what one local run does;
  * a damaged input frame fails its task, with its message in the task's log
    and in scripts/farm-report, while the other tasks finish;
  * a task cancelled in the middle of a frame keeps its finished frame and
    leaves neither a partial nor a temporary file; resubmitted, it renders only
    the missing frame, and the sequence equals the local run;
  * two tasks rendering the same frames at the same time leave whole frames.

It prints the scheduler's own accounting of every task (the job completion
log: sacct needs a database daemon) and stops every daemon it started by its
recorded pid, also when a check fails or the test is interrupted. Where it
cannot run (not root, Slurm or munge missing) it says why and exits with 77,
which CTest counts as skipped.

usage: slurm_farm_test.py --dof3d PATH --effects DIR --scripts DIR --work DIR
"""

import argparse
import filecmp
import json
import os
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import time
import traceback

SKIP = 77
DAEMONS = ("munged", "slurmctld", "slurmd")
COMMANDS = DAEMONS + ("sbatch", "squeue", "scancel", "sinfo", "scontrol", "oiiotool")
# Every wait ends by then, well before CTest's own time limit would kill the
# test without letting it stop its daemons.
DEADLINE = time.monotonic() + 240
FAST = ["--focus", "10", "--radius", "4", "--threads", "1"]
SLOW = ["--focus", "10", "--radius", "32", "--threads", "1"]


class Failure(Exception):
    """A check that did not hold, in one line."""


class Stop(Exception):
    """A signal asked the test to end."""


def on_signal(signum, _frame):
    raise Stop(signal.Signals(signum).name)


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(what, limit, probe, step=0.2, bounded=True):
    """Polls `probe` until it answers something true; Failure after `limit` s
    (or, when `bounded`, at the test's deadline)."""
    deadline = time.monotonic() + limit
    if bounded:
        deadline = min(deadline, DEADLINE)
    while True:
        answer = probe()
        if answer:
            return answer
        if time.monotonic() > deadline:
            raise Failure(f"{what}: not within {limit} s")
        time.sleep(step)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def session_members(session):
    """Processes of a session, as "pid name"."""
    members = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{entry}/stat") as f:
                stat = f.read()
        except (OSError, ValueError):
            continue
        fields = stat[stat.rfind(")") + 2:].split()
        if int(fields[3]) == session:
            members.append(f"{entry} {stat[stat.find('(') + 1:stat.rfind(')')]}")
    return members


def run(command, env=None, ok=(0,)):
    done = subprocess.run(command, env=env, capture_output=True, text=True, timeout=60)
    if done.returncode not in ok:
        raise Failure(f"{' '.join(command)}: exit status {done.returncode}: "
                      f"{done.stderr.strip() or done.stdout.strip()}")
    return done


class Cluster:
    """munged, slurmctld and slurmd on this host, with their own folder."""

    def __init__(self, folder):
        self.folder = folder
        self.host = socket.gethostname().split(".")[0]
        self.daemons = []  # (name, Popen), in the order started
        # Slurm's variables of a job this test might itself run in would
        # steer the commands to that job's cluster.
        self.env = {k: v for k, v in os.environ.items() if not k.startswith("SLURM_")}
        self.env["SLURM_CONF"] = os.path.join(folder, "slurm.conf")
        self.pid_file = os.path.join(folder, "daemons.pids")
        self.munge = os.path.join(folder, "munge")
        self.socket = os.path.join(self.munge, "socket")

    def path(self, *parts):
        return os.path.join(self.folder, *parts)

    def stop_leftovers(self):
        """Stops daemons a killed earlier run recorded, if they still run ours."""
        try:
            with open(self.pid_file) as f:
                recorded = [line.split() for line in f if line.strip()]
        except OSError:
            return
        for name, pid in recorded:
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    ours = self.folder.encode() in f.read() or self.env_of(pid)
            except OSError:
                continue
            if ours:
                print(f"stopping {name} (pid {pid}) left by an earlier run")
                os.kill(int(pid), signal.SIGTERM)
                wait_for(f"{name} {pid} to end", 15, lambda: not os.path.exists(f"/proc/{pid}"))

    def env_of(self, pid):
        try:
            with open(f"/proc/{pid}/environ", "rb") as f:
                return self.env["SLURM_CONF"].encode() in f.read()
        except OSError:
            return False

    def write_config(self):
        # A Unix socket's path holds at most 107 bytes; slurmd makes its own
        # in the spool folder, with the node and job in their names.
        check(len(self.path("spool")) + len(self.host) + 24 < 108 and len(self.socket) < 108,
              f"{self.folder}: too long a path for the daemons' sockets")
        shutil.rmtree(self.folder, ignore_errors=True)
        for sub in ("state", "spool", "log"):
            os.makedirs(self.path(sub))
        # munged refuses a socket folder others cannot enter, and a key
        # others can read.
        os.makedirs(self.munge, mode=0o755)
        os.chmod(self.munge, 0o755)
        key = os.path.join(self.munge, "munge.key")
        if shutil.which("mungekey"):
            run(["mungekey", "--create", "--keyfile", key])
        else:
            with open(os.open(key, os.O_WRONLY | os.O_CREAT, 0o600), "wb") as f:
                f.write(os.urandom(1024))
        os.chmod(key, 0o600)
        p = self.path
        # Two task slots at least, so that two tasks can overlap; the node's
        # own count is taken as configured.
        config = f"""ClusterName=dof3dfarm
SlurmctldHost={self.host}(127.0.0.1)
SlurmUser=root
SlurmdUser=root
SlurmctldPort={free_port()}
SlurmdPort={free_port()}
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket={self.socket}
StateSaveLocation={p("state")}
SlurmdSpoolDir={p("spool")}
SlurmctldPidFile={p("slurmctld.pid")}
SlurmdPidFile={p("slurmd.pid")}
SlurmctldLogFile={p("log", "slurmctld.log")}
SlurmdLogFile={p("log", "slurmd.log")}
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
MpiDefault=none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/filetxt
JobCompLoc={p("log", "jobcomp.txt")}
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
KillWait=5
MailProg=/bin/true
SlurmdParameters=config_overrides
NodeName={self.host} NodeAddr=127.0.0.1 CPUs={max(2, os.cpu_count())} State=UNKNOWN
PartitionName=farm Nodes={self.host} Default=YES MaxTime=INFINITE State=UP
"""
        with open(p("slurm.conf"), "w") as f:
            f.write(config)

    def start(self, name, command, ready):
        log = open(self.path("log", name + ".out"), "w")
        child = subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT, env=self.env,
                                 stdin=subprocess.DEVNULL, start_new_session=True)
        log.close()
        self.daemons.append((name, child))
        with open(self.pid_file, "a") as f:
            f.write(f"{name} {child.pid}\n")
        print(f"started {name}: pid {child.pid}: {' '.join(command)}")

        def up():
            if child.poll() is not None:
                raise Failure(f"{name} ended at once (status {child.returncode}): "
                              f"{self.tail(name)}")
            return ready()
        wait_for(f"{name} to come up", 30, up)

    def tail(self, name):
        with open(self.path("log", name + ".out"), errors="replace") as f:
            lines = f.read().strip().splitlines()
        return " | ".join(lines[-3:])

    def node_state(self):
        done = subprocess.run(["sinfo", "-h", "-N", "-n", self.host, "-o", "%T"],
                              env=self.env, capture_output=True, text=True)
        return done.stdout.strip() if done.returncode == 0 else ""

    def bring_up(self):
        self.stop_leftovers()
        self.write_config()
        self.start("munged", ["munged", "--foreground", f"--socket={self.socket}",
                              f"--key-file={self.munge}/munge.key",
                              f"--pid-file={self.munge}/munged.pid",
                              f"--log-file={self.munge}/munged.log",
                              f"--seed-file={self.munge}/munged.seed"],
                   lambda: os.path.exists(self.socket))
        self.start("slurmctld", ["slurmctld", "-D"],
                   lambda: run(["scontrol", "ping"], self.env, ok=(0, 1)).returncode == 0)
        self.start("slurmd", ["slurmd", "-D", "-N", self.host], lambda: True)
        wait_for("the node to be idle", 30, lambda: self.node_state() == "idle")

    def stop(self):
        """Stops the daemons by their pids, the last started first; checks
        each is gone."""
        gone = True
        for name, child in reversed(self.daemons):
            if child.poll() is None:
                child.send_signal(signal.SIGTERM)
                try:
                    child.wait(timeout=15)
                except subprocess.TimeoutExpired:
                    print(f"{name} (pid {child.pid}) ignored SIGTERM for 15 s: killing it")
                    child.kill()
                    child.wait(timeout=15)
            alive = os.path.exists(f"/proc/{child.pid}")
            # What it started in its own session (slurmctld's script helper)
            # ends with it.
            try:
                wait_for(f"{name}'s session to empty", 10,
                         lambda: not session_members(child.pid), bounded=False)
                stayed = []
            except Failure:
                stayed = session_members(child.pid)
            print(f"stopped {name}: pid {child.pid}, "
                  f"{'STILL THERE' if alive else 'gone'} (exit status {child.returncode})"
                  + (f"; left in its session: {stayed}" if stayed else ""))
            gone = gone and not alive and not stayed
        self.daemons = []
        if gone and os.path.exists(self.pid_file):
            os.remove(self.pid_file)
        return gone

    def cancel(self, jobs):
        """Cancels the jobs still queued or running, and waits for them to end."""
        left = self.jobs_left(jobs) if jobs else []
        if left:
            print(f"cancelling jobs {', '.join(left)}")
            subprocess.run(["scancel", *jobs], env=self.env)
            try:
                self.wait_jobs(jobs, 30)
            except Failure as problem:
                print(problem)

    def jobs_left(self, jobs):
        done = run(["squeue", "-h", "-o", "%A", "-j", ",".join(jobs)], self.env, ok=(0, 1))
        return done.stdout.split()

    def wait_jobs(self, jobs, limit):
        wait_for(f"jobs {', '.join(jobs)} to end", limit, lambda: not self.jobs_left(jobs), 0.5)

    def accounting(self, job, tasks):
        """The job completion log's records of the job's tasks: task -> record."""
        def records():
            found = {}
            try:
                with open(self.path("log", "jobcomp.txt")) as f:
                    for line in f:
                        fields = dict(w.split("=", 1) for w in line.split() if "=" in w)
                        if fields.get("ArrayJobId") == job:
                            found[int(fields["ArrayTaskId"])] = fields
            except OSError:
                pass
            return found if all(t in found for t in tasks) else None
        return wait_for(f"job {job}'s accounting", 20, records)


class Farm:
    """Sequences, the scripts that put them on the cluster, and the checks."""

    def __init__(self, args, cluster):
        self.args = args
        self.cluster = cluster
        self.folder = os.path.join(args.work, "run")
        self.jobs = []  # every job submitted, to cancel when the test fails

    def dof3d(self, *arguments):
        return [self.args.dof3d, *arguments, "--effects", self.args.effects]

    def make_frames(self, name, frames, size):
        """Noise colour (a seed per frame), opaque, depth 4 at the top to 16
        at the bottom: the blur shows everywhere but in the focus rows."""
        folder = os.path.join(self.folder, name)
        os.makedirs(folder)
        run(["oiiotool", "--frames", f"{frames[0]}-{frames[-1]}", "--pattern",
             "noise:type=uniform:min=0:max=1:seed={FRAME_NUMBER}", size, "3",
             "--pattern", "constant:color=1", size, "1", "--chappend",
             "--pattern", "fill:top=4:bottom=16", size, "1", "--chappend",
             "--chnames", "R,G,B,A,Z", "-d", "half", "-o", os.path.join(folder, "in.#.exr")])
        return folder

    def submit(self, folder, frames, chunk, options, logs, *extra, dof3d=None):
        done = run([os.path.join(self.args.scripts, "farm-submit-slurm"),
                    os.path.join(folder, "in.####.exr"), os.path.join(folder, "out", "f.####.exr"),
                    "--frames", frames, "--chunk", str(chunk), "--log-dir", logs,
                    "--dof3d", dof3d or self.args.dof3d, *extra, "--", *options,
                    "--effects", self.args.effects], self.cluster.env)
        job = done.stdout.strip()
        self.jobs.append(job)
        print(f"submitted job {job}: {frames} in chunks of {chunk} {' '.join(extra)}")
        return job

    def barrier(self, folder, count, limit=60):
        """A dof3d that starts rendering only once COUNT tasks have reached it
        (each task leaves its job id in a folder), or fails after LIMIT s."""
        arrived = os.path.join(folder, "arrived")
        os.makedirs(arrived)
        path = os.path.join(folder, "dof3d-at-barrier")
        here, dof3d = shlex.quote(arrived), shlex.quote(self.args.dof3d)
        with open(path, "w") as f:
            f.write(f"""#!/bin/sh
touch {here}/"$SLURM_JOB_ID"
for i in $(seq {limit * 10}); do
    [ "$(ls {here} | wc -l)" -ge {count} ] && exec {dof3d} "$@"
    sleep 0.1
done
echo "barrier: $(ls {here} | wc -l) of {count} tasks started within {limit} s" >&2
exit 1
""")
        os.chmod(path, 0o755)
        return path

    def local(self, folder, frames, options):
        os.makedirs(os.path.join(folder, "local"), exist_ok=True)
        run(self.dof3d("render", os.path.join(folder, "in.####.exr"), "-o",
                       os.path.join(folder, "local", "f.####.exr"), "--frames", frames, "-q",
                       "-j", "2", *options))

    def same_as_local(self, folder, frames):
        for frame in frames:
            farm = os.path.join(folder, "out", f"f.{frame}.exr")
            local = os.path.join(folder, "local", f"f.{frame}.exr")
            check(os.path.exists(farm), f"{farm}: not rendered")
            check(filecmp.cmp(farm, local, shallow=False), f"{farm}: differs from {local}")

    def only_outputs(self, folder, frames):
        """The output folder holds those frames and nothing else: no partial,
        no temporary."""
        names = sorted(os.listdir(os.path.join(folder, "out")))
        check(names == sorted(f"f.{f}.exr" for f in frames),
              f"{folder}/out holds {names}, expected frames {frames} only")

    def show_accounting(self, job, tasks):
        records = self.cluster.accounting(job, tasks)
        for task in tasks:
            r = records[task]
            line = (f"slurm: job {job}_{task} (id {r['JobId']}): {r['JobState']} exit "
                    f"{r['ExitCode']} from {r['StartTime']} to {r['EndTime']} on {r['NodeList']}")
            print(line)
        return records

    def report(self, logs, *jobs):
        command = [os.path.join(self.args.scripts, "farm-report"), logs]
        for job in jobs:
            command += ["--job", job]
        human = run(command, ok=(0, 1))
        print(human.stdout, end="")
        return json.loads(run(command + ["--json"], ok=(0, 1)).stdout)


def statuses_of(logs, job, task):
    """Frame -> status in a task's JSON summary, which must be there."""
    path = os.path.join(logs, f"dof3d-{job}_{task}.json")
    check(os.path.exists(path), f"job {job}_{task} left no summary")
    with open(path) as f:
        return {frame["frame"]: frame["status"] for frame in json.load(f)["frames"]}


def whole_sequence(farm):
    """Six frames in three tasks, and a sequence with a damaged frame beside it."""
    good = farm.make_frames("sequence", range(1001, 1007), "96x64")
    bad = farm.make_frames("damaged", range(1001, 1007), "96x64")
    damaged = os.path.join(bad, "in.1004.exr")
    with open(damaged, "r+b") as f:
        f.truncate(os.path.getsize(damaged) // 2)
    logs = os.path.join(farm.folder, "logs")
    job = farm.submit(good, "1001-1006", 2, FAST, logs)
    bad_job = farm.submit(bad, "1001-1006", 2, FAST, logs)
    farm.local(good, "1001-1006", FAST)
    farm.cluster.wait_jobs([job, bad_job], 60)

    records = farm.show_accounting(job, [0, 1, 2])
    for task, r in records.items():
        check(r["JobState"] == "COMPLETED" and r["ExitCode"] == "0:0",
              f"job {job}_{task}: {r['JobState']} {r['ExitCode']}")
    farm.same_as_local(good, range(1001, 1007))
    farm.only_outputs(good, range(1001, 1007))

    records = farm.show_accounting(bad_job, [0, 1, 2])
    states = {t: (r["JobState"], r["ExitCode"]) for t, r in records.items()}
    check(states == {0: ("COMPLETED", "0:0"), 1: ("FAILED", "1:0"), 2: ("COMPLETED", "0:0")},
          f"job {bad_job}: tasks ended {states}; only task 1 should fail, with status 1")
    farm.only_outputs(bad, [1001, 1002, 1003, 1005, 1006])
    with open(os.path.join(logs, f"dof3d-{bad_job}_1.log")) as f:
        log = f.read()
    check(f"dof3d: {damaged}: corrupt or truncated" in log,
          f"the log of job {bad_job}_1 does not name the damaged frame: {log!r}")
    report = farm.report(logs, bad_job)
    failed = [f for f in report["frames"] if f["status"] == "failed"]
    check(len(failed) == 1 and failed[0]["frame"] == 1004 and
          failed[0]["error"].startswith(f"{damaged}: corrupt or truncated"),
          f"the report's failed frames: {failed}")
    check(report["counts"]["rendered"] == 5 and not report["complete"],
          f"the report counts {report['counts']}")


def cancel_and_resubmit(farm):
    """Cancels a task in the middle of its second frame, then resubmits it."""
    # About a second a frame: the cancel, sent once the first frame is
    # written, lands well inside the second.
    folder = farm.make_frames("cancelled", range(2001, 2007), "1280x864")
    logs = os.path.join(farm.folder, "logs-cancelled")
    job = farm.submit(folder, "2001-2006", 2, SLOW, logs)
    first = os.path.join(folder, "out", "f.2003.exr")
    wait_for("task 1's first frame", 60, lambda: os.path.exists(first), 0.05)
    run(["scancel", f"{job}_1"], farm.cluster.env)
    print(f"cancelled job {job}_1 once {os.path.basename(first)} was written")
    farm.cluster.wait_jobs([job], 90)
    records = farm.show_accounting(job, [0, 1, 2])
    check(records[1]["JobState"] == "CANCELLED", f"job {job}_1: {records[1]['JobState']}")
    farm.only_outputs(folder, [2001, 2002, 2003, 2005, 2006])
    statuses = statuses_of(logs, job, 1)
    check(statuses == {2003: "rendered", 2004: "interrupted"},
          f"the cancelled task's summary: {statuses}")
    print(f"left by the cancel: frames {sorted(os.listdir(os.path.join(folder, 'out')))}")

    again = farm.submit(folder, "2001-2006", 2, SLOW, logs, "--tasks", "1")
    farm.local(folder, "2001-2006", SLOW)
    farm.cluster.wait_jobs([again], 60)
    r = farm.show_accounting(again, [1])[1]
    check(r["JobState"] == "COMPLETED", f"job {again}_1: {r['JobState']} {r['ExitCode']}")
    statuses = statuses_of(logs, again, 1)
    check(statuses == {2003: "skipped", 2004: "rendered"}, f"the rerun's summary: {statuses}")
    farm.same_as_local(folder, range(2001, 2007))
    farm.only_outputs(folder, range(2001, 2007))
    report = farm.report(logs)
    check(report["complete"] and report["counts"]["rendered"] == 5 and
          report["counts"]["skipped"] == 1, f"the report counts {report['counts']}")


def overlapping_tasks(farm):
    """The same frames rendered by two tasks at once never leave a bad frame."""
    folder = farm.make_frames("overlapping", range(3001, 3004), "960x640")
    logs = os.path.join(farm.folder, "logs-overlapping")
    options = SLOW + ["--overwrite"]
    # The scheduler need not start the second job while the first runs: its
    # next pass may come only when the first ends. So each task waits until
    # both have started, and only then renders.
    barrier = farm.barrier(folder, 2)
    jobs = [farm.submit(folder, "3001-3003", 3, options, logs, dof3d=barrier) for _ in range(2)]
    farm.local(folder, "3001-3003", options)
    farm.cluster.wait_jobs(jobs, 90)
    records = [farm.show_accounting(job, [0])[0] for job in jobs]
    for job, r in zip(jobs, records):
        check(r["JobState"] == "COMPLETED", f"job {job}_0: {r['JobState']} {r['ExitCode']}")
    check(records[0]["StartTime"] < records[1]["EndTime"] and
          records[1]["StartTime"] < records[0]["EndTime"], "the two tasks did not overlap")
    farm.same_as_local(folder, range(3001, 3004))
    farm.only_outputs(folder, range(3001, 3004))


def missing_requirements():
    if os.geteuid() != 0:
        return "not root: slurmd and munged run as root here"
    missing = [c for c in COMMANDS if not shutil.which(c)]
    if missing:
        return f"not installed: {', '.join(missing)} (scripts/install-deps.sh adds them)"
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    for name in ("dof3d", "effects", "scripts", "work"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args()
    why = missing_requirements()
    if why:
        print(f"skipped: {why}")
        return SKIP
    for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, on_signal)
    cluster = Cluster(os.path.join(args.work, "slurm"))
    farm = Farm(args, cluster)
    started = time.monotonic()
    status = 1
    try:
        shutil.rmtree(farm.folder, ignore_errors=True)
        os.makedirs(farm.folder)
        cluster.bring_up()
        print(f"cluster up in {time.monotonic() - started:.1f} s")
        for part in (whole_sequence, cancel_and_resubmit, overlapping_tasks):
            begun = time.monotonic()
            part(farm)
            print(f"{part.__name__}: passed in {time.monotonic() - begun:.1f} s")
        status = 0
    except (Failure, Stop) as problem:
        print(f"FAILED: {problem}")
    except Exception:  # a summary or report that is missing or not as written
        traceback.print_exc(file=sys.stdout)
        print("FAILED: see the traceback above")
    finally:
        # A second signal must not cut the clean-up short.
        for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            signal.signal(signum, signal.SIG_IGN)
        if cluster.daemons and status != 0:
            for name, _ in cluster.daemons:
                print(f"{name}'s last lines: {cluster.tail(name)}")
            cluster.cancel(farm.jobs)
        if not cluster.stop():
            status = 1
    print(f"{'passed' if status == 0 else 'failed'} in {time.monotonic() - started:.1f} s")
    return status


if __name__ == "__main__":
    sys.exit(main())
