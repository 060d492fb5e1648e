#pragma once
// Local time in a given zone (a POSIX TZ string such as "UTC0" or
// "CET-1CEST,M3.5.0,M10.5.0/3") for as long as it lives.
#include <cstdlib>
#include <ctime>
#include <string>

namespace testing_support {

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            m_old = old, m_had = true;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone()
    {
        if (m_had)
            setenv("TZ", m_old.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::string m_old;
    bool m_had = false;
};

} // namespace testing_support
