#!/usr/bin/env bash
# Mounts (or unmounts) the small filesystems that the failure tests need:
#   DIR/full      a 16 MiB tmpfs that tests fill up to the free space they want
#   DIR/readonly  a read-only tmpfs holding one file, readonly/file.txt
# Needs root; without it nothing is mounted and those test cases are skipped.
set -u
action=$1 dir=$2
if [ "$(id -u)" -ne 0 ]; then echo "scratch-fs: not root, nothing mounted"; exit 0; fi
case $action in
  mount)
    for m in full readonly; do mountpoint -q "$dir/$m" && umount "$dir/$m"; done
    mkdir -p "$dir/full" "$dir/readonly"
    mount -t tmpfs -o size=16m,mode=1777 quenlat-full "$dir/full" || exit 0
    touch "$dir/full/.mounted"
    mount -t tmpfs -o size=64k quenlat-ro "$dir/readonly" || exit 0
    printf 'a\r\nb\r\n' >"$dir/readonly/file.txt"
    mount -o remount,ro "$dir/readonly"
    ;;
  unmount)
    for m in full readonly; do mountpoint -q "$dir/$m" && umount "$dir/$m"; done
    ;;
esac
exit 0
