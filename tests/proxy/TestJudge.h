// A judge for session tests: the test's own judgement of each collected
// message (let through when none is set), in place of the rules.
#pragma once

#include "filter/Evaluation.h"

#include <functional>
#include <mutex>

using Judgement = std::function<bool(const MessageDescriptor&, int)>;

class TestJudge : public MessageJudge
{
public:
    void set(Judgement judgement)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_judgement = std::move(judgement);
    }

    bool judge(FilterContext&, const MessageDescriptor& message, int size) override
    {
        Judgement judgement;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            judgement = m_judgement;
        }
        return judgement ? judgement(message, size) : true;
    }

private:
    std::mutex m_mutex;
    Judgement m_judgement;
};

// The judge the session tests give their sessions.
inline TestJudge& testJudge()
{
    static TestJudge judge;
    return judge;
}

inline void setEvaluationSeam(Judgement judgement)
{
    testJudge().set(std::move(judgement));
}
