#include "filter/Evaluation.h"

#include "common/CEventLog.h"

#include <mutex>

namespace {

std::mutex seamMutex;
EvaluationSeam evaluationSeam;

} // namespace

void setEvaluationSeam(EvaluationSeam seam)
{
    std::lock_guard<std::mutex> lock(seamMutex);
    evaluationSeam = std::move(seam);
}

bool evaluate(const MessageDescriptor& message, int size)
{
    try {
        EvaluationSeam seam;
        {
            std::lock_guard<std::mutex> lock(seamMutex);
            seam = evaluationSeam;
        }
        return seam ? seam(message, size) : true;
    } catch (...) {
        DebugX("filter", __LINE__);
        return true;
    }
}
