#!/usr/bin/env python3
"""The layering of the program, checked against the build and the code.

    check-layers.py LAYERS.TSV SOURCE_DIR     check the tree (the build writes LAYERS.TSV)
    check-layers.py --self-test               show that each rule catches what it should

Rules:
  1. No core library (one of ours, not a gui library) links the toolkit or a gui library,
     directly or through others.
  2. Our libraries link in one direction: no cycle.
  3. A file includes another target's header only when its own target links that target,
     so the includes run the way the links do (gui folders among them).
  4. No file outside a gui/ folder includes a toolkit header.
"""
import os
import re
import shutil
import sys
import tempfile

SKIP_DIRS = {".git", "build", "tests", "bench", "scripts", "cmake", "lang", ".ci"}
LIB_TYPES = {"STATIC_LIBRARY", "SHARED_LIBRARY", "MODULE_LIBRARY", "INTERFACE_LIBRARY"}
TOOLKIT_ITEM = re.compile(r"(^|[-/])(lwx_|wx_|wxWidgets)")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]', re.M)


def in_gui_folder(path):
    return "/gui/" in path.replace(os.sep, "/")


def under(path, top):
    rel = os.path.relpath(path, top)
    return not rel.startswith("..")


class Graph:
    def __init__(self, tsv, root):
        self.links = {}    # target -> direct link items
        self.types = {}
        self.sources = {}  # target -> absolute source paths
        self.dirs = {}
        for line in open(tsv, encoding="utf-8"):
            parts = line.rstrip("\n").split("\t")
            if len(parts) < 5:
                continue
            name, type_, dir_, links, srcs = parts[:5]
            self.types[name] = type_
            self.dirs[name] = dir_
            self.links[name] = [x for x in links.split(";") if x]
            self.sources[name] = [os.path.normpath(x) for x in srcs.split(";") if x]
        self.root = os.path.abspath(root)
        ours = [t for t in self.types if self.is_ours(t)]
        self.toolkit = {t for t in self.types
                        if any(TOOLKIT_ITEM.search(x) for x in self.links[t]) and not self.is_ours(t)}
        self.ours = set(ours)

    def is_ours(self, t):
        d = os.path.normpath(self.dirs[t])
        if d == self.root or not under(d, self.root):
            return False
        top = os.path.relpath(d, self.root).split(os.sep)[0]
        return top not in SKIP_DIRS

    def is_gui(self, t):
        srcs = self.sources[t]
        if srcs:
            return all(in_gui_folder(s) for s in srcs)
        return t.endswith("_gui")

    def is_core(self, t):
        return t in self.ours and self.types[t] in LIB_TYPES and not self.is_gui(t)

    def reach(self, start):
        """Every target `start` links, directly or through others, with one path to each."""
        seen = {start: [start]}
        todo = [start]
        while todo:
            t = todo.pop()
            for n in self.links.get(t, []):
                if n in self.types and n not in seen:
                    seen[n] = seen[t] + [n]
                    todo.append(n)
        return seen

    def cycle(self):
        state = {}
        stack = []

        def visit(t):
            state[t] = 1
            stack.append(t)
            for n in self.links.get(t, []):
                if n not in self.ours:
                    continue
                if state.get(n) == 1:
                    return stack[stack.index(n):] + [n]
                if n not in state:
                    found = visit(n)
                    if found:
                        return found
            stack.pop()
            state[t] = 2
            return None

        for t in sorted(self.ours):
            if t not in state:
                found = visit(t)
                if found:
                    return found
        return None


def check_links(g):
    errors = []
    for t in sorted(g.ours):
        if not g.is_core(t):
            continue
        for n, path in sorted(g.reach(t).items()):
            if n in g.toolkit or (n in g.ours and g.is_gui(n)):
                errors.append(f"core library {t} links {n}: {' -> '.join(path)}")
    loop = g.cycle()
    if loop:
        errors.append("libraries link in a cycle: " + " -> ".join(loop))
    return errors


def owners(g):
    """Which of our targets a file of the tree belongs to: its own target for a source,
    the target of the same-named source or of the nearest folder with sources for a header."""
    by_file, by_dir = {}, {}
    for t in g.ours:
        for s in g.sources[t]:
            by_file[s] = t
            by_dir.setdefault(os.path.dirname(s), set()).add(t)

    def owner(path):
        path = os.path.normpath(path)
        if path in by_file:
            return by_file[path]
        stem = os.path.splitext(path)[0]
        for ext in (".cpp", ".c", ".cc"):
            if stem + ext in by_file:
                return by_file[stem + ext]
        d = os.path.dirname(path)
        while under(d, g.root) and d != g.root:
            ts = by_dir.get(d)
            if ts and len(ts) == 1:
                return next(iter(ts))
            if ts:
                return None
            if os.path.basename(d) == "gui":
                return None  # a gui folder's header never falls back to its core parent
            d = os.path.dirname(d)
        return None

    return owner


def tree_files(root):
    for d, subdirs, files in os.walk(root):
        rel = os.path.relpath(d, root)
        if rel == ".":
            subdirs[:] = [s for s in subdirs if s not in SKIP_DIRS]
        for f in files:
            if f.endswith((".h", ".hpp", ".c", ".cc", ".cpp")):
                yield os.path.join(d, f)


def check_includes(g):
    errors = []
    owner = owners(g)
    reach_cache = {}
    for f in sorted(tree_files(g.root)):
        rel = os.path.relpath(f, g.root)
        text = open(f, encoding="utf-8", errors="replace").read()
        mine = owner(f)
        for kind, inc in INCLUDE.findall(text):
            if kind == "<":
                if inc.startswith("wx/") and not in_gui_folder(rel):
                    errors.append(f"{rel} includes <{inc}> outside a gui folder")
                continue
            target_file = None
            for base in (g.root, os.path.dirname(f)):
                cand = os.path.normpath(os.path.join(base, inc))
                if os.path.isfile(cand):
                    target_file = cand
                    break
            if not target_file or not under(target_file, g.root):
                continue
            theirs = owner(target_file)
            if mine is None or theirs is None or theirs == mine:
                continue
            if mine not in reach_cache:
                reach_cache[mine] = g.reach(mine)
            if theirs not in reach_cache[mine]:
                errors.append(f"{rel} includes {inc}, but {mine} does not link {theirs}")
    return errors


def check(tsv, root):
    g = Graph(tsv, root)
    return check_links(g) + check_includes(g)


def self_test():
    """Small trees with one fault each: the check must name it; the clean tree passes."""
    def tree(files, targets):
        root = tempfile.mkdtemp(prefix="layers.")
        for path, text in files.items():
            os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
            with open(os.path.join(root, path), "w", encoding="utf-8") as out:
                out.write(text)
        tsv = os.path.join(root, "layers.tsv")
        with open(tsv, "w", encoding="utf-8") as out:
            out.write("wx_all\tINTERFACE_LIBRARY\t%s\t-lwx_baseu-3.2\t\n" % root)
            for name, (type_, dir_, links, srcs) in targets.items():
                out.write("\t".join([name, type_, os.path.join(root, dir_), ";".join(links),
                                     ";".join(os.path.join(root, s) for s in srcs)]) + "\n")
        return tsv, root

    files = {
        "lo/A.h": "#pragma once\n", "lo/A.cpp": '#include "lo/A.h"\n',
        "lo/gui/P.h": "#include <wx/panel.h>\n", "lo/gui/P.cpp": '#include "lo/gui/P.h"\n',
        "hi/B.h": '#include "lo/A.h"\n', "hi/B.cpp": '#include "hi/B.h"\n',
        "hi/gui/Q.cpp": '#include "lo/gui/P.h"\n#include "hi/B.h"\n',
    }
    targets = {
        "lo_core": ("STATIC_LIBRARY", "lo", [], ["lo/A.cpp"]),
        "lo_gui": ("STATIC_LIBRARY", "lo", ["lo_core", "wx_all"], ["lo/gui/P.cpp"]),
        "hi_core": ("STATIC_LIBRARY", "hi", ["lo_core"], ["hi/B.cpp"]),
        "hi_gui": ("STATIC_LIBRARY", "hi", ["hi_core", "lo_gui", "wx_all"], ["hi/gui/Q.cpp"]),
    }
    cases = [("clean tree", {}, {}, None)]
    cases.append(("core links the toolkit", {},
                  {"lo_core": ("STATIC_LIBRARY", "lo", ["wx_all"], ["lo/A.cpp"])},
                  "core library lo_core links wx_all"))
    cases.append(("core links a gui library through another", {},
                  {"lo_core": ("STATIC_LIBRARY", "lo", [], ["lo/A.cpp"]),
                   "hi_core": ("STATIC_LIBRARY", "hi", ["lo_core", "lo_gui"], ["hi/B.cpp"])},
                  "core library hi_core links lo_gui"))
    cases.append(("gui libraries in a cycle", {},
                  {"lo_gui": ("STATIC_LIBRARY", "lo", ["lo_core", "hi_gui", "wx_all"], ["lo/gui/P.cpp"])},
                  "libraries link in a cycle"))
    cases.append(("lower gui includes a higher gui", {"lo/gui/P.cpp": '#include "hi/gui/Q.h"\n',
                                                      "hi/gui/Q.h": "#pragma once\n"}, {},
                  "lo/gui/P.cpp includes hi/gui/Q.h, but lo_gui does not link hi_gui"))
    cases.append(("core includes a gui header", {"hi/B.cpp": '#include "lo/gui/P.h"\n'}, {},
                  "hi/B.cpp includes lo/gui/P.h, but hi_core does not link lo_gui"))
    cases.append(("core includes the toolkit", {"lo/A.h": "#include <wx/string.h>\n"}, {},
                  "lo/A.h includes <wx/string.h> outside a gui folder"))
    cases.append(("lower core includes a higher core", {"lo/A.cpp": '#include "hi/B.h"\n'}, {},
                  "lo/A.cpp includes hi/B.h, but lo_core does not link hi_core"))
    failed = 0
    for name, extra_files, extra_targets, expected in cases:
        tsv, root = tree({**files, **extra_files}, {**targets, **extra_targets})
        try:
            errors = check(tsv, root)
        finally:
            shutil.rmtree(root, ignore_errors=True)
        if expected is None:
            ok = not errors
        else:
            ok = any(e.startswith(expected) for e in errors)
        print(("ok    " if ok else "FAILED") + f" {name}: {errors or 'no findings'}")
        failed += not ok
    return 1 if failed else 0


def main(argv):
    if argv[1:] == ["--self-test"]:
        return self_test()
    if len(argv) != 3:
        print(__doc__)
        return 2
    errors = check(argv[1], argv[2])
    for e in errors:
        print(e)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
