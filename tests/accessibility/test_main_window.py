"""The main window and its Find bar as a screen reader reads and operates
them through the accessibility bus."""
import re
import unittest

from vantrel_bus import Vantrel, actions, do_action, find, role, states, text_of, wait_for, walk


def status_of(program):
    return next(obj.name for obj in walk(program.main) if role(obj) == "label" and obj.name != "Time column")


class MainWindow(unittest.TestCase):
    def setUp(self):
        self.program = Vantrel().start()
        self.addCleanup(self.program.close)
        self.main = self.program.main

    def button(self, name):
        for button_role in ("push button", "check box"):
            found = find(self.main, button_role, name)
            if found is not None:
                return found
        self.fail("no button %r" % name)

    def test_every_control_reads_its_role_name_and_state(self):
        # Stopped: what can start a capture is enabled, what needs one is not.
        for name, button_role, enabled in [
                ("Menu", "push button", True), ("Begin", "push button", True), ("Pause", "check box", False),
                ("Stop", "push button", False), ("Save", "push button", True),
                ("Clear Output", "push button", True), ("Port Setting", "push button", True),
                ("About", "push button", True)]:
            with self.subTest(button=name):
                button = self.button(name)
                self.assertEqual(role(button), button_role)
                self.assertEqual("enabled" in states(button), enabled, states(button))
                self.assertIn("Press", actions(button))
        self.assertIn("expandable", states(self.button("Menu")))
        self.assertNotIn("expanded", states(self.button("Menu")))
        self.assertNotIn("pressed", states(self.button("Pause")))

        output = find(self.main, "text", "Output")
        self.assertTrue({"read only", "multi line", "focusable"} <= states(output), states(output))
        self.assertTrue(text_of(output).startswith("Welcome to Vantrel"), text_of(output))
        self.assertIn("COM5", status_of(self.program))
        self.assertIn("Stopped", status_of(self.program))

    def test_a_capture_read_and_paused_through_the_bus(self):
        do_action(self.button("Begin"), "Press")
        pause = self.button("Pause")
        wait_for("Pause offered during the capture", lambda: "enabled" in states(pause))
        self.assertNotIn("enabled", states(self.button("Begin")))
        self.assertIn("enabled", states(self.button("Stop")))
        wait_for("the capture recording", lambda: "Recording" in status_of(self.program))

        output = find(self.main, "text", "Output")
        self.program.send(b"$GPGGA,first line\r\n")
        wait_for("the chunk in the output's text", lambda: "$GPGGA,first line" in text_of(output))

        do_action(pause, "Toggle")
        wait_for("Pause pressed", lambda: {"checked", "pressed"} <= states(pause))
        wait_for("the status line saying so", lambda: "Paused" in status_of(self.program))
        do_action(pause, "Toggle")
        wait_for("Pause released", lambda: not {"checked", "pressed"} & states(pause))
        wait_for("recording again", lambda: "Recording" in status_of(self.program))
        self.program.send(b"after the pause\r\n")
        wait_for("the next chunk in the output's text", lambda: "after the pause" in text_of(output))

        do_action(self.button("Stop"), "Press")
        wait_for("Begin offered again", lambda: "enabled" in states(self.button("Begin")))
        self.assertNotIn("enabled", states(pause))

    def test_the_menu_button_opens_its_menu_by_its_action(self):
        do_action(self.button("Menu"), "ShowMenu")
        menu = wait_for("the command menu", lambda: find(self.main, "popup menu"))
        self.assertIn("expanded", states(self.button("Menu")))
        entries = [(obj.name, "enabled" in states(obj)) for obj in walk(menu) if role(obj) == "menu item"]
        self.assertEqual(entries, [
            ("Exit", True), ("About", True), ("Clear Output", True), ("Port Setting", True),
            ("Record Setting", True), ("Begin", True), ("Stop", False), ("Pause", False), ("Save", True)])
        # An entry that opens a dialog answers the screen reader at once.
        do_action(find(menu, "menu item", "About"), "Press")
        about = self.program.window("Vantrel About")
        self.assertIn("Vantrel V", " ".join(obj.name for obj in walk(about) if role(obj) == "label"))
        do_action(find(about, "push button", "OK"), "Press")
        self.program.gone("Vantrel About")


TIME_OF_DAY = re.compile(r"\d\d:\d\d:\d\d\.\d{3}")


def rows_with_a_time_on_the_third(column):
    """The column's rows once the first item (after the welcome text's two
    lines) shows its time; None before."""
    rows = [row.strip() for row in text_of(column).split("\n")]
    return rows if len(rows) > 2 and TIME_OF_DAY.fullmatch(rows[2]) else None


class TimeColumn(unittest.TestCase):
    def test_the_time_column_reads_each_item_time_beside_its_line(self):
        program = Vantrel(values=['"TimeColumn"=dword:00000001']).start()  # time of day
        self.addCleanup(program.close)
        column = wait_for("the time column", lambda: find(program.main, "label", "Time column"))
        self.assertIn("read only", states(column))
        do_action(find(program.main, "push button", "Begin"), "Press")
        wait_for("the capture recording", lambda: "Recording" in status_of(program))
        program.send(b"$GPGGA,timed\r\n")
        rows = wait_for("the item's time in the column", lambda: rows_with_a_time_on_the_third(column))
        # The welcome text's two lines show no time.
        self.assertEqual(rows[:2], ["", ""])


class FindBar(unittest.TestCase):
    def test_find_reads_its_fields_and_counts_through_the_bus(self):
        program = Vantrel().start()
        self.addCleanup(program.close)
        program.focus_window("Vantrel")
        program.keys("ctrl+f")
        field = program.wait_focus("text", "Find text")
        bar = wait_for("the find bar", lambda: find(program.main, "panel", "Find"))
        for name in ("Previous", "Next", "Close find bar"):
            with self.subTest(button=name):
                self.assertIn("enabled", states(find(bar, "push button", name)))
        case = find(bar, "check box", "Match case")
        self.assertNotIn("checked", states(case))

        program.keys("V", "e", "r")
        wait_for("the typed text in the field", lambda: text_of(field) == "Ver")
        # The welcome text holds "Ver" once.
        wait_for("the match count read by name", lambda: find(bar, "label", "1 match") or find(bar, "label", "1 of 1"))

        do_action(case, "Toggle")
        wait_for("Match case checked", lambda: "checked" in states(case))
        do_action(find(bar, "push button", "Close find bar"), "Press")
        wait_for("the find bar hidden", lambda: find(program.main, "panel", "Find") is None)


if __name__ == "__main__":
    unittest.main()
