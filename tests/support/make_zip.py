"""Writes a zip archive from a JSON list of entries, with Python's own zipfile module.

Usage: make_zip.py ENTRIES.json OUT.zip. Each entry: name, data (hex), method (store, deflate,
bzip2), legacy (write a non-ASCII name in CP437 without the UTF-8 flag), mode (Unix bits).
"""
import json
import sys
import zipfile

METHODS = {"store": zipfile.ZIP_STORED, "deflate": zipfile.ZIP_DEFLATED, "bzip2": zipfile.ZIP_BZIP2}


class LegacyInfo(zipfile.ZipInfo):
    """An entry whose name is stored in CP437, as old writers do, without the UTF-8 flag."""

    __slots__ = ()

    def _encodeFilenameFlags(self):
        return self.filename.encode("cp437"), self.flag_bits & ~0x800


def main():
    with open(sys.argv[1], encoding="utf-8") as entries_file:
        entries = json.load(entries_file)
    with zipfile.ZipFile(sys.argv[2], "w") as archive:
        for entry in entries:
            kind = LegacyInfo if entry["legacy"] else zipfile.ZipInfo
            info = kind(entry["name"], date_time=(2024, 5, 1, 12, 0, 0))
            info.compress_type = METHODS[entry["method"]]
            info.create_system = 3
            info.external_attr = (0o100000 | entry["mode"]) << 16
            if entry["name"].endswith("/"):
                info.external_attr = (0o40755 << 16) | 0x10
            archive.writestr(info, bytes.fromhex(entry["data"]))


main()
