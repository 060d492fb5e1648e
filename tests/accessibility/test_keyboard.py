"""The program from the keyboard alone, as a screen reader's user drives it:
real key presses on the X display, the focus read back through the
accessibility bus."""
import unittest

from vantrel_bus import Vantrel, find, labelled, labelled_by, role, states, wait_for


def focus_name(obj):
    """A control as the user hears it: a list by its label and its entry, a
    field by its label, others by their name (group titles left out)."""
    if obj is None:
        return None
    labels = [label for label in labelled_by(obj) if label != "Advance"]
    if role(obj) == "combo box":
        return " ".join(labels + [obj.name])
    if role(obj) == "text" and labels:
        return labels[0]
    return obj.name


class MenuByKeys(unittest.TestCase):
    def setUp(self):
        self.program = Vantrel().start()
        self.addCleanup(self.program.close)
        self.program.focus_window("Vantrel")
        # The output area has the focus first; Tab goes on to the Menu button.
        self.program.wait_focus("text", "Output")
        self.program.keys("Tab")
        self.menu_button = self.program.wait_focus("push button", "Menu")

    def open_menu(self, key):
        self.program.keys(key)
        return wait_for("the menu open", lambda: find(self.program.main, "popup menu"))

    def choose(self, key, entry):
        """Opens the menu with `key`, walks down to `entry`, runs it by Return."""
        menu = self.open_menu(key)
        for _ in range(15):
            if self.program.move_focus("Down", menu).name == entry:
                break
        else:
            self.fail("the arrows never reached %r" % entry)
        self.program.keys("Return")

    def test_every_dialog_command_runs_from_the_menu_by_keys(self):
        for key, entry, window in [("space", "Port Setting", "Port Setting"), ("Down", "Record Setting", "Record Setting"),
                                   ("space", "About", "Vantrel About")]:
            with self.subTest(entry=entry):
                self.choose(key, entry)
                self.program.window(window)
                self.program.keys("Escape")
                self.program.gone(window)
                # The focus comes back to the Menu button, ready for the next.
                self.program.focus_window("Vantrel")
                self.program.wait_focus("push button", "Menu")

    def test_a_capture_begins_and_stops_from_the_menu_by_keys(self):
        pause = find(self.program.main, "check box", "Pause")
        self.choose("space", "Begin")
        wait_for("the capture running", lambda: "enabled" in states(pause))
        self.program.wait_focus("push button", "Menu")
        self.choose("space", "Pause")
        wait_for("Pause pressed", lambda: "pressed" in states(pause))
        self.program.wait_focus("push button", "Menu")
        self.choose("space", "Stop")
        wait_for("the capture stopped", lambda: "enabled" not in states(pause))

    def test_escape_closes_the_menu_and_leaves_the_window_open(self):
        self.open_menu("Down")
        self.assertIn("expanded", states(self.menu_button))
        self.program.keys("Escape")
        wait_for("the menu closed", lambda: find(self.program.main, "popup menu") is None)
        self.program.wait_focus("push button", "Menu")
        self.assertIn("showing", states(self.program.main))


class DialogsByKeys(unittest.TestCase):
    def setUp(self):
        self.program = Vantrel().start()
        self.addCleanup(self.program.close)

    def tab_order(self, dialog, stops):
        """The controls Tab visits, starting from the first of `stops`."""
        for _ in range(stops + 2):
            if focus_name(self.program.focused(dialog)) == self.first:
                break
            self.program.move_focus("Tab", dialog)
        order = [focus_name(self.program.focused(dialog))]
        for _ in range(stops - 1):
            order.append(focus_name(self.program.move_focus("Tab", dialog)))
        return order

    def test_port_setting_tab_order_follows_the_layout_and_keys_change_the_line(self):
        self.program.run_command("Port Setting")
        dialog = self.program.window("Port Setting")
        self.program.focus_window("Port Setting")
        self.first = "Port COM5"
        self.assertEqual(self.tab_order(dialog, 7), ["Port COM5", "Baud Rate 9600", "Parity No parity", "Data Bits 8",
                                                     "Stop Bits 1", "OK", "Cancel"])
        # Round again to Parity, choose the next entry with the arrow, OK by Return.
        parity = labelled(dialog, "combo box", "Parity")
        for _ in range(8):
            if "focused" in states(parity):
                break
            self.program.move_focus("Tab", dialog)
        self.program.keys("Down")
        wait_for("the next parity", lambda: parity.name == "Odd")
        self.program.keys("Return")
        self.program.gone("Port Setting")
        status = find(self.program.main, "label")
        wait_for("the status line showing odd parity", lambda: "8-O-1" in status.name)

    def test_record_setting_tab_order_follows_the_layout_and_keys_choose_partial(self):
        self.program.run_command("Record Setting")
        dialog = self.program.window("Record Setting")
        self.program.focus_window("Record Setting")
        # Recording everything: the partial fields are disabled and skipped.
        self.first = "Record All Data"
        self.assertEqual(self.tab_order(dialog, 4), ["Record All Data", "Show Format String", "OK", "Cancel"])
        self.program.move_focus("Tab", dialog)
        self.program.wait_focus("radio button", "Record All Data", dialog)
        # The arrow moves the choice; the fields follow it into the order.
        self.program.keys("Down")
        self.program.wait_focus("radio button", "Record Partial", dialog)
        self.first = "Record Partial"
        self.assertEqual(self.tab_order(dialog, 7), ["Record Partial", "Record On Every", "Record On Every Min",
                                                     "Record Time Length", "Show Format String", "OK", "Cancel"])
        self.program.move_focus("Tab", dialog)
        self.program.move_focus("Tab", dialog)
        period = labelled(dialog, "text", "Record On Every")
        wait_for("the period field focused", lambda: "focused" in states(period))
        self.program.keys("ctrl+a", "4", "2", "Return")
        self.program.gone("Record Setting")
        self.program.run_command("Record Setting")
        again = self.program.window("Record Setting")
        self.assertIn("checked", states(find(again, "radio button", "Record Partial")))
        self.assertEqual(labelled(again, "text", "Record On Every").queryText().getText(0, -1), "42")


if __name__ == "__main__":
    unittest.main()
