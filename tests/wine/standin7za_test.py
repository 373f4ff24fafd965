#!/usr/bin/env python3
"""The Windows stand-in archiver (7za.exe) run under Wine, its archives read back on this side
by independent readers: `unzip -t` / `unzip -p` and Python's zipfile.

usage: standin7za_test.py <wine-run> <7za.exe> <unzip> [<host 7za>]
"""
import io
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

WINE_RUN, STANDIN, UNZIP = sys.argv[1:4]
HOST_7ZA = sys.argv[4] if len(sys.argv) > 4 and sys.argv[4] and "NOTFOUND" not in sys.argv[4] else None
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what)


def win(path):
    """The Windows path of a host path (drive Z: is the host's root)."""
    return "Z:" + path.replace("/", "\\")


def standin(*args):
    run = subprocess.run([WINE_RUN, STANDIN, *args], stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    return run.returncode, run.stdout.decode(errors="replace") + run.stderr.decode(errors="replace")


def unzip_ok(archive):
    run = subprocess.run([UNZIP, "-tq", archive], capture_output=True, text=True)
    return run.returncode == 0, run.stdout + run.stderr


def unzip_read(archive, name):
    return subprocess.run([UNZIP, "-p", archive, name], capture_output=True, check=True).stdout


def contents(archive):
    """Name -> bytes through zipfile, which checks each CRC-32 on reading."""
    with zipfile.ZipFile(archive) as z:
        return {info.filename: z.read(info) for info in z.infolist()}


class Unseekable(io.RawIOBase):
    """Makes zipfile write data descriptors (flag bit 3), as streaming archivers do."""

    def __init__(self, sink):
        self.sink = sink

    def writable(self):
        return True

    def write(self, b):
        return self.sink.write(b)


def main():
    root = tempfile.mkdtemp(prefix="standin7za-")
    try:
        def path(*parts):
            return os.path.join(root, *parts)

        def put(name, data):
            with open(path(name), "wb") as f:
                f.write(data)
            return path(name)

        text = put("day.log", b"2026/01/01 SystemVersion:2.0.0.60107\r\nERR\t09:05:03.007\t1234\t0088\tabc\r\n")
        binary = put("with blank.per", os.urandom(200_000))
        empty = put("empty.log", b"")
        arch = path("Day Permanent.zip")

        # A new archive from the add command line of the data archiver, names without folders.
        rc, out = standin("a", "-tzip", win(arch), win(text))
        check(rc == 0, f"add to a new archive: rc {rc} {out}")
        rc, out = standin("a", "-tzip", win(arch), win(binary), win(empty))
        check(rc == 0, f"add two more: rc {rc} {out}")
        ok, report = unzip_ok(arch)
        check(ok, "unzip -t of the new archive: " + report)
        want = {"day.log": open(text, "rb").read(), "with blank.per": open(binary, "rb").read(), "empty.log": b""}
        check(contents(arch) == want, "zipfile contents of the new archive")
        check(unzip_read(arch, "with blank.per") == want["with blank.per"], "unzip -p of the binary entry")
        with zipfile.ZipFile(arch) as z:
            check(all(i.compress_type == zipfile.ZIP_STORED for i in z.infolist()), "entries are stored")

        # Adding a file of a name already present replaces that entry; the others stay.
        put("day.log", b"changed\r\n")
        rc, out = standin("a", "-tzip", win(arch), win(text))
        check(rc == 0, f"update: rc {rc} {out}")
        want["day.log"] = b"changed\r\n"
        check(contents(arch) == want, "contents after the update")
        check(unzip_ok(arch)[0], "unzip -t after the update")

        # A file that cannot be read: warning 1, the archive is still written without it.
        rc, out = standin("a", "-tzip", win(arch), win(path("missing.log")))
        check(rc == 1, f"missing file: rc {rc} (want 1) {out}")
        check(contents(arch) == want, "contents after a missing file")
        fresh = path("fresh.zip")
        rc, _ = standin("a", "-tzip", win(fresh), win(path("missing.log")))
        check(rc == 1 and contents(fresh) == {}, f"missing file into a new archive: rc {rc}, an empty archive")

        # Archives written by others: a deflated entry (host 7-Zip) and data descriptors
        # (streaming writers) are kept as they are beside the stored entry added.
        foreign = []
        if HOST_7ZA:
            big = put("big.txt", b"compressible line\n" * 5000)
            subprocess.run([HOST_7ZA, "a", "-tzip", path("deflated.zip"), big], capture_output=True, check=True)
            foreign.append((path("deflated.zip"), {"big.txt": open(big, "rb").read()}))
        sink = io.BytesIO()
        with zipfile.ZipFile(Unseekable(sink), "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("streamed.txt", b"streamed " * 100)
        put("streamed.zip", sink.getvalue())
        foreign.append((path("streamed.zip"), {"streamed.txt": b"streamed " * 100}))
        for archive, entries in foreign:
            rc, out = standin("a", "-tzip", win(archive), win(empty))
            check(rc == 0, f"add to {os.path.basename(archive)}: rc {rc} {out}")
            ok, report = unzip_ok(archive)
            check(ok, f"unzip -t of {os.path.basename(archive)}: {report}")
            check(contents(archive) == {**entries, "empty.log": b""}, f"contents of {os.path.basename(archive)}")

        # Not an archive: fatal error 2, the file untouched, no temporary file left.
        garbage = put("garbage.zip", b"this is no zip archive" * 10)
        rc, _ = standin("a", "-tzip", win(garbage), win(text))
        check(rc == 2, f"garbage archive: rc {rc} (want 2)")
        check(open(garbage, "rb").read() == b"this is no zip archive" * 10, "garbage archive untouched")
        check(not os.path.exists(garbage + ".tmp"), "no temporary file left")

        # Command lines outside the two it knows: 7 (and no archive made).
        for args in (["u", "-tzip", win(path("c.zip")), win(text)], ["a", "-t7z", win(path("c.7z")), win(text)],
                     ["a", "-tzip", win(path("c.zip"))], ["a", "-tzip", "-mx9", win(path("c.zip")), win(text)],
                     ["x", win(arch), "-y", "-p"], ["x", win(arch), "day.log"]):
            rc, _ = standin(*args)
            check(rc == 7, f"command line {args}: rc {rc} (want 7)")
        check(not os.path.exists(path("c.zip")), "no archive from a bad command line")

        # Extraction as the data archiver asks for it: -y, and -o with the folder's trailing
        # backslash; a second run overwrites.
        out_dir = path("out dir")
        for attempt in range(2):
            rc, out = standin("x", win(arch), "-y", "-o" + win(out_dir) + "\\")
            check(rc == 0, f"extract #{attempt + 1}: rc {rc} {out}")
        for name, data in want.items():
            check(open(os.path.join(out_dir, name), "rb").read() == data, f"extracted {name}")

        # A stored entry whose bytes changed: unzip and the stand-in both refuse it.
        damaged = path("damaged.zip")
        shutil.copy(arch, damaged)
        with open(damaged, "r+b") as f:
            data = f.read()
            at = data.index(b"changed\r\n")
            f.seek(at)
            f.write(b"C")
        check(not unzip_ok(damaged)[0], "unzip -t notices the damage")
        rc, _ = standin("x", win(damaged), "-y", "-o" + win(path("out2")))
        check(rc == 2, f"extract a damaged entry: rc {rc} (want 2)")

        # Entry names that would leave the output folder are not extracted; the others are.
        evil = path("evil.zip")
        with zipfile.ZipFile(evil, "w") as z:
            z.writestr("../escaped.txt", b"no")
            z.writestr("sub/ok.txt", b"yes")
        rc, _ = standin("x", win(evil), "-y", "-o" + win(path("out3")))
        check(rc == 2, f"extract an escaping name: rc {rc} (want 2)")
        check(not os.path.exists(path("escaped.txt")), "nothing written outside the output folder")
        check(open(path("out3", "sub", "ok.txt"), "rb").read() == b"yes", "the safe entry is extracted")
        if HOST_7ZA:
            rc, _ = standin("x", win(path("deflated.zip")), "-y", "-o" + win(path("out4")))
            check(rc == 2, f"extract a deflated entry: rc {rc} (want 2, unsupported method)")
    finally:
        shutil.rmtree(root, ignore_errors=True)

    print(f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
