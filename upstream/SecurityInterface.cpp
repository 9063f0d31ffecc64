#include "upstream/SecurityInterface.h"

#include "common/CEventLog.h"
#include "common/CRegistry.h"
#include "common/ProgramContext.h"
#include "common/SettingValues.h"

#include <dlfcn.h>

#include <cstring>
#include <mutex>
#include <string>

namespace {

std::mutex loadMutex;
void* library = nullptr;
const QfSecurityFunctionTable* functions = nullptr;
unsigned long packageIndex = SecurityInterface::kNoPackage;

std::string configuredLibrary()
{
    CRegistry reg;
    openSettingKey(reg, settingInfo(Setting::SecurityLibrary));
    return settingText(reg, Setting::SecurityLibrary);
}

} // namespace

bool SecurityInterface::available()
{
    std::lock_guard<std::mutex> lock(loadMutex);
    if (library == nullptr) {
        const std::string path = configuredLibrary();
        library = path.empty() ? nullptr : ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            CEventLog().LogEvent(1, "Unable to load sercurity/secur32.dll, error %d", path.empty() ? 2 : 1);
            if (!path.empty())
                CEventLog().LogEvent(1, "%s", ::dlerror());
            return false;
        }
        auto init = reinterpret_cast<QfInitSecurityInterface>(::dlsym(library, "InitSecurityInterfaceA"));
        if (init == nullptr) {
            CEventLog().LogEvent(1, "Unable to load SSPI, error %d", 1);
            return false;
        }
        functions = init();
        if (functions == nullptr || functions->version != 1) {
            functions = nullptr;
            CEventLog().LogEvent(1, "Unable to get SSPI interface");
            return false;
        }
        unsigned long count = 0;
        const QfSecPackageInfo* packages = nullptr;
        if (functions->EnumerateSecurityPackages(&count, &packages) == 0 && packages) {
            for (unsigned long i = 0; i < count; ++i)
                if (std::strcmp(packages[i].name, "MSN") == 0)
                    packageIndex = i;
        }
        if (packageIndex == kNoPackage)
            CEventLog().LogEvent(1, "MSN Security package not installed");
    }
    return functions != nullptr && packageIndex != kNoPackage;
}

const QfSecurityFunctionTable* SecurityInterface::table()
{
    std::lock_guard<std::mutex> lock(loadMutex);
    return packageIndex != kNoPackage ? functions : nullptr;
}

void SecurityInterface::unload()
{
    std::lock_guard<std::mutex> lock(loadMutex);
    if (library)
        ::dlclose(library);
    library = nullptr;
    functions = nullptr;
    packageIndex = kNoPackage;
}
