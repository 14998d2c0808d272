#!/usr/bin/env python3
"""Fails when doc/troubleshooting.md leaves out a message that ends a run.

Usage: check_troubleshooting.py [root] [page]
       (root defaults to the repository, page to root/doc/troubleshooting.md)

The messages are collected from the program's sources (the layer folders;
tests, the simulator, benchmarks, the campaign and the fuzz targets left
out): the argument of every FatalError and FatalSystemError call and of
every PrintLastLine call (the run's closing lines), every closing line
kept as a constant ("Complete: ...", "Incomplete: ..."), and the texts
listed in ALSO below. An argument is read as C++: string literals and the
string constants they name (as the calling file defines them, else as
another does) are text, a conditional gives each of its
branches, and whatever else is joined in (a number, a path, a unit type)
is a gap. An argument that is only a variable or a call is followed to
the variable's definition in the same function, or to the returns of the
function. The page names a message when one of its lines holds the texts
in order, with anything (a placeholder such as <port>, or an example) in
the gaps.

Every message missing from the page is printed with the file and line it
comes from. An argument the check cannot read (none of it text it can
follow) fails too, unless OPAQUE says which words of the page stand for it,
and so does a text of ALSO that no source holds any more.
"""
import pathlib
import re
import sys

FOLDERS = ["app", "runtime", "link", "unit", "flash", "files", "update", "platform"]
TEST_NAME = re.compile(r"_test[._]")

# Texts that end a run without passing through the calls above.
ALSO = [
    "INI File is locked: ",
    "-- stopped",
    "KelBoot returned an error: ",
    "Warning: the connected unit could not be put back to ",
    "FAILURE: unable to update unit!",
]

# Readings that no run ends with: the trace form of a port that cannot be
# opened ("COM3:5:Error: ...", the port's name passed in), which
# PortOpenMessage also gives.
NOT_ENDINGS = [(":", ":", "Error:")]

# Arguments that carry the system's own words, and what the page says for
# them: (file, argument) -> a text the page must hold.
OPAQUE = {
    ("runtime/log_file.cpp", "error"): "Fatal error: <the system's reason>",
}

LITERAL = r'"(?:[^"\\\n]|\\.)*"'
CONSTANT = re.compile(
    r"\b(?:inline\s+)?(?:static\s+)?constexpr\s+(?:const\s+)?char\s*(?:\*\s*(?:const\s+)?)?"
    r"(\w+)\s*(?:\[\])?\s*=\s*((?:" + LITERAL + r"\s*)+);")
CALL = re.compile(r"\b(FatalError|FatalSystemError|PrintLastLine)\s*\(")
TOKEN = re.compile(r'\s*(' + LITERAL + r"|[A-Za-z_][\w:]*(?:(?:\.|->)[A-Za-z_]\w*)*|\d\w*|"
                   r"->|::|.)", re.S)
ESCAPES = {"n": "\n", "r": "\r", "t": "\t", "a": "\a", '"': '"', "\\": "\\", "'": "'"}


def decode(literals):
    """The text of adjacent string literals."""
    text = ""
    for literal in re.findall(LITERAL, literals):
        body = literal[1:-1]
        text += re.sub(r"\\(.)", lambda m: ESCAPES.get(m[1], m[1]), body)
    return text


def strip_comments(source):
    """The source with // and /* */ comments blanked, literals kept."""
    out, i, n = [], 0, len(source)
    while i < n:
        c = source[i]
        if c == '"' or c == "'":
            j = i + 1
            while j < n and source[j] != c:
                j += 2 if source[j] == "\\" else 1
            out.append(source[i:j + 1])
            i = j + 1
        elif source.startswith("//", i):
            j = source.find("\n", i)
            i = n if j == -1 else j
        elif source.startswith("/*", i):
            j = source.find("*/", i + 2)
            out.append("\n" * source.count("\n", i, n if j == -1 else j))
            i = n if j == -1 else j + 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def balanced(text, start):
    """The text from `start` (just after an opening bracket) to its closing one."""
    depth, i = 1, start
    while i < len(text):
        c = text[i]
        if c in "\"'":
            j = i + 1
            while j < len(text) and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            i = j
        elif c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
            if depth == 0:
                return text[start:i]
        i += 1
    return text[start:]


def at_top(tokens, index):
    """Whether tokens[index] stands outside brackets."""
    depth = 0
    for token in tokens[:index]:
        if token in "([{":
            depth += 1
        elif token in ")]}":
            depth -= 1
    return depth == 0


def top_level(tokens, wanted):
    """The index of the first `wanted` outside brackets, or None."""
    for i, token in enumerate(tokens):
        if token == wanted and at_top(tokens, i):
            return i
    return None


def split_top(tokens, separator):
    """Splits a token list at `separator` outside brackets."""
    parts, depth, current = [], 0, []
    for token in tokens:
        if token in "([{":
            depth += 1
        elif token in ")]}":
            depth -= 1
        if token == separator and depth == 0:
            parts.append(current)
            current = []
        else:
            current.append(token)
    parts.append(current)
    return parts


class Sources:
    def __init__(self, root):
        self.root = root
        self.files = {}
        for folder in FOLDERS:
            for path in sorted((root / folder).rglob("*")):
                if path.suffix in (".cpp", ".h") and not TEST_NAME.search(path.name):
                    text = strip_comments(path.read_text(encoding="utf-8", errors="replace"))
                    self.files[path.relative_to(root).as_posix()] = text
        # A constant is read as the file that uses it defines it, else as
        # any other file does: two files may give one name texts of their own.
        self.constants = {}
        self.own_constants = {}
        self.literals = []
        for file, text in self.files.items():
            own = self.own_constants.setdefault(file, {})
            for name, literals in CONSTANT.findall(text):
                own[name] = self.constants[name] = decode(literals)
            self.literals += [decode(literal) for literal in re.findall(LITERAL, text)]
        self.unread = []

    def constant(self, file, name):
        """The text of the constant `name` as `file` reads it, or None."""
        return self.own_constants.get(file, {}).get(name, self.constants.get(name))

    def function_returns(self, name):
        """The return expressions of the functions called `name` that give text."""
        short = name.split("::")[-1]
        found = []
        head = re.compile(r"^(?:(?:static|inline)\s+)*(?:std::string|const char\s*\*)\s+(?:\w+::)*" +
                          re.escape(short) +
                          r"\s*\(", re.M)
        for file, text in self.files.items():
            for match in head.finditer(text):
                params = balanced(text, match.end())
                after = match.end() + len(params) + 1
                brace = re.match(r"\s*(?:const\s*)?\{", text[after:])
                if not brace:
                    continue
                opened = after + brace.end()
                body = balanced(text, opened)
                for ret in re.finditer(r"\breturn\b(.*?);", body, re.S):
                    found.append((file, opened + ret.start(1), ret[1]))
        return found

    def variable(self, file, before, name):
        """The definition of the local `name` nearest before the call, in its function."""
        text = self.files[file][:before]
        start = max(text.rfind("\n}"), 0)
        region = text[start:]
        pattern = re.compile(r"(?:const\s+)?(?:std::string|char\s*\*|auto)\s+" +
                             re.escape(name) + r"\s*=\s*(.*?);", re.S)
        definitions = pattern.findall(region)
        return definitions[-1] if definitions else None

    def alternatives(self, file, position, expression, depth=0):
        """Each way the expression can read, as a list of texts and gaps (None)."""
        return self.readings(file, position, [t for t in TOKEN.findall(expression) if t.strip()],
                             depth)

    def readings(self, file, position, tokens, depth):
        question = top_level(tokens, "?")
        if question is not None:
            # cond ? a : b: each branch, the condition left out.
            rest = tokens[question + 1:]
            colon, nested = None, 0
            for i, token in enumerate(rest):
                if token == "?":
                    nested += 1
                elif token == ":" and at_top(rest, i):
                    if nested == 0:
                        colon = i
                        break
                    nested -= 1
            if colon is None:
                return [[None]]
            return (self.readings(file, position, rest[:colon], depth) +
                    self.readings(file, position, rest[colon + 1:], depth))
        terms = split_top(tokens, "+")
        if len(terms) == 1 and depth < 4:
            single = self.single(file, position, terms[0], depth)
            if single is not None:
                return single
        reading = []
        for term in terms:
            part = self.term(file, term)
            if part is None and len(term) == 1 and re.match(r"[A-Za-z_]", term[0]):
                # A local joined in: its text when it reads one way only.
                definition = self.variable(file, position, term[0])
                if definition is not None and depth < 4:
                    inner = self.alternatives(file, position, definition, depth + 1)
                    if len(inner) == 1 and not any(isinstance(p, tuple) for p in inner[0]):
                        reading += inner[0]
                        continue
            reading.append(part)
        return [reading]

    def single(self, file, position, term, depth):
        """A lone variable or call followed to what it holds; None when it is text."""
        if (len(term) == 1 and re.match(r"[A-Za-z_]", term[0]) and
                self.constant(file, term[0]) is None):
            definition = self.variable(file, position, term[0])
            if definition is None:
                return [[("opaque", term[0])]]
            return self.alternatives(file, position, definition, depth + 1)
        if (len(term) >= 3 and re.match(r"[A-Za-z_]", term[0]) and term[1] == "(" and
                term[0] not in ("std::string", "std::to_string")):
            found = []
            for where, offset, expression in self.function_returns(term[0]):
                found += self.alternatives(where, offset, expression, depth + 1)
            return found or None
        return None

    def term(self, file, term):
        if len(term) >= 3 and term[0] == "std::string" and term[1] == "(":
            term = term[2:-1]
        if len(term) == 1 and term[0].startswith('"'):
            return decode(term[0])
        if len(term) == 1:
            return self.constant(file, term[0])
        return None


def fragments(reading):
    """The texts of one reading, without line ends and bells; a gap keeps
    its neighbours apart."""
    texts = []
    for part in reading:
        if isinstance(part, str):
            for piece in part.replace("\a", "").split("\r\n"):
                if piece.strip():
                    texts.append(piece.strip())
    return texts


def blocks(page):
    """The page's paragraphs, list items and table rows, each as one line
    with its whitespace collapsed and without code marks."""
    found, current = [], []
    for line in page.splitlines():
        starts = re.match(r"\s*(?:[-*] |\d+\. |\|)", line)
        if not line.strip() or starts:
            if current:
                found.append(" ".join(current))
            current = []
        if line.strip():
            current.append(line.strip())
    if current:
        found.append(" ".join(current))
    return [re.sub(r"\s+", " ", block.replace("`", "")) for block in found]


def named(page_blocks, texts):
    pattern = re.compile(".*?".join(re.escape(re.sub(r"\s+", " ", t.strip())) for t in texts))
    return any(pattern.search(block) for block in page_blocks)


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent)
    page = pathlib.Path(sys.argv[2]) if len(sys.argv) > 2 else root / "doc" / "troubleshooting.md"
    lines = blocks(page.read_text(encoding="utf-8"))
    sources = Sources(root)
    wanted = []  # (where, texts)
    for file, text in sources.files.items():
        for match in CALL.finditer(text):
            argument = balanced(text, match.end())
            if "const std::string&" in argument:
                continue  # the declaration or definition itself
            line = text.count("\n", 0, match.start()) + 1
            for reading in sources.alternatives(file, match.start(), argument):
                opaque = [p for p in reading if isinstance(p, tuple)]
                if opaque:
                    key = (file, opaque[0][1])
                    if key in OPAQUE:
                        wanted.append((f"{file}:{line}", [OPAQUE[key]]))
                    else:
                        print(f"{file}:{line}: cannot read the message {argument.strip()!r}")
                        sources.unread.append(key)
                    continue
                texts = fragments(reading)
                if not texts:
                    # Nothing of it is text the check can follow (a call to a
                    # function it cannot find): it is not passed over.
                    print(f"{file}:{line}: cannot read the message {argument.strip()!r}")
                    sources.unread.append((file, argument.strip()))
                    continue
                wanted.append((f"{file}:{line}", texts))
        for name, literals in CONSTANT.findall(text):
            value = decode(literals)
            if value.startswith(("Complete: ", "Incomplete: ")):
                wanted.append((f"{file}: {name}", [value.strip()]))
    stale = 0
    for text in ALSO:
        if not any(text in literal for literal in sources.literals):
            # Reworded in the sources: the page would go on naming the old text.
            print(f"(listed in the check): no longer in the sources: {text}")
            stale += 1
            continue
        wanted.append(("(listed in the check)", [text]))

    missing = 0
    seen = set()
    for where, texts in wanted:
        key = tuple(texts)
        if key in seen or key in NOT_ENDINGS:
            continue
        seen.add(key)
        if not named(lines, texts):
            print(f"{where}: not in {page.name}: {' <...> '.join(texts)}")
            missing += 1
    print(f"{len(seen)} messages, {missing} missing, {len(sources.unread)} not readable, "
          f"{stale} of the listed texts no longer in the sources")
    return 1 if missing or sources.unread or stale else 0


if __name__ == "__main__":
    sys.exit(main())
