"""The size rules of the C++ tree under src/.

- No file over 800 lines.
- No file with more than 8 name comparisons in if-chains: a comparison of a
  value with a string literal (`x == "..."`, `x.compare("...")`,
  `iequals(x, "...")`, `strcmp(x, "...")` and their kin) in the condition
  of an `if`, counted where one function tests the same value against names
  in more than one `if` (a chain); a table of names says it better.
- No function over 120 lines, unless the comment right above it says why it
  must be one, with the words "one function because".

Functions are found by matching braces after a signature, with comments,
string and character literals and preprocessor lines left out. Prints what
breaks a rule and fails, or one line that all is well.

Usage: check-sizes.py [--list] [ROOT]   (ROOT defaults to src/ of the tree;
--list prints every function over the limit and every file's count, kept
or not).
"""

from __future__ import annotations

import re
import sys
from dataclasses import dataclass, field
from pathlib import Path

MAX_FILE_LINES = 800
MAX_NAME_COMPARISONS = 8
MAX_FUNCTION_LINES = 120
WHY_ONE = "one function because"
SUFFIXES = (".cpp", ".h", ".hpp", ".cc")

CONTROL = re.compile(r"^(if|for|while|switch|catch|do|else|try|return)\b")
SCOPE = re.compile(r"\b(namespace|class|struct|union|enum)\b|^extern\b")
ACCESS = re.compile(r"\b(public|private|protected)\s*:(?!:)")
# What may follow a function's parameter list before its body.
TRAILER = re.compile(
    r"\)\s*((const|override|final|noexcept(\s*\([^()]*\))?|mutable|volatile|&&|&|->\s*[\w:<>,\s*&]+)\s*)*$"
)
# A constructor's member initialisers between its parameters and its body.
INITIALISERS = re.compile(r"\)\s*(noexcept\s*)?:\s*[\w:]+\s*[({].*[)}]\s*$", re.S)
STRING_LITERAL = r'"[^"\n]*"'
SUBJECT = r"[\w.:\->\[\]()*]+"
COMPARISONS = [
    re.compile(r"(?P<s>" + SUBJECT + r")\s*[=!]=\s*" + STRING_LITERAL),
    re.compile(STRING_LITERAL + r"\s*[=!]=\s*(?P<s>" + SUBJECT + r")"),
    re.compile(r"(?P<s>[\w.\->\[\]]+?)\s*(\.|->)\s*(compare|equalsAscii\w*)\s*\([^;{]*?" + STRING_LITERAL),
    re.compile(r"\b(iequals|strcasecmp|strcmp|strncmp|strncasecmp)\s*\(\s*(?P<s>[^,()]+(\([^()]*\))?)\s*,\s*"
               + STRING_LITERAL),
]


@dataclass
class Function:
    name: str
    first: int  # 1-based line of the signature's start
    last: int  # 1-based line of the closing brace
    why: bool  # the comment above it says why it is one function

    @property
    def lines(self) -> int:
        return self.last - self.first + 1


@dataclass
class Report:
    path: Path
    lines: int
    functions: list[Function] = field(default_factory=list)
    name_comparisons: int = 0


def blank_out(text: str) -> str:
    """The text with comments, literals' contents and preprocessor lines
    replaced by spaces (newlines kept, so line numbers hold). String
    literals keep their quotes and become empty, so comparisons with them
    stay visible."""
    out: list[str] = []
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and c in " \t":
            out.append(c)
            i += 1
            continue
        if line_start and c == "#":
            # A preprocessor line, with its continuations.
            while i < n and text[i] != "\n":
                if text[i] == "\\" and i + 1 < n and text[i + 1] == "\n":
                    out.append(" \n")
                    i += 2
                    continue
                out.append(" ")
                i += 1
            continue
        line_start = False
        if text.startswith("//", i):
            while i < n and text[i] != "\n":
                out.append(" ")
                i += 1
            continue
        if text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.append(re.sub(r"[^\n]", " ", text[i:end]))
            i = end
            continue
        raw = re.match(r'R"([^()\\\s]{0,16})\(', text[i:i + 20]) if c == "R" else None
        if raw and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            close = ")" + raw.group(1) + '"'
            end = text.find(close, i + raw.end())
            end = n if end < 0 else end + len(close)
            out.append('"' + re.sub(r"[^\n]", " ", text[i + 1:end - 1]) + '"')
            i = end
            continue
        if c in "\"'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            end = min(j + 1, n)
            out.append(c + " " * max(0, end - i - 2) + (c if end - i >= 2 else ""))
            i = end
            continue
        if c == "\n":
            line_start = True
        out.append(c)
        i += 1
    return "".join(out)


def is_signature(head: str) -> bool:
    """Whether the text before a brace at namespace or class level opens a
    function body."""
    head = ACCESS.sub(" ", head).strip()
    head = re.sub(r"^template\s*<.*?>\s*", "", head, flags=re.S)
    if not head or CONTROL.match(head) or "(" not in head:
        return False
    if SCOPE.search(head.split("(", 1)[0]):
        return False
    if re.search(r"=\s*$", head):
        return False
    return bool(TRAILER.search(head) or INITIALISERS.search(head))


def function_name(head: str) -> str:
    before = head.split("(", 1)[0].split()
    return before[-1] if before else "?"


def why_above(lines: list[str], first: int) -> bool:
    """Whether the comment lines directly above line `first` (1-based) say
    why the function is one."""
    k = first - 2
    while k >= 0 and lines[k].strip().startswith(("template", "[[", "static", "inline")) and "//" not in lines[k]:
        k -= 1
    while k >= 0 and lines[k].strip().startswith(("//", "/*", "*")):
        if WHY_ONE in lines[k]:
            return True
        k -= 1
    return False


def find_functions(raw: str, code: str) -> list[Function]:
    """Every function body at namespace or class level (a lambda or local
    class inside a function belongs to that function)."""
    lines = raw.split("\n")
    found: list[Function] = []
    # Each open brace: "scope" (namespace, class, extern block), "function",
    # or "other" (an initialiser, an enum).
    stack: list[str] = []
    head_start = 0  # offset where the text before the next brace begins
    fn_start_line = 0
    fn_head = ""
    line = 1
    for i, c in enumerate(code):
        if c == "\n":
            line += 1
            continue
        in_function = "function" in stack or "other" in stack
        if c in ";{}" and not in_function:
            head = code[head_start:i]
            if c == "{":
                if is_signature(head):
                    stack.append("function")
                    # The signature starts after any access specifier before it.
                    access_end = max((m.end() for m in ACCESS.finditer(head)), default=0)
                    rest = head[access_end:]
                    start = head_start + access_end + len(rest) - len(rest.lstrip())
                    fn_start_line = code.count("\n", 0, start) + 1
                    fn_head = head
                elif SCOPE.search(ACCESS.sub(" ", head).split("(", 1)[0]) and not re.search(r"\benum\b", head):
                    stack.append("scope")
                else:
                    stack.append("other")
            elif c == "}" and stack:
                stack.pop()
            head_start = i + 1
            continue
        if c == "{":
            stack.append("inner")
        elif c == "}" and stack:
            kind = stack.pop()
            if kind == "function":
                first = fn_start_line
                found.append(Function(function_name(fn_head), first, line, why_above(lines, first)))
                head_start = i + 1
            elif kind == "other" and "function" not in stack and "other" not in stack:
                head_start = i + 1
    return found


def condition_spans(code: str) -> list[tuple[int, str]]:
    """The offset and text of every `if` condition (its parentheses)."""
    spans: list[tuple[int, str]] = []
    for m in re.finditer(r"\bif\s*(constexpr\s*)?\(", code):
        depth, j = 1, m.end()
        while j < len(code) and depth:
            depth += {"(": 1, ")": -1}.get(code[j], 0)
            j += 1
        spans.append((m.start(), code[m.end():j - 1]))
    return spans


def count_name_comparisons(code: str, functions: list[Function]) -> int:
    """Comparisons with string literals in `if` conditions, where the same
    value meets a literal in more than one `if` of one function (or, outside
    any function, of the file)."""
    starts = [0]
    for k, ch in enumerate(code):
        if ch == "\n":
            starts.append(k + 1)

    def owner(offset: int) -> int:
        ln = next((k for k, s in enumerate(starts) if s > offset), len(starts))
        for idx, f in enumerate(functions):
            if f.first <= ln <= f.last:
                return idx
        return -1

    per_subject: dict[tuple[int, str], list[int]] = {}
    for offset, cond in condition_spans(code):
        counted: dict[str, int] = {}
        for pattern in COMPARISONS:
            for m in pattern.finditer(cond):
                subject = re.sub(r"\s+", "", m.group("s"))
                counted[subject] = counted.get(subject, 0) + 1
        if not counted:
            continue
        scope = owner(offset)
        for subject, k in counted.items():
            per_subject.setdefault((scope, subject), []).append(k)
    return sum(sum(ks) for ks in per_subject.values() if len(ks) > 1)


def check(path: Path) -> Report:
    raw = path.read_text(encoding="utf-8", errors="replace")
    code = blank_out(raw)
    functions = find_functions(raw, code)
    report = Report(path, raw.count("\n") + (0 if raw.endswith("\n") or not raw else 1), functions)
    report.name_comparisons = count_name_comparisons(code, functions)
    return report


def main(argv: list[str]) -> int:
    listing = "--list" in argv
    args = [a for a in argv if a != "--list"]
    root = Path(args[0]) if args else Path(__file__).resolve().parent.parent / "src"
    files = sorted(p for p in root.rglob("*") if p.suffix in SUFFIXES and p.is_file())
    problems: list[str] = []
    longest = 0
    for path in files:
        r = check(path)
        name = str(path.relative_to(root.parent)) if root.parent in path.parents else str(path)
        if r.lines > MAX_FILE_LINES:
            problems.append(f"{name}: {r.lines} lines (at most {MAX_FILE_LINES})")
        if r.name_comparisons > MAX_NAME_COMPARISONS or (listing and r.name_comparisons):
            problems.append(f"{name}: {r.name_comparisons} name comparisons in if-chains "
                            f"(at most {MAX_NAME_COMPARISONS}; a table of names)")
        for f in r.functions:
            if f.lines > MAX_FUNCTION_LINES and f.why and listing:
                problems.append(f"{name}:{f.first}: {f.name} has {f.lines} lines; the comment above says why")
            elif f.lines > MAX_FUNCTION_LINES and not f.why:
                problems.append(f"{name}:{f.first}: {f.name} has {f.lines} lines (at most {MAX_FUNCTION_LINES} "
                                f"without a comment above it saying \"{WHY_ONE}\")")
            longest = max(longest, f.lines if not f.why else 0)
    if problems:
        print("size check:", *problems, sep="\n  ", file=sys.stderr if not listing else sys.stdout)
        return 0 if listing else 1
    print(f"size check: {len(files)} files within {MAX_FILE_LINES} lines and {MAX_NAME_COMPARISONS} name "
          f"comparisons in if-chains, functions within {MAX_FUNCTION_LINES} lines (longest {longest})")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
