#pragma once
// The Save command's fixed dialog parameters, its memory of the last filter
// chosen, and when it shows its progress.
#include <QString>
#include <functional>

// The filter index the dialog returned at the last Save whose file opened;
// 1 (Serial Log) at the start of every run, never stored.
extern int s_nSaveFilterIndex;

inline const QString kSaveFilter = QStringLiteral("Serial Log(*.log)|*.log|Veltrin Send Data(*.sds)|*.sds||");
inline const QString kSaveDefaultSuffix = QStringLiteral("txt");
inline const QString kSaveInitialName = QStringLiteral("newCommFile.txt");  // in the user's home folder
constexpr int kSendDataFilterIndex = 2;

// How long a Save runs before it shows its progress and Cancel.
extern int s_nSaveProgressDelayMs;
// Called on the writing thread after every batch of items a Save wrote: a
// test's way to act while a Save runs. Empty in the program.
extern std::function<void(int64_t written)> s_pfnSaveBatchWritten;
