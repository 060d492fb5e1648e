// The real save dialog, set up and answered headless: the name offered, the
// filters, the default suffix and the typed name winning over the filter.
#include "app/save_capture.h"
#include "platform/save_file_dialog.h"
#include "test_support.h"

#include <QFileDialog>
#include <QLineEdit>
#include <gtest/gtest.h>

namespace {

SaveFileRequest RequestIn(const QString& folder, int filterIndex)
{
    SaveFileRequest request;
    request.initialPath = folder + QLatin1Char('/') + kSaveInitialName;
    request.filter = kSaveFilter;
    request.filterIndex = filterIndex;
    request.defaultSuffix = kSaveDefaultSuffix;
    return request;
}

QLineEdit* NameBox(QFileDialog& dialog)
{
    return dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
}

// Types `name` into the dialog and presses Save.
SaveFileAnswer Type(const SaveFileRequest& request, const QString& name, int filterIndex)
{
    auto dialog = CreateSaveFileDialog(nullptr, request);
    dialog->selectNameFilter(FilterDisplayNames(request.filter).at(filterIndex - 1));
    NameBox(*dialog)->setText(name);
    static_cast<QDialog*>(dialog.get())->accept();  // the Save button
    EXPECT_EQ(dialog->result(), int(QDialog::Accepted));
    return AnswerOf(*dialog, request);
}

} // namespace

TEST(SaveFileDialog, FilterStringGivesTheTwoDisplayNames)
{
    EXPECT_EQ(FilterDisplayNames(kSaveFilter),
              (QStringList{QStringLiteral("Serial Log(*.log)"), QStringLiteral("Veltrin Send Data(*.sds)")}));
    EXPECT_TRUE(FilterDisplayNames(QStringLiteral("||")).isEmpty());
}

TEST(SaveFileDialog, OpensWithTheRememberedFilterAndTheInitialName)
{
    const QString folder = testing_support::TestDir();
    for (int index : {1, 2}) {
        auto dialog = CreateSaveFileDialog(nullptr, RequestIn(folder, index));
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_FALSE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
        EXPECT_EQ(dialog->nameFilters().size(), 2);
        EXPECT_EQ(dialog->selectedNameFilter(), FilterDisplayNames(kSaveFilter).at(index - 1));
        EXPECT_EQ(dialog->defaultSuffix(), QStringLiteral("txt"));
        ASSERT_NE(NameBox(*dialog), nullptr);
        EXPECT_EQ(NameBox(*dialog)->text(), QStringLiteral("newCommFile.txt"));
        EXPECT_EQ(dialog->directory().absolutePath(), folder);
    }
}

TEST(SaveFileDialog, TheTypedNameWinsAndTxtIsAddedOnlyWithoutASuffix)
{
    const QString folder = testing_support::TestDir();
    const SaveFileRequest request = RequestIn(folder, 1);

    SaveFileAnswer answer = Type(request, QStringLiteral("capture"), 1);
    EXPECT_TRUE(answer.accepted);
    EXPECT_EQ(answer.path, folder + QStringLiteral("/capture.txt"));
    EXPECT_EQ(answer.filterIndex, 1);

    answer = Type(request, QStringLiteral("items.log"), 2);
    EXPECT_EQ(answer.path, folder + QStringLiteral("/items.log"));
    EXPECT_EQ(answer.filterIndex, 2);

    answer = Type(request, QStringLiteral("text.sds"), 1);
    EXPECT_EQ(answer.path, folder + QStringLiteral("/text.sds"));
    EXPECT_EQ(answer.filterIndex, 1);
}
