#pragma once
// What a screen reader sees of a drop-down list: its current entry as its
// name and its label through the labelled-by relation, the face lists of
// every toolkit have on Linux. Screen readers speak a list as its label,
// then its name, then "combo box"; the desktop's accessibility bus carries
// a list's name and relations but not the value text of a Qt list, so a list
// named by its label would leave its entry unreachable from outside.
class QComboBox;
class QLabel;

// Installs the interface for every list made from now on; call it before
// making one (a list's interface is made once, at its first event). Repeated
// calls do nothing.
void InstallListAccessibility();

// Makes `label` the label a screen reader reads for `list` when it is not
// the list's buddy: a label that introduces a row of fields (a number and
// its unit), where the buddy is the first field.
void SetListLabel(QComboBox* list, QLabel* label);
