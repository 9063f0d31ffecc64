#include "common/HiveList.h"

#include "common/DataRoots.h"

HiveList HiveList::user(eRegUser, "_usr.dat");
HiveList HiveList::system(eRegSystem, "_sys.dat");
HiveList HiveList::shared(eRegShared, "_usr.dat");
HiveList HiveList::global(eRegGlobal, "_sys.dat");

namespace {

std::string lowerName(const char* name)
{
    std::string out = name ? name : "";
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// Hive names become file names: nothing that could leave the folder.
bool plainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

} // namespace

HiveList::HiveList(eRegKeyType type, const char* suffix) : m_suffix(suffix), m_type(type) {}

HiveList::~HiveList() = default;

Hive* HiveList::open(const char* name, const std::string& upperKey)
{
    const std::string lower = lowerName(name);
    if (!plainName(lower))
        return nullptr;
    Hive* hive = nullptr;
    {
        CVMutexLocker lock(m_lock);
        if (!m_dirReady) {
            char root[4096];
            switch (m_type) {
            case eRegUser: getAppDataRoot("", root, sizeof root, true); break;
            case eRegSystem:
            case eRegShared: getAppCommonDataRoot("", root, sizeof root); break;
            case eRegGlobal: getAppGlobalDataRoot("", root, sizeof root); break;
            }
            m_dir = std::string(root) + "/config";
            convertSeparatorsToLocal(m_dir);
            makeFolders(m_dir);
            m_dirReady = true;
        }
        auto& slot = m_hives[lower];
        if (!slot) {
            slot = std::make_unique<Hive>(m_dir + "/" + lower + m_suffix, lower);
            auto seed = m_seeds.find(lower);
            if (seed != m_seeds.end())
                slot->setSeed(seed->second);
        }
        hive = slot.get();
    }
    // Loaded outside the list's lock, so other hives stay available.
    hive->ensureLoaded();
    if (!hive->createKeyPath(upperKey))
        return nullptr;
    return hive;
}

Hive* HiveList::find(const char* name)
{
    const std::string lower = lowerName(name);
    CVMutexLocker lock(m_lock);
    auto it = m_hives.find(lower);
    return it == m_hives.end() ? nullptr : it->second.get();
}

void HiveList::setSeed(const char* name, const std::string& seedPath)
{
    const std::string lower = lowerName(name);
    CVMutexLocker lock(m_lock);
    m_seeds[lower] = seedPath;
    auto it = m_hives.find(lower);
    if (it != m_hives.end())
        it->second->setSeed(seedPath);
}
