#include "data/file_rotation.h"

#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>

bool ParseByteSize(const QString& text, int64_t& bytes)
{
    static const QRegularExpression pattern(QStringLiteral("^([0-9]{1,15})([kKmMgG]?)(i?B)?$"));
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return false;
    if (match.captured(3).size() && match.captured(2).isEmpty() && match.captured(3) != QLatin1String("B"))
        return false;  // "iB" alone
    int64_t value = match.captured(1).toLongLong();
    switch ((match.captured(2).isEmpty() ? ' ' : match.captured(2).toLower().at(0).toLatin1())) {
    case 'k': value *= int64_t(1) << 10; break;
    case 'm': value *= int64_t(1) << 20; break;
    case 'g': value *= int64_t(1) << 30; break;
    default: break;
    }
    if (value <= 0)
        return false;
    bytes = value;
    return true;
}

bool SplitRule::Parse(const QString& text, SplitRule& rule)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("hour") || t == QLatin1String("1h")) {
        rule = SplitRule{Hour, 0};
        return true;
    }
    if (t == QLatin1String("day") || t == QLatin1String("1d")) {
        rule = SplitRule{Day, 0};
        return true;
    }
    int64_t bytes = 0;
    if (!ParseByteSize(text, bytes))
        return false;
    rule = SplitRule{Size, bytes};
    return true;
}

int64_t SplitRule::PeriodStart(int64_t seconds) const
{
    if (kind != Hour && kind != Day)
        return 0;
    // Local time, so a daily file begins at local midnight, and an hour
    // that the clock repeats or skips at a change of summer time is still
    // one period.
    const QDateTime local = QDateTime::fromSecsSinceEpoch(seconds);
    const QTime time = local.time();
    if (kind == Hour)
        return QDateTime(local.date(), QTime(time.hour(), 0)).toSecsSinceEpoch();
    return QDateTime(local.date(), QTime(0, 0)).toSecsSinceEpoch();
}

QString RotatedFileName(const QString& path, int64_t startSeconds, int serial)
{
    const QFileInfo info(path);
    QString name = info.completeBaseName();
    const QString suffix = info.suffix();
    if (name.isEmpty()) {  // ".log": the whole name is the suffix
        name = info.fileName();
    }
    name += QLatin1Char('-') + QDateTime::fromSecsSinceEpoch(startSeconds).toString(QStringLiteral("yyyyMMdd-HHmmss"));
    // "_002" sorts after the plain name and before the next second's.
    if (serial > 1)
        name += QStringLiteral("_%1").arg(serial, 3, 10, QLatin1Char('0'));
    if (!suffix.isEmpty() && !info.completeBaseName().isEmpty())
        name += QLatin1Char('.') + suffix;
    const QString folder = info.path();
    return folder == QLatin1String(".") && !path.startsWith(QLatin1String("./")) ? name : folder + QLatin1Char('/') + name;
}
