#!/usr/bin/env python3
"""Checks the include graph of the source tree against the layers.

Layers, lowest first: platform -> disk, identify, chart -> skin -> scan ->
app; halvex32 beside disk; res holds the Windows resources' IDs. A folder
may include its own headers and those of the layers it builds on, never a
higher or a sibling layer. Portable files (everything outside linux/ and
win32/ subfolders) include no operating-system header: only the C++
standard library and the project's own portable headers. Portable headers
declare no extern variables (no process-wide state). The include graph of
the project's files has no cycle.

Usage: check_layers.py [ROOT]      check the tree at ROOT (default: this repo)
       check_layers.py --self-test plant each kind of fault in a scratch tree
                                   and make sure it is reported
Exit status 0 when clean, 1 when something is wrong.
"""
import os
import re
import sys
import tempfile

BUILDS_ON = {
    "platform": set(),
    "res": set(),
    "disk": {"platform"},
    "identify": {"platform"},
    "chart": {"platform"},
    "halvex32": {"disk", "platform"},
    "skin": {"platform", "res"},
    "scan": {"disk", "identify", "chart", "platform"},
    "app": {"scan", "disk", "identify", "chart", "skin", "platform"},
}
# The resource IDs are the Windows program's: its window code may use them.
RES_FOR_WIN32 = True
# The version header is the product's one version definition, plain #defines
# that include nothing: every program's own texts take the version from it
# (the terminal's --version too), so any file may include it.
RES_ANYWHERE = {"res/Version.h"}

STANDARD = set("""
algorithm any array atomic barrier bit bitset cassert cctype cerrno cfloat charconv chrono cinttypes climits
clocale cmath codecvt compare complex concepts condition_variable coroutine csetjmp csignal cstdarg cstddef
cstdint cstdio cstdlib cstring ctime cuchar cwchar cwctype deque exception execution expected filesystem
format forward_list fstream functional future initializer_list iomanip ios iosfwd iostream istream iterator
latch limits list locale map memory memory_resource mutex new numbers numeric optional ostream queue random
ranges ratio regex scoped_allocator semaphore set shared_mutex source_location span sstream stack stdexcept
stop_token streambuf string string_view syncstream system_error thread tuple type_traits typeindex typeinfo
unordered_map unordered_set utility valarray variant vector version
""".split())

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
EXTERN_VARIABLE = re.compile(r'^\s*extern\s+(?!"C")(?!const\b)(?!constexpr\b)[^(;]*;', re.M)
SOURCE = (".h", ".hpp", ".cpp", ".c")


def platform_part(path):
    parts = path.split("/")
    return "linux" if "linux" in parts[1:-1] else "win32" if "win32" in parts[1:-1] else None


def files_of(root):
    for folder in BUILDS_ON:
        top = os.path.join(root, folder)
        for base, _, names in os.walk(top):
            for name in names:
                if name.endswith(SOURCE):
                    full = os.path.join(base, name)
                    yield os.path.relpath(full, root).replace(os.sep, "/")


def check(root):
    problems = []
    graph = {}
    for path in sorted(files_of(root)):
        folder = path.split("/")[0]
        if "/tests/" in path:
            continue  # a folder's own tests may reach anything
        part = platform_part(path)
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            text = f.read()
        edges = graph.setdefault(path, set())
        for kind, target in INCLUDE.findall(text):
            if kind == "<":
                if part is None and target not in STANDARD:
                    problems.append(f"{path}: portable file includes <{target}>")
                continue
            edges.add(target)
            target_folder = target.split("/")[0]
            if target_folder not in BUILDS_ON:
                continue  # e.g. a generated file
            if target_folder != folder and target_folder not in BUILDS_ON[folder]:
                allowed_res = target_folder == "res" and ((part == "win32" and RES_FOR_WIN32) or target in RES_ANYWHERE)
                if not allowed_res:
                    problems.append(f"{path}: includes {target}: {folder} does not build on {target_folder}")
            target_part = platform_part(target)
            if target_part is not None and target_part != part:
                problems.append(f"{path}: includes {target} of the {target_part} part")
        if part is None and path.endswith(".h"):
            for m in EXTERN_VARIABLE.finditer(text):
                problems.append(f"{path}: declares a process-wide variable: {m.group(0).strip()}")
    problems += cycles(graph)
    return problems


def cycles(graph):
    found = []
    state = {}

    def visit(node, stack):
        state[node] = "open"
        stack.append(node)
        for nxt in sorted(graph.get(node, ())):
            if nxt not in graph:
                continue
            if state.get(nxt) == "open":
                found.append("include cycle: " + " -> ".join(stack[stack.index(nxt):] + [nxt]))
            elif nxt not in state:
                visit(nxt, stack)
        stack.pop()
        state[node] = "done"

    for node in sorted(graph):
        if node not in state:
            visit(node, [])
    return found


def self_test():
    plants = {
        "an upward include": ("chart/Up.h", '#include "scan/ScanRun.h"\n', "does not build on scan"),
        "a sibling include": ("chart/Side.cpp", '#include "disk/CDisk.h"\n', "does not build on disk"),
        "an OS header": ("scan/Os.cpp", "#include <unistd.h>\n", "portable file includes <unistd.h>"),
        "another part's header": ("disk/linux/X.cpp", '#include "disk/win32/Y.h"\n', "of the win32 part"),
        "a process-wide variable": ("disk/G.h", "extern int g_count;\n", "process-wide variable"),
        "a cycle": ("platform/A.h", '#include "platform/B.h"\n', "include cycle"),
        "resources outside Windows code": ("app/Ids.cpp", '#include "res/resource.h"\n', "does not build on res"),
        "resources in the terminal's code": ("app/linux/Ids.cpp", '#include "res/resource.h"\n', "does not build on res"),
    }
    # Files that break no rule, among them the exceptions: none may be reported.
    good = {
        "skin/Fine.h": '#include "res/resource.h"\n#include "platform/B.h"\n#include <vector>\n',
        "app/linux/Version.cpp": '#include "res/Version.h"\n#include <unistd.h>\n',
        "scan/Version.cpp": '#include "res/Version.h"\n',
    }
    failures = 0
    for what, (path, text, expected) in plants.items():
        with tempfile.TemporaryDirectory() as root:
            for folder in BUILDS_ON:
                os.makedirs(os.path.join(root, folder))
            os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
            with open(os.path.join(root, path), "w") as f:
                f.write(text)
            with open(os.path.join(root, "platform/B.h"), "w") as f:
                f.write('#include "platform/A.h"\n' if what == "a cycle" else "#include <string>\n")
            for good_path, good_text in good.items():
                os.makedirs(os.path.join(root, os.path.dirname(good_path)), exist_ok=True)
                with open(os.path.join(root, good_path), "w") as f:
                    f.write(good_text)
            problems = check(root)
            if not any(expected in p for p in problems):
                print(f"self-test: {what} was not reported ({problems})")
                failures += 1
            elif any(p.startswith(tuple(good)) for p in problems):
                print(f"self-test: a good file was reported ({problems})")
                failures += 1
    print(f"self-test: {len(plants) - failures} of {len(plants)} planted faults reported")
    return failures == 0


def main():
    if sys.argv[1:] == ["--self-test"]:
        return 0 if self_test() else 1
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    problems = check(root)
    for p in problems:
        print(p)
    print(f"layers: {len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
