#include "common/ProgramContext.h"

ProgramContext& programContext()
{
    static ProgramContext context;
    return context;
}
