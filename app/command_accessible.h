#pragma once
// The command bar's buttons and the entries of its menu as a screen reader
// sees them: their Press (and Pause's Toggle) runs the command from the
// event loop, as a click does. Qt's own faces run it inside the screen
// reader's call, so a command that opens a dialog (Port Setting, About,
// Save) would leave the screen reader without an answer until the dialog
// closed.
class QMenu;
class QToolBar;

// Gives the entries of `menu` that face.
void UseCommandMenuAccessibility(QMenu* menu);
// Gives the tool buttons of `bar` that face.
void UseCommandButtonAccessibility(QToolBar* bar);
