"""A plain, independent model of the heat analysis, for checking the engine.

Written for clarity, not speed: every rule is spelled out in the order the
engine is meant to apply it, with the same floating-point operations, so the
two can be compared line by line.
"""

import math

# --- language classification -------------------------------------------------

SOURCE_EXTENSIONS = [
    (0, ["swift"]),
    (1, ["m", "mm", "h"]),
    (2, ["c"]),
    (3, ["cc", "cpp", "cxx", "hpp", "hh", "hxx"]),
    (4, ["py"]),
    (5, ["js"]),
    (6, ["ts"]),
    (7, ["go"]),
    (8, ["rs"]),
    (9, ["java"]),
    (10, ["kt"]),
    (11, ["cs"]),
    (12, ["rb"]),
    (13, ["php"]),
    (14, ["sh"]),
    (15, ["metal"]),
    (16, ["json"]),
    (17, ["yml", "yaml"]),
    (18, ["toml"]),
    (19, ["sql"]),
    (20, ["html", "htm"]),
    (21, ["css"]),
]
PLAIN_TEXT = 22

IGNORED_DIRECTORY_NAMES = {
    ".git", "node_modules", "DerivedData", "build", "dist", "Pods", ".swiftpm",
    ".build", ".xcuserdata", "xcuserdata", ".idea", ".vscode",
}
IGNORED_EXTENSIONS = {
    "png", "jpg", "jpeg", "gif", "webp", "heic", "pdf", "zip", "gz", "bz2", "7z",
    "rar", "mp3", "mp4", "mov", "dylib", "a", "o", "xcarchive", "app",
    "framework", "xcuserstate", "xccheckout", "pbxuser", "mode1v3", "mode2v3",
    "perspectivev3", "swp", "swo", "npy", "npz", "sqlite", "db",
}
IGNORED_FILE_NAMES = {".DS_Store"}
MAX_FILE_SIZE = 2097152


def ascii_lower(data):
    """Lower-cases A-Z only; works on bytes and on str."""
    if isinstance(data, bytes):
        return bytes(b + 32 if 65 <= b <= 90 else b for b in data)
    return "".join(chr(ord(c) + 32) if "A" <= c <= "Z" else c for c in data)


def extension_of(name):
    if name in (".", ".."):
        return ""
    dot = name.rfind(".")
    if dot <= 0:
        return ""
    return ascii_lower(name[dot + 1:])


def language_for_extension(ext):
    for language, extensions in SOURCE_EXTENSIONS:
        if ext in extensions:
            return language
    return None


def looks_like_text(head):
    """The text test on the first bytes of a file (at most 64 KiB)."""
    head = head[:65536]
    if not head:
        return True
    if 0 in head:
        return False
    control = sum(1 for b in head if b < 0x20 and b not in (0x09, 0x0A, 0x0D))
    return control / len(head) <= 0.02


def language_of_file(name, content):
    """The language a file is analysed under, or None when it is not analysed."""
    if len(content) == 0 or len(content) > MAX_FILE_SIZE:
        return None
    language = language_for_extension(extension_of(name))
    if language is not None:
        return language
    return PLAIN_TEXT if looks_like_text(content) else None


def is_skipped_entry(name, is_directory, full_path):
    if name.startswith("."):
        return True
    fragment_path = ascii_lower(full_path).replace("\\", "/")
    inside_xcuserdata = "/.xcuserdata/" in fragment_path or "/xcuserdata/" in fragment_path
    if is_directory:
        return name in IGNORED_DIRECTORY_NAMES or inside_xcuserdata
    if name in IGNORED_FILE_NAMES:
        return True
    ext = extension_of(name)
    if ext and ext in IGNORED_EXTENSIONS:
        return True
    return inside_xcuserdata


def count_lines(content):
    if not content:
        return 0
    count = content.count(b"\n")
    if content[-1:] != b"\n":
        count += 1
    return min(count, 2147483647)


# --- profiles ------------------------------------------------------------------


class Profile:
    def __init__(self, name):
        self.name = name
        self.line_comment = b""
        self.has_block_comments = True
        self.block_open = b""
        self.block_close = b""
        self.backtick_strings = False
        self.triple_quote_strings = False
        self.loop = set()
        self.branch = set()
        self.exception = set()
        self.function = set()
        self.type = set()
        self.count_boolean_ops = True
        self.count_ternary = True
        self.w_base = 0.05
        self.w_tokens = 0.01
        self.w_loop = 0.22
        self.w_branch = 0.16
        self.w_exception = 0.12
        self.w_function = 0.26
        self.w_type = 0.1
        self.w_bool_op = 0.03
        self.w_ternary = 0.07
        self.w_dot = 0.006
        self.long_line_penalty = True
        self.w_long_line = 0.1
        self.w_very_long_line = 0.18

    @property
    def word_operator_mode(self):
        return self.line_comment == b"#" and self.triple_quote_strings


def _profile(name, line_comment, block, backtick, triple, loop, branch, exception,
             function, types, **weights):
    p = Profile(name)
    p.line_comment = line_comment
    if block:
        p.block_open, p.block_close = b"/*", b"*/"
    else:
        p.has_block_comments = False
    p.backtick_strings = backtick
    p.triple_quote_strings = triple
    p.loop, p.branch, p.exception = set(loop), set(branch), set(exception)
    p.function, p.type = set(function), set(types)
    for key, value in weights.items():
        setattr(p, key, value)
    return p


SWIFT = _profile("swift", b"//", True, False, False,
                 ["for", "while", "repeat"],
                 ["if", "else", "guard", "switch", "case", "where"],
                 ["try", "catch", "throw", "throws", "rethrows", "defer"],
                 ["func", "init", "deinit"],
                 ["class", "struct", "enum", "protocol", "extension"])
C_FAMILY = _profile("c", b"//", True, False, False,
                    ["for", "while", "do"],
                    ["if", "else", "switch", "case", "default"],
                    ["try", "catch", "throw"],
                    [],
                    ["class", "struct", "enum", "namespace", "template"],
                    w_tokens=0.009, w_loop=0.2, w_branch=0.15, w_bool_op=0.028)
PYTHON = _profile("python", b"#", False, False, True,
                  ["for", "while"],
                  ["if", "elif", "else", "match", "case"],
                  ["try", "except", "raise", "finally"],
                  ["def", "lambda"],
                  ["class"],
                  w_bool_op=0.03)
JAVASCRIPT = _profile("javascript", b"//", True, True, False,
                      ["for", "while", "do"],
                      ["if", "else", "switch", "case", "default"],
                      ["try", "catch", "throw", "finally"],
                      ["function"],
                      ["class"])
GO = _profile("go", b"//", True, False, False,
              ["for"],
              ["if", "else", "switch", "case", "default", "select"],
              [],
              ["func"],
              ["type", "struct", "interface"])
RUST = _profile("rust", b"//", True, False, False,
                ["for", "while", "loop"],
                ["if", "else", "match"],
                ["panic"],
                ["fn"],
                ["struct", "enum", "trait", "impl"])
JAVA_LIKE = _profile("javalike", b"//", True, False, False,
                     ["for", "while", "do"],
                     ["if", "else", "switch", "case", "default"],
                     ["try", "catch", "throw", "finally"],
                     ["function"],
                     ["class", "interface", "enum", "struct", "trait"])
SHELL = _profile("shell", b"#", False, False, False,
                 ["for", "while", "until", "do", "done"],
                 ["if", "then", "elif", "else", "fi", "case", "esac"],
                 [],
                 ["function"],
                 [],
                 w_tokens=0.012)


def profile_for_language(language):
    if language == 0:
        return SWIFT
    if language == 4:
        return PYTHON
    if language in (5, 6):
        return JAVASCRIPT
    if language == 7:
        return GO
    if language == 8:
        return RUST
    if language in (9, 10, 11, 12, 13):
        return JAVA_LIKE
    if language == 14:
        return SHELL
    return C_FAMILY


# --- line splitting and lexing ------------------------------------------------


def split_lines(text):
    lines = []
    if not text:
        return lines
    current = bytearray()
    for b in text:
        if b == 0x0A:
            if current and current[-1] == 0x0D:
                del current[-1]
            lines.append(bytes(current))
            current = bytearray()
        else:
            current.append(b)
    if current:
        if current[-1] == 0x0D:
            del current[-1]
        lines.append(bytes(current))
    else:
        lines.append(b"")
    return lines


class LexState:
    def __init__(self):
        self.in_block_comment = False
        self.in_string = False
        self.string_kind = 0
        self.escape_pending = False


class LineFacts:
    def __init__(self):
        self.is_blank = False
        self.token_count = 0
        self.open_braces = 0
        self.close_braces = 0
        self.dots = 0
        self.bool_ops = 0
        self.ternaries = 0
        self.loop_kw = 0
        self.branch_kw = 0
        self.exception_kw = 0
        self.function_kw = 0
        self.type_kw = 0
        self.line_length = 0


def _is_letter(b):
    return 65 <= b <= 90 or 97 <= b <= 122 or b == 0x5F


def _is_digit(b):
    return 48 <= b <= 57


def scan_line(line, state, profile):
    facts = LineFacts()
    tokens = []
    buffer = bytearray()
    code = False
    n = len(line)
    word_mode = profile.word_operator_mode

    def flush():
        if buffer:
            tokens.append(bytes(buffer))
            buffer.clear()

    def matches(marker, at):
        return len(marker) > 0 and at + len(marker) <= n and line[at:at + len(marker)] == marker

    state.escape_pending = False
    i = 0
    while i < n:
        b = line[i]
        # 1. inside a block comment
        if state.in_block_comment:
            if profile.has_block_comments and matches(profile.block_close, i):
                state.in_block_comment = False
                i += len(profile.block_close)
            else:
                i += 1
            continue
        # 2. inside a string literal
        if state.in_string:
            kind = state.string_kind
            if kind in (1, 2):
                if state.escape_pending:
                    state.escape_pending = False
                elif b == (0x22 if kind == 2 else 0x27):
                    state.in_string = False
                    state.string_kind = 0
                elif b == 0x5C:
                    state.escape_pending = True
                i += 1
            elif kind == 3:
                if b == 0x60:
                    state.in_string = False
                    state.string_kind = 0
                i += 1
            else:
                quote = b'"""' if kind == 5 else b"'''"
                if matches(quote, i):
                    state.in_string = False
                    state.string_kind = 0
                    i += 3
                else:
                    i += 1
            continue
        # 3. line comment
        if matches(profile.line_comment, i):
            flush()
            break
        # 4. block comment opens
        if profile.has_block_comments and matches(profile.block_open, i):
            flush()
            state.in_block_comment = True
            i += len(profile.block_open)
            continue
        # 5. triple quotes
        if profile.triple_quote_strings:
            if matches(b'"""', i):
                flush()
                state.in_string, state.string_kind = True, 5
                i += 3
                continue
            if matches(b"'''", i):
                flush()
                state.in_string, state.string_kind = True, 4
                i += 3
                continue
        # 6. single quotes
        if b == 0x22 or b == 0x27 or (b == 0x60 and profile.backtick_strings):
            flush()
            state.in_string = True
            state.string_kind = {0x27: 1, 0x22: 2, 0x60: 3}[b]
            i += 1
            continue
        # 7. white space
        if b in (0x09, 0x0D, 0x20):
            flush()
            i += 1
            continue
        # 8. braces, parentheses, dots
        if b in b"{}().":
            flush()
            if b == 0x7B:
                facts.open_braces += 1
            elif b == 0x7D:
                facts.close_braces += 1
            elif b == 0x2E:
                facts.dots += 1
            code = True
            i += 1
            continue
        # 9. && and ||
        if (profile.count_boolean_ops and not word_mode and b in (0x26, 0x7C)
                and i + 1 < n and line[i + 1] == b):
            flush()
            facts.bool_ops += 1
            code = True
            i += 2
            continue
        # 10. ternary
        if b == 0x3F and profile.count_ternary:
            flush()
            facts.ternaries += 1
            code = True
            i += 1
            continue
        # 11. identifiers and everything else
        if _is_letter(b):
            buffer.append(b)
        elif _is_digit(b):
            if buffer:
                buffer.append(b)
        else:
            flush()
        code = True
        i += 1
    flush()

    facts.is_blank = not code and not state.in_block_comment and not state.in_string
    facts.token_count = len(tokens)
    for token in tokens:
        word = ascii_lower(token).decode("ascii")
        if word in profile.loop:
            facts.loop_kw += 1
        if word in profile.branch:
            facts.branch_kw += 1
        if word in profile.exception:
            facts.exception_kw += 1
        if word in profile.function:
            facts.function_kw += 1
        if word in profile.type:
            facts.type_kw += 1
        if word_mode and profile.count_boolean_ops and word in ("and", "or"):
            facts.bool_ops += 1
    facts.line_length = n
    return facts


def word_tokens(line):
    tokens = []
    current = bytearray()
    for b in line:
        if _is_letter(b) or _is_digit(b):
            current.append(b)
        else:
            if current:
                tokens.append(ascii_lower(bytes(current)).decode("ascii"))
                current = bytearray()
    if current:
        tokens.append(ascii_lower(bytes(current)).decode("ascii"))
    return tokens


def trim(line):
    return line.strip(b" \t\r\n")


def is_trivial_line(trimmed):
    if not trimmed:
        return True
    if trimmed.startswith(b"//") or trimmed.startswith(b"/*"):
        return True
    if trimmed.startswith(b"*"):
        return True
    if trimmed.startswith(b"#"):
        return True
    if trimmed.startswith(b"import ") or trimmed.startswith(b"package "):
        return True
    if trimmed.startswith(b"using "):
        return True
    return all(b in b"(),;[]{}" for b in trimmed)


# --- line scoring ---------------------------------------------------------------


def keyword_weight(f):
    return (1.35 * f.loop_kw + 1.15 * f.branch_kw + 1.55 * f.ternaries
            + 0.6 * f.bool_ops + 1.1 * f.exception_kw)


def line_complexity(f, p, looks_like_declaration):
    if f.is_blank:
        return 0.0
    t = max(min(f.token_count, 60) - 10, 0)
    s = (t * p.w_tokens + p.w_base + f.loop_kw * p.w_loop + f.branch_kw * p.w_branch
         + f.exception_kw * p.w_exception + f.type_kw * p.w_type)
    if f.function_kw > 0:
        s = s + f.function_kw * p.w_function
    if looks_like_declaration:
        s = s + 0.5 * p.w_function
    s = s + (f.bool_ops * p.w_bool_op + f.ternaries * p.w_ternary)
    if f.dots >= 4:
        s = s + (f.dots - 3) * p.w_dot
    if p.long_line_penalty:
        if f.line_length >= 240:
            s = s + 0.75 * p.w_very_long_line
        elif f.line_length >= 140:
            s = s + 0.75 * p.w_long_line
    s = max(s, 0.0)
    k = keyword_weight(f)
    if k > 0:
        s = s + 0.16 * (k * k)
    if t >= 1:
        m = min(t, 40)
        s = s + 0.0018 * (m * m)
    return max(s, 0.0)


def heat_reference(p):
    return max(10 * p.w_tokens + p.w_base + 0.5 * p.w_branch + 0.3 * p.w_loop
               + 0.8 * p.w_bool_op, 0.08)


def line_heat_from_complexity(x, p):
    if x <= 0:
        return 0.0
    ref = heat_reference(p)
    y = max(1.55 * x / ref, 0.0)
    return 95 * math.pow(max(math.log(1 + y), 0.0), 1.45)


# --- per-file analysis --------------------------------------------------------------

DECLARATION_MODIFIERS = {
    "operator", "constexpr", "inline", "static", "virtual", "public", "private",
    "protected", "override", "final", "template", "typename",
}


def clamp(v, lo, hi):
    return lo if v < lo else hi if v > hi else v


class LineRecord:
    pass


def analyze_text(text, language):
    """Returns (per-line raw heat list, heatRaw, line records)."""
    p = profile_for_language(language)
    lines = split_lines(text)
    state = LexState()
    stack = [0]
    next_block_id = 1
    depth = 0
    keyword_trend = 0.0
    token_trend = 0.0
    records = []
    for line in lines:
        r = LineRecord()
        f = scan_line(line, state, p)
        r.facts = f
        r.looks_like_declaration = False
        if not p.function:
            tokens = word_tokens(line)
            if any(t in p.loop or t in p.branch for t in tokens):
                r.looks_like_declaration = False
            elif any(t in DECLARATION_MODIFIERS for t in tokens):
                r.looks_like_declaration = True
            elif b"(" in line and b"{" in line:
                r.looks_like_declaration = True
        r.depth = depth
        r.block_id = stack[-1]
        k = keyword_weight(f)
        scored = (not f.is_blank and not is_trivial_line(trim(line))
                  and (f.token_count > 0 or f.open_braces + f.close_braces == 0
                       or f.branch_kw != 0 or f.loop_kw != 0 or f.exception_kw != 0
                       or f.bool_ops != 0 or f.ternaries != 0 or f.dots != 0))
        r.skipped = not scored
        if scored:
            r.heat_base = line_heat_from_complexity(
                line_complexity(f, p, r.looks_like_declaration), p)
            r.raw_score = max(k + 0.055 * max(min(f.token_count, 60) - 12, 0)
                              + 0.22 * max(f.dots - 3, 0) + 0.08 * min(f.type_kw, 10), 0)
            r.intensity = clamp((r.raw_score - 1.2) * 0.25, 0.0, 1.0)
        else:
            r.heat_base = 0.0
            r.raw_score = 0.0
            r.intensity = 0.0
        keyword_trend = 0.92 * keyword_trend + 0.08 * k
        token_trend = 0.94 * token_trend + 0.06 * min(f.token_count, 40)
        r.keyword_trend = keyword_trend
        r.token_trend = token_trend
        r.k = k
        for _ in range(f.open_braces):
            stack.append(next_block_id)
            next_block_id += 1
        for _ in range(f.close_braces):
            if len(stack) > 1:
                stack.pop()
        depth = clamp(depth + f.open_braces - f.close_braces, 0, 512)
        records.append(r)

    block_count = max(next_block_id, 1)
    line_count = [0] * block_count
    type_kw_sum = [0] * block_count
    keyword_sum = [0.0] * block_count
    for r in records:
        if not r.skipped and 0 <= r.block_id < block_count:
            line_count[r.block_id] += 1
            type_kw_sum[r.block_id] += r.facts.type_kw
            keyword_sum[r.block_id] += r.k

    f_acc = 0.0
    for r in records:
        if not r.skipped and r.raw_score > 1.65:
            f_acc = 0.55 * r.raw_score + 0.6 * f_acc
        else:
            f_acc = 0.6 * f_acc
        r.spread = f_acc
    g_acc = 0.0
    for r in reversed(records):
        if not r.skipped and r.raw_score > 1.65:
            g_acc = 0.55 * r.raw_score + 0.6 * g_acc
        else:
            g_acc = 0.6 * g_acc
        r.spread = max(r.spread, g_acc)

    heats = []
    heat_raw = 0.0
    for r in records:
        if r.skipped or r.heat_base <= 0:
            heat = 0.0
        else:
            i = r.intensity
            d = min(r.depth, 24)
            if 0 <= r.block_id < block_count:
                n = max(line_count[r.block_id], 0)
                s = max(type_kw_sum[r.block_id], 0)
                a = keyword_sum[r.block_id] / line_count[r.block_id] if line_count[r.block_id] > 0 else 0.0
                b = ((1 + 0.12 * math.log(1 + n)) * (1 + 0.18 * math.log(1 + s))
                     * (1 + 0.1 * clamp(a / 3.5, 0.0, 1.0)) * (1 + 0.008 * d))
            else:
                b = 1.0
            t = ((1 + 0.03 * clamp(0.25 * r.keyword_trend, 0.0, 1.0))
                 * (1 + 0.018 * clamp(r.token_trend / 18, 0.0, 1.0)) - 1) * i + 1
            dd = (0.007 * (d * d) + 0.012 * d) * i + 1
            if r.spread <= 0:
                pf = 1.0
            else:
                pf = 1 + 1.15 * clamp((r.spread - 2) / 3.5, 0.0, 1.0) * clamp(
                    math.pow(max(math.log(1 + r.spread), 0.0), 1.35) / 4.5, 0.0, 1.0)
            heat = clamp(((b - 1) * i + 1) * r.heat_base * t * dd * ((pf - 1) * i + 1), 0.0, 1e9)
        r.heat = heat
        heats.append(heat)
        heat_raw += heat
    return heats, heat_raw, records


# --- project-wide normalisation ------------------------------------------------


def file_heat01(heat_raws):
    """The 0..1 heat of each file given every file's heatRaw, in the same order."""
    values = sorted(heat_raws)
    n = len(values)
    ref = max(values[(n - 1) * 95 // 100], 1.0) if n else 1.0
    return [clamp(math.log1p(h) / math.log1p(ref), 0.0, 1.0) for h in heat_raws]


# --- self-check against figures worked out by hand ---------------------------

SWIFT_EXAMPLE = (
    b"import Foundation\n"
    b"\n"
    b"func check(_ items: [Int]) -> Int {\n"
    b"    var total = 0\n"
    b"    for item in items where item > 0 && item < 100 {\n"
    b"        if item % 2 == 0 { total += item } else { total -= 1 }\n"
    b"    }\n"
    b"    return total\n"
    b"}\n"
)


def check_known_figures():
    """Raises AssertionError when the model misses a hand-computed figure."""
    facts = scan_line(b"for item in items where item.isValid && !item.done {", LexState(), SWIFT)
    assert facts.token_count == 9 and facts.loop_kw == 1 and facts.branch_kw == 1
    assert facts.bool_ops == 1 and facts.dots == 2 and facts.line_length == 52
    x = line_complexity(facts, SWIFT, False)
    assert abs(x - 1.9976) < 1e-12, x
    assert abs(line_heat_from_complexity(x, SWIFT) - 331.57) < 0.005
    assert abs(line_heat_from_complexity(0.05, SWIFT) - 10.36) < 0.005

    for profile, ref in [(SWIFT, 0.32), (JAVASCRIPT, 0.32), (GO, 0.32), (RUST, 0.32),
                         (JAVA_LIKE, 0.32), (C_FAMILY, 0.2974), (PYTHON, 0.32),
                         (SHELL, 0.34)]:
        assert abs(heat_reference(profile) - ref) < 1e-12, profile.name

    heats, heat_raw, records = analyze_text(SWIFT_EXAMPLE, 0)
    expected = [
        # scored, depth, block, heatBase, rawScore, intensity, heat
        (False, 0, 0, 0, 0, 0, 0),
        (False, 0, 0, 0, 0, 0, 0),
        (True, 0, 0, 83.7724, 0, 0, 83.7724),
        (True, 1, 1, 10.3568, 0, 0, 10.3568),
        (True, 1, 1, 331.5687, 3.1, 0.475, 376.4362),
        (True, 2, 2, 246.5452, 2.3, 0.275, 264.1877),
        (False, 2, 2, 0, 0, 0, 0),
        (True, 1, 1, 10.3568, 0, 0, 10.3568),
        (False, 1, 1, 0, 0, 0, 0),
        (False, 0, 0, 0, 0, 0, 0),
    ]
    assert len(records) == len(expected)
    for number, (r, e) in enumerate(zip(records, expected), start=1):
        got = (not r.skipped, r.depth, r.block_id, round(r.heat_base, 4),
               round(r.raw_score, 4), round(r.intensity, 4), round(r.heat, 4))
        assert got == e, (number, got, e)
    assert abs(heat_raw - 745.1099) < 5e-5, heat_raw
    line5 = records[4]
    assert abs(line5.keyword_trend - 0.248) < 1e-12
    assert abs(line5.token_trend - 0.94459) < 5e-6
    assert abs(line5.spread - 2.464) < 1e-12

    assert split_lines(b"") == []
    assert split_lines(b"a\nb") == [b"a", b"b"]
    assert split_lines(b"a\nb\n") == [b"a", b"b", b""]
    assert split_lines(b"\n") == [b"", b""]
    assert split_lines(b"a\r\nb\rc\r") == [b"a", b"b\rc"]

    assert file_heat01([0.5]) == [math.log(1.5) / math.log(2)]
    assert file_heat01([3.0]) == [1.0]


if __name__ == "__main__":
    check_known_figures()
    print("known figures hold")
