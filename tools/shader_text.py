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


# The constants of a size, written as defines after the version line: the
# pixel centre and scale, the rays a pixel and their weight, the jitter's
# divisor. Its fields ({half_width}, {half_height}, {width}, {rays}) are
# filled in here for the builds, by the page for any size it draws at, and by
# the capture tool (the build hands both this very text).
CONSTANTS = (
    "#define PIXEL_CENTRE vec2({half_width}, {half_height})\n"
    "#define PIXEL_SCALE {half_width}.0\n"
    "#define SAMPLE_COUNT {rays}\n"
    "#define JITTER_DIVISOR {width}.0\n"
    "#define SAMPLE_WEIGHT {rays}.0\n"
)


CONSTANT_NAMES = tuple(line.split()[1] for line in CONSTANTS.splitlines())


def build_constants(width, height, samples):
    """The constants of a size, as defines."""
    return CONSTANTS.format(half_width=width // 2, half_height=height // 2, width=width, rays=samples)


def readable_shader(template, width, height, samples, es=False):
    version, _, rest = template.partition("\n")
    return (ES_HEAD if es else version) + "\n" + build_constants(width, height, samples) + rest


def at_size(head, body, width, height, samples):
    """A text of the form the page and the capture tool are given: its first
    line, the constants of a size, and the rest."""
    return head + "\n" + build_constants(width, height, samples) + body
