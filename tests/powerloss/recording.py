"""Records what a program does to the files of one folder: runs it under
strace and turns the trace into one ordered list of file-system operations,
each naming the inode it acts on.

An operation is one of
  name   a change of names in a folder: effects [(path, inode or None)]
         (create, link, rename, exchange, unlink, mkdir, rmdir)
  data   a write (offset, length) or a truncation of an inode
  meta   a change of an inode's mode, owner, extended attribute or flags
  flush  fsync, fdatasync (an inode), fsync of a folder, syncfs or sync
in the order the calls returned. Paths are relative to the folder; inodes
are named "o<number>" for those that were there before the run (their inode
number) and "n<k>" for those the run made. A flush covers what returned
before it was called, which for a call split by another thread is not all
that returned before the flush did.
"""

import os
import re
import stat
import subprocess

TRACED = ",".join([
    "open", "openat", "openat2", "creat", "close", "close_range", "dup", "dup2", "dup3", "fcntl",
    "write", "writev", "pwrite64", "pwritev", "pwritev2", "lseek", "ftruncate", "truncate",
    "fallocate", "copy_file_range", "sendfile", "splice",
    "fsync", "fdatasync", "syncfs", "sync", "sync_file_range",
    "rename", "renameat", "renameat2", "link", "linkat", "unlink", "unlinkat",
    "mkdir", "mkdirat", "rmdir", "symlink", "symlinkat", "mknod", "mknodat",
    "fchmod", "chmod", "fchmodat", "fchown", "chown", "lchown", "fchownat",
    "fsetxattr", "setxattr", "lsetxattr", "fremovexattr", "removexattr", "lremovexattr",
    "ioctl", "chdir", "fchdir",
])


class Unmodelled(Exception):
    """The trace holds a call on the folder that the recorder cannot follow."""


class Op:
    def __init__(self, kind, call, **fields):
        self.kind = kind          # name, data, meta, flush
        self.call = call          # the trace's line, for reports
        self.inode = None         # data, meta, flush of an inode
        self.effects = []         # name: [(path, inode or None)]
        self.dirs = set()         # name: the folders whose entries change
        self.replaces = False     # name: a rename or exchange over a name that held a file
        self.exchange = False     # name: the two names swapped their files
        self.scope = None         # flush: "all" (fsync), "data", "dir", "fs"
        self.folder = None        # flush of a folder: its path
        self.anchor = None        # flush: the last op that returned before it was called
        self.covers = 0           # flush: ops with an index below this are covered
        self.change = None        # meta: ("mode", m) ("owner", uid, gid) ("xattr", name, set?) ("flags", v)
        self.extent = None        # data: ("write", offset, length) or ("truncate", size)
        self.__dict__.update(fields)

    def __repr__(self):
        return self.call


class Inode:
    def __init__(self, ident, kind, meta, size, original, real=None):
        self.id = ident
        self.kind = kind          # "file" or "dir"
        self.meta = meta          # (mode, uid, gid, xattrs frozenset, flags), as the trace goes on
        self.first_meta = meta    # as made or found
        self.size = size
        self.original = original
        self.real = real          # inode number, where the trace or the folder tells it


def apply_meta(meta, change, is_dir=False):
    """meta after change, as Linux applies it (a change of owner drops set-user-ID,
    and set-group-ID where the group may execute)."""
    mode, uid, gid, xattrs, flags = meta
    what = change[0]
    if what == "mode":
        mode = change[1]
    elif what == "owner":
        if change[1] != -1:
            uid = change[1]
        if change[2] != -1:
            gid = change[2]
        if not is_dir:
            mode &= ~stat.S_ISUID
            if mode & stat.S_IXGRP:
                mode &= ~stat.S_ISGID
    elif what == "xattr":
        xattrs = xattrs | {change[1]} if change[2] else xattrs - {change[1]}
    elif what == "flags":
        flags = change[1]
    return (mode, uid, gid, xattrs, flags)


def read_meta(path):
    st = os.lstat(path)
    try:
        names = os.listxattr(path, follow_symlinks=False)
    except OSError:
        names = []
    # Labels of security modules are the system's own, not the program's.
    xattrs = frozenset(n for n in names if not n.startswith("security."))
    return (stat.S_IMODE(st.st_mode), st.st_uid, st.st_gid, xattrs, None), st


def scan(root):
    """path -> (inode id, Inode) for root and everything below it."""
    found = {}
    for folder, dirs, files in os.walk(root):
        for name in [""] + dirs + files:
            if name == "" and folder != root:
                continue
            path = os.path.join(folder, name) if name else folder
            meta, st = read_meta(path)
            kind = "dir" if stat.S_ISDIR(st.st_mode) else "file"
            if not (stat.S_ISDIR(st.st_mode) or stat.S_ISREG(st.st_mode)):
                raise Unmodelled("%s is neither a file nor a folder" % path)
            rel = os.path.relpath(path, root)
            ident = "o%d" % st.st_ino
            found[rel] = Inode(ident, kind, meta, st.st_size, True, st.st_ino)
    return found


# --- the trace's text

LINE = re.compile(r"^(\d+)\s+(.*)$")
CALL = re.compile(r"^(\w+)\((.*)\)\s+=\s+(-?\d+|\?)(<.*?>)?(\(deleted\))?(\s.*)?$", re.S)
FD = re.compile(r"^(-?\d+|AT_FDCWD)(?:<(.*)>)?(\(deleted\))?$", re.S)


def split_args(text):
    """The top-level arguments of a call's decoded text."""
    args, depth, start, i, quoted = [], 0, 0, 0, False
    while i < len(text):
        c = text[i]
        if quoted:
            if c == "\\":
                i += 1
            elif c == '"':
                quoted = False
        elif c == '"':
            quoted = True
        elif c in "([{<":
            depth += 1
        elif c in ")]}>":
            depth -= 1
        elif c == "," and depth == 0:
            args.append(text[start:i].strip())
            start = i + 1
        i += 1
    if text[start:].strip():
        args.append(text[start:].strip())
    return args


ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "v": "\v", "f": "\f", "\\": "\\", '"': '"'}


def c_string(text):
    """The bytes of a quoted string as strace prints it, as a str (surrogates
    for bytes that are not UTF-8)."""
    if not text.startswith('"'):
        raise Unmodelled("not a string: %s" % text)
    out, i = bytearray(), 1
    while i < len(text) and text[i] != '"':
        c = text[i]
        if c == "\\":
            n = text[i + 1]
            if n == "x":
                out.append(int(text[i + 2:i + 4], 16))
                i += 4
                continue
            if n.isdigit():
                j = i + 1
                while j < min(i + 4, len(text)) and text[j].isdigit():
                    j += 1
                out.append(int(text[i + 1:j], 8))
                i = j
                continue
            out += ESCAPES.get(n, n).encode()
            i += 2
            continue
        out += c.encode()
        i += 1
    return out.decode("utf-8", "surrogateescape")


def join_lines(lines, now):
    """(pid, text, start) of each completed call, joining those that another
    thread's calls split, in the order they returned; start is what now()
    said when the call began (it is asked as each line is read)."""
    pending = {}
    for line in lines:
        m = LINE.match(line.rstrip("\n"))
        if not m:
            continue
        pid, text = m.group(1), m.group(2)
        if text.startswith("---") or text.startswith("+++"):
            continue
        if text.endswith("<unfinished ...>"):
            pending[pid] = (text[:-len("<unfinished ...>")].rstrip(), now())
            continue
        start = now()
        r = re.match(r"^<\.\.\. (\w+) resumed>\s?(.*)$", text, re.S)
        if r:
            head, start = pending.pop(pid, (None, start))
            if head is None:
                continue
            text = head + r.group(2)
        yield pid, text, start


class Recorder:
    """Follows a trace through the names and inodes under root."""

    def __init__(self, root, creds, umask, foreign=()):
        self.root = os.path.realpath(root)
        self.creds = creds            # the program's (uid, gid)
        self.umask = umask
        # Paths another program writes to during the run (a test's seam inside
        # the traced process): their writes are that program's, not recorded.
        self.foreign = set(foreign)
        self.inodes = {}
        self.names = {}
        for rel, inode in scan(self.root).items():
            self.inodes[inode.id] = inode
            self.names[rel] = inode.id
        self.initial = dict(self.names)
        self.fds = {}                 # fd -> open file {inode, path, pos, append, foreign}
        self.cwd = None
        self.ops = []
        self.made = 0

    # -- paths

    def rel(self, path):
        """path relative to root, or None outside it."""
        path = os.path.normpath(path)
        if path == self.root:
            return "."
        if path.startswith(self.root + "/"):
            return path[len(self.root) + 1:]
        return None

    def absolute(self, dirfd, name):
        """The absolute path of name, relative to the folder of dirfd (a
        parsed descriptor argument; None for the current folder)."""
        if name.startswith("/"):
            return os.path.normpath(name)
        if dirfd is None or dirfd[0] == "AT_FDCWD":
            base = (dirfd[1] if dirfd and dirfd[1] else None) or self.cwd
        else:
            base = dirfd[1]
            f = self.fds.get(dirfd[0])
            if f and f["path"]:
                base = os.path.join(self.root, f["path"])
        if base is None:
            raise Unmodelled("relative name %r with no known folder" % name)
        return os.path.normpath(os.path.join(base, name))

    @staticmethod
    def fd(arg):
        """A descriptor argument as (number or "AT_FDCWD", the path strace shows)."""
        m = FD.match(arg)
        if not m:
            raise Unmodelled("not a descriptor: %s" % arg)
        n = m.group(1)
        return (n if n == "AT_FDCWD" else int(n), m.group(2))

    def proc_fd(self, path):
        """The open file that /proc/self/fd/N names, or None."""
        m = re.match(r"^/proc/(?:self|\d+)/fd/(\d+)$", path)
        return self.fds.get(int(m.group(1))) if m else None

    def open_file(self, fdarg):
        """The open file behind a descriptor argument, when it is one of ours."""
        n, _ = self.fd(fdarg)
        return self.fds.get(n)

    # -- inodes

    def new_inode(self, kind, mode, real=None):
        self.made += 1
        ident = "n%d" % self.made
        meta = (mode & ~self.umask & 0o7777, self.creds[0], self.creds[1], frozenset(), None)
        self.inodes[ident] = Inode(ident, kind, meta, 0, False, real)
        return ident

    def add(self, op, start):
        op.index = len(self.ops)
        if op.kind == "flush":
            op.anchor = self.ops[start - 1] if start > 0 and start - 1 < len(self.ops) else None
            op.covers = min(start, len(self.ops))
        self.ops.append(op)

    def name_op(self, call, start, effects):
        op = Op("name", call)
        op.effects = effects
        op.dirs = {os.path.dirname(p) or "." for p, _ in effects}
        for path, ident in effects:
            if ident is None:
                self.names.pop(path, None)
            else:
                self.names[path] = ident
        self.add(op, start)
        return op

    def data_op(self, call, start, f, extent):
        inode = self.inodes[f["inode"]]
        if extent[0] == "write":
            inode.size = max(inode.size, extent[1] + extent[2])
        else:
            if extent[1] == inode.size:
                return  # the size it has: nothing changes
            inode.size = extent[1]
        if f.get("foreign"):
            return
        self.add(Op("data", call, inode=inode.id, extent=extent), start)

    def meta_op(self, call, start, ident, change):
        inode = self.inodes[ident]
        inode.meta = apply_meta(inode.meta, change, inode.kind == "dir")
        self.add(Op("meta", call, inode=ident, change=change), start)

    # -- calls

    def feed(self, pid, text, start):
        """Follows one completed call; start: the number of ops recorded when
        it began."""
        m = CALL.match(text)
        if not m:
            return
        name, argtext, ret, retpath = m.group(1), m.group(2), m.group(3), m.group(4)
        if ret == "?" or int(ret) < 0:
            return
        ret = int(ret)
        args = split_args(argtext)
        handler = getattr(self, "on_" + name, None)
        if handler:
            handler(text, start, args, ret, retpath[1:-1] if retpath else None)

    def do_open(self, call, start, dirfd, path, flags, mode, fd, retpath):
        flags = set(flags.split("|"))
        absolute = self.absolute(dirfd, path)
        same = self.proc_fd(absolute)
        if same is not None:
            self.fds[fd] = dict(same, pos=0)
            return
        rel = self.rel(absolute)
        if rel is None:
            self.fds.pop(fd, None)
            return
        if "O_TMPFILE" in flags or "__O_TMPFILE" in flags:
            m = re.search(r"/#(\d+)$", retpath or "")
            ident = self.new_inode("file", mode, int(m.group(1)) if m else None)
            self.fds[fd] = {"inode": ident, "path": None, "pos": 0, "append": False}
            return
        ident = self.names.get(rel)
        if ident is None:
            if "O_CREAT" not in flags:
                raise Unmodelled("opens %s, which the trace never made: %s" % (rel, call))
            ident = self.new_inode("file", mode)
            self.name_op(call, start, [(rel, ident)])
        inode = self.inodes[ident]
        f = {"inode": ident, "path": rel if inode.kind == "dir" else None, "pos": 0,
             "append": "O_APPEND" in flags, "foreign": rel in self.foreign}
        self.fds[fd] = f
        if "O_TRUNC" in flags and ("O_WRONLY" in flags or "O_RDWR" in flags):
            self.data_op(call, start, f, ("truncate", 0))

    def on_openat(self, call, start, a, ret, retpath):
        mode = int(a[3], 8) if len(a) > 3 else 0
        self.do_open(call, start, self.fd(a[0]), c_string(a[1]), a[2], mode, ret, retpath)

    def on_open(self, call, start, a, ret, retpath):
        mode = int(a[2], 8) if len(a) > 2 else 0
        self.do_open(call, start, None, c_string(a[0]), a[1], mode, ret, retpath)

    def on_creat(self, call, start, a, ret, retpath):
        self.do_open(call, start, None, c_string(a[0]), "O_CREAT|O_WRONLY|O_TRUNC",
                     int(a[1], 8), ret, retpath)

    def on_openat2(self, call, start, a, ret, retpath):
        flags = re.search(r"flags=([\w|]+)", a[2]).group(1)
        mode = re.search(r"mode=(0\d*)", a[2])
        self.do_open(call, start, self.fd(a[0]), c_string(a[1]), flags,
                     int(mode.group(1), 8) if mode else 0, ret, retpath)

    def on_close(self, call, start, a, ret, retpath):
        self.fds.pop(self.fd(a[0])[0], None)

    def on_close_range(self, call, start, a, ret, retpath):
        low, high = int(a[0]), int(a[1]) if a[1].isdigit() else 1 << 31
        for n in [n for n in self.fds if low <= n <= high]:
            del self.fds[n]

    def dup_to(self, old, new):
        f = self.fds.get(old)
        if f is None:
            self.fds.pop(new, None)
        else:
            self.fds[new] = f  # one open file: the position is shared

    def on_dup(self, call, start, a, ret, retpath):
        self.dup_to(self.fd(a[0])[0], ret)

    def on_dup2(self, call, start, a, ret, retpath):
        self.dup_to(self.fd(a[0])[0], self.fd(a[1])[0])

    on_dup3 = on_dup2

    def on_fcntl(self, call, start, a, ret, retpath):
        if a[1].startswith("F_DUPFD"):
            self.dup_to(self.fd(a[0])[0], ret)

    def write_at(self, call, start, fdarg, length, offset=None):
        f = self.open_file(fdarg)
        if f is None or length == 0:
            return
        inode = self.inodes[f["inode"]]
        if offset is None:
            at = inode.size if f["append"] else f["pos"]
            f["pos"] = at + length
        else:
            at = offset
        self.data_op(call, start, f, ("write", at, length))

    def on_write(self, call, start, a, ret, retpath):
        self.write_at(call, start, a[0], ret)

    on_writev = on_write

    def on_pwrite64(self, call, start, a, ret, retpath):
        self.write_at(call, start, a[0], ret, int(a[3]))

    def on_pwritev(self, call, start, a, ret, retpath):
        self.write_at(call, start, a[0], ret, int(a[3]))

    on_pwritev2 = on_pwritev

    def on_lseek(self, call, start, a, ret, retpath):
        f = self.open_file(a[0])
        if f is not None:
            f["pos"] = ret

    def on_ftruncate(self, call, start, a, ret, retpath):
        f = self.open_file(a[0])
        if f is not None:
            self.data_op(call, start, f, ("truncate", int(a[1])))

    def on_truncate(self, call, start, a, ret, retpath):
        rel = self.rel(self.absolute(None, c_string(a[0])))
        if rel is not None:
            f = {"inode": self.names[rel], "foreign": rel in self.foreign}
            self.data_op(call, start, f, ("truncate", int(a[1])))

    def unmodelled_on_fd(self, call, start, a, ret, retpath):
        if any(self.open_file(x) is not None for x in a if FD.match(x)):
            raise Unmodelled(call)

    on_fallocate = on_copy_file_range = on_sendfile = on_splice = unmodelled_on_fd

    def flush(self, call, start, fdarg, scope):
        f = self.open_file(fdarg) if fdarg is not None else None
        if scope == "fs":
            if fdarg is not None and f is None and self.rel(self.fd(fdarg)[1] or "/") is None:
                return
            self.add(Op("flush", call, scope="fs"), start)
            return
        if f is None:
            return
        inode = self.inodes[f["inode"]]
        if inode.kind == "dir":
            self.add(Op("flush", call, scope="dir", folder=f["path"]), start)
        else:
            self.add(Op("flush", call, scope=scope, inode=inode.id), start)

    def on_fsync(self, call, start, a, ret, retpath):
        self.flush(call, start, a[0], "all")

    def on_fdatasync(self, call, start, a, ret, retpath):
        self.flush(call, start, a[0], "data")

    def on_syncfs(self, call, start, a, ret, retpath):
        self.flush(call, start, a[0], "fs")

    def on_sync(self, call, start, a, ret, retpath):
        self.flush(call, start, None, "fs")

    # sync_file_range starts writing and promises nothing: no operation.

    def do_rename(self, call, start, d1, old, d2, new, flags=""):
        src = self.rel(self.absolute(d1, old))
        dst = self.rel(self.absolute(d2, new))
        if src is None and dst is None:
            return
        if src is None or dst is None:
            raise Unmodelled("renames across the folder's edge: " + call)
        ident = self.names.get(src)
        if ident is None:
            raise Unmodelled("renames %s, which the trace never made: %s" % (src, call))
        if self.inodes[ident].kind == "dir" and any(p.startswith(src + "/") for p in self.names):
            raise Unmodelled("renames a folder that holds files: " + call)
        if "RENAME_EXCHANGE" in flags:
            other = self.names.get(dst)
            op = self.name_op(call, start, [(src, other), (dst, ident)])
            op.replaces = other is not None
            op.exchange = True
        else:
            replaces = dst in self.names
            op = self.name_op(call, start, [(src, None), (dst, ident)] if src != dst else [])
            op.replaces = replaces

    def on_rename(self, call, start, a, ret, retpath):
        self.do_rename(call, start, None, c_string(a[0]), None, c_string(a[1]))

    def on_renameat(self, call, start, a, ret, retpath):
        self.do_rename(call, start, self.fd(a[0]), c_string(a[1]), self.fd(a[2]), c_string(a[3]))

    def on_renameat2(self, call, start, a, ret, retpath):
        self.do_rename(call, start, self.fd(a[0]), c_string(a[1]), self.fd(a[2]), c_string(a[3]),
                       a[4])

    def do_link(self, call, start, d1, old, d2, new, flags=""):
        dst = self.rel(self.absolute(d2, new))
        if "AT_EMPTY_PATH" in flags and old == "":
            f = self.fds.get(d1[0])
        else:
            absolute = self.absolute(d1, old)
            f = self.proc_fd(absolute)
            if f is None:
                src = self.rel(absolute)
                f = {"inode": self.names[src]} if src is not None else None
        if dst is None:
            if f is not None:
                raise Unmodelled("links a file of the folder outside it: " + call)
            return
        if f is None:
            raise Unmodelled("links a file from outside the folder: " + call)
        self.name_op(call, start, [(dst, f["inode"])])

    def on_link(self, call, start, a, ret, retpath):
        self.do_link(call, start, None, c_string(a[0]), None, c_string(a[1]))

    def on_linkat(self, call, start, a, ret, retpath):
        self.do_link(call, start, self.fd(a[0]), c_string(a[1]), self.fd(a[2]), c_string(a[3]),
                     a[4])

    def do_unlink(self, call, start, dirfd, path):
        rel = self.rel(self.absolute(dirfd, path))
        if rel is not None:
            self.name_op(call, start, [(rel, None)])

    def on_unlink(self, call, start, a, ret, retpath):
        self.do_unlink(call, start, None, c_string(a[0]))

    on_rmdir = on_unlink

    def on_unlinkat(self, call, start, a, ret, retpath):
        self.do_unlink(call, start, self.fd(a[0]), c_string(a[1]))

    def do_mkdir(self, call, start, dirfd, path, mode):
        rel = self.rel(self.absolute(dirfd, path))
        if rel is not None:
            self.name_op(call, start, [(rel, self.new_inode("dir", mode))])

    def on_mkdir(self, call, start, a, ret, retpath):
        self.do_mkdir(call, start, None, c_string(a[0]), int(a[1], 8))

    def on_mkdirat(self, call, start, a, ret, retpath):
        self.do_mkdir(call, start, self.fd(a[0]), c_string(a[1]), int(a[2], 8))

    def unmodelled_name(self, call, start, a, ret, retpath):
        for x in a:
            if x.startswith('"') and self.rel(self.absolute(None, c_string(x))) is not None:
                raise Unmodelled(call)

    on_symlink = on_mknod = unmodelled_name

    def on_symlinkat(self, call, start, a, ret, retpath):
        if self.rel(self.absolute(self.fd(a[1]), c_string(a[2]))) is not None:
            raise Unmodelled(call)

    on_mknodat = unmodelled_name

    def inode_of_path(self, dirfd, path):
        rel = self.rel(self.absolute(dirfd, path))
        return self.names.get(rel) if rel is not None else None

    def inode_of_fd(self, arg):
        f = self.open_file(arg)
        return f["inode"] if f else None

    def meta(self, call, start, ident, change):
        if ident is not None:
            self.meta_op(call, start, ident, change)

    def on_fchmod(self, call, start, a, ret, retpath):
        self.meta(call, start, self.inode_of_fd(a[0]), ("mode", int(a[1], 8)))

    def on_chmod(self, call, start, a, ret, retpath):
        self.meta(call, start, self.inode_of_path(None, c_string(a[0])), ("mode", int(a[1], 8)))

    def on_fchmodat(self, call, start, a, ret, retpath):
        ident = self.inode_of_path(self.fd(a[0]), c_string(a[1]))
        self.meta(call, start, ident, ("mode", int(a[2], 8)))

    def owner(self, a):
        return ("owner", int(a[0]), int(a[1]))

    def on_fchown(self, call, start, a, ret, retpath):
        self.meta(call, start, self.inode_of_fd(a[0]), self.owner(a[1:3]))

    def on_chown(self, call, start, a, ret, retpath):
        self.meta(call, start, self.inode_of_path(None, c_string(a[0])), self.owner(a[1:3]))

    on_lchown = on_chown

    def on_fchownat(self, call, start, a, ret, retpath):
        if "AT_EMPTY_PATH" in a[4] and c_string(a[1]) == "":
            ident = self.inode_of_fd(a[0])
        else:
            ident = self.inode_of_path(self.fd(a[0]), c_string(a[1]))
        self.meta(call, start, ident, self.owner(a[2:4]))

    def xattr(self, call, start, ident, name, present):
        if not name.startswith("security."):
            self.meta(call, start, ident, ("xattr", name, present))

    def on_fsetxattr(self, call, start, a, ret, retpath):
        self.xattr(call, start, self.inode_of_fd(a[0]), c_string(a[1]), True)

    def on_setxattr(self, call, start, a, ret, retpath):
        self.xattr(call, start, self.inode_of_path(None, c_string(a[0])), c_string(a[1]), True)

    on_lsetxattr = on_setxattr

    def on_fremovexattr(self, call, start, a, ret, retpath):
        self.xattr(call, start, self.inode_of_fd(a[0]), c_string(a[1]), False)

    def on_removexattr(self, call, start, a, ret, retpath):
        self.xattr(call, start, self.inode_of_path(None, c_string(a[0])), c_string(a[1]), False)

    on_lremovexattr = on_removexattr

    def on_ioctl(self, call, start, a, ret, retpath):
        ident = self.inode_of_fd(a[0])
        if ident is None:
            return
        if "SETFLAGS" in a[1]:
            self.meta(call, start, ident, ("flags", a[2] if len(a) > 2 else ""))
        elif re.search(r"FICLONE|FIDEDUPE|FALLOC|PUNCH", a[1]):
            raise Unmodelled(call)

    def on_chdir(self, call, start, a, ret, retpath):
        self.cwd = self.absolute(None, c_string(a[0])) if self.cwd else c_string(a[0])

    def on_fchdir(self, call, start, a, ret, retpath):
        f = self.open_file(a[0])
        path = os.path.join(self.root, f["path"]) if f and f["path"] else self.fd(a[0])[1]
        if path:
            self.cwd = path

    # -- after the run

    def check_against(self, root):
        """Differences between what the trace says the folder holds now and
        what it holds: names, which inode each holds, sizes, mode, owner and
        extended attributes. An empty list when the recorder followed all."""
        problems = []
        found = {}
        for folder, dirs, files in os.walk(root):
            for name in dirs + files:
                path = os.path.join(folder, name)
                found[os.path.relpath(path, root)] = path
        found["."] = root
        if set(found) != set(self.names):
            problems.append("names: the trace has %s more, the folder %s more" % (
                sorted(set(self.names) - set(found))[:5], sorted(set(found) - set(self.names))[:5]))
        real_of = {}
        # Inode numbers of files gone may be given to new ones.
        kept = {self.inodes[i].real for i in self.names.values() if self.inodes[i].original}
        for rel in sorted(set(found) & set(self.names)):
            inode = self.inodes[self.names[rel]]
            meta, st = read_meta(found[rel])
            if inode.real is not None and inode.real != st.st_ino:
                problems.append("%s: inode %d, the trace says %d" % (rel, st.st_ino, inode.real))
            if real_of.setdefault(inode.id, st.st_ino) != st.st_ino:
                problems.append("%s: the trace has one inode behind two names" % rel)
            if not inode.original and st.st_ino in kept:
                problems.append("%s: holds a file that was there before, the trace says a new one" % rel)
            if inode.kind == "file" and inode.size != st.st_size:
                problems.append("%s: size %d, the trace says %d" % (rel, st.st_size, inode.size))
            if inode.kind == "file" and meta[:4] != inode.meta[:4]:
                problems.append("%s: mode, owner, attributes %s, the trace says %s" % (
                    rel, meta[:4], inode.meta[:4]))
        return problems


def record(argv, root, workdir, env=None, foreign=()):
    """Runs argv under strace with root's files watched. The Recorder, the
    program's exit status, and its standard error."""
    trace = os.path.join(workdir, "trace.txt")
    umask = 0o022
    recorder = Recorder(root, (os.geteuid(), os.getegid()), umask, foreign)
    command = ["strace", "-f", "-y", "-yy", "-qq", "-s", "64", "-e", "signal=none",
               "-e", "trace=" + TRACED, "-o", trace]
    for name, value in (env or {}).items():
        command += ["-E", "%s=%s" % (name, value)]
    old = os.umask(umask)
    try:
        run = subprocess.run(command + ["--"] + argv, cwd=root, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
    finally:
        os.umask(old)
    if run.returncode != 0 and b"strace:" in run.stderr:
        raise RuntimeError("strace could not trace: " + run.stderr.decode(errors="replace"))
    recorder.cwd = recorder.root
    with open(trace, errors="surrogateescape") as lines:
        for pid, text, start in join_lines(lines, lambda: len(recorder.ops)):
            recorder.feed(pid, text, start)
    return recorder, run.returncode, run.stderr.decode(errors="replace")
