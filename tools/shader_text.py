"""The show's shader text for each build: the readable template with the build's
constants written in after its version line, for desktop GLSL or GLSL ES.

The template is GLSL 4.20. Its GLSL ES 3.00 form, for browsers, differs only in
its first lines: the version, and high precision for every type, which is what
desktop GLSL computes with; the code itself compiles unchanged.
"""

import pathlib

BUILDS_FILE = pathlib.Path(__file__).resolve().parent.parent / "builds.txt"


def build_rows(path=BUILDS_FILE):
    """builds.txt's lines, each (name, width, height, rays, windowed or fullscreen)."""
    for line in path.read_text().splitlines():
        fields = line.split()
        if fields and not fields[0].startswith("#"):
            name, width, height, rays, window = fields
            yield name, int(width), int(height), int(rays), window


def read_builds(path=BUILDS_FILE):
    """Each build's window and rays per pixel, {name: (width, height, rays)}, from builds.txt."""
    return {name: (width, height, rays) for name, width, height, rays, _window in build_rows(path)}


BUILDS = read_builds()

ES_HEAD = "#version 300 es\nprecision highp float;\nprecision highp int;\nprecision highp sampler2D;"


def build_constants(width, height, samples):
    """The per-build constants, written as defines after the version line."""
    return (
        f"#define PIXEL_CENTRE vec2({width // 2}, {height // 2})\n"
        f"#define PIXEL_SCALE {width // 2}.0\n"
        f"#define SAMPLE_COUNT {samples}\n"
        f"#define JITTER_DIVISOR {width}.0\n"
        f"#define SAMPLE_WEIGHT {samples}.0\n"
    )


def readable_shader(template, width, height, samples, es=False):
    version, _, rest = template.partition("\n")
    return (ES_HEAD if es else version) + "\n" + build_constants(width, height, samples) + rest
