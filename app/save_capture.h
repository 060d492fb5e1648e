#pragma once
// The Save command's fixed dialog parameters and its memory of the last
// filter chosen.
#include <QString>

// The filter index the dialog returned at the last Save whose file opened;
// 1 (Serial Log) at the start of every run, never stored.
extern int s_nSaveFilterIndex;

inline const QString kSaveFilter = QStringLiteral("Serial Log(*.log)|*.log|Veltrin Send Data(*.sds)|*.sds||");
inline const QString kSaveDefaultSuffix = QStringLiteral("txt");
inline const QString kSaveInitialName = QStringLiteral("newCommFile.txt");  // in the user's home folder
constexpr int kSendDataFilterIndex = 2;
