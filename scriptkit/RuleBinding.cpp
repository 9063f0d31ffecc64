#include "scriptkit/RuleBinding.h"

#include <dlfcn.h>

#include <map>
#include <mutex>

namespace {

std::mutex cacheMutex;
std::map<std::string, void*> cache;

} // namespace

void* findExported(const std::string& name)
{
    std::lock_guard<std::mutex> lock(cacheMutex);
    const auto known = cache.find(name);
    if (known != cache.end())
        return known->second;
    // Only names found are kept: a script may name anything, and misses
    // must not grow the cache.
    void* address = ::dlsym(RTLD_DEFAULT, name.c_str());
    if (address != nullptr)
        cache.emplace(name, address);
    return address;
}
