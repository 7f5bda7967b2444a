#!/usr/bin/env python3
"""Turns the readable assets into the headers the show embeds.

  embed_assets.py shader --template assets/shader.frag --width W --height H --samples N
                         --name shader_small_frag_min --header OUT.h --readable OUT.frag
                         [--names assets/shader_names.txt --build small --compressor C --model M]
  embed_assets.py sized --template assets/shader.frag --page OUT.json --header OUT.h
                        [--es WIDTH HEIGHT SAMPLES OUT.es.frag]...
  embed_assets.py postscript --source assets/label.ps --header OUT.h --minified OUT.ps
"""

import argparse
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).parent))
import json  # noqa: E402

import minify_glsl  # noqa: E402
import minify_postscript  # noqa: E402
from shader_text import CONSTANT_NAMES, CONSTANTS, ES_HEAD, at_size, readable_shader  # noqa: E402


def c_string(text):
    escaped = text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n")
    return f'"{escaped}"'


def write_if_changed(path, text):
    path = pathlib.Path(path)
    if not path.exists() or path.read_text() != text:
        path.write_text(text)


def shader(args):
    template = pathlib.Path(args.template).read_text()
    readable = readable_shader(template, args.width, args.height, args.samples)
    choice = packed_size = None
    if args.names and pathlib.Path(args.names).exists():
        choice = minify_glsl.read_choices(args.names).get(args.build)
        packed_size = minify_glsl.PackedSize(args.compressor, args.model)
    minified = minify_glsl.minify(readable, choice=choice, packed_size=packed_size)
    write_if_changed(args.readable, readable)
    write_if_changed(
        args.header,
        f"// Generated from {pathlib.Path(args.template).name}: {len(minified)} bytes.\n"
        f"static const char {args.name}[] = {c_string(minified)};\n",
    )
    packed = f", {packed_size(minified)} by the packer's compressor" if packed_size else ""
    print(f"{args.name}: {len(minified)} bytes, {minify_glsl.compressed_size(minified)} compressed as raw LZMA{packed}")


def sized(args):
    """The shader for any size: for the browser edition, minified in GLSL ES
    3.00 with the constants' names kept (its size matters little, so its
    letters are simply the most frequent first); for the capture tool, the
    readable text; and for both the form of the constants, which each fills
    in for the size it draws at. Also each build's GLSL ES text so made."""
    template = pathlib.Path(args.template).read_text()
    version, _, rest = template.partition("\n")
    head, _, body = minify_glsl.minify(ES_HEAD + "\n" + rest, search=False, keep=CONSTANT_NAMES).partition("\n")
    write_if_changed(args.page, json.dumps({"head": head, "constants": CONSTANTS, "body": body}) + "\n")
    write_if_changed(
        args.header,
        f"// Generated from {pathlib.Path(args.template).name}: the readable shader with no size, and the form of\n"
        "// the constants of a size ({half_width}, {half_height}, {width} and {rays} to fill in).\n"
        f"static const char shader_template_head[] = {c_string(version)};\n"
        f"static const char shader_template_body[] = {c_string(rest)};\n"
        f"static const char shader_constants_form[] = {c_string(CONSTANTS)};\n",
    )
    print(f"{pathlib.Path(args.page).name}: {len(head) + len(body) + 1} bytes, GLSL ES 3.00, for any size")
    for width, height, samples, path in args.es or []:
        write_if_changed(path, at_size(head, body, int(width), int(height), int(samples)))


def postscript(args):
    minified = minify_postscript.minify(pathlib.Path(args.source).read_text())
    data = minified.encode("ascii")
    rows = [", ".join(str(byte) for byte in data[i : i + 24]) for i in range(0, len(data), 24)]
    write_if_changed(args.minified, minified)
    write_if_changed(
        args.header,
        f"// Generated from {pathlib.Path(args.source).name}.\n"
        f"static const unsigned char postscript_ps_min[{len(data)}] = {{\n    "
        + ",\n    ".join(rows)
        + f"}};\nstatic unsigned postscript_ps_min_len = {len(data)};\n",
    )
    print(f"postscript_ps_min: {len(data)} bytes")


def main():
    parser = argparse.ArgumentParser()
    commands = parser.add_subparsers(dest="command", required=True)
    s = commands.add_parser("shader")
    s.add_argument("--template", required=True)
    s.add_argument("--width", type=int, required=True)
    s.add_argument("--height", type=int, required=True)
    s.add_argument("--samples", type=int, required=True)
    s.add_argument("--name", required=True)
    s.add_argument("--header", required=True)
    s.add_argument("--readable", required=True)
    s.add_argument("--names", help="the letters chosen for the packer's compressor (minify_glsl.py --search-packed)")
    s.add_argument("--build", help="which build's letters")
    s.add_argument("--compressor", help="the packer's compressor, to compare the choice with the quick search's")
    s.add_argument("--model", help="the packer's model")
    z = commands.add_parser("sized")
    z.add_argument("--template", required=True)
    z.add_argument("--page", required=True, help="the browser edition's text for any size, as JSON")
    z.add_argument("--header", required=True, help="the capture tool's readable text and the constants' form")
    z.add_argument("--es", nargs=4, action="append", metavar=("WIDTH", "HEIGHT", "SAMPLES", "OUT"),
                   help="also write a build's GLSL ES text here")
    p = commands.add_parser("postscript")
    p.add_argument("--source", required=True)
    p.add_argument("--header", required=True)
    p.add_argument("--minified", required=True)
    args = parser.parse_args()
    {"shader": shader, "sized": sized, "postscript": postscript}[args.command](args)


if __name__ == "__main__":
    main()
