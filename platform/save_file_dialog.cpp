#include "platform/save_file_dialog.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QFileInfo>

namespace {
SaveFileHandler s_handler;
}

QStringList FilterDisplayNames(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList names;
    // Pairs of display name and pattern; the empty pieces of "||" end it.
    for (int i = 0; i + 1 < parts.size() && !parts.at(i).isEmpty(); i += 2)
        names.append(parts.at(i));
    return names;
}

std::unique_ptr<QFileDialog> CreateSaveFileDialog(QWidget* owner, const SaveFileRequest& request)
{
    auto dialog = std::make_unique<QFileDialog>(owner);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    // Qt's own dialog everywhere: the name in the box when the user accepts
    // is the name written, and the default suffix rule is the same on every
    // desktop. It asks before replacing an existing file.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setDefaultSuffix(request.defaultSuffix);
    const QStringList names = FilterDisplayNames(request.filter);
    dialog->setNameFilters(names);
    if (request.filterIndex >= 1 && request.filterIndex <= names.size())
        dialog->selectNameFilter(names.at(request.filterIndex - 1));
    // After the filter: choosing a filter rewrites the suffix of the name in
    // the box, and the name offered first must stay as it is.
    const QFileInfo initial(request.initialPath);
    dialog->setDirectory(initial.absolutePath());
    dialog->selectFile(initial.fileName());
    // Qt's dialog leaves its two lists without their labels' buddy, so a
    // screen reader reads them by their entry alone ("Serial Log(*.log)");
    // as buddies the labels name them.
    const std::pair<const char*, const char*> labelled[] = {{"lookInLabel", "lookInCombo"},
                                                            {"fileTypeLabel", "fileTypeCombo"}};
    for (const auto& [labelName, listName] : labelled) {
        auto* label = dialog->findChild<QLabel*>(QLatin1String(labelName));
        auto* list = dialog->findChild<QComboBox*>(QLatin1String(listName));
        if (label && list && !label->buddy())
            label->setBuddy(list);
    }
    return dialog;
}

SaveFileAnswer AnswerOf(const QFileDialog& dialog, const SaveFileRequest& request)
{
    SaveFileAnswer answer;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.first().isEmpty())
        return answer;
    answer.accepted = true;
    answer.path = files.first();
    answer.filterIndex = int(FilterDisplayNames(request.filter).indexOf(dialog.selectedNameFilter())) + 1;
    return answer;
}

SaveFileAnswer GetSaveFileName(QWidget* owner, const SaveFileRequest& request)
{
    if (s_handler)
        return s_handler(request);
    const std::unique_ptr<QFileDialog> dialog = CreateSaveFileDialog(owner, request);
    if (dialog->exec() != QDialog::Accepted)
        return {};
    return AnswerOf(*dialog, request);
}

void SetSaveFileHandler(SaveFileHandler handler)
{
    s_handler = std::move(handler);
}
