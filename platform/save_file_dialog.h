#pragma once
// The save-file dialog goes through here, so a test can answer it instead of
// a person. The filter list is given the way the program states it: display
// names and patterns alternating, separated by "|", ended by "||".
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QFileDialog;
class QWidget;

struct SaveFileRequest {
    QString initialPath;    // full path of the name offered first
    QString filter;         // "Name(*.a)|*.a|Other(*.b)|*.b||"
    int filterIndex = 1;    // 1-based entry selected when the dialog opens
    QString defaultSuffix;  // added to a name typed without a suffix
};

struct SaveFileAnswer {
    bool accepted = false;
    QString path;         // full path of the chosen file
    int filterIndex = 0;  // 1-based entry chosen, 0 when none matched
};

// The display names of a "|"-separated filter string ("Name(*.a)", ...).
QStringList FilterDisplayNames(const QString& filter);

// Runs the modal save dialog, or hands the request to the installed handler.
SaveFileAnswer GetSaveFileName(QWidget* owner, const SaveFileRequest& request);

// While a handler is installed it answers every request instead of a dialog
// being shown. An empty handler restores the dialog.
using SaveFileHandler = std::function<SaveFileAnswer(const SaveFileRequest&)>;
void SetSaveFileHandler(SaveFileHandler handler);

// The dialog GetSaveFileName runs, set up from the request, and the answer
// read back from it once accepted; apart so both can be checked headless.
std::unique_ptr<QFileDialog> CreateSaveFileDialog(QWidget* owner, const SaveFileRequest& request);
SaveFileAnswer AnswerOf(const QFileDialog& dialog, const SaveFileRequest& request);
