"""Minifies the show's fragment shader for the packed program: the smallest text
after the packer's compression (context mixing).

The readable shader is ordinary GLSL with object-like #define lines for the
per-build constants. The minified text keeps the version line and its newline,
expands the defines, drops comments and all whitespace except single spaces
where two words meet, and then rewrites the code without changing what it
computes:
  - float literals are shortened (0.50 -> .5), and a whole-valued float literal
    loses its point where the implicit int-to-float conversion of GLSL 4 makes
    it the same float (2.0*x -> 2*x, max(x,0.0) -> max(x,0)); GLSL ES has no
    such conversion, so a text whose version line says "es" keeps every point;
  - neighbouring declarations of one type are merged (float a=1;float b=2; ->
    float a=1,b=2;);
  - braces around a single simple statement are dropped, and a block of
    assignments becomes one statement joined by commas;
  - every identifier of the shader's own is renamed to one letter. Letters are
    shared as much as scoping allows (a local may reuse the letter of any global
    its function does not refer to), first by frequency, then improved by a
    deterministic search that keeps a change only when the compressed text gets
    smaller. The packer's compressor is too slow to ask at every build, so the
    build's quick search (a few seconds per text) measures with raw LZMA, which
    prefers nearly the same letters; a slower search with the packer's own
    compressor runs by hand and its choice is kept in assets/shader_names.txt.
    The build takes that choice where it still fits the shader's names and
    compresses smaller with the packer, and the quick search's otherwise.
Kept as they are: the interface names (m, v, f), the record type Co and its
fields, main, and GLSL's own words.

  python3 tools/minify_glsl.py --report [assets/shader.frag]
prints each build's minified size and its raw LZMA size;
  python3 tools/minify_glsl.py --search-packed COMPRESSOR MODEL [assets/shader.frag]
searches each build's letters with the packer's compressor (minutes) and
writes them to assets/shader_names.txt.
"""

import lzma
import pathlib
import re
import string
import subprocess
import tempfile

from shader_text import BUILDS, readable_shader

KEPT = {"main", "Co", "m", "v", "f"}

TYPES = set("float int uint bool vec2 vec3 vec4 ivec2 ivec3 ivec4 uvec2 uvec3 uvec4 bvec2 bvec3 bvec4 mat2 mat3 mat4".split())
# Built-ins with integer overloads: a call whose arguments are all integers picks those.
INTEGER_OVERLOADED = {"abs", "sign", "min", "max", "clamp", "mix"}

GLSL_WORDS = TYPES | set(
    """
    attribute const uniform varying layout centroid flat smooth noperspective break continue do for while
    switch case default if else in out inout true false invariant discard return struct precision
    void sampler2D highp mediump lowp
    radians degrees sin cos tan asin acos atan sinh cosh tanh pow exp log exp2 log2 sqrt inversesqrt
    abs sign floor trunc round ceil fract mod modf min max clamp mix step smoothstep isnan isinf
    length distance dot cross normalize faceforward reflect refract matrixCompMult transpose
    lessThan greaterThan equal notEqual any all not texture textureLod texelFetch
    gl_FragCoord gl_FragColor
    """.split()
)
STATEMENT_WORDS = {"if", "else", "for", "while", "do", "return", "break", "continue", "discard"}

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
BINARY_OPERATORS = {"+", "-", "*", "/", "%", "<", ">", "<=", ">=", "==", "!="}

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


def texts(tokens):
    return [text for _, text in tokens]


def matching(words, index):
    """Index of the bracket that closes (or opens) the one at index."""
    opening, closing = ("(", ")") if words[index] in "()" else ("{", "}")
    step = 1 if words[index] == opening else -1
    depth = 0
    while True:
        if words[index] == opening:
            depth += step
        elif words[index] == closing:
            depth -= step
        if depth == 0:
            return index
        index += step


# --- Float literals ---------------------------------------------------------


def shorten_number(literal):
    if "." not in literal or re.search("[eE]", literal):
        return literal
    whole, fraction = literal.split(".")
    whole = whole.lstrip("0")
    fraction = fraction.rstrip("0")
    if not whole and not fraction:
        return "0."
    return f"{whole}.{fraction}"


def integer_names(words):
    """For each token, the names declared int that it may see: those of its
    function (parameters included) and those of file scope."""
    file_scope, per_token, function = set(), [], set()
    depth = parens = 0
    for index, word in enumerate(words):
        if word == "int" and index + 1 < len(words) and words[index + 1].isidentifier():
            (file_scope if depth == parens == 0 else function).add(words[index + 1])
        depth += (word == "{") - (word == "}")
        parens += (word == "(") - (word == ")")
        per_token.append(function)  # filled in as the function's declarations come
        if word == "}" and depth == 0:
            function = set()
    return [file_scope | names for names in per_token]


def is_integer(word, ints):
    return word in ints or word == "int" or (word[0].isdigit() and "." not in word)


def group_is_float(words, begin, end, ints):
    """Whether words[begin:end] holds a float operand, so that arithmetic with it stays float."""
    return any((w.isidentifier() and w not in ints and w != "int") or "." in w for w in words[begin:end])


def operand_is_float(words, index, ints, forward):
    """Whether the operand that starts (forward) or ends (backward) at index is float."""
    word = words[index]
    if forward:
        if word == "-":
            return operand_is_float(words, index + 1, ints, True)
        if word == "(":
            return group_is_float(words, index, matching(words, index), ints)
        if word.isidentifier() and index + 1 < len(words) and words[index + 1] == "(":
            return not is_integer(word, ints) and group_is_float(words, index, matching(words, index + 1), ints)
    elif word == ")":
        opening = matching(words, index)
        return not is_integer(words[opening - 1], ints) and group_is_float(words, opening - 1, index, ints)
    return (word.isidentifier() or "." in word) and not is_integer(word, ints)


def argument_list(words, index):
    """For a token inside a call's argument list, the call's name and its '(' index; else None."""
    depth = 0
    while index > 0:
        index -= 1
        word = words[index]
        if word in (")", "]"):
            depth += 1
        elif word in ("(", "["):
            if depth == 0:
                name = words[index - 1]
                return (name, index) if word == "(" and name.isidentifier() else None
            depth -= 1
        elif depth == 0 and word in (";", "{", "}"):
            return None
    return None


def drop_float_point(words, index, ints):
    """Whether the whole-valued float literal at index may be written as an integer."""
    before = index - 1
    if words[before] == "-" and not (words[before - 1].isidentifier() or words[before - 1][-1] in ").]0123456789."):
        before -= 1  # a unary minus belongs to the literal
    left, right = words[before], words[index + 1]
    if left in BINARY_OPERATORS and not operand_is_float(words, before - 1, ints, False):
        return False
    if right in BINARY_OPERATORS and not operand_is_float(words, index + 2, ints, True):
        return False
    if left in BINARY_OPERATORS or right in BINARY_OPERATORS:
        return True
    if left in ("=", "return", "+=", "-=", "*=", "/="):
        return right == ";"
    if left == ":" and right in (";", ")", ","):
        # The else branch of a conditional: the other branch must be float.
        question = before - 1
        depth = 0
        while depth or words[question] != "?":
            depth += (words[question] in ")]") - (words[question] in "([")
            question -= 1
        return group_is_float(words, question + 1, before, ints)
    if left in ("(", ",") and right in (")", ","):
        call = argument_list(words, index)
        if call is None:
            return False
        name, opening = call
        if name not in INTEGER_OVERLOADED:
            return True
        # Another argument must be float so that the float overload is chosen.
        closing = matching(words, opening)
        return group_is_float(words, opening + 1, before, ints) or group_is_float(words, index + 1, closing, ints)
    return False


def shorten_numbers(tokens, integers_convert=True):
    """Shortens every float literal, and drops the point of whole ones where
    integers convert to float implicitly."""
    tokens = [(kind, shorten_number(text) if kind == "number" else text) for kind, text in tokens]
    if not integers_convert:
        return tokens
    words = texts(tokens)
    ints = integer_names(words)
    out = list(tokens)
    for index, (kind, text) in enumerate(tokens):
        if kind == "number" and text.endswith(".") and drop_float_point(words, index, ints[index]):
            out[index] = (kind, text[:-1] or "0")
    return out


# --- Statements ----------------------------------------------------------------


def merge_declarations(tokens):
    """float a=1;float b=2; -> float a=1,b=2; for neighbouring statements in a block."""
    out = []
    depth = parens = 0
    declaring = None  # the type of the declaration statement being copied
    for index, (kind, text) in enumerate(tokens):
        if text == "(":
            parens += 1
        elif text == ")":
            parens -= 1
        elif text == "{":
            depth += 1
        elif text == "}":
            depth -= 1
        at_statement_start = out and out[-1][1] in (";", "{", "}") and parens == 0 and depth > 0
        if at_statement_start and text in TYPES and tokens[index + 1][0] == "word":
            if declaring == text and out[-1][1] == ";":
                out[-1] = ("op", ",")
                continue
            declaring = text
        elif at_statement_start:
            declaring = None
        out.append((kind, text))
    return out


ASSIGNMENTS = {"=", "+=", "-=", "*=", "/="}


def is_assignment(statement):
    depth = 0
    for word in statement:
        depth += (word in "([") - (word in ")]")
        if depth == 0 and word in ASSIGNMENTS:
            return True
    return False


def drop_braces(tokens):
    """if(c){x=1;} -> if(c)x=1; where the block holds one simple statement, and
    if(c){x=1;y=2;} -> if(c)x=1,y=2; where it holds only assignments."""
    words = texts(tokens)
    dropped, commas = set(), set()
    for index, word in enumerate(words):
        if word != "{":
            continue
        after_else = words[index - 1] == "else"
        after_condition = words[index - 1] == ")" and words[matching(words, index - 1) - 1] in ("if", "for", "while")
        if not (after_else or after_condition):
            continue
        closing = matching(words, index)
        inner = words[index + 1 : closing]
        if any(w in STATEMENT_WORDS - {"return"} or w == "{" for w in inner) or inner[0] in TYPES:
            continue
        ends = [index + 1 + at for at, w in enumerate(inner) if w == ";"]
        starts = [index + 1] + [end + 1 for end in ends[:-1]]
        if len(ends) == 1 or all(is_assignment(words[start:end]) for start, end in zip(starts, ends)):
            dropped.update((index, closing))
            commas.update(ends[:-1])
    return [("op", ",") if index in commas else token for index, token in enumerate(tokens) if index not in dropped]


# --- Renaming --------------------------------------------------------------------


def find_names(tokens, kept=KEPT):
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
        if kind != "word" or text in GLSL_WORDS or text in kept or previous == ".":
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


class Renaming:
    """Which letter each name gets. A name is ("", global) or (chunk number, local)."""

    def __init__(self, head, tokens, kept=KEPT):
        globals_, chunks = find_names(tokens, kept)
        places = {}  # name -> token indices
        scopes = []  # per chunk: its locals, the globals it refers to, and the kept names it uses
        for number, ((begin, end), locals_) in enumerate(chunks):
            names = set()
            for index in range(begin, end):
                kind, text = tokens[index]
                if kind != "word" or (index and tokens[index - 1][1] == "."):
                    continue
                if text in locals_ and text not in globals_:
                    name = (number, text)
                elif text in globals_:
                    name = ("", text)
                else:
                    continue
                places.setdefault(name, []).append(index)
                names.add(name)
            scopes.append((names, {text for _, text in tokens[begin:end]} & kept))
        self.names = sorted(places, key=lambda name: (-len(places[name]), places[name][0]))
        # Names that may not share a letter with each name, and letters it may not take.
        self.neighbours = {name: set() for name in self.names}
        self.forbidden = {name: set(kept) if name[0] == "" else set() for name in self.names}
        for names, kept in scopes:
            for name in names:
                self.neighbours[name] |= names - {name}
                self.forbidden[name] |= kept
        for name in self.names:
            if name[0] == "":
                self.neighbours[name] |= {other for other in self.names if other[0] == "" and other != name}
        # The joined text with a slot for each renamed token: renaming never changes where spaces go.
        self.pieces = join(tokens)
        self.slots = {name: indices for name, indices in places.items()}
        rest = head + self.text({name: "" for name in self.names})
        self.order = sorted(LETTERS, key=lambda letter: (-rest.count(letter), LETTERS.index(letter)))

    def allowed(self, letters, name):
        letter = letters[name]
        return letter not in self.forbidden[name] and all(letters.get(o) != letter for o in self.neighbours[name])

    def by_frequency(self):
        """The most frequent names take the first letters their scopes leave free.

        Letters are taken in the order of their frequency in the rest of the text
        (GLSL's words, swizzles): those are already cheap for the compressor.
        """
        letters = {}
        for name in self.names:
            for letter in self.order:
                letters[name] = letter
                if self.allowed(letters, name):
                    break
            else:
                raise ValueError(f"no single letter left for {name[1]}")
        return letters

    def from_choice(self, choice):
        """A stored choice (name key -> letter) as letters for these names, or
        None where it names other names or the scopes do not allow it."""
        keys = {name_key(name): name for name in self.names}
        if set(keys) != set(choice):
            return None
        letters = {keys[key]: letter for key, letter in choice.items()}
        return letters if all(self.allowed(letters, name) for name in self.names) else None

    def text(self, letters):
        """The minified text with each name written as its letter."""
        pieces = list(self.pieces)
        for name, indices in self.slots.items():
            for index in indices:
                pieces[index] = pieces[index][: -len(name[1])] + letters[name]
        return "".join(pieces)


def join(tokens):
    """The tokens' texts, each with the space it needs before it."""
    pieces = []
    previous = None
    for kind, text in tokens:
        space = ""
        if previous is not None:
            words_meet = previous[0] in ("word", "number") and kind in ("word", "number")
            signs_merge = previous[1][-1] in "+-" and text[0] == previous[1][-1]
            space = " " if words_meet or signs_merge else ""
        pieces.append(space + text)
        previous = (kind, text)
    return pieces


def compressed_size(text):
    """Raw LZMA size (preset 9e, lc=1, lp=0, pb=0, 13-byte header included): the
    quick search's stand-in for the packer's compressor."""
    lzma_filter = {"id": lzma.FILTER_LZMA1, "preset": 9 | lzma.PRESET_EXTREME, "lc": 1, "lp": 0, "pb": 0}
    lzma_filter["dict_size"] = 1 << 16  # the same stream for texts this short, and much faster
    return len(lzma.compress(text.encode(), format=lzma.FORMAT_ALONE, filters=[lzma_filter]))


def improve(renaming, letters, size_of):
    """Tries other letters for each name in turn and keeps what makes the text smaller.

    A trial swaps letters with the name of the same scope that holds the wanted
    letter, so it stays valid where scopes allow. Only letters already in use are
    tried: fewer distinct letters compress better anyway. A second pass over the
    names was measured to find nothing more.
    """
    best = size_of(letters)
    candidates = sorted(set(letters.values()))
    for name in renaming.names:
        for letter in candidates:
            current = letters[name]
            if letter == current:
                continue
            trial = dict(letters)
            trial[name] = letter
            changed = [name] + [other for other in renaming.neighbours[name] if trial[other] == letter]
            for other in changed[1:]:
                trial[other] = current
            if not all(renaming.allowed(trial, changed_name) for changed_name in changed):
                continue
            size = size_of(trial)
            if size < best:
                best, letters = size, trial
    return letters


def name_key(name):
    """A name as the stored choice writes it: "global NAME" or "CHUNK NAME"."""
    scope, text = name
    return f"{'global' if scope == '' else scope} {text}"


class PackedSize:
    """The size of a text compressed by the packer's own compressor."""

    def __init__(self, compressor, model):
        self.compressor, self.model = compressor, model

    def __call__(self, text):
        with tempfile.NamedTemporaryFile("w", suffix=".frag") as file:
            file.write(text)
            file.flush()
            listing = subprocess.run([self.compressor, "size", self.model, file.name], check=True,
                                     capture_output=True, text=True).stdout
        return int(listing)


def renamed(source, kept=KEPT):
    version, defines, body = split_preprocessor(source)
    tokens = expand(tokenize(body), defines)
    tokens = shorten_numbers(tokens, integers_convert=not version.endswith(" es"))
    tokens = merge_declarations(tokens)
    tokens = drop_braces(tokens)
    head = version + "\n"
    return head, Renaming(head, tokens, kept)


def quick_letters(head, renaming):
    letters = renaming.by_frequency()
    return improve(renaming, letters, lambda trial: compressed_size(head + renaming.text(trial)))


def minify(source, search=True, choice=None, packed_size=None, keep=()):
    """The minified text. With a stored choice of letters and the packer's
    compressor, the choice is taken if it fits and compresses smaller. The
    names in keep stay as they are (defines that whoever takes the text
    writes in after its version line)."""
    head, renaming = renamed(source, KEPT | set(keep))
    letters = quick_letters(head, renaming) if search else renaming.by_frequency()
    chosen = renaming.from_choice(choice) if choice and packed_size else None
    if chosen and packed_size(head + renaming.text(chosen)) < packed_size(head + renaming.text(letters)):
        letters = chosen
    return head + renaming.text(letters)


def read_choices(path):
    """The stored choices: per build, name key -> letter."""
    choices = {}
    for line in pathlib.Path(path).read_text().splitlines():
        if line and not line.startswith("#"):
            build, scope, name, letter = line.split()
            choices.setdefault(build, {})[f"{scope} {name}"] = letter
    return choices


def search_packed(template, compressor, model, out):
    """Each build's letters searched on the packer's compressed size, from the quick search's."""
    packed_size = PackedSize(compressor, model)
    lines = ["# The shader's names and the letter each gets, per build, chosen for the packer's compressor",
             "# by python3 tools/minify_glsl.py --search-packed; the build uses them while they fit."]
    for build, (width, height, samples) in BUILDS.items():
        head, renaming = renamed(readable_shader(template, width, height, samples))
        letters = improve(renaming, quick_letters(head, renaming),
                          lambda trial: packed_size(head + renaming.text(trial)))
        lines += [f"{build} {name_key(name)} {letters[name]}" for name in renaming.names]
        print(f"shader_{build}_frag_min: {packed_size(head + renaming.text(letters))} bytes compressed by the packer")
    pathlib.Path(out).write_text("\n".join(lines) + "\n")


def main():
    import argparse

    assets = pathlib.Path(__file__).parent.parent / "assets"
    parser = argparse.ArgumentParser(description="Prints the minified shader texts' sizes, or searches their letters.")
    action = parser.add_mutually_exclusive_group(required=True)
    action.add_argument("--report", action="store_true")
    action.add_argument("--search-packed", nargs=2, metavar=("COMPRESSOR", "MODEL"))
    parser.add_argument("template", nargs="?", default=assets / "shader.frag")
    args = parser.parse_args()
    template = pathlib.Path(args.template).read_text()
    if args.search_packed:
        search_packed(template, *args.search_packed, assets / "shader_names.txt")
        return
    for name, (width, height, samples) in BUILDS.items():
        text = minify(readable_shader(template, width, height, samples))
        print(f"shader_{name}_frag_min: {len(text)} bytes, {compressed_size(text)} compressed")


if __name__ == "__main__":
    main()
