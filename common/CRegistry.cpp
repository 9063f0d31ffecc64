#include "common/CRegistry.h"

#include "common/HiveFormat.h"

#include <cstdio>

namespace {

std::string joinKey(const std::string& base, const char* sub)
{
    std::string key = base;
    if (key.empty() || key.back() != '/')
        key += '/';
    key += sub ? sub : "";
    return key;
}

} // namespace

CRegistry::~CRegistry()
{
    if (isOpen())
        CloseKey();
}

HiveList* CRegistry::GetHive(eRegKeyType type)
{
    switch (type) {
    case eRegUser: return &HiveList::user;
    case eRegSystem: return &HiveList::system;
    case eRegShared: return &HiveList::shared;
    case eRegGlobal: return &HiveList::global;
    }
    return nullptr;
}

bool CRegistry::open(eRegKeyType type, const char* hive, const char* key, bool writeBack)
{
    if (isOpen())
        return false;
    HiveList* list = GetHive(type);
    if (list == nullptr)
        return false;
    std::string path = key ? key : "";
    if (path.empty() || path[0] != '/')
        path = "/" + path;
    Hive* opened = list->open(hive, hiveformat::upperPath(path));
    if (opened == nullptr)
        return false;
    m_hive = opened;
    m_key = path;
    m_writeBack = writeBack;
    return true;
}

bool CRegistry::CreateKey(eRegKeyType type, const char* hive, const char* key, bool writeBack)
{
    return open(type, hive, key, writeBack);
}

bool CRegistry::OpenKey(eRegKeyType type, const char* hive, const char* key, bool writeBack)
{
    // Opening creates the key entries, so the check that follows cannot fail.
    return open(type, hive, key, writeBack) && m_hive->contains(hiveformat::upperPath(m_key));
}

bool CRegistry::openChild(CRegistry& parent, const char* subKey, bool writeBack)
{
    if (isOpen() || !parent.isOpen())
        return false;
    m_hive = parent.m_hive;
    m_key = joinKey(parent.m_key, subKey);
    m_writeBack = writeBack;
    return true;
}

bool CRegistry::OpenKey(CRegistry& parent, const char* subKey, bool writeBack)
{
    return openChild(parent, subKey, writeBack);
}

bool CRegistry::CreateKey(CRegistry& parent, const char* subKey, bool writeBack)
{
    if (!openChild(parent, subKey, writeBack))
        return false;
    if (!m_hive->createKeyPath(hiveformat::upperPath(m_key))) {
        m_hive = nullptr;
        m_key.clear();
        return false;
    }
    return true;
}

bool CRegistry::CloseKey()
{
    if (!isOpen())
        return false;
    if (m_writeBack)
        m_hive->save();
    m_hive = nullptr;
    m_key.clear();
    return true;
}

bool CRegistry::flush(eRegKeyType type, const char* hive)
{
    HiveList* list = GetHive(type);
    Hive* found = list ? list->find(hive) : nullptr;
    return found != nullptr && found->save();
}

void CRegistry::refresh(eRegKeyType type, const char* hive)
{
    HiveList* list = GetHive(type);
    if (Hive* found = list ? list->find(hive) : nullptr)
        found->reloadWhenChanged();
}

bool CRegistry::setSeedFile(eRegKeyType type, const char* hive, const std::string& seedPath)
{
    HiveList* list = GetHive(type);
    if (list == nullptr)
        return false;
    list->setSeed(hive, seedPath);
    return true;
}

unsigned long CRegistry::sequenceNumber() const
{
    return isOpen() ? m_hive->sequenceNumber() : 0;
}

std::string CRegistry::valuePath(const char* name) const
{
    return hiveformat::upperPath(joinKey(m_key.empty() ? "/" : m_key, name));
}

bool CRegistry::getHiveValue(const char* name, std::string& value) const
{
    return isOpen() && m_hive->get(valuePath(name), value);
}

bool CRegistry::setHiveValue(const char* name, const std::string& value)
{
    return isOpen() && m_hive->set(valuePath(name), value);
}

namespace {

// Reads one number of the scanned type; value is changed only on success.
template <typename Scanned, typename Target>
bool scanNumber(const std::string& text, const char* format, Target& value)
{
    Scanned parsed;
    if (std::sscanf(text.c_str(), format, &parsed) != 1)
        return false;
    value = parsed;
    return true;
}

} // namespace

bool CRegistry::QueryValue(const char* name, int& value) const
{
    std::string text;
    return getHiveValue(name, text) && scanNumber<int>(text, "%d", value);
}

bool CRegistry::QueryValue(const char* name, unsigned int& value) const
{
    std::string text;
    return getHiveValue(name, text) && scanNumber<unsigned int>(text, "%u", value);
}

bool CRegistry::QueryValue(const char* name, unsigned long& value) const
{
    std::string text;
    return getHiveValue(name, text) && scanNumber<unsigned int>(text, "%u", value);
}

bool CRegistry::QueryValue(const char* name, float& value) const
{
    std::string text;
    return getHiveValue(name, text) && scanNumber<float>(text, "%f", value);
}

bool CRegistry::QueryValue(const char* name, bool& value) const
{
    std::string text;
    if (!getHiveValue(name, text))
        return false;
    value = text.empty() || text[0] != '0';
    return true;
}

bool CRegistry::QueryValue(const char* name, std::string& value) const
{
    std::string text;
    if (!getHiveValue(name, text))
        return false;
    return hiveformat::decode(text, value);
}

bool CRegistry::QueryValue(const char* name, StringList& value) const
{
    std::string text;
    if (!getHiveValue(name, text))
        return false;
    value.clear();
    // Every double-quoted run, in order; encoded elements hold no '"'.
    for (size_t open = text.find('"'); open != std::string::npos;) {
        const size_t close = text.find('"', open + 1);
        std::string element;
        hiveformat::decode(std::string_view(text).substr(open, close == std::string::npos
                                                                   ? std::string::npos
                                                                   : close - open + 1),
                           element);
        value.push_back(std::move(element));
        if (close == std::string::npos)
            break;
        open = text.find('"', close + 1);
    }
    return true;
}

bool CRegistry::SetValue(const char* name, int value)
{
    return setHiveValue(name, std::to_string(value));
}

bool CRegistry::SetValue(const char* name, unsigned int value)
{
    return setHiveValue(name, std::to_string(value));
}

bool CRegistry::SetValue(const char* name, float value)
{
    char text[512];
    std::snprintf(text, sizeof text, "%f", static_cast<double>(value));
    return setHiveValue(name, text);
}

bool CRegistry::SetValue(const char* name, bool value)
{
    return setHiveValue(name, value ? "1" : "0");
}

bool CRegistry::SetValue(const char* name, const char* value)
{
    return setHiveValue(name, hiveformat::encode(value ? value : ""));
}

bool CRegistry::SetValue(const char* name, const StringList& value)
{
    std::string text = "{";
    for (size_t i = 0; i < value.size(); ++i) {
        if (i > 0)
            text += ',';
        text += hiveformat::encode(value[i]);
    }
    text += '}';
    return setHiveValue(name, text);
}

bool CRegistry::SetTextList(const char* name, const char* text)
{
    StringList lines;
    const std::string all = text ? text : "";
    size_t pos = 0;
    while (pos < all.size()) {
        const size_t end = all.find_first_of("\r\n", pos);
        lines.push_back(all.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
        if (end == std::string::npos)
            break;
        pos = all.find_first_not_of("\r\n", end);
        if (pos == std::string::npos)
            break;
    }
    return SetValue(name, lines);
}

bool CRegistry::QueryTextList(const char* name, std::string& text) const
{
    StringList lines;
    if (!QueryValue(name, lines))
        return false;
    text.clear();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            text += "\r\n";
        text += lines[i];
    }
    return true;
}

bool CRegistry::IncValue(const char* name, int delta, int& result)
{
    if (!isOpen())
        return false;
    const std::string path =
        hiveformat::upperPath(m_key == "/" ? m_key + (name ? name : "") : joinKey(m_key, name));
    return m_hive->increment(path, delta, result);
}

bool CRegistry::DeleteValue(const char* name)
{
    return isOpen() && m_hive->erase(valuePath(name));
}

bool CRegistry::DeleteKey(const char* subKey)
{
    return isOpen() && m_hive->contains(valuePath(subKey)) &&
           m_hive->eraseBelow(valuePath(subKey), true);
}

bool CRegistry::EmptyKey()
{
    return isOpen() && m_hive->eraseBelow(hiveformat::upperPath(m_key), false);
}

bool CRegistry::EnumKey(unsigned long index, std::string& name) const
{
    return isOpen() && m_hive->enumerate(hiveformat::upperPath(m_key), index, true, name);
}

bool CRegistry::EnumValue(unsigned long index, std::string& name, unsigned long& /*type*/) const
{
    return isOpen() && m_hive->enumerate(hiveformat::upperPath(m_key), index, false, name);
}

bool CRegistry::encode(const std::string& in, std::string& out)
{
    out = hiveformat::encode(in);
    return true;
}

bool CRegistry::decode(const std::string& in, std::string& out)
{
    return hiveformat::decode(in, out);
}

bool CRegistry::wrap(const std::string& in, std::string& out)
{
    out = hiveformat::wrap(in);
    return true;
}
