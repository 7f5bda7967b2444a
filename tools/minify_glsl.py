"""Minifies the show's fragment shader.

The readable shader is ordinary GLSL with object-like #define lines for the
per-build constants. The minified text keeps the version line and its newline,
expands the defines, drops comments and all whitespace except single spaces
where two words meet, shortens float literals and renames every identifier of
the shader's own to one letter. Kept as they are: the interface names (m, v,
f), the record type Co and its fields, main, and GLSL's own words.
"""

import re
import string

KEPT = {"main", "Co", "m", "v", "f"}

GLSL_WORDS = set(
    """
    attribute const uniform varying layout centroid flat smooth noperspective break continue do for while
    switch case default if else in out inout true false invariant discard return struct precision
    float int uint bool void vec2 vec3 vec4 ivec2 ivec3 ivec4 uvec2 uvec3 uvec4 bvec2 bvec3 bvec4
    mat2 mat3 mat4 sampler2D
    radians degrees sin cos tan asin acos atan sinh cosh tanh pow exp log exp2 log2 sqrt inversesqrt
    abs sign floor trunc round ceil fract mod modf min max clamp mix step smoothstep isnan isinf
    length distance dot cross normalize faceforward reflect refract matrixCompMult transpose
    lessThan greaterThan equal notEqual any all not texture textureLod texelFetch
    gl_FragCoord gl_FragColor
    """.split()
)

TOKEN = re.compile(
    r"""
    (?P<space>\s+)
  | (?P<comment>//[^\n]*|/\*.*?\*/)
  | (?P<number>(?:\d+\.\d*|\.\d+|\d+)(?:[eE][+-]?\d+)?)
  | (?P<word>[A-Za-z_][A-Za-z0-9_]*)
  | (?P<op>\+\+|--|\+=|-=|\*=|/=|==|!=|<=|>=|&&|\|\||[-+*/%<>=!?:;,.(){}\[\]&|^~])
    """,
    re.VERBOSE | re.DOTALL,
)

LETTERS = string.ascii_lowercase + string.ascii_uppercase


def tokenize(text):
    tokens, pos = [], 0
    while pos < len(text):
        match = TOKEN.match(text, pos)
        if not match:
            raise ValueError(f"unexpected character {text[pos]!r} at offset {pos}")
        pos = match.end()
        if match.lastgroup in ("word", "number", "op"):
            tokens.append((match.lastgroup, match.group()))
    return tokens


def shorten_number(literal):
    if "." not in literal or re.search("[eE]", literal):
        return literal
    whole, fraction = literal.split(".")
    whole = whole.lstrip("0")
    fraction = fraction.rstrip("0")
    if not whole and not fraction:
        return "0."
    return f"{whole}.{fraction}"


def split_preprocessor(source):
    """Returns the version line, the defines and the remaining GLSL text."""
    version, defines, body = None, {}, []
    for line in source.splitlines():
        stripped = line.strip()
        if stripped.startswith("#version"):
            version = " ".join(stripped.split())
        elif stripped.startswith("#define"):
            _, name, value = stripped.split(None, 2)
            defines[name] = tokenize(value)
        elif stripped.startswith("#"):
            raise ValueError(f"unsupported preprocessor line: {stripped}")
        else:
            body.append(line)
    if version is None:
        raise ValueError("the shader has no #version line")
    return version, defines, "\n".join(body)


def expand(tokens, defines):
    out = []
    for kind, text in tokens:
        if kind == "word" and text in defines:
            out.extend(defines[text])
        else:
            out.append((kind, text))
    return out


def find_names(tokens):
    """Classifies the shader's own identifiers.

    Returns (global names, [(chunk token range, local names)]). A global is a
    name declared at file scope: a function, or a variable outside any braces.
    Every other identifier belongs to the top-level chunk it stands in.
    """
    globals_, chunks = [], []
    braces = parens = 0
    start, in_struct = 0, False
    locals_ = []
    for index, (kind, text) in enumerate(tokens):
        previous = tokens[index - 1][1] if index else ""
        following = tokens[index + 1][1] if index + 1 < len(tokens) else ""
        if kind == "word" and text == "struct":
            in_struct = True
        if kind == "op":
            if text == "{":
                braces += 1
            elif text == "}":
                braces -= 1
                if braces == 0 and not in_struct:
                    chunks.append(((start, index + 1), locals_))
                    start, locals_ = index + 1, []
            elif text == "(":
                parens += 1
            elif text == ")":
                parens -= 1
            elif text == ";" and braces == 0:
                in_struct = False
                chunks.append(((start, index + 1), locals_))
                start, locals_ = index + 1, []
            continue
        if kind != "word" or text in GLSL_WORDS or text in KEPT or previous == ".":
            continue
        if in_struct and braces > 0:
            if len(text) != 1:
                raise ValueError(f"record field {text!r} must be a single letter")
            continue
        at_file_scope = braces == 0 and parens == 0 and following in ("(", ";", "=", ",", "[")
        if at_file_scope:
            if text not in globals_:
                globals_.append(text)
        elif text not in locals_:
            locals_.append(text)
    return globals_, chunks


def by_frequency(names, tokens):
    counts = {name: 0 for name in names}
    for kind, text in tokens:
        if kind == "word" and text in counts:
            counts[text] += 1
    return sorted(names, key=lambda name: (-counts[name], names.index(name)))


def minify(source):
    version, defines, body = split_preprocessor(source)
    tokens = expand(tokenize(body), defines)
    globals_, chunks = find_names(tokens)
    pool = [letter for letter in LETTERS if letter not in KEPT]
    if len(globals_) > len(pool):
        raise ValueError("too many global names for single letters")
    global_map = dict(zip(by_frequency(globals_, tokens), pool))
    local_pool = [letter for letter in pool if letter not in global_map.values()]

    renamed = list(tokens)
    for (begin, end), locals_ in chunks:
        chunk = tokens[begin:end]
        names = [name for name in locals_ if name not in global_map]
        if len(names) > len(local_pool):
            raise ValueError(f"too many local names in one function: {names}")
        local_map = dict(zip(by_frequency(names, chunk), local_pool))
        for index in range(begin, end):
            kind, text = tokens[index]
            if kind != "word" or (index and tokens[index - 1][1] == "."):
                continue
            new = local_map.get(text) or global_map.get(text)
            if new:
                renamed[index] = (kind, new)

    out = []
    previous = None
    for kind, text in renamed:
        if kind == "number":
            text = shorten_number(text)
        if previous is not None:
            words_meet = previous[0] in ("word", "number") and kind in ("word", "number")
            signs_merge = previous[1][-1] in "+-" and text[0] == previous[1][-1]
            if words_meet or signs_merge:
                out.append(" ")
        out.append(text)
        previous = (kind, text)
    return version + "\n" + "".join(out)
