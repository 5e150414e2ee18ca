#!/usr/bin/python3
"""Shows one file as MOUNTPOINT/disk.img, a read-only copy of BACKING whose
reads fail like a failing disk's: EIO for any read that touches a bad sector
range, and ENOTCONN (a FUSE file system that went away) for every read once
one touches the sector given to --lose-at. With --slow, each failing read
takes that many seconds first, as a dying disk's do, and is counted in the
file given to --count (one line per failed read). Reads reach it exactly as asked
(direct_io), as a block device read with O_DIRECT would.

  failing_fuse.py BACKING MOUNTPOINT [--bad FIRST:COUNT ...] [--lose-at SECTOR]
                  [--slow SECONDS] [--count FILE]

Runs in the foreground until unmounted (fusermount -u MOUNTPOINT)."""
import argparse
import errno
import os
import stat
import threading
import time

from fusepy import FUSE, FuseOSError, Operations

SECTOR = 512


class FailingDisk(Operations):
    def __init__(self, backing, bad, lose_at, slow, count):
        self.fd = os.open(backing, os.O_RDONLY)
        self.size = os.fstat(self.fd).st_size
        self.bad = [(first * SECTOR, (first + count) * SECTOR) for first, count in bad]
        self.lose_at = None if lose_at is None else lose_at * SECTOR
        self.lost = False
        self.lock = threading.Lock()
        self.slow = slow
        self.count = count

    def getattr(self, path, fh=None):
        if path == "/":
            return {"st_mode": stat.S_IFDIR | 0o555, "st_nlink": 2}
        if path == "/disk.img":
            return {"st_mode": stat.S_IFREG | 0o444, "st_nlink": 1, "st_size": self.size}
        raise FuseOSError(errno.ENOENT)

    def readdir(self, path, fh):
        return [".", "..", "disk.img"]

    def open(self, path, flags):
        if path != "/disk.img":
            raise FuseOSError(errno.ENOENT)
        return 0

    def read(self, path, size, offset, fh):
        end = offset + size
        with self.lock:
            if self.lose_at is not None and offset <= self.lose_at < end:
                self.lost = True
            if self.lost:
                raise FuseOSError(errno.ENOTCONN)
        for first, last in self.bad:
            if offset < last and first < end:
                time.sleep(self.slow)
                if self.count:
                    with self.lock, open(self.count, "a") as counted:
                        counted.write("x\n")
                raise FuseOSError(errno.EIO)
        return os.pread(self.fd, size, offset)


def sector_range(text):
    first, count = text.split(":")
    return int(first), int(count)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("backing")
    parser.add_argument("mountpoint")
    parser.add_argument("--bad", type=sector_range, action="append", default=[])
    parser.add_argument("--lose-at", type=int)
    parser.add_argument("--slow", type=float, default=0)
    parser.add_argument("--count")
    args = parser.parse_args()
    FUSE(FailingDisk(args.backing, args.bad, args.lose_at, args.slow, args.count), args.mountpoint, foreground=True,
         ro=True, direct_io=True, nothreads=False)


if __name__ == "__main__":
    main()
