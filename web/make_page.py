#!/usr/bin/env python3
"""Writes the browser edition: one self-contained korvatine.html.

  make_page.py --shell web/page.html --bundle page.js [--video-writer]
               --module song.wasm --page page.gray --stream-digest assets/song_stream.sha256
               --shader shader_sized.es.json --out korvatine.html

The page carries everything it needs, inline, as JSON in its script element
"built": the song module (WebAssembly) and the label sheet's raster (4096 x
4096 grey bytes, as the show rasterises it), each deflated and in base64, which
the page inflates with the browser's own decompression; the shader in GLSL ES
for any size (the page writes each size's constants in); the editions as
builds.txt has them; the SHA-256 of the
designed song's stream (from byte 1 of the song's little-endian samples to its
end), from its committed record, for the check page; and whether the bundle
has the video writer. Then the page's modules, bundled into one script. It
prints the page's size and its parts, and fails when the page is larger than
MAX_BYTES.
"""

import argparse
import base64
import json
import pathlib
import sys
import zlib

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tools"))
from shader_text import build_rows  # noqa: E402

MAX_BYTES = 512 << 10
PAGE_PIXELS = 4096


def deflated_base64(data):
    compressor = zlib.compressobj(9, zlib.DEFLATED, -15, 9)  # raw deflate: the browser's "deflate-raw"
    return base64.b64encode(compressor.compress(data) + compressor.flush()).decode("ascii")


def stream_digest(record):
    """The designed song's digest: the record's first word, 64 hex digits."""
    digest = record.read_text().split()[0]
    if len(digest) != 64 or any(c not in "0123456789abcdef" for c in digest):
        sys.exit(f"make_page.py: {record} does not start with a SHA-256 in hex")
    return digest


def script_json(value):
    """JSON that cannot close the script element it stands in."""
    return json.dumps(value, separators=(",", ":")).replace("<", "\\u003c")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--shell", required=True, type=pathlib.Path)
    parser.add_argument("--bundle", required=True, type=pathlib.Path)
    parser.add_argument("--video-writer", action="store_true", help="the bundle has the video's container writer")
    parser.add_argument("--module", required=True, type=pathlib.Path)
    parser.add_argument("--page", required=True, type=pathlib.Path)
    parser.add_argument("--stream-digest", required=True, type=pathlib.Path)
    parser.add_argument("--shader", required=True, type=pathlib.Path, help="the shader for any size (embed_assets.py sized)")
    parser.add_argument("--out", required=True, type=pathlib.Path)
    args = parser.parse_args()

    raster = args.page.read_bytes()
    if len(raster) != PAGE_PIXELS * PAGE_PIXELS:
        sys.exit(f"make_page.py: {args.page} is not a {PAGE_PIXELS} x {PAGE_PIXELS} grey raster")
    shader = json.loads(args.shader.read_text())
    parts = {
        "module": deflated_base64(args.module.read_bytes()),
        "page": deflated_base64(raster),
        "shader": shader,
    }
    editions = [{"name": name, "width": width, "height": height, "rays": rays, "fullscreen": window == "fullscreen"}
                for name, width, height, rays, window in build_rows()]
    built = dict(parts, pageSize=PAGE_PIXELS, streamDigest=stream_digest(args.stream_digest), editions=editions,
                 videoWriter=args.video_writer)
    bundle = args.bundle.read_text()
    if "</script" in bundle.lower():
        sys.exit(f"make_page.py: {args.bundle} holds </script, which would end its script element")
    shell = args.shell.read_text()
    for mark in ("<!--@BUILT@-->", "<!--@SCRIPT@-->"):
        if shell.count(mark) != 1:
            sys.exit(f"make_page.py: {args.shell} has no single {mark} to fill in")
    page = (shell.replace("<!--@BUILT@-->", f'<script type="application/json" id="built">{script_json(built)}</script>')
            .replace("<!--@SCRIPT@-->", f'<script type="module">\n{bundle}</script>').encode("utf-8"))
    args.out.write_bytes(page)

    sizes = {
        "WebAssembly": len(parts["module"]),
        "label sheet": len(parts["page"]),
        "shader text": len(script_json(shader)),
        "script": len(bundle.encode("utf-8")),
    }
    sizes["page and the rest"] = len(page) - sum(sizes.values())
    print(f"{args.out.name}: {len(page)} bytes, {MAX_BYTES - len(page)} under {MAX_BYTES}")
    print(f"  WebAssembly          {sizes['WebAssembly']:7}  (module {args.module.stat().st_size}, deflated, base64)")
    print(f"  label sheet          {sizes['label sheet']:7}  ({len(raster)} grey bytes, deflated, base64)")
    for name in ("shader text", "script", "page and the rest"):
        print(f"  {name:20} {sizes[name]:7}")
    if len(page) > MAX_BYTES:
        args.out.unlink()
        sys.exit(f"make_page.py: the page is {len(page)} bytes, over {MAX_BYTES}")


if __name__ == "__main__":
    main()
