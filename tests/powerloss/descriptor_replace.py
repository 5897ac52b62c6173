#!/usr/bin/env python3
"""A reference for the power-loss checker: converts each FILE to LF breaks
through descriptors only, in the order a sound replace takes, so that the
checker sees every call of such a replace on a protocol that must pass.

For each file: its folder and the file are opened once; the new content
goes into an O_TMPFILE file (every other file: a name made with O_EXCL and
O_NOFOLLOW), written with write and pwrite, its writeback started; it gets
the file's owner, attributes, mode and flags, then one fsync; the O_TMPFILE
file gets a name by linkat (through /proc/self/fd or AT_EMPTY_PATH, in
turn) and is exchanged with the file (renameat2 RENAME_EXCHANGE), whose old
inode is then unlinked; the named one is renamed over the file. At the end
each folder is flushed, then the filesystem (syncfs).

  descriptor_replace.py FILE...
"""

import ctypes
import fcntl
import os
import struct
import sys

libc = ctypes.CDLL(None, use_errno=True)
AT_FDCWD = -100
AT_SYMLINK_FOLLOW = 0x400
AT_EMPTY_PATH = 0x1000
RENAME_EXCHANGE = 2
SYNC_FILE_RANGE_WRITE = 2
FS_IOC_GETFLAGS = 0x80086601
FS_IOC_SETFLAGS = 0x40086602


def check(result, what):
    if result != 0:
        error = ctypes.get_errno()
        raise OSError(error, "%s: %s" % (what, os.strerror(error)))


def replace(folder, name, number):
    source = os.open(name, os.O_RDONLY | os.O_NOFOLLOW, dir_fd=folder)
    st = os.fstat(source)
    data = b""
    while True:
        block = os.read(source, 1 << 16)
        if not block:
            break
        data += block
    new = data.replace(b"\r\n", b"\n")
    temp_name = "tmp-descriptor-%d" % number
    unnamed = number % 2 == 0
    if unnamed:
        try:
            temp = os.open(".", os.O_TMPFILE | os.O_WRONLY, 0o600, dir_fd=folder)
        except OSError:  # a filesystem without it
            unnamed = False
    if not unnamed:
        temp = os.open(temp_name, os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW | os.O_WRONLY, 0o600,
                       dir_fd=folder)
    half = len(new) // 2
    os.write(temp, new[:half])
    os.pwrite(temp, new[half:], half)
    libc.sync_file_range(temp, ctypes.c_longlong(0), ctypes.c_longlong(0), SYNC_FILE_RANGE_WRITE)
    os.fchown(temp, st.st_uid, st.st_gid)
    for attribute in os.listxattr(source):
        os.setxattr(temp, attribute, os.getxattr(source, attribute))
    try:
        os.removexattr(temp, "system.posix_acl_access")
    except OSError:
        pass
    os.fchmod(temp, st.st_mode & 0o7777)
    try:
        flags = fcntl.ioctl(source, FS_IOC_GETFLAGS, struct.pack("l", 0))
        fcntl.ioctl(temp, FS_IOC_SETFLAGS, flags)
    except OSError:
        pass
    os.fsync(temp)
    if unnamed:
        # AT_EMPTY_PATH needs a right that not every user has.
        if number % 4 == 0 or libc.linkat(temp, b"", folder, temp_name.encode(), AT_EMPTY_PATH):
            check(libc.linkat(AT_FDCWD, b"/proc/self/fd/%d" % temp, folder, temp_name.encode(),
                              AT_SYMLINK_FOLLOW), "linkat")
    if unnamed and libc.renameat2(folder, temp_name.encode(), folder, name.encode(),
                                  RENAME_EXCHANGE) == 0:
        os.unlink(temp_name, dir_fd=folder)
    else:  # named, or a filesystem that cannot exchange
        os.rename(temp_name, name, src_dir_fd=folder, dst_dir_fd=folder)
    os.close(temp)
    os.close(source)


def main(paths):
    folders = {}
    for number, path in enumerate(paths):
        where = os.path.dirname(os.path.abspath(path))
        if where not in folders:
            folders[where] = os.open(where, os.O_RDONLY | os.O_DIRECTORY)
        replace(folders[where], os.path.basename(path), number)
    for folder in folders.values():
        os.fsync(folder)
    for folder in folders.values():
        check(libc.syncfs(folder), "syncfs")
        os.close(folder)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
