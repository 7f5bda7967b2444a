#!/usr/bin/env python3
"""Links the show and packs it into the file that is handed in.

It stands in for the link step: it is given the compiler's link command,
takes the objects and the output NAME from it, and makes, beside NAME:
  NAME.linked  the linked image with its symbols (for debugging and size analysis)
  NAME.elf     the unpacked program, exactly as it runs (a complete ELF file)
  NAME         the packed program: the unpacking stub followed by NAME.elf
               compressed as raw LZMA, the only file anyone needs
  NAME.sizes   the packed program's size breakdown, which it also prints.
It fails, removing NAME, when the packed program is larger than the size
class allows (unless --no-size-limit).
"""

import argparse
import os
import pathlib
import subprocess
import sys
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
SIZE_CLASS = 4096
IMAGE_ADDRESS = 0x400000
# lc=1 lp=0 pb=0 suits x86 code; the packer keeps the smallest of these settings.
LZMA_SETTINGS = [
    f"preset=9e,lc={lc},lp=0,pb={pb},nice={nice}" for lc in (0, 1, 2) for pb in (0, 1) for nice in (64, 273)
]
# The parts of the image the breakdown weighs, by their marks in the linker script.
PARTS = [("headers", "headers"), ("shader text", "shader"), ("label sheet", "label"), ("roll", "roll"),
         ("import hashes", "imports"), ("code", "code")]


def run(*command, **options):
    return subprocess.run(command, check=True, **options)


def compress(data, settings):
    return run("xz", "--format=lzma", f"--lzma1={settings}", "--stdout", input=data, capture_output=True).stdout


def smallest_compression(data):
    return min((compress(data, settings) for settings in LZMA_SETTINGS), key=len)


def symbols(linked):
    listing = run("nm", linked, capture_output=True, text=True).stdout
    table = {}
    for line in listing.splitlines():
        fields = line.split()
        if len(fields) == 3:
            table[fields[2]] = int(fields[0], 16)
    return table


def link(objects, linked, image):
    with tempfile.TemporaryDirectory() as work:
        header = os.path.join(work, "header.o")
        run("as", str(HERE / "header.S"), "-o", header)
        run("ld", "-T", str(HERE / "show.ld"), "--gc-sections", "--no-warn-rwx-segments", "-z", "noexecstack", "-o", linked, header,
            *objects)
    run("objcopy", "-O", "binary", "-j", ".image", linked, image)
    os.chmod(image, 0o755)


def pack(image_data, packed, decompressor):
    payload = smallest_compression(image_data)
    with tempfile.TemporaryDirectory() as work:
        pathlib.Path(work, "payload.lzma").write_bytes(payload)
        pathlib.Path(work, "decompressor").write_bytes(decompressor.encode())
        stub_object, stub_linked = os.path.join(work, "stub.o"), os.path.join(work, "stub.linked")
        run("as", "-I", work, str(HERE / "stub.S"), "-o", stub_object)
        run("ld", "-T", str(HERE / "stub.ld"), "--no-warn-rwx-segments", "-o", stub_linked, stub_object)
        run("objcopy", "-O", "binary", "-j", ".stub", stub_linked, packed)
    os.chmod(packed, 0o755)
    return len(payload)


def breakdown(name, image_data, marks, packed_size, payload_size):
    """What each part costs: the payload's size with the part less its size without it."""
    margin = f"{SIZE_CLASS - packed_size} under" if packed_size <= SIZE_CLASS else f"{packed_size - SIZE_CLASS} over"
    lines = [f"{name}: {packed_size} bytes packed, {margin} {SIZE_CLASS}",
             f"  stub                      {packed_size - payload_size:5d}",
             f"  compressed payload        {payload_size:5d}  (unpacked {len(image_data)})"]
    for label, mark in PARTS:
        start, end = marks[f"{mark}_start"] - IMAGE_ADDRESS, marks[f"{mark}_end"] - IMAGE_ADDRESS
        without = len(smallest_compression(image_data[:start] + image_data[end:]))
        lines.append(f"    {label:22s}  {payload_size - without:5d}  (raw {end - start})")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--decompressor", default="/usr/bin/xzcat", help="what the packed program runs to unpack")
    parser.add_argument("--no-size-limit", action="store_true", help="pack a program over the size class too")
    parser.add_argument("--link-command", nargs=argparse.REMAINDER, required=True,
                        help="the link command it replaces: its objects and its -o output are used")
    arguments = parser.parse_args()
    command = arguments.link_command
    objects = [word for word in command if word.endswith(".o")]
    packed = pathlib.Path(command[command.index("-o") + 1]).resolve()
    name = packed.name
    linked, image = packed.with_name(f"{name}.linked"), packed.with_name(f"{name}.elf")
    link(objects, str(linked), str(image))
    image_data = image.read_bytes()
    payload_size = pack(image_data, str(packed), arguments.decompressor)
    packed_size = packed.stat().st_size
    sizes = breakdown(name, image_data, symbols(str(linked)), packed_size, payload_size)
    packed.with_name(f"{name}.sizes").write_text(sizes + "\n")
    print(sizes)
    if packed_size > SIZE_CLASS and not arguments.no_size_limit:
        packed.unlink()
        sys.exit(f"{name}: {packed_size} bytes packed, over the {SIZE_CLASS}-byte class")


if __name__ == "__main__":
    main()
