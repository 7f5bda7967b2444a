#!/usr/bin/env python3
"""Drops what the loader never reads from a stripped 64-bit ELF program: the
section header table and everything after the last byte a program header
maps. The program runs the same; only tools that read sections see less."""

import struct
import sys


def drop_section_headers(path):
    with open(path, "rb") as file:
        data = bytearray(file.read())
    if data[:4] != b"\x7fELF" or data[4] != 2 or data[5] != 1:
        raise SystemExit(f"{path}: not a little-endian 64-bit ELF file")
    phoff, = struct.unpack_from("<Q", data, 0x20)
    phentsize, phnum = struct.unpack_from("<HH", data, 0x36)
    end = phoff + phentsize * phnum
    for index in range(phnum):
        p_offset, = struct.unpack_from("<Q", data, phoff + index * phentsize + 8)
        p_filesz, = struct.unpack_from("<Q", data, phoff + index * phentsize + 32)
        end = max(end, p_offset + p_filesz)
    struct.pack_into("<Q", data, 0x28, 0)  # e_shoff
    struct.pack_into("<HHH", data, 0x3A, 0, 0, 0)  # e_shentsize, e_shnum, e_shstrndx
    with open(path, "wb") as file:
        file.write(data[:end])


if __name__ == "__main__":
    for program in sys.argv[1:]:
        drop_section_headers(program)
