#!/usr/bin/env python3
"""The API reference of the public headers: every function the headers
declare (and every function-like macro), with its signature and the first
sentence of the comment above it, written as one HTML page.

The headers document each declaration with the // comment right above it; a
run of declarations without a blank line between them shares the comment
above the first. A public function without a comment is an error: the script
names it and exits with status 1.

Usage: scripts/api_reference.py [output folder, default build/docs/api]
"""
import html
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SUPPORT = ["arrays", "assemble", "cmdline", "console", "errors", "files", "heap", "numbers",
           "parse", "recall", "search", "sort", "startup", "strings", "temptext"]
TRACE = ["trace", "text", "msgbox", "kernels"]
HEADERS = [f"support/{name}.h" for name in SUPPORT] + [f"trace/{name}.h" for name in TRACE]

# A declaration starts at the beginning of a line with a type and a name
# followed by "(", and is not a control statement or a macro body.
DECLARATION = re.compile(
    r"^(?:inline |constexpr |extern |static |\[\[noreturn\]\] |LONG WINAPI )*"
    r"[A-Za-z_][\w:<>,*& ]*?[\s*&]([A-Z][A-Za-z0-9_]*)\s*\(")
MACRO = re.compile(r"^#define (TW_[A-Z0-9_]+)\(")
SKIPPED = ("return ", "if ", "for ", "while ", "switch ", "using ", "typedef ", "static_assert")


def first_sentence(comment):
    text = " ".join(line.strip() for line in comment)
    match = re.match(r"(.+?\.)(\s|$)", text)
    sentence = match.group(1) if match else text
    return sentence if len(sentence) <= 300 else sentence[:297] + "..."



def declarations(path):
    """(name, signature, comment lines, line number) of each public function."""
    lines = open(os.path.join(ROOT, path), encoding="utf-8").read().split("\n")
    found = []
    comment = []
    group_comment = []
    depth = 0  # braces of records and function bodies
    namespace_detail = False
    i = 0
    while i < len(lines):
        line = lines[i]
        stripped = line.strip()
        if stripped.startswith("namespace") and "detail" in stripped:
            namespace_detail = True
        if namespace_detail and stripped.startswith("}  // namespace"):
            namespace_detail = False
            i += 1
            continue
        if stripped.startswith("//"):
            if not comment:
                group_comment = []
            comment.append(stripped[2:].strip())
            i += 1
            continue
        if not stripped:
            comment, group_comment = [], []
            i += 1
            continue
        if comment:
            group_comment = comment
        comment = []
        macro = MACRO.match(line)
        at_scope = depth == 0 and not namespace_detail
        declaration = DECLARATION.match(line) if at_scope else None
        if declaration and not stripped.startswith(SKIPPED) and not line.startswith(" "):
            signature = stripped
            j = i
            while not re.search(r"[;{]\s*$", signature) and j + 1 < len(lines):
                j += 1
                signature += " " + lines[j].strip()
            signature = re.sub(r"\s*\{.*$", "", signature).rstrip(";").strip()
            found.append((declaration.group(1), signature, list(group_comment), i + 1))
            for k in range(i, j + 1):
                depth += lines[k].count("{") - lines[k].count("}")
            i = j + 1
            continue
        if macro and at_scope:
            found.append((macro.group(1), stripped.split(")")[0] + ")", list(group_comment), i + 1))
        if not stripped.startswith("namespace") and not stripped.startswith("}  // namespace"):
            depth += line.count("{") - line.count("}")
        i += 1
    return found


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "docs", "api")
    os.makedirs(out, exist_ok=True)
    missing = []
    sections = []
    total = 0
    for header in HEADERS:
        rows = []
        for name, signature, comment, line in declarations(header):
            if not comment:
                missing.append(f"{header}:{line}: {name} has no comment")
                continue
            total += 1
            rows.append(f"<tr><td><code>{html.escape(signature)}</code></td>"
                        f"<td>{html.escape(first_sentence(comment))}</td></tr>")
        include = "tarnwick/" + os.path.basename(header)
        sections.append(f"<h2 id=\"{os.path.basename(header)}\">&lt;{include}&gt;</h2>\n"
                        f"<table>\n{''.join(rows)}\n</table>")
    page = ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Tarnwick API reference</title>"
            "<style>body{font-family:sans-serif;max-width:70em;margin:auto}td{vertical-align:top;"
            "padding:2px 8px;border-bottom:1px solid #ddd}code{font-size:90%}</style></head><body>\n"
            "<h1>Tarnwick API reference</h1>\n<p>Every public function of the library's headers with "
            "the first sentence of its description; the pages of docs/ explain each family.</p>\n"
            + "\n".join(sections) + "\n</body></html>\n")
    with open(os.path.join(out, "index.html"), "w", encoding="utf-8") as f:
        f.write(page)
    for line in missing:
        print(line)
    print(f"api reference: {total} functions in {len(HEADERS)} headers, {len(missing)} without a comment"
          f" ({os.path.join(out, 'index.html')})")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
