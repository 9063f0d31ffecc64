#include "common/ProgramContext.h"

#include "common/DataRoots.h"

ProgramContext& programContext()
{
    static ProgramContext context;
    return context;
}

bool chooseProgramDataRoot(const char* product, bool shared)
{
    setSharedUserData(shared);
    char root[4096];
    if (shared) {
        getAppCommonDataRoot(product, root, sizeof root);
        programContext().settingsHive = eRegShared;
    } else {
        getAppDataRoot(product, root, sizeof root, true);
        programContext().settingsHive = eRegUser;
    }
    programContext().dataRoot = root;
    return root[0] != '\0';
}
