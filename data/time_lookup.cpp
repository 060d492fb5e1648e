#include "data/time_lookup.h"

#include <QRegularExpression>
#include <ctime>

namespace {

constexpr int64_t kMicrosPerSecond = 1'000'000;
// Offsets beyond a thousand years are refused, so no sum of parts overflows.
constexpr int64_t kLongestOffset = int64_t(1000) * 366 * 86400 * kMicrosPerSecond;

const QString kExpected = QStringLiteral(
    "Type a date and time (2026-12-08 14:03:05), a time of day (14:03:05) or an offset from the capture's start "
    "(+1h23m).");

// "5" -> 500000, "123" -> 123000: digits after the decimal point as microseconds.
int64_t FractionMicros(const QString& digits)
{
    if (digits.isEmpty())
        return 0;
    return digits.left(6).leftJustified(6, u'0').toLongLong();
}

// Local midnight-based moment of a broken-down time; mktime settles daylight saving.
int64_t LocalSeconds(int year, int month, int day, int hour, int minute, int second, bool* exists = nullptr)
{
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    const std::time_t t = std::mktime(&local);
    if (exists)
        *exists = local.tm_year == year - 1900 && local.tm_mon == month - 1 && local.tm_mday == day;
    return int64_t(t);
}

QString ParseOffset(const QString& text, TimeTarget& target)
{
    static const QRegularExpression clock(QStringLiteral("^(\\d{1,6}):(\\d{2})(?::(\\d{2})(?:[.,](\\d{1,6}))?)?$"));
    static const QRegularExpression part(QStringLiteral("(\\d{1,6})(?:[.,](\\d{1,6}))?\\s*(ms|d|h|m|s)?\\s*"));
    target.kind = TimeTarget::Offset;
    if (const QRegularExpressionMatch match = clock.match(text); match.hasMatch()) {
        // As the column shows it: +hours:minutes[:seconds[.fraction]].
        const int minutes = match.captured(2).toInt();
        const int seconds = match.captured(3).isEmpty() ? 0 : match.captured(3).toInt();
        if (minutes > 59 || seconds > 59)
            return QStringLiteral("'+%1' is not an offset: minutes and seconds go up to 59.").arg(text);
        target.micros = ((match.captured(1).toLongLong() * 60 + minutes) * 60 + seconds) * kMicrosPerSecond +
                        FractionMicros(match.captured(4));
        return {};
    }
    int64_t total = 0;
    qsizetype at = 0;
    while (at < text.size()) {
        const QRegularExpressionMatch match =
            part.match(text, at, QRegularExpression::NormalMatch, QRegularExpression::AnchorAtOffsetMatchOption);
        if (!match.hasMatch() || match.capturedLength() == 0)
            return QStringLiteral("'+%1' is not an offset. Use d, h, m, s and ms, such as +1h23m or +90s.").arg(text);
        const QString unit = match.captured(3);
        // A number without a unit counts seconds.
        const int64_t scale = unit == QLatin1String("d")    ? 86400 * kMicrosPerSecond
                              : unit == QLatin1String("h")  ? 3600 * kMicrosPerSecond
                              : unit == QLatin1String("m")  ? 60 * kMicrosPerSecond
                              : unit == QLatin1String("ms") ? 1000
                                                            : kMicrosPerSecond;
        total += match.captured(1).toLongLong() * scale + FractionMicros(match.captured(2)) * scale / kMicrosPerSecond;
        if (total > kLongestOffset)
            return QStringLiteral("'+%1' is further from the start than any capture goes.").arg(text);
        at += match.capturedLength();
    }
    target.micros = total;
    return {};
}

} // namespace

QString ParseTimeTarget(const QString& input, TimeTarget& target)
{
    static const QRegularExpression dateTime(QStringLiteral(
        "^(\\d{4})-(\\d{2})-(\\d{2})[T ]\\s*(\\d{1,2}):(\\d{2})(?::(\\d{2})(?:[.,](\\d{1,6}))?)?\\s*(Z|[+-]\\d{2}:?\\d{2})?$"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression timeOfDay(
        QStringLiteral("^(\\d{1,2}):(\\d{2})(?::(\\d{2})(?:[.,](\\d{1,6}))?)?$"));
    const QString text = input.trimmed();
    if (text.isEmpty())
        return QStringLiteral("No time was given. ") + kExpected;
    if (text.startsWith(u'+')) {
        const QString rest = text.mid(1).trimmed();
        if (rest.isEmpty())
            return QStringLiteral("'+' needs an offset after it, such as +1h23m.");
        return ParseOffset(rest, target);
    }
    if (const QRegularExpressionMatch match = timeOfDay.match(text); match.hasMatch()) {
        const int hour = match.captured(1).toInt();
        const int minute = match.captured(2).toInt();
        const int second = match.captured(3).isEmpty() ? 0 : match.captured(3).toInt();
        if (hour > 23 || minute > 59 || second > 59)
            return QStringLiteral("'%1' is not a time of day: hours go up to 23, minutes and seconds up to 59.").arg(text);
        target.kind = TimeTarget::TimeOfDay;
        target.micros = ((hour * 60 + minute) * 60 + second) * kMicrosPerSecond + FractionMicros(match.captured(4));
        return {};
    }
    if (const QRegularExpressionMatch match = dateTime.match(text); match.hasMatch()) {
        const int year = match.captured(1).toInt(), month = match.captured(2).toInt(), day = match.captured(3).toInt();
        const int hour = match.captured(4).toInt(), minute = match.captured(5).toInt();
        const int second = match.captured(6).isEmpty() ? 0 : match.captured(6).toInt();
        if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59)
            return QStringLiteral("'%1' is not a date and time that exists.").arg(text);
        const QString zone = match.captured(8);
        int64_t seconds = 0;
        if (zone.isEmpty()) {
            bool exists = false;
            seconds = LocalSeconds(year, month, day, hour, minute, second, &exists);
            if (!exists)
                return QStringLiteral("'%1' is not a date and time that exists.").arg(text);
        } else {
            std::tm utc{};
            utc.tm_year = year - 1900;
            utc.tm_mon = month - 1;
            utc.tm_mday = day;
            utc.tm_hour = hour;
            utc.tm_min = minute;
            utc.tm_sec = second;
            seconds = int64_t(timegm(&utc));
            if (utc.tm_mday != day)
                return QStringLiteral("'%1' is not a date and time that exists.").arg(text);
            if (zone.compare(QLatin1String("Z"), Qt::CaseInsensitive) != 0) {
                const QString digits = QString(zone).remove(u':');
                const int offset = digits.mid(1, 2).toInt() * 3600 + digits.mid(3, 2).toInt() * 60;
                seconds -= zone.startsWith(u'-') ? -offset : offset;
            }
        }
        target.kind = TimeTarget::DateTime;
        target.micros = seconds * kMicrosPerSecond + FractionMicros(match.captured(7));
        return {};
    }
    return QStringLiteral("'%1' is not a time. ").arg(text) + kExpected;
}

int64_t ResolveTimeTarget(const TimeTarget& target, int64_t startMicros)
{
    switch (target.kind) {
    case TimeTarget::DateTime: return target.micros;
    case TimeTarget::Offset: return startMicros + target.micros;
    case TimeTarget::TimeOfDay: break;
    }
    int64_t startSeconds = startMicros / kMicrosPerSecond;
    if (startMicros % kMicrosPerSecond < 0)
        --startSeconds;
    const std::time_t t = std::time_t(startSeconds);
    std::tm day{};
    localtime_r(&t, &day);
    const int64_t seconds = target.micros / kMicrosPerSecond;
    const int64_t fraction = target.micros % kMicrosPerSecond;
    // That time on the start's own day, else on the next day that has it.
    for (int ahead = 0; ahead < 3; ++ahead) {
        const int64_t at = LocalSeconds(day.tm_year + 1900, day.tm_mon + 1, day.tm_mday + ahead, int(seconds / 3600),
                                        int(seconds / 60 % 60), int(seconds % 60)) *
                               kMicrosPerSecond +
                           fraction;
        if (at >= startMicros)
            return at;
    }
    return startMicros;
}

void CItemTimeRuns::Reset()
{
    m_count = 0;
    m_first = m_last = 0;
    m_runStarts.clear();
    m_prefixMax.clear();
}

void CItemTimeRuns::Append(int64_t micros)
{
    if (m_count == 0) {
        m_first = micros;
    } else if (micros < m_last) {
        // The clock went backwards: the stretch before ends at its highest time.
        const int64_t before = m_prefixMax.empty() ? m_last : std::max(m_prefixMax.back(), m_last);
        m_prefixMax.push_back(before);
        m_runStarts.push_back(m_count);
    }
    m_last = micros;
    ++m_count;
}
