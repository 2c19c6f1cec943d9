#!/usr/bin/env python3
"""Prints where each part of a single-file package lies: "<name> <offset> <size>",
the manifest last as "manifest <offset> <size>".

Usage: single_file_parts.py <single file>
A test helper: it finds the image's filled record by its magic, which the
engine itself never does (it reads the record of its own mapped image).
"""
import struct
import sys

data = open(sys.argv[1], "rb").read()
magic = b"VOLOK-MANIFEST-1"
at = data.find(magic)
blob = b""
# The magic stands in the program's constants too: the record is the one
# that names a manifest.
while at >= 0:
    offset, length = struct.unpack_from("<QQ", data, at + 16)
    blob = data[offset:offset + length]
    if blob[:8] == b"VOLOKMAN":
        break
    at = data.find(magic, at + 1)
if at < 0:
    sys.exit("no filled manifest record")
count = struct.unpack_from("<I", blob, 12)[0]
pos = 16
for _ in range(count):
    flags, name_length = struct.unpack_from("<IH", blob, pos)
    pos += 6
    name = blob[pos:pos + name_length].decode("utf-8")
    pos += name_length
    size, entry_offset = struct.unpack_from("<QQ", blob, pos)
    pos += 16 + 32
    print(name, entry_offset, size)
print("manifest", offset, length)
