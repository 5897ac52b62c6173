"""The states a folder may be found in after a power loss at any moment of a
recorded run, under a persistence model, and the checks each state must
pass. README.md in this folder describes the models."""

import itertools
import random

from recording import apply_meta

STRICT = "strict POSIX"
EXT4 = "ext4 data=ordered"
MODELS = (STRICT, EXT4)

# Past this many free choices in one cluster at one moment, states are
# sampled rather than all built.
MOST_CHOICES = 16
SAMPLES = 4096


class Run:
    """A recorded run: the operations, the names before and after, and each
    inode as it was made and as it ended."""

    def __init__(self, recorder):
        self.ops = list(recorder.ops)
        self.initial = dict(recorder.initial)
        self.final = dict(recorder.names)
        self.inodes = recorder.inodes
        self.root = recorder.root
        self.renumber()

    def short(self, i):
        """Op i's call, with paths below the folder relative to it."""
        call = self.ops[i].call.replace(self.root + "/./", "").replace(self.root + "/", "")
        return call if len(call) < 120 else call[:117] + "..."

    def renumber(self):
        """Indexes from the order of ops; a flush covers what returned before
        its anchor (itself, where the anchor is gone)."""
        for i, op in enumerate(self.ops):
            op.index = i
        position = {id(op): i for i, op in enumerate(self.ops)}
        for op in self.ops:
            if op.kind == "flush":
                if op.anchor is None:
                    op.covers = 0 if op.covers == 0 else op.index
                else:
                    op.covers = min(position.get(id(op.anchor), op.index - 1) + 1, op.index)


def clusters(run):
    """Groups of operations that no check joins with another group: ops on
    one name or one inode, and the names and inodes a name op joins, are in
    one group. Each: (ops' indexes, the names it checks)."""
    parent = {}

    def find(x):
        while parent.setdefault(x, x) != x:
            parent[x] = parent[parent[x]]
            x = parent[x]
        return x

    def union(a, b):
        parent[find(a)] = find(b)

    for name, ident in run.initial.items():
        union(("n", name), ("i", ident))
    for op in run.ops:
        if op.kind == "name":
            keys = [("n", p) for p, _ in op.effects] + [("i", i) for _, i in op.effects if i]
            for k in keys[1:]:
                union(keys[0], k)
        elif op.kind in ("data", "meta"):
            find(("i", op.inode))
    groups = {}
    for op in run.ops:
        if op.kind == "name" and op.effects:
            groups.setdefault(find(("n", op.effects[0][0])), ([], set()))[0].append(op.index)
        elif op.kind in ("data", "meta"):
            groups.setdefault(find(("i", op.inode)), ([], set()))[0].append(op.index)
    for key in list(parent):
        if key[0] == "n":
            groups.setdefault(find(key), ([], set()))[1].add(key[1])
    return list(groups.values())


class Model:
    """When each op becomes certain to be on the disk under a model."""

    def __init__(self, run, model):
        self.run, self.model = run, model
        n = len(run.ops)
        never = float("inf")
        self.certain_at = [never] * n
        self.floor = [0] * (n + 1)  # ext4: the journal holds every op below this, at each moment
        dirs_left = {}
        for op in run.ops:
            if op.kind == "name":
                dirs_left[op.index] = {d: never for d in op.dirs}
        journal_floor = 0
        for f in run.ops:
            if f.kind != "flush":
                self.floor[f.index + 1] = journal_floor
                continue
            if model == EXT4:
                journal_floor = max(journal_floor, f.covers)
            self.floor[f.index + 1] = journal_floor
            for op in run.ops[:f.covers]:
                if op.kind == "flush" or self.certain_at[op.index] < never:
                    continue
                if f.scope == "fs":
                    self.certain_at[op.index] = f.index
                elif op.kind == "data" and f.scope in ("all", "data") and op.inode == f.inode:
                    self.certain_at[op.index] = f.index
                elif op.kind == "meta" and f.scope == "all" and op.inode == f.inode:
                    self.certain_at[op.index] = f.index
                elif op.kind == "name" and f.scope == "dir" and f.folder in op.dirs:
                    dirs_left[op.index][f.folder] = min(dirs_left[op.index][f.folder], f.index)
                    self.certain_at[op.index] = max(dirs_left[op.index].values())

    def journal(self, op):
        return self.model == EXT4 and op.kind in ("name", "meta")

    def states(self, ops, k, newest, rng):
        """The sets of ops (indexes) that may be on the disk after op k, for
        one cluster's ops; with newest, only those holding op k. (States,
        whether they were sampled.)"""
        run = self.run
        mine = [i for i in ops if i <= k]
        certain = [i for i in mine if self.certain_at[i] <= k or
                   (self.journal(run.ops[i]) and i < self.floor[k + 1])]
        sure = set(certain)
        open_ = [i for i in mine if i not in sure]
        if self.model == STRICT:
            free = [i for i in open_ if not (newest and i == k)]
            fixed = certain + ([k] if newest and k in open_ else [])
            return self.subsets(fixed, free, rng)
        # ext4: the cluster's open journal ops persist as a prefix; data as
        # it likes, except what a replacing rename in that prefix carries.
        journal = [i for i in open_ if self.journal(run.ops[i])]
        data = [i for i in open_ if not self.journal(run.ops[i])]
        prefixes = [len(journal)] if newest and k in journal else range(len(journal) + 1)
        out, sampled = [], False
        for m in prefixes:
            kept = certain + journal[:m]
            carried = set()
            for i in kept:
                op = run.ops[i]
                if op.kind == "name" and op.replaces:
                    moved = {ident for _, ident in op.effects if ident}
                    carried |= {j for j in data if j < i and run.ops[j].inode in moved}
            fixed = kept + sorted(carried) + ([k] if newest and k in data else [])
            free = [j for j in data if j not in carried and not (newest and j == k)]
            got, s = self.subsets(fixed, free, rng)
            out += got
            sampled |= s
        return out, sampled

    @staticmethod
    def subsets(fixed, free, rng):
        if len(free) <= MOST_CHOICES:
            return [sorted(fixed + [f for f, b in zip(free, bits) if b])
                    for bits in itertools.product((0, 1), repeat=len(free))], False
        picks = [[1] * len(free), [0] * len(free)]
        picks += [[rng.randint(0, 1) for _ in free] for _ in range(SAMPLES - 2)]
        return [sorted(fixed + [f for f, b in zip(free, bits) if b]) for bits in picks], True


class Checker:
    """The three checks of a state, for the names of one cluster."""

    def __init__(self, run):
        self.run = run
        self.data_of = {}
        for op in run.ops:
            if op.kind == "data":
                self.data_of.setdefault(op.inode, set()).add(op.index)
        self.final_meta = {}
        for ident in run.inodes:
            self.final_meta[ident] = self.meta(ident, range(len(run.ops)))

    def meta(self, ident, persisted):
        inode = self.run.inodes[ident]
        m = inode.first_meta
        for i in persisted:
            op = self.run.ops[i]
            if op.kind == "meta" and op.inode == ident:
                m = apply_meta(m, op.change, inode.kind == "dir")
        return m

    def check(self, names, persisted, ended):
        """Problems of the state where the ops persisted (sorted) are on the
        disk: (check, name, what it holds)."""
        run = self.run
        holds = {n: run.initial.get(n) for n in names}
        for i in persisted:
            op = run.ops[i]
            if op.kind == "name":
                for path, ident in op.effects:
                    if path in holds:
                        holds[path] = ident
        kept = set(persisted)
        problems = []
        for name in sorted(names):
            before = run.initial.get(name)
            if before is None:
                continue  # a name the run made: its temporary files may stay
            after = run.final.get(name)
            ident = holds[name]
            touched = ident is not None and any(
                run.ops[i].inode == ident for i in kept if run.ops[i].kind in ("data", "meta"))
            if ident == before and not (touched and run.inodes[before].original):
                if ended and after != before:
                    problems.append(("after the end", name, "still the old content"))
                continue
            if ident is not None and ident == after and not run.inodes[ident].original:
                if not self.data_of.get(ident, set()) <= kept:
                    problems.append(("content", name, "part of the new content"))
                elif self.meta(ident, persisted)[:4] != self.final_meta[ident][:4]:
                    problems.append(("metadata", name, "new content with mode, owner, attributes %s, not %s" % (
                        fmt(self.meta(ident, persisted)), fmt(self.final_meta[ident]))))
                continue
            if ident is None:
                problems.append(("content", name, "no file"))
            elif ident == before:
                problems.append(("content", name, "the old file changed"))
            else:
                problems.append(("content", name, "another file (%s)" % ident))
        return problems


def fmt(meta):
    mode, uid, gid, xattrs, _ = meta
    return "%04o %d:%d%s" % (mode, uid, gid, "".join(" " + x for x in sorted(xattrs)))


class Result:
    def __init__(self, model):
        self.model = model
        self.states = 0
        self.sampled = 0
        self.bad = {"content": 0, "after the end": 0, "metadata": 0}
        self.examples = []

    def total_bad(self):
        return sum(self.bad.values())


def explore(run, model, seed=1, examples=3):
    """Builds and checks every state (sampled where a cluster has too many)
    after every op of run, and after its end. A Result."""
    rng = random.Random(seed)
    persistence = Model(run, model)
    checker = Checker(run)
    result = Result(model)
    groups = clusters(run)
    cluster_of = {}
    for g, (ops, _) in enumerate(groups):
        for i in ops:
            cluster_of[i] = g

    def visit(g, k, newest, ended):
        ops, names = groups[g]
        states, sampled = persistence.states(ops, k, newest, rng)
        result.states += len(states)
        if sampled:
            result.sampled += len(states)
        for persisted in states:
            problems = checker.check(names, persisted, ended)
            seen = set()
            for what, name, detail in problems:
                if what in seen:
                    continue
                seen.add(what)
                result.bad[what] += 1
                if len(result.examples) < examples:
                    result.examples.append("%s: after op %d, %s: %s holds %s; on the disk of its ops: %s" % (
                        what, k, run.short(k), name, detail,
                        ", ".join(str(i) for i in persisted)))

    result.states += 1  # before the first op: the folder as it was
    for k, op in enumerate(run.ops):
        if op.kind != "flush" and k in cluster_of:
            visit(cluster_of[k], k, True, False)
    last = len(run.ops) - 1
    for g in range(len(groups)):
        visit(g, last, False, True)
    return result
