#!/usr/bin/python3
"""The crash-state test's cases: each face of the logger in a run that
rotates, keeps a ring, meets a full disk, a file size limit or a deleted
log, recorded and checked in every state a power cut could leave
(crash_states.py says the model and the checks). One line a case; the
failing states of a case that fails. Run by scripts/power-cut-test.sh:

  power_cut_test.py --bin DIR --library LIB [--faults LIB] [--budget N]
                    [--seed N] [--only NAME]

DIR holds buslog-host and libbuslog.so; LIB is libbuslog_fs_record.so;
--faults the storage fault library. Cases that need root (a tmpfs) or the
python-can package are skipped with the reason.
"""
import argparse
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # nothing left beside the sources
import crash_states  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
PYTHON_PACKAGE = os.path.join(HERE, "..", "..", "python")
SCRATCH = "/dev/shm" if os.path.isdir("/dev/shm") else None


def frame(i):
    """candump line of frame i (from 1), 1 ms apart, 8 data bytes."""
    return "(%.6f) can0 123#%016X\n" % (1700000000 + i / 1000, i)


def trace(count):
    return "".join(frame(i) for i in range(1, count + 1)).encode()


class Skip(Exception):
    pass


class TmpFs:
    """A small tmpfs of the test's own, mounted on `path`."""

    def __init__(self, path, size):
        if os.geteuid() != 0:
            raise Skip("mounting a tmpfs needs root (CI runs as root)")
        done = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + size, "buslog-power-cut", path],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if done.returncode != 0:
            raise Skip("mount -t tmpfs refused: " + done.stdout.decode(errors="replace").strip())
        self.path = path

    def close(self):
        subprocess.run(["umount", "-l", self.path])


class Cases:
    def __init__(self, args):
        self.bin = os.path.abspath(args.bin)
        self.host = os.path.join(self.bin, "buslog-host")
        self.module = os.path.join(self.bin, "libbuslog.so")
        self.library = os.path.abspath(args.library)
        self.faults = os.path.abspath(args.faults) if args.faults else ""
        self.budget = args.budget
        self.seed = args.seed
        self.work = tempfile.mkdtemp(prefix="buslog-power-cut-", dir=SCRATCH)
        self.input = os.path.join(self.work, "input.log")
        with open(self.input, "wb") as f:
            f.write(trace(1500))

    def folder(self, name):
        path = os.path.join(self.work, name)
        os.mkdir(path)
        return path

    def check(self, name, root, command, logs="*.buslog", checks=(), **options):
        return crash_states.run_case(name, command, root, self.library, logs, checks, budget=self.budget,
                                     seed=self.seed, **options)

    def host_case(self, name, args, root, data=None, **options):
        command = [self.host] + args + ["--quiet"]
        return self.check(name, root, command, stdin=data, **options)

    def fault_env(self, **settings):
        if not self.faults:
            raise Skip("needs the storage fault library (--faults)")
        env = {"LD_PRELOAD": self.faults}
        for key, value in settings.items():
            env["BUSLOG_FAULT_" + key.upper()] = str(value)
        return env

    # ---- the cases

    def replay(self):
        root = self.folder("replay")
        return self.host_case("replay", ["replay", self.input, "--output", root + "/replay.buslog"], root)

    def replay_each_frame(self):
        root = self.folder("each")
        return self.host_case("replay, one Write a frame", ["replay", "-", "--output", root + "/each.buslog",
                                                           "--sync-every-frame"], root, data=trace(400))

    def rotating(self):
        root = self.folder("rotating")
        return self.host_case("rotating", ["replay", self.input, "--output", root + "/rot.buslog",
                                           "--rotate-size", "8k"], root)

    # A ring's run may end with status 1 when marker lines went with the
    # removed files (the host compares the frames lost with the lines
    # removed); what the ring kept is checked here, not the status.
    RING_STATUS = (0, 1)

    def ring_by_files(self):
        root = self.folder("ring-files")
        checks = [crash_states.ring_limits(os.path.realpath(root), "ring-*.buslog", max_files=3)]
        return self.host_case("ring of 3 files", ["replay", "-", "--output", root + "/ring.buslog",
                                                  "--rotate-size", "8k", "--max-files", "3"], root,
                              data=trace(1500), checks=checks, expect_status=self.RING_STATUS)

    def ring_by_size(self):
        root = self.folder("ring-size")
        checks = [crash_states.ring_limits(os.path.realpath(root), "ring-*.buslog", max_bytes=24 * 1024)]
        return self.host_case("ring of 24 KiB", ["replay", "-", "--output", root + "/ring.buslog",
                                                 "--rotate-size", "4k", "--max-total", "24k"], root,
                              data=trace(1500), checks=checks, expect_status=self.RING_STATUS)

    def full_disk_taken_back(self):
        # A batch written in part (the disk full after 300 bytes, some whole
        # lines), its rest refused: the part is taken back and the frames
        # are written again one by one.
        root = self.folder("full")
        env = self.fault_env(path="*/full.buslog", write=5, partial=300, errno="ENOSPC", times=1)
        return self.host_case("full disk, a batch taken back", ["replay", self.input, "--output",
                                                                root + "/full.buslog"], root, env=env)

    def full_tmpfs_ring(self):
        # A real full disk: the tmpfs cuts a write short where its pages end,
        # the module takes the part back, the ring gives up its oldest file.
        root = self.folder("tmpfs")
        fs = TmpFs(root, "96k")
        try:
            return self.host_case("full tmpfs, a ring", ["replay", "-", "--output", root + "/disk.buslog",
                                                         "--rotate-size", "16k", "--max-files", "100"], root,
                                  data=trace(3000), expect_status=self.RING_STATUS)
        finally:
            fs.close()

    def size_limit(self):
        root = self.folder("limit")

        def limit():
            resource.setrlimit(resource.RLIMIT_FSIZE, (20000, 20000))

        return self.host_case("file size limit", ["replay", self.input, "--output", root + "/limit.buslog"], root,
                              preexec=limit)

    def deleted_log(self):
        # The log being written is deleted under the logger (by a program
        # the recording sees too); it goes on in a new file.
        root = self.folder("deleted")
        log = root + "/del.buslog"
        host = self.host

        def during(env):
            process = subprocess.Popen([host, "replay", "-", "--output", log, "--quiet"], env=env,
                                       stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            data = trace(900).splitlines(keepends=True)
            for i in range(0, len(data), 30):
                process.stdin.write(b"".join(data[i:i + 30]))
                process.stdin.flush()
                time.sleep(0.02)
                if i == 300:
                    # Once the log holds lines (a slow start may take a while).
                    deadline = time.monotonic() + 20
                    while not (os.path.exists(log) and os.path.getsize(log) > 0) and time.monotonic() < deadline:
                        time.sleep(0.01)
                    subprocess.run(["rm", log], env=env, check=True)
                    time.sleep(1.2)  # the logger looks once a second
            process.stdin.close()
            err = process.stderr.read().decode(errors="replace")
            return process.wait(), err

        return self.check("deleted log", root, None, during=during, expect_status=(1,))

    def python_writer(self):
        try:
            subprocess.run(["/usr/bin/python3", "-c", "import can"], check=True, stderr=subprocess.DEVNULL)
        except subprocess.CalledProcessError:
            raise Skip("/usr/bin/python3 cannot import can (Debian package python3-can)")
        root = self.folder("python")
        script = (
            "import can, sys\n"
            "from buslog.writer import BuslogWriter\n"
            "writer = BuslogWriter(sys.argv[1])\n"
            "for i in range(1, 1201):\n"
            "    writer.on_message_received(can.Message(timestamp=1700000000 + i / 1000, arbitration_id=0x123,\n"
            "                                           data=i.to_bytes(8, 'big'), is_extended_id=False,\n"
            "                                           channel='can0'))\n"
            "    if i % 100 == 0:\n"
            "        writer.flush()\n"
            "writer.stop()\n")
        env = {"PYTHONPATH": os.path.abspath(PYTHON_PACKAGE), "BUSLOG_MODULE": self.module,
               "PYTHONDONTWRITEBYTECODE": "1"}
        if self.faults:
            # Its third Write is cut short after 200 bytes and its rest
            # refused: the writer writes that batch's frames again one by one.
            env.update(self.fault_env(path="*/py.buslog", write=3, partial=200, errno="ENOSPC", times=1))
        return self.check("python writer, a batch taken back", root,
                          ["/usr/bin/python3", "-c", script, root + "/py.buslog"], env=env)


ALL = ["replay", "replay_each_frame", "rotating", "ring_by_files", "ring_by_size", "full_disk_taken_back",
       "full_tmpfs_ring", "size_limit", "deleted_log", "python_writer"]


def main():
    parser = argparse.ArgumentParser(description="the crash-state test's cases")
    parser.add_argument("--bin", required=True, help="folder of buslog-host and libbuslog.so")
    parser.add_argument("--library", required=True, help="libbuslog_fs_record.so")
    parser.add_argument("--faults", help="libbuslog_storage_faults.so")
    parser.add_argument("--budget", type=int, default=4000, help="about how many states a case checks")
    parser.add_argument("--seed", type=int, default=29, help="the seed of the states sampled")
    parser.add_argument("--only", action="append", choices=ALL, help="run only this case (repeatable)")
    args = parser.parse_args()
    cases = Cases(args)
    passed = failed = skipped = 0
    try:
        for name in args.only or ALL:
            try:
                ok = getattr(cases, name)()
            except Skip as reason:
                print("%s: skipped: %s" % (name.replace("_", " "), reason), flush=True)
                skipped += 1
                continue
            except (OSError, subprocess.SubprocessError) as error:
                print("%s: FAILED: %s" % (name.replace("_", " "), error), flush=True)
                ok = False
            if ok:
                passed += 1
            else:
                failed += 1
    finally:
        shutil.rmtree(cases.work, True)
    print("power-cut: %d passed, %d failed, %d skipped" % (passed, failed, skipped))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
