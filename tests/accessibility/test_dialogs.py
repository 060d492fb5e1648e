"""Port Setting, Record Setting and the Save dialog as a screen reader reads
and operates them through the accessibility bus."""
import unittest

from vantrel_bus import (EventLog, Vantrel, actions, do_action, find, labelled, labelled_by, role, states,
                         wait_for, walk)


class PortSetting(unittest.TestCase):
    def setUp(self):
        # Listening before the program starts, so it knows from the start
        # that someone listens.
        # The events a screen reader listens to for a list.
        self.events = EventLog("object:property-change:accessible-name", "object:value-changed",
                               "object:selection-changed")
        self.addCleanup(self.events.close)
        self.program = Vantrel().start()
        self.addCleanup(self.program.close)
        self.program.run_command("Port Setting")
        self.dialog = self.program.window("Port Setting")

    def test_every_list_reads_its_label_and_its_entry(self):
        for label, entry in [("Port", "COM5"), ("Baud Rate", "9600"), ("Parity", "No parity"),
                             ("Data Bits", "8"), ("Stop Bits", "1")]:
            with self.subTest(label=label):
                lst = labelled(self.dialog, "combo box", label)
                self.assertIsNotNone(lst, "no list labelled %r" % label)
                self.assertEqual(lst.name, entry)
                self.assertEqual(labelled_by(lst), [label])
                self.assertTrue({"enabled", "focusable", "expandable"} <= states(lst), states(lst))
                self.assertIn("Press", actions(lst))
        for button in ("OK", "Cancel"):
            with self.subTest(button=button):
                self.assertIn("enabled", states(find(self.dialog, "push button", button)))

    def test_an_entry_chosen_by_keys_is_announced_and_kept(self):
        self.program.focus_window("Port Setting")
        rate = labelled(self.dialog, "combo box", "Baud Rate")
        # Tab goes round the dialog until it reaches the rate list.
        for _ in range(10):
            if "focused" in states(rate):
                break
            self.program.move_focus("Tab", self.dialog)
        self.program.wait_focus("combo box", "9600", self.dialog)

        self.program.keys("Down")
        wait_for("the list to read its new entry", lambda: rate.name == "14400")
        wait_for("the change announced", lambda: ("object:property-change:accessible-name", "combo box", "14400")
                 in [event[:3] for event in self.events.events])

        self.program.keys("Return")
        self.program.gone("Port Setting")
        status = find(self.program.main, "label")
        wait_for("the status line to show the new rate", lambda: "14400" in status.name)
        self.program.run_command("Port Setting")
        again = self.program.window("Port Setting")
        self.assertEqual(labelled(again, "combo box", "Baud Rate").name, "14400")


class RecordSetting(unittest.TestCase):
    def setUp(self):
        self.program = Vantrel().start()
        self.addCleanup(self.program.close)
        self.program.run_command("Record Setting")
        self.dialog = self.program.window("Record Setting")

    def test_choices_read_with_their_state_and_partial_enables_its_fields(self):
        record_all = find(self.dialog, "radio button", "Record All Data")
        partial = find(self.dialog, "radio button", "Record Partial")
        unit = labelled(self.dialog, "combo box", "Record On Every")
        period = labelled(self.dialog, "text", "Record On Every")
        self.assertIn("checked", states(record_all))
        self.assertNotIn("checked", states(partial))
        self.assertIsNotNone(unit, "the unit list is labelled by its row")
        self.assertEqual(unit.name, "Min")
        self.assertNotIn("enabled", states(unit))
        self.assertNotIn("enabled", states(period))
        show = labelled(self.dialog, "combo box", "Show Format")
        self.assertEqual(show.name, "String")
        self.assertIn("enabled", states(show))

        do_action(partial, "Toggle")
        wait_for("Record Partial checked", lambda: "checked" in states(partial))
        self.assertNotIn("checked", states(record_all))
        wait_for("the unit list enabled", lambda: "enabled" in states(unit))
        self.assertIn("enabled", states(period))
        self.assertTrue(period.queryText().getText(0, -1).isdigit())

        spin_up = find(self.dialog, "push button", "Record On Every up")
        self.assertIsNotNone(spin_up)
        before = int(period.queryText().getText(0, -1))
        do_action(spin_up, "Press")
        wait_for("the number stepped", lambda: period.queryText().getText(0, -1) == str(before + 1))


class SaveDialog(unittest.TestCase):
    def test_the_file_type_list_reads_its_label_and_its_entry(self):
        program = Vantrel().start()
        self.addCleanup(program.close)
        do_action(find(program.main, "push button", "Save"), "Press")
        dialog = program.window("Save As")
        types = wait_for("the file-type list", lambda: labelled(dialog, "combo box", "Files of type:"))
        self.assertEqual(types.name, "Serial Log(*.log)")
        self.assertIn("enabled", states(types))
        lists = [obj for obj in walk(dialog) if role(obj) == "combo box"]
        self.assertEqual(len(lists), 2)
        for lst in lists:
            with self.subTest(list=lst.name):
                self.assertTrue(lst.name, "a list reads no entry")
                self.assertTrue(labelled_by(lst), "list %r has no label" % lst.name)
        find(dialog, "push button", "Cancel").queryAction().doAction(0)
        program.gone("Save As")


if __name__ == "__main__":
    unittest.main()
