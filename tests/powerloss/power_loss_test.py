#!/usr/bin/env python3
"""The console tool and a power loss at any moment: records runs of
quenlat-cli over prepared folders, builds every state the disk may hold
after each operation under two persistence models, and checks each (see
README.md). Then edits a recorded run into broken protocols and fails unless
the checks catch each.

  power_loss_test.py --cli QUENLAT-CLI --seam AT_DATA_FLUSH.so --work DIR

QUENLAT_POWER_SEED chooses the sampled states (printed)."""

import argparse
import copy
import os
import shutil
import sys
import time

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import crash_states  # noqa: E402
import recording  # noqa: E402

BIG = 9_500_000 + 37  # past the size a batch takes
OTHER_UID, OTHER_GID = 1234, 2345
ADDED = b"added meanwhile\r\n"  # what the seam appends


def crlf_lines(seed, count):
    return b"".join(b"line %d of file %d, some words\r\n" % (i, seed) for i in range(count))


def write(path, data, mode=None, owner=None, xattr=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    if xattr:
        try:
            os.setxattr(path, xattr[0], xattr[1])
        except OSError:
            pass  # a filesystem without user attributes: nothing to keep
    if owner:
        os.chown(path, *owner)
    if mode is not None:
        os.chmod(path, mode)


class Scenario:
    """A folder to convert, the command, and what each file must hold after."""

    def __init__(self, name, argv, env=None, foreign=()):
        self.name, self.argv, self.env, self.foreign = name, argv, env or {}, foreign
        self.expected = {}  # path -> bytes
        self.program = None  # the console tool, unless a scenario names another

    def file(self, root, rel, data, after, as_root=None, **how):
        if as_root and os.geteuid() == 0:
            how.update(as_root)
        write(os.path.join(root, rel), data, **how)
        self.expected[rel] = after


def tree_to_lf(root, seam):
    """-r over a tree: two batches in flight, a file past the batch size, a
    file changed at its first flush and converted again, files of another
    owner, attributes, a binary file, a file already converted, a folder the
    walk leaves out."""
    again = os.path.join(root, "retry", "again.txt")
    s = Scenario("tree --to-lf -r", ["--to-lf", "-r", "."],
                 env={"LD_PRELOAD": seam, "QUENLAT_AT_DATA_FLUSH": "append-once=" + again},
                 foreign=["retry/again.txt"])
    other = {"owner": (OTHER_UID, OTHER_GID)}
    for i in range(150):
        data = crlf_lines(i, 1 + i % 9)
        how = {"mode": [0o644, 0o640, 0o755, 0o600][i % 4]}
        if i % 10 == 3:
            how["xattr"] = ("user.note", b"kept %d" % i)
        s.file(root, "a%03d.txt" % i, data, data.replace(b"\r\n", b"\n"),
               as_root=other if i % 5 == 0 else None, **how)
    for i in range(20):
        data = crlf_lines(1000 + i, 3)
        s.file(root, "sub/b%02d.txt" % i, data, data.replace(b"\r\n", b"\n"),
               as_root=other if i % 2 else None)
    s.file(root, "sub/deeper/c.txt", b"x\r\n", b"x\n")
    big = crlf_lines(7, BIG // 32 + 1)[:BIG]
    s.file(root, "big.txt", big, big.replace(b"\r\n", b"\n"), as_root=other)
    s.file(root, "bin.dat", b"a\r\n\0b\r\n", b"a\r\n\0b\r\n")
    s.file(root, "lf.txt", b"already\nconverted\n", b"already\nconverted\n")
    s.file(root, ".git/config", b"[core]\r\n", b"[core]\r\n")
    data = crlf_lines(99, 4)
    s.file(root, "retry/again.txt", data, (data + ADDED).replace(b"\r\n", b"\n"))
    return s


def named_to_crlf(root, seam):
    """Files named one by one, to CR-LF, beside files not named."""
    s = Scenario("named files --to-crlf", ["--to-crlf"])
    other = {"owner": (OTHER_UID, OTHER_GID)}
    for i in range(30):
        data = crlf_lines(i, 2 + i % 5).replace(b"\r\n", b"\n")
        named = i % 5 != 4
        s.file(root, "n%02d.txt" % i, data, data.replace(b"\n", b"\r\n") if named else data,
               as_root=other if i % 3 == 0 else None, mode=0o664 if i % 2 else 0o644)
        if named:
            s.argv.append("n%02d.txt" % i)
    return s


def through_descriptors(root, seam):
    """Not the tool: descriptor_replace.py, a replace through descriptors
    (O_TMPFILE, linkat, renameat2 with RENAME_EXCHANGE, unlinkat, syncfs),
    which the recorder must follow and the checks must pass."""
    here = os.path.dirname(os.path.abspath(__file__))
    s = Scenario("a replace through descriptors (reference)", [])
    s.program = [sys.executable, os.path.join(here, "descriptor_replace.py")]
    other = {"owner": (OTHER_UID, OTHER_GID)}
    for i in range(8):
        data = crlf_lines(i, 3)
        rel = "d%d.txt" % i if i < 6 else "sub/d%d.txt" % i
        s.file(root, rel, data, data.replace(b"\r\n", b"\n"), as_root=other if i % 3 == 0 else None,
               mode=0o640 if i % 2 else 0o644,
               xattr=("user.note", b"kept") if i % 4 == 1 else None)
        s.argv.append(rel)
    return s


SCENARIOS = [tree_to_lf, named_to_crlf, through_descriptors]


def files_under(root):
    out = {}
    for folder, _, files in os.walk(root):
        for name in files:
            path = os.path.join(folder, name)
            out[os.path.relpath(path, root)] = path
    return out


def run_scenario(make, cli, seam, work):
    """Records one scenario and checks the folder it left. (Run, problems)."""
    root = os.path.join(work, "root")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(root)
    scenario = make(root, seam)
    before = {rel: recording.read_meta(path)[0][:4] for rel, path in files_under(root).items()}
    recorder, status, stderr = recording.record((scenario.program or [cli]) + scenario.argv, root,
                                                work, scenario.env, scenario.foreign)
    problems = ["the recorder: " + p for p in recorder.check_against(root)]
    if status != 0:
        problems.append("quenlat-cli exited %d: %s" % (status, stderr.strip()))
    found = files_under(root)
    if set(found) != set(scenario.expected):
        problems.append("files: %s more, %s missing" % (
            sorted(set(found) - set(scenario.expected))[:5],
            sorted(set(scenario.expected) - set(found))[:5]))
    for rel, data in sorted(scenario.expected.items()):
        if rel not in found:
            continue
        with open(found[rel], "rb") as f:
            if f.read() != data:
                problems.append("%s: not the expected content" % rel)
        meta = recording.read_meta(found[rel])[0][:4]
        if meta != before[rel]:
            problems.append("%s: mode, owner, attributes %s, before %s" % (
                rel, crash_states.fmt(meta + (None,)), crash_states.fmt(before[rel] + (None,))))
    return scenario, crash_states.Run(recorder), problems


# --- broken protocols, made from a recorded run

def replacing_renames(run):
    return [op for op in run.ops if op.kind == "name" and op.replaces]


def moved_inode(op):
    """The file that the rename (or exchange) gives the user's name."""
    return op.effects[-1][1]


def without_data_flush(run):
    run.ops = [op for op in run.ops if not (op.kind == "flush" and op.scope in ("all", "data"))]


def rename_before_data_flush(run):
    for rename in replacing_renames(run):
        ident = moved_inode(rename)
        at = run.ops.index(rename)
        flushes = [i for i, op in enumerate(run.ops[:at])
                   if op.kind == "flush" and op.inode == ident]
        if flushes:
            run.ops.pop(at)
            run.ops.insert(flushes[-1], rename)


def without_folder_flush(run):
    run.ops = [op for op in run.ops if not (op.kind == "flush" and op.scope == "dir")]


def unlink_before_rename(run):
    for rename in replacing_renames(run):
        at = run.ops.index(rename)
        target, moved = rename.effects[-1]
        unlink = recording.Op("name", "unlink(%s) (planted)" % target, effects=[(target, None)],
                          dirs={os.path.dirname(target) or "."})
        replaced = copy.copy(rename)
        replaced.replaces = False
        if rename.exchange:
            # A plain rename in its place: the old file loses its name.
            replaced.exchange = False
            replaced.effects = [(rename.effects[0][0], None), (target, moved)]
        run.ops[at:at + 1] = [unlink, replaced]


BROKEN = [
    ("the data flush dropped", without_data_flush, "content"),
    ("the rename before the data flush", rename_before_data_flush, "content"),
    ("the folder flush dropped", without_folder_flush, "after the end"),
    ("the old name unlinked before the rename", unlink_before_rename, "content"),
]


def broken(run, edit):
    """A copy of run with edit applied; run stays as it was."""
    edited = copy.copy(run)
    copies = {id(op): copy.copy(op) for op in run.ops}
    edited.ops = [copies[id(op)] for op in run.ops]
    for op in edited.ops:
        if op.anchor is not None:
            op.anchor = copies.get(id(op.anchor))
    edit(edited)
    edited.renumber()
    return edited


def report(label, result, seconds):
    print("  %-18s %8d states checked (%d sampled), bad: %s  [%.1f s]" % (
        result.model, result.states, result.sampled,
        ", ".join("%s %d" % kv for kv in result.bad.items()), seconds))
    for e in result.examples:
        print("      " + e)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--seam", required=True, help="the at_data_flush library")
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    seed = int(os.environ.get("QUENLAT_POWER_SEED", "1"))
    cli, seam = os.path.abspath(args.cli), os.path.abspath(args.seam)
    print("QUENLAT_POWER_SEED=%d" % seed)
    if os.geteuid() != 0:
        print("not root: files of another owner are left out (they are made as root only)")
    failed = False
    first = None
    for n, make in enumerate(SCENARIOS):
        start = time.time()
        scenario, run, problems = run_scenario(make, cli, seam,
                                               os.path.join(os.path.abspath(args.work), str(n)))
        print("%s: %d files, %d operations recorded [%.1f s]" % (
            scenario.name, len(scenario.expected), len(run.ops), time.time() - start))
        for p in problems:
            print("  FAILED " + p)
        failed |= bool(problems)
        for model in crash_states.MODELS:
            start = time.time()
            result = crash_states.explore(run, model, seed)
            report(scenario.name, result, time.time() - start)
            failed |= result.total_bad() > 0
        first = first or run
    print("broken protocols, made from the first run's trace:")
    for label, edit, check in BROKEN:
        print(" %s:" % label)
        for model in crash_states.MODELS:
            start = time.time()
            result = crash_states.explore(broken(first, edit), model, seed, examples=1)
            report(label, result, time.time() - start)
            if model == crash_states.STRICT and result.bad[check] == 0:
                print("  FAILED: not caught by the check of %s" % check)
                failed = True
    print("FAILED" if failed else "passed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
