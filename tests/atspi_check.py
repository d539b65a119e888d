# SPDX-License-Identifier: MIT
"""Reads the running demo's window back through AT-SPI, as a screen reader would, and checks
what it is told: the value labels named after their row and column with the reading as their
description, the six lamps with their state (a dark one still there), the history table's
name, and the progress bar counting the groups of a download started through AT-SPI itself.

Run by accessibility_test.sh inside a private D-Bus session, against `checkkorvelt-demo
--live missing` (one input dead in turn, so lamps go dark).
"""

import argparse
import re
import sys

import pyatspi
from gi.repository import GLib

DEADLINE_S = 30
STORED_GROUPS = 36  # the demo's stored history

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)


def wait_until(condition, what, seconds=DEADLINE_S):
    """Runs the event loop until condition() returns something true, looking again at every
    event the application sends and every tenth of a second; None after the deadline."""
    result = [None]
    loop = GLib.MainLoop()

    def look(*_):
        try:
            result[0] = condition()
        except Exception:  # the tree changes under us while the window builds
            result[0] = None
        if result[0] and loop.is_running():
            loop.quit()
        return True

    def give_up():
        loop.quit()
        return False

    look()
    if result[0]:
        return result[0]
    events = ["object:property-change:accessible-description",
              "object:property-change:accessible-name", "object:state-changed",
              "object:children-changed", "window:create"]
    pyatspi.Registry.registerEventListener(look, *events)
    sources = [GLib.timeout_add(100, look), GLib.timeout_add_seconds(seconds, give_up)]
    loop.run()
    pyatspi.Registry.deregisterEventListener(look, *events)
    for source in sources:
        if GLib.MainContext.default().find_source_by_id(source):
            GLib.source_remove(source)
    if not result[0]:
        print("FAIL: gave up waiting for", what, file=sys.stderr)
    return result[0]


def walk(node):
    """The tree, without the cells of tables (thousands of them, none checked here)."""
    yield node
    if node.getRole() == pyatspi.ROLE_TABLE:
        return
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child)


def find_app(pid):
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def states(node):
    return set(node.getState().getStates())


def named(app, role):
    """Objects of a role by name, from the whole tree."""
    out = {}
    for node in walk(app):
        if node.getRole() == role and node.name:
            out.setdefault(node.name, []).append(node)
    return out


VOLTAGES = ["A1", "A2", "B1", "B2", "C1", "C2"]
PAIRS = [("A1A2", "定性相位"), ("B1B2", "定性相位"), ("C1C2", "定性相位"),
         ("A1B2", "定性相序"), ("B1C2", "定性相序"), ("C1A2", "定性相序")]
READING = {"电压": r"(\d+|--) kV", "相位": r"\d{3}|------", "定性相位": r"同相|异相|------",
           "定性相序": r"顺相序|逆相序|------"}


def check_live_panel(app):
    labels = named(app, pyatspi.ROLE_LABEL)
    expected = [f"{i} 电压" for i in VOLTAGES]
    for pair, verdict in PAIRS:
        expected += [f"{pair} 相位", f"{pair} {verdict}"]
    for name in expected:
        found = labels.get(name, [])
        check(len(found) == 1, f"one label named {name!r}, found {len(found)}")
        if not found:
            continue
        column = name.split(" ", 1)[1]
        description = found[0].description
        check(re.fullmatch(READING[column], description) is not None,
              f"{name!r} describes its reading, got {description!r}")
        check(pyatspi.STATE_SHOWING in states(found[0]), f"{name!r} is showing")

    # Lamps: named, lit or dark, and a dark one is still there for the reader.
    lamps = {}
    for i in VOLTAGES:
        found = labels.get(f"{i} 指示灯", [])
        check(len(found) == 1, f"one lamp named '{i} 指示灯', found {len(found)}")
        if found:
            lamps[i] = found[0]
    for i, lamp in lamps.items():
        check(lamp.description in ("亮", "灭"), f"lamp {i} says 亮 or 灭, got {lamp.description!r}")
        check(pyatspi.STATE_VISIBLE in states(lamp), f"lamp {i} is in view ({lamp.description})")
    return lamps


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pid", type=int, required=True)
    pid = parser.parse_args().pid

    app = wait_until(lambda: find_app(pid), "the demo on the accessibility bus")
    if app is None:
        return 1

    # A reading with a dead input: a dark lamp and "-- kV" beside lit ones and readings.
    def dark_and_lit():
        labels = named(app, pyatspi.ROLE_LABEL)
        said = {l[0].description for n, l in labels.items() if n.endswith("指示灯")}
        voltages = [labels.get(f"{i} 电压", [None])[0] for i in VOLTAGES]
        read = any(v is not None and re.fullmatch(r"\d+ kV", v.description) for v in voltages)
        return {"亮", "灭"} <= said and read
    if not wait_until(dark_and_lit, "a reading with a lamp lit and a lamp dark"):
        return 1
    check_live_panel(app)

    # The history table by name.
    tables = named(app, pyatspi.ROLE_TABLE)
    check("历史记录" in tables, f"the history table is named 历史记录, tables: {list(tables)}")

    # The progress bar, named, counting a download started as a screen-reader user would.
    bars = named(app, pyatspi.ROLE_PROGRESS_BAR).get("读取进度", [])
    check(len(bars) == 1, f"one progress bar named 读取进度, found {len(bars)}")
    tabs = named(app, pyatspi.ROLE_PAGE_TAB).get("历史记录", [])
    check(len(tabs) == 1, f"one tab named 历史记录, found {len(tabs)}")
    if not bars or len(tabs) != 1:
        return 1
    bar = bars[0]
    tabs[0].queryAction().doAction(0)

    def read_button():
        buttons = named(app, pyatspi.ROLE_PUSH_BUTTON).get("读取", [])
        return buttons[0] if buttons and pyatspi.STATE_ENABLED in states(buttons[0]) else None
    button = wait_until(read_button, "the read button enabled in the history view")
    if button is None:
        return 1
    action = button.queryAction()
    action.doAction(0)
    done = f"{STORED_GROUPS} / {STORED_GROUPS}"
    counted = wait_until(lambda: bar.description == done and bar, f"the bar to say {done!r}")
    check(bool(counted), f"the progress bar says {done!r}, got {bar.description!r}")
    value = bar.queryValue()
    check(value.maximumValue == STORED_GROUPS, f"the bar's maximum is {STORED_GROUPS}")
    check(value.currentValue == STORED_GROUPS, f"the bar's value is {STORED_GROUPS}")

    if failures:
        print(f"{len(failures)} failures", file=sys.stderr)
        return 1
    print("AT-SPI: 18 value labels, 6 lamps, the table and the progress bar read back")
    return 0


if __name__ == "__main__":
    sys.exit(main())
