#pragma once
// Breaks the file calls of the journal and the streamed files on purpose
// (platform/file_io.h) and notes every call they make, for as long as it
// lives.
#include "platform/file_io.h"

#include <mutex>
#include <optional>
#include <vector>

class IoFaults {
public:
    using Call = platform::file_io::Call;
    using Request = platform::file_io::Request;

    IoFaults()
    {
        platform::file_io::SetInterceptor([this](const Request& request) {
            std::lock_guard lock(m_mutex);
            m_calls.push_back(request);
            platform::file_io::Outcome outcome;
            if (m_fault && m_fault->call == request.call) {
                // A short write succeeds in part; the calls after it fail.
                if (m_fault->writeAtMost > 0 && !m_shortGiven)
                    outcome.writeAtMost = m_fault->writeAtMost;
                else
                    outcome.error = m_fault->error;
                m_shortGiven = m_shortGiven || m_fault->writeAtMost > 0;
                ++m_failed;
            }
            return outcome;
        });
    }
    ~IoFaults() { platform::file_io::SetInterceptor({}); }
    IoFaults(const IoFaults&) = delete;
    IoFaults& operator=(const IoFaults&) = delete;

    // From now on every `call` fails with `error` (after one short write of
    // `writeAtMost` bytes, when given), until Heal.
    void Fail(Call call, int error, std::size_t writeAtMost = 0)
    {
        std::lock_guard lock(m_mutex);
        m_fault = Fault{call, error, writeAtMost};
        m_shortGiven = false;
    }
    void Heal()
    {
        std::lock_guard lock(m_mutex);
        m_fault.reset();
    }
    int Failed()
    {
        std::lock_guard lock(m_mutex);
        return m_failed;
    }
    std::vector<Request> Calls()
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }

private:
    struct Fault {
        Call call;
        int error;
        std::size_t writeAtMost;
    };
    std::mutex m_mutex;
    std::optional<Fault> m_fault;
    bool m_shortGiven = false;
    int m_failed = 0;
    std::vector<Request> m_calls;
};
