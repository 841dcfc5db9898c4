#!/usr/bin/env python3
"""The layers of src/, checked from the sources and the CMake files.

    check_layers.py SRC_DIR        fails (exit 1) listing every include or
                                   link that goes up or sideways
    check_layers.py --graph SRC_DIR  prints which folder includes which
    check_layers.py --self-test    shows that the check catches each kind
                                   of wrong arrow, in trees made for it

Each folder may use the folders below it and itself, never one above it or
one beside it on the same level:

    ui
    config   dispatch
    capture
    detector
    dsp
    win32    (the Win32 owners and the executable's path: usable by all)
"""

import os
import re
import sys
import tempfile

LEVELS = {
    "win32": 0,
    "dsp": 1,
    "detector": 2,
    "capture": 3,
    "config": 4,
    "dispatch": 4,
    "ui": 5,
}
# Outside src/ but included by the program itself: the resource ids.
ALLOWED_OUTSIDE = {"resources": {"ui"}}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)
ADD_TARGET = re.compile(r"\badd_(?:library|executable)\s*\(\s*([A-Za-z0-9_.-]+)")
LINK = re.compile(r"\btarget_link_libraries\s*\(([^)]*)\)", re.DOTALL)


def may_use(user, used):
    return used == user or LEVELS[used] < LEVELS[user]


def source_files(src):
    for folder in sorted(LEVELS):
        root = os.path.join(src, folder)
        if not os.path.isdir(root):
            continue
        for dirpath, _, names in os.walk(root):
            for name in sorted(names):
                if name.endswith((".h", ".cpp")):
                    yield folder, os.path.join(dirpath, name)


def include_edges(src):
    """(user folder, used folder, file, included path) for every include of
    a folder of ours."""
    for folder, path in source_files(src):
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        for included in INCLUDE.findall(text):
            first = included.split("/")[0] if "/" in included else None
            yield folder, first, os.path.relpath(path, src), included


def cmake_targets(src):
    """Target name -> folder, and (folder, linked target, CMake file) for
    every target_link_libraries of a src/ CMake file."""
    owner = {}
    links = []
    for folder in sorted(LEVELS):
        path = os.path.join(src, folder, "CMakeLists.txt")
        if not os.path.exists(path):
            continue
        with open(path, encoding="utf-8") as f:
            text = re.sub(r"#[^\n]*", "", f.read())
        for name in ADD_TARGET.findall(text):
            owner[name] = folder
        for args in LINK.findall(text):
            words = args.split()
            for word in words[1:]:
                links.append((folder, word, os.path.relpath(path, src)))
    return owner, links


def violations(src):
    found = []
    for user, used, where, included in include_edges(src):
        if used is None:
            # A header of its own folder, named without the folder.
            if not os.path.exists(os.path.join(src, os.path.dirname(where), included)):
                found.append(f"{where}: includes \"{included}\", which is not beside it")
            continue
        if used in LEVELS:
            if not may_use(user, used):
                found.append(f"{where}: {user} includes {used} (\"{included}\")")
        elif user not in ALLOWED_OUTSIDE.get(used, set()):
            found.append(f"{where}: includes \"{included}\" from outside src/")
    owner, links = cmake_targets(src)
    for user, target, where in links:
        used = owner.get(target)
        if used is not None and not may_use(user, used):
            found.append(f"{where}: a {user} target links {target} of {used}")
    return found


def graph(src):
    edges = {}
    for user, used, _, _ in include_edges(src):
        if used in LEVELS and used != user:
            edges[(user, used)] = edges.get((user, used), 0) + 1
    return edges


def write(root, path, text):
    full = os.path.join(root, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "w", encoding="utf-8") as f:
        f.write(text)


def self_test():
    clean = {
        "win32/owners_win.h": "#pragma once\n#include <windows.h>\n",
        "dsp/transform.h": "#pragma once\n",
        "detector/detector.h": '#include "dsp/transform.h"\n#include "win32/owners_win.h"\n',
        "detector/detector.cpp": '#include "detector/detector.h"\n',
        "capture/capture.h": '#include "detector/detector.h"\n',
        "config/config.cpp": '#include "capture/capture.h"\n',
        "dispatch/dispatch.cpp": '#include "detector/detector.h"\n',
        "ui/window.cpp": '#include "config/config.h"\n#include "dispatch/d.h"\n#include "resources/ids.h"\n',
        "capture/CMakeLists.txt": "add_library(kantiq_capture_logic STATIC capture.cpp)\n"
                                  "target_link_libraries(kantiq_capture_logic PUBLIC kantiq_detector)\n",
        "detector/CMakeLists.txt": "add_library(kantiq_detector STATIC detector.cpp)\n",
        "ui/CMakeLists.txt": "add_library(kantiq_ui_logic STATIC window.cpp)\n"
                             "# target_link_libraries(kantiq_capture_logic PUBLIC kantiq_ui_logic)\n"
                             "target_link_libraries(kantiq_ui_logic PUBLIC kantiq_capture_logic\n  kantiq_detector)\n",
    }
    wrong = {
        "a detector file including ui": ("detector/bad.h", '#include "ui/waveform_view.h"\n'),
        "a capture file including config": ("capture/bad.cpp", '  #  include "config/startup.h"\n'),
        "config including dispatch beside it": ("config/bad.cpp", '#include "dispatch/alarm_log.h"\n'),
        "win32 including detector": ("win32/bad_win.cpp", '#include "detector/time_value.h"\n'),
        "src including a tool": ("dispatch/bad.cpp", '#include "common/cp1252.h"\n'),
        "a missing local include": ("capture/bad2.cpp", '#include "nowhere.h"\n'),
        "capture linking the ui library": (
            "capture/CMakeLists.txt",
            clean["capture/CMakeLists.txt"] + "target_link_libraries(kantiq_capture_logic PUBLIC\n"
                                              "  kantiq_dsp kantiq_ui_logic)\n"),
    }
    failures = 0
    with tempfile.TemporaryDirectory() as root:
        for path, text in clean.items():
            write(root, path, text)
        found = violations(root)
        if found:
            print("FAIL the clean tree is reported:", *found, sep="\n  ")
            failures += 1
        else:
            print("ok   the clean tree passes")
        expected_graph = {("detector", "dsp"), ("detector", "win32"), ("capture", "detector"),
                          ("config", "capture"), ("dispatch", "detector"), ("ui", "config"), ("ui", "dispatch")}
        if set(graph(root)) != expected_graph:
            print("FAIL graph:", sorted(graph(root)))
            failures += 1
        else:
            print("ok   the graph names each arrow")
    for what, (path, text) in wrong.items():
        with tempfile.TemporaryDirectory() as root:
            for p, t in clean.items():
                write(root, p, t)
            write(root, path, text)
            found = violations(root)
            if len(found) == 1:
                print(f"ok   {what}: {found[0]}")
            else:
                print(f"FAIL {what}: reported {found}")
                failures += 1
    return 1 if failures else 0


def main(argv):
    if argv == ["--self-test"]:
        return self_test()
    if len(argv) == 2 and argv[0] == "--graph":
        for (user, used), count in sorted(graph(argv[1]).items(), key=lambda e: (-LEVELS[e[0][0]], e[0])):
            print(f"{user} -> {used} ({count})")
        return 0
    if len(argv) != 1:
        print(__doc__, file=sys.stderr)
        return 2
    found = violations(argv[0])
    for line in found:
        print(line)
    if found:
        print(f"{len(found)} arrows go up or sideways", file=sys.stderr)
        return 1
    print("src/: every include and link goes down")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
