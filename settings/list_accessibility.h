#pragma once
// What a screen reader sees of a drop-down list: its accessible name (the
// label beside it) as its name and its current entry as its value. Qt on
// Linux otherwise gives the current entry as the name ("9600"), leaving the
// user to guess which list it is.

// Installs the interface for every list made from now on; call it before
// making one (a list's interface is made once, at its first event). Repeated
// calls do nothing.
void InstallListAccessibility();
