#!/usr/bin/env python3
"""Writes, for the preview, the constants the build put into each window's readable shader.

  build_constants.py --template assets/shader.frag --readable small build/generated/shader_small.frag
                     [--readable full ...] --header OUT.h

Each readable text is the template with a block of defines inserted after its version line
(embed_assets.py makes it); the header holds that block as shader_<build>_constants, so the
preview can insert the same block into any text it compiles, and SHADER_CONSTANTS_ROWS pairs
each build's name with its block.
"""

import argparse
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))
from embed_assets import c_string, write_if_changed  # noqa: E402


def inserted_block(template, readable):
    version, _, rest = template.partition("\n")
    head = version + "\n"
    if len(readable) < len(head) + len(rest) or not readable.startswith(head) or not readable.endswith(rest):
        raise SystemExit("build_constants.py: the readable shader is not the template with lines inserted")
    return readable[len(head) : len(readable) - len(rest)]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--template", required=True)
    parser.add_argument("--readable", nargs=2, action="append", metavar=("BUILD", "FILE"), required=True)
    parser.add_argument("--header", required=True)
    args = parser.parse_args()
    template = pathlib.Path(args.template).read_text()
    lines = [f"// Generated from the readable shaders of the build and {pathlib.Path(args.template).name}."]
    for build, path in args.readable:
        block = inserted_block(template, pathlib.Path(path).read_text())
        lines.append(f"static const char shader_{build}_constants[] = {c_string(block)};")
    lines.append("#define SHADER_CONSTANTS_ROWS \\")
    lines += [f'    {{"{build}", shader_{build}_constants}}, \\' for build, _ in args.readable]
    lines.append("")
    write_if_changed(args.header, "\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
