"""The two questions the program asks, read and answered through the
accessibility bus: the close question over unsaved items, and the offer to
restore a capture that a crash cut short."""
import os
import unittest

from vantrel_bus import WAIT_SECONDS, Vantrel, do_action, find, role, states, text_of, wait_for, walk


def question_text(alert):
    return " ".join(obj.name for obj in walk(alert) if role(obj) == "label")


def capture(program, data):
    """Begins a capture, lets the instrument send `data`, waits to see it."""
    do_action(find(program.main, "push button", "Begin"), "Press")
    wait_for("the capture recording", lambda: "Recording" in find(program.main, "label").name)
    program.send(data)
    output = find(program.main, "text", "Output")
    wait_for("the chunk in the output", lambda: data.decode().strip() in text_of(output))


class CloseQuestion(unittest.TestCase):
    def test_the_question_reads_its_text_and_buttons_and_each_answer_does_what_it_says(self):
        program = Vantrel().start()
        self.addCleanup(program.close)
        capture(program, b"unsaved reading\r\n")
        do_action(find(program.main, "push button", "Stop"), "Press")
        wait_for("the capture stopped", lambda: "Stopped" in find(program.main, "label").name)

        # Escape asks; Cancel by its action keeps the window and the items.
        program.focus_window("Vantrel")
        program.keys("Escape")
        alert = program.top("alert")
        self.assertEqual(alert.name, "Vantrel")
        self.assertIn("1 items that have not been saved", question_text(alert))
        buttons = [(obj.name, "enabled" in states(obj)) for obj in walk(alert) if role(obj) == "push button"]
        self.assertEqual(sorted(buttons), [("Cancel", True), ("Discard", True), ("Save", True)])
        self.assertIn("focused", states(find(alert, "push button", "Save")))  # the default answer
        do_action(find(alert, "push button", "Cancel"), "Press")
        wait_for("the question gone", lambda: "showing" not in states(alert))
        self.assertIn("showing", states(program.main))

        # Asked again, Discard chosen by keys closes the program.
        program.focus_window("Vantrel")
        program.keys("Escape")
        alert = program.top("alert")
        for _ in range(4):
            if program.focused(alert) is not None and program.focused(alert).name == "Discard":
                break
            program.move_focus("Tab", alert)
        program.keys("space")
        self.assertEqual(program.process.wait(timeout=WAIT_SECONDS), 0)


class RestoreQuestion(unittest.TestCase):
    def test_after_a_crash_the_offer_reads_what_it_offers_and_restore_brings_it_back(self):
        first = Vantrel()
        self.addCleanup(first.close)
        first.start()
        capture(first, b"reading before the crash\r\n")
        state = first.env["XDG_STATE_HOME"]

        def journaled():
            for folder, _, files in os.walk(state):
                for name in files:
                    with open(os.path.join(folder, name), "rb") as f:
                        if b"reading before the crash" in f.read():
                            return True
            return False
        wait_for("the chunk in the journal on disk", journaled)
        first.kill()

        second = Vantrel(folder=first.folder).start()
        self.addCleanup(second.close)
        alert = second.top("alert")
        text = question_text(alert)
        self.assertIn("was not saved", text)
        self.assertIn("COM5", text)
        self.assertIn("Recorded: 1 items", text)
        buttons = sorted(obj.name for obj in walk(alert) if role(obj) == "push button")
        self.assertEqual(buttons, ["Discard", "Restore"])
        self.assertIn("focused", states(find(alert, "push button", "Restore")))
        do_action(find(alert, "push button", "Restore"), "Press")
        output = find(second.main, "text", "Output")
        wait_for("the restored chunk in the output", lambda: "reading before the crash" in text_of(output))


if __name__ == "__main__":
    unittest.main()
