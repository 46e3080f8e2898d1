#!/usr/bin/env python3
"""Zips the release directory so that the same files always give the same bytes.

    release_zip.py <output.zip> <release directory>

The entries are the directory's files under its own name, sorted, each with the
same time stamp and mode, no extra fields, and stored uncompressed: nothing of
the build machine (times, owners, the zlib at hand) reaches the archive.
"""
import pathlib
import sys
import zipfile

# The earliest time a zip entry can hold.
FIXED_TIME = (1980, 1, 1, 0, 0, 0)
# A regular file, rw-r--r--, as a Unix-made entry records it.
FILE_ATTRIBUTES = 0o100644 << 16
UNIX = 3


def main(argv):
    if len(argv) != 3:
        sys.exit(__doc__)
    output, top = pathlib.Path(argv[1]), pathlib.Path(argv[2])
    names = sorted((path.relative_to(top.parent).as_posix(), path) for path in top.rglob("*") if path.is_file())
    if not names:
        sys.exit(f"release_zip.py: no files below {top}")
    with zipfile.ZipFile(output, "w", zipfile.ZIP_STORED) as archive:
        for name, path in names:
            entry = zipfile.ZipInfo(name, FIXED_TIME)
            entry.create_system = UNIX
            entry.external_attr = FILE_ATTRIBUTES
            entry.compress_type = zipfile.ZIP_STORED
            archive.writestr(entry, path.read_bytes())


if __name__ == "__main__":
    main(sys.argv)
