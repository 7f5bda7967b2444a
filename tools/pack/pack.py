#!/usr/bin/env python3
"""Links the show and packs it into the file that is handed in.

It stands in for the link step: it is given the compiler's link command,
takes the objects and the output NAME from it, and makes, beside NAME:
  NAME.linked  the linked image with its symbols (for debugging and size analysis)
  NAME.elf     the unpacked program, exactly as it runs (a complete ELF file)
  NAME         the packed program: the stub with its decoder, followed by
               NAME.elf compressed by context mixing; the only file anyone needs
  NAME.sizes   the packed program's size breakdown, which it also prints.
The compression's model is the committed model file (model.txt beside this
script, found by `korvatine_compress search`). Every pack is checked: the
compressor's reference decoder must give the image back, and so must the
stub's own decoder, run here (the stub assembled to write what it decoded).
It fails, removing NAME, when either check fails or when the packed program
is larger than the size class (--size-class, which the build sets) allows,
unless --no-size-limit.
"""

import argparse
import os
import pathlib
import subprocess
import sys
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
# The stub decodes the image below a 64 KiB boundary and writes it in whole 256-byte pages.
LARGEST_IMAGE = 65536 - 2048 - 256
# For the breakdown's comparison only: raw LZMA as the packer once used it.
LZMA_SETTINGS = [
    f"preset=9e,lc={lc},lp=0,pb={pb},nice={nice}" for lc in (0, 1, 2) for pb in (0, 1) for nice in (64, 273)
]
# The parts of the image the breakdown weighs, by their marks in the linker script.
PARTS = [("headers", "headers"), ("shader text", "shader"), ("label sheet", "label"), ("roll", "roll"),
         ("import hashes", "imports"), ("code", "code")]


def run(*command, **options):
    return subprocess.run(command, check=True, **options)


def lzma_size(data):
    """The smallest raw LZMA stream of data, header included."""
    return min(len(run("xz", "--format=lzma", f"--lzma1={settings}", "--stdout", input=data, capture_output=True).stdout)
               for settings in LZMA_SETTINGS)


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


def assemble_stub(work, output, *definitions):
    """The stub with the payload and model in work, as a flat file; its symbols."""
    stub_object, stub_linked = os.path.join(work, "stub.o"), os.path.join(work, "stub.linked")
    defines = [f"--defsym={definition}=1" for definition in definitions]
    run("as", "-I", work, *defines, str(HERE / "stub.S"), "-o", stub_object)
    run("ld", "-T", str(HERE / "stub.ld"), "--no-warn-rwx-segments", "-o", stub_linked, stub_object)
    run("objcopy", "-O", "binary", "-j", ".stub", stub_linked, output)
    os.chmod(output, 0o755)
    return symbols(stub_linked)


def pack(compressor, model, image, packed=None):
    """Packs image into packed (or only checks that it unpacks, if packed is
    None); the payload's size and the sizes of the stub's parts."""
    image_data = pathlib.Path(image).read_bytes()
    if not 0 < len(image_data) <= LARGEST_IMAGE:
        sys.exit(f"{image}: {len(image_data)} bytes; the stub unpacks from 1 to {LARGEST_IMAGE}")
    with tempfile.TemporaryDirectory() as work:
        payload = os.path.join(work, "payload.cm")
        run(compressor, "compress", model, image, payload, os.path.join(work, "model.s"), stdout=subprocess.DEVNULL)
        check = os.path.join(work, "check")
        assemble_stub(work, check, "DUMP")
        decoded = subprocess.run([check], capture_output=True)
        if decoded.returncode != 0 or decoded.stdout != image_data:
            sys.exit(f"{image}: the stub's decoder does not give the image back (status {decoded.returncode})")
        stub = assemble_stub(work, packed or os.path.join(work, "packed"))
        parts = {"decoder": stub["decoder_end"] - stub["decoder"], "running": stub["masks"] - stub["decoded"],
                 "masks": stub["payload"] - stub["masks"]}
        return os.path.getsize(payload), parts


def compressed_sizes(compressor, model, images):
    with tempfile.TemporaryDirectory() as work:
        paths = []
        for index, data in enumerate(images):
            paths.append(os.path.join(work, f"image{index}"))
            pathlib.Path(paths[-1]).write_bytes(data)
        listing = run(compressor, "size", model, *paths, capture_output=True, text=True).stdout
    return [int(size) for size in listing.split()]


def breakdown(name, compressor, model, image_data, marks, size_class, packed_size, payload_size, stub_parts):
    """What each part costs: the payload's size with the part less its size without it."""
    margin = f"{size_class - packed_size} under" if packed_size <= size_class else f"{packed_size - size_class} over"
    lines = [f"{name}: {packed_size} bytes packed, {margin} {size_class}",
             f"  stub                      {packed_size - payload_size:5d}",
             f"    decoder's loop          {stub_parts['decoder']:5d}",
             f"    model's masks           {stub_parts['masks']:5d}",
             f"    checking and running    {stub_parts['running']:5d}",
             f"    ELF header, start-up    {packed_size - payload_size - sum(stub_parts.values()):5d}  (constants included)",
             f"  compressed payload        {payload_size:5d}  (unpacked {len(image_data)}; raw LZMA: {lzma_size(image_data)})"]
    # The image starts with its headers, at the address show.ld gives it.
    image_address = marks["headers_start"]
    spans = [(marks[f"{mark}_start"] - image_address, marks[f"{mark}_end"] - image_address) for _, mark in PARTS]
    without = compressed_sizes(compressor, model, [image_data[:start] + image_data[end:] for start, end in spans])
    for (label, _), (start, end), size in zip(PARTS, spans, without):
        lines.append(f"    {label:22s}  {payload_size - size:5d}  (raw {end - start})")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--compressor", required=True, help="the korvatine_compress program")
    parser.add_argument("--model", default=str(HERE / "model.txt"), help="the compression's model file")
    parser.add_argument("--size-class", type=int, metavar="BYTES", help="the largest packed program (with --link-command)")
    parser.add_argument("--no-size-limit", action="store_true", help="pack a program over the size class too")
    parser.add_argument("--check-image", metavar="FILE",
                        help="only check that FILE, as an image, comes back through both decoders")
    parser.add_argument("--link-command", nargs=argparse.REMAINDER,
                        help="the link command it replaces: its objects and its -o output are used")
    arguments = parser.parse_args()
    if arguments.check_image:
        payload_size, _ = pack(arguments.compressor, arguments.model, arguments.check_image)
        print(f"{arguments.check_image}: {payload_size} bytes compressed, both decoders give it back")
        return
    if not arguments.link_command:
        parser.error("--link-command or --check-image is needed")
    if not arguments.size_class:
        parser.error("--link-command needs --size-class")
    size_class = arguments.size_class
    command = arguments.link_command
    objects = [word for word in command if word.endswith(".o")]
    packed = pathlib.Path(command[command.index("-o") + 1]).resolve()
    name = packed.name
    linked, image = packed.with_name(f"{name}.linked"), packed.with_name(f"{name}.elf")
    packed.unlink(missing_ok=True)
    link(objects, str(linked), str(image))
    payload_size, stub_parts = pack(arguments.compressor, arguments.model, str(image), str(packed))
    packed_size = packed.stat().st_size
    sizes = breakdown(name, arguments.compressor, arguments.model, image.read_bytes(), symbols(str(linked)),
                      size_class, packed_size, payload_size, stub_parts)
    packed.with_name(f"{name}.sizes").write_text(sizes + "\n")
    print(sizes)
    if packed_size > size_class and not arguments.no_size_limit:
        packed.unlink()
        sys.exit(f"{name}: {packed_size} bytes packed, over the {size_class}-byte class")


if __name__ == "__main__":
    main()
