#!/usr/bin/env python3
"""The layers of src/ and of the sender (tools/sender), checked from the
sources and the CMake files.

    check_layers.py SRC_DIR        fails (exit 1) listing every include or
                                   link that goes up or sideways
    check_layers.py --sender SENDER_DIR   the same for the sender's folders
    check_layers.py --graph [--sender] DIR  prints which folder includes which,
                                   as the fenced block docs/structure.md holds
    check_layers.py --check-graph DOC [--sender] DIR  fails when DOC's block
                                   after the --graph command differs from it
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

The sender's folders, included as "sender/<folder>/<file>" from tools/:

    win                      the Windows layer: the program, its files, the
                             serial line, WinHTTP
    command_line             S.exe's command line (uses src/dispatch)
    delivery                 a run: rounds, attempts, the report; the check
    modem    http            the modem dialogue | the HTTP gateway
    message  sim             the message, its outbox, the channel, the log
                             and the clock | the SIM's PIN rules
    config                   S.toml read into settings
    text                     Windows-1252 and GSM-safe texts, SMS parts
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

SENDER_LEVELS = {
    "text": 0,
    "config": 1,
    "message": 2,
    "sim": 2,
    "modem": 3,
    "http": 3,
    "delivery": 4,
    "command_line": 5,
    "win": 6,
}
# What the sender may include from outside itself, and which of its folders:
# the shared text conversions (tools/common), the Win32 owners, and the
# program's command line.
SENDER_ALLOWED_OUTSIDE = {
    "common": set(SENDER_LEVELS),
    "win32": {"win"},
    "dispatch": {"command_line"},
}


class Tree:
    """A tree of layered folders: their levels, the prefix its own includes
    start with, and what it may include from outside."""

    def __init__(self, name, levels, prefix, allowed_outside):
        self.name = name
        self.levels = levels
        self.prefix = prefix
        self.allowed_outside = allowed_outside

    def folder_of(self, included):
        """The folder an include names (None: named without a folder), and
        whether it is one of this tree's."""
        if self.prefix:
            if included.startswith(self.prefix):
                rest = included[len(self.prefix):]
                return (rest.split("/")[0] if "/" in rest else rest), True
        if "/" not in included:
            return None, True
        first = included.split("/")[0]
        return first, first in self.levels and not self.prefix


SRC = Tree("src/", LEVELS, "", ALLOWED_OUTSIDE)
SENDER = Tree("tools/sender/", SENDER_LEVELS, "sender/", SENDER_ALLOWED_OUTSIDE)

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)
ADD_TARGET = re.compile(r"\badd_(?:library|executable)\s*\(\s*([A-Za-z0-9_.-]+)")
LINK = re.compile(r"\btarget_link_libraries\s*\(([^)]*)\)", re.DOTALL)


def may_use(user, used, tree=SRC):
    return used == user or tree.levels[used] < tree.levels[user]


def source_files(src, tree=SRC):
    for folder in sorted(tree.levels):
        root = os.path.join(src, folder)
        if not os.path.isdir(root):
            continue
        for dirpath, _, names in os.walk(root):
            for name in sorted(names):
                if name.endswith((".h", ".cpp")):
                    yield folder, os.path.join(dirpath, name)


def include_edges(src, tree=SRC):
    """(user folder, used folder, whether it is one of the tree's, file,
    included path) for every quoted include."""
    for folder, path in source_files(src, tree):
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        for included in INCLUDE.findall(text):
            used, ours = tree.folder_of(included)
            yield folder, used, ours, os.path.relpath(path, src), included


def cmake_targets(src, tree=SRC):
    """Target name -> folder, and (folder, linked target, CMake file) for
    every target_link_libraries of a CMake file in one of the folders."""
    owner = {}
    links = []
    for folder in sorted(tree.levels):
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


def violations(src, tree=SRC):
    found = []
    for user, used, ours, where, included in include_edges(src, tree):
        if used is None:
            # A header of its own folder, named without the folder.
            if not os.path.exists(os.path.join(src, os.path.dirname(where), included)):
                found.append(f"{where}: includes \"{included}\", which is not beside it")
            continue
        if ours and used in tree.levels:
            if not may_use(user, used, tree):
                found.append(f"{where}: {user} includes {used} (\"{included}\")")
        elif ours:
            found.append(f"{where}: includes \"{included}\", which is in no layer")
        elif user not in tree.allowed_outside.get(used, set()):
            found.append(f"{where}: includes \"{included}\" from outside {tree.name}")
    owner, links = cmake_targets(src, tree)
    for user, target, where in links:
        used = owner.get(target)
        if used is not None and not may_use(user, used, tree):
            found.append(f"{where}: a {user} target links {target} of {used}")
    return found


def graph(src, tree=SRC):
    edges = {}
    for user, used, ours, _, _ in include_edges(src, tree):
        if ours and used in tree.levels and used != user:
            edges[(user, used)] = edges.get((user, used), 0) + 1
    return edges


def graph_command(tree):
    """The command that prints the tree's graph, as the documentation names it."""
    if tree is SENDER:
        return "python3 tests/layers/check_layers.py --graph --sender tools/sender"
    return "python3 tests/layers/check_layers.py --graph src"


def graph_block(src, tree=SRC):
    """The graph as a fenced Markdown block: one line per folder that includes
    others, from the top layer down, each used folder with its count of
    #include lines."""
    users = {}
    for (user, used), count in graph(src, tree).items():
        users.setdefault(user, []).append((used, count))
    lines = ["```"]
    for user in sorted(users, key=lambda u: (-tree.levels[u], u)):
        used = ", ".join(f"{name} ({count})" for name, count in sorted(users[user]))
        lines.append(f"{user} -> {used}")
    lines.append("```")
    return "\n".join(lines) + "\n"


def documented_block(doc, command):
    """The first fenced block after the line that names `command` in the
    documentation text (None: no such line or block)."""
    lines = doc.splitlines(keepends=True)
    named = [i for i, line in enumerate(lines) if f"`{command}`" in line]
    if not named:
        return None
    start = next((i for i in range(named[0] + 1, len(lines)) if lines[i].startswith("```")), None)
    if start is None:
        return None
    end = next((i for i in range(start + 1, len(lines)) if lines[i].startswith("```")), None)
    if end is None:
        return None
    return "".join(lines[start:end + 1])


def stale_graph(doc, src, tree=SRC):
    """Why the documented graph is not the printed one (None: it is)."""
    command = graph_command(tree)
    printed = graph_block(src, tree)
    documented = documented_block(doc, command)
    if documented is None:
        return f"no line naming `{command}` with a fenced block after it"
    if documented != printed:
        return f"the graph after `{command}` differs from what it prints:\n" + printed
    return None


def write(root, path, text):
    full = os.path.join(root, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "w", encoding="utf-8") as f:
        f.write(text)


def check_trees(tree, clean, expected_graph, wrong):
    """Runs the check on a clean tree and on each wrong one; the number of
    failures."""
    failures = 0
    with tempfile.TemporaryDirectory() as root:
        for path, text in clean.items():
            write(root, path, text)
        found = violations(root, tree)
        if found:
            print(f"FAIL the clean {tree.name} tree is reported:", *found, sep="\n  ")
            failures += 1
        else:
            print(f"ok   the clean {tree.name} tree passes")
        if set(graph(root, tree)) != expected_graph:
            print("FAIL graph:", sorted(graph(root, tree)))
            failures += 1
        else:
            print(f"ok   the {tree.name} graph names each arrow")
    for what, (path, text) in wrong.items():
        with tempfile.TemporaryDirectory() as root:
            for p, t in clean.items():
                write(root, p, t)
            write(root, path, text)
            found = violations(root, tree)
            if len(found) == 1:
                print(f"ok   {what}: {found[0]}")
            else:
                print(f"FAIL {what}: reported {found}")
                failures += 1
    return failures


def check_graph_doc(tree, clean, include):
    """Runs the documentation check on a doc that holds the clean tree's
    graph, and on docs it must refuse; the number of failures. `include` is
    one more include line, for a file of the tree's top folder."""
    failures = 0
    with tempfile.TemporaryDirectory() as root:
        for path, text in clean.items():
            write(root, path, text)
        command = graph_command(tree)
        block = graph_block(root, tree)
        doc = f"# Layers\n\nPrinted by `{command}`:\n\n{block}\nMore text.\n\n```\nother\n```\n"
        top = max(tree.levels, key=lambda f: tree.levels[f])
        write(root, f"{top}/added.cpp", include)
        grown = graph_block(root, tree)
        refused = {
            "a count typed by hand": doc.replace("(1)", "(2)", 1),
            "a doc that does not name the command": doc.replace(command, "check_layers.py"),
            "a doc with the graph before the command": f"{block}\n`{command}`\n",
            "a doc whose tree got one more include": None,
        }
        if grown == block or "(1)" not in block:
            print(f"FAIL the {tree.name} graph does not count the added include:\n{grown}")
            failures += 1
        for what, text in refused.items():
            why = stale_graph(text, root, tree) if text is not None else stale_graph(doc, root, tree)
            if why:
                print(f"ok   {what}: refused")
            else:
                print(f"FAIL {what}: passes")
                failures += 1
        os.remove(os.path.join(root, top, "added.cpp"))
        why = stale_graph(doc, root, tree)
        if why:
            print(f"FAIL the {tree.name} doc holding the printed graph is refused: {why}")
            failures += 1
        else:
            print(f"ok   the {tree.name} doc holding the printed graph passes")
    return failures


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
    expected_graph = {("detector", "dsp"), ("detector", "win32"), ("capture", "detector"),
                      ("config", "capture"), ("dispatch", "detector"), ("ui", "config"), ("ui", "dispatch")}
    failures = check_trees(SRC, clean, expected_graph, wrong)
    failures += check_graph_doc(SRC, clean, '#include "dsp/transform.h"\n')

    sender_clean = {
        "text/sms_text.cpp": '#include "sender/text/sms_text.h"\n#include "common/cp1252.h"\n',
        "config/sender_config.h": "#pragma once\n",
        "config/sender_config.cpp": '#include "sender/config/sender_config.h"\n#include "sender/text/sms_text.h"\n',
        "message/outbox.h": '#include "sender/config/sender_config.h"\n',
        "sim/pin_guard.h": '#include "sender/sim/state_file.h"\n',
        "modem/modem_session.h": '#include "sender/message/outbox.h"\n#include "sender/sim/pin_guard.h"\n',
        "http/http_gateway.cpp": '#include "common/json_text.h"\n#include "sender/message/outbox.h"\n',
        "delivery/delivery.h": '#include "sender/message/outbox.h"\n',
        "command_line/command_line.cpp": '#include "sender/delivery/delivery.h"\n#include "dispatch/sender_protocol.h"\n',
        "win/sender_main_win.cpp": '#include "sender/command_line/command_line.h"\n#include "win32/owners_win.h"\n'
                                   '#include "sender/modem/modem_session.h"\n#include "sender/http/http_gateway.h"\n',
    }
    sender_graph = {("config", "text"), ("message", "config"), ("modem", "message"), ("modem", "sim"),
                    ("http", "message"), ("delivery", "message"), ("command_line", "delivery"),
                    ("win", "command_line"), ("win", "modem"), ("win", "http")}
    sender_wrong = {
        "the message including the run above it": ("message/bad.h", '#include "sender/delivery/delivery.h"\n'),
        "the modem including the gateway beside it": ("modem/bad.cpp", '#include "sender/http/http_gateway.h"\n'),
        "the SIM including the message beside it": ("sim/bad.cpp", '#include "sender/message/outbox.h"\n'),
        "the config reading the SIM above it": ("config/bad.cpp", '#include "sender/sim/pin_guard.h"\n'),
        "a file naming a folder the sender does not have": ("http/bad.cpp", '#include "sender/outbox.h"\n'),
        "a header named without its folder that is not beside it": ("delivery/bad.cpp", '#include "outbox.h"\n'),
        "the Win32 owners outside the Windows layer": ("modem/bad_win.cpp", '#include "win32/owners_win.h"\n'),
        "the program's dispatch below the command line": ("delivery/bad.cpp", '#include "dispatch/alarm_log.h"\n'),
        "a folder of src/ of the same name as one of the sender's": ("text/bad.cpp", '#include "config/startup.h"\n'),
    }
    failures += check_trees(SENDER, sender_clean, sender_graph, sender_wrong)
    failures += check_graph_doc(SENDER, sender_clean, '#include "sender/text/sms_text.h"\n')
    return 1 if failures else 0


def main(argv):
    if argv == ["--self-test"]:
        return self_test()
    tree = SRC
    if "--sender" in argv:
        tree = SENDER
        argv = [a for a in argv if a != "--sender"]
    if len(argv) == 2 and argv[0] == "--graph":
        print(graph_block(argv[1], tree), end="")
        return 0
    if len(argv) == 3 and argv[0] == "--check-graph":
        with open(argv[1], encoding="utf-8") as f:
            why = stale_graph(f.read(), argv[2], tree)
        if why:
            print(f"{argv[1]}: {why}", file=sys.stderr)
            return 1
        print(f"{argv[1]}: the {tree.name} graph is the one the check prints")
        return 0
    if len(argv) != 1:
        print(__doc__, file=sys.stderr)
        return 2
    found = violations(argv[0], tree)
    for line in found:
        print(line)
    if found:
        print(f"{len(found)} arrows go up or sideways", file=sys.stderr)
        return 1
    print(f"{tree.name}: every include and link goes down")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
