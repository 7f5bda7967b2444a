"""Minifies the label sheet.

The stored form is three lines: the header, the bounding box and the whole
program on one line. Comments go, and every run of whitespace outside a string
becomes a single space; tokens that the source writes together (such as "{{")
stay together, and strings keep their spaces.
"""


def collapse(text):
    out, depth, pending_space = [], 0, False
    index = 0
    while index < len(text):
        char = text[index]
        if depth == 0 and char == "%":
            while index < len(text) and text[index] != "\n":
                index += 1
            pending_space = True
            continue
        if depth == 0 and char.isspace():
            pending_space = True
        else:
            if pending_space and out:
                out.append(" ")
            pending_space = False
            out.append(char)
            if char == "\\" and depth > 0:
                index += 1
                out.append(text[index])
            elif char == "(":
                depth += 1
            elif char == ")":
                depth -= 1
        index += 1
    if depth:
        raise ValueError("unbalanced string in the label sheet")
    return "".join(out)


def minify(source):
    lines = source.splitlines()
    if lines[0] != "%!PS" or not lines[1].startswith("%%BoundingBox:"):
        raise ValueError("the label sheet must start with its header and bounding box")
    return "\n".join(lines[:2] + [collapse("\n".join(lines[2:]))]) + "\n"
