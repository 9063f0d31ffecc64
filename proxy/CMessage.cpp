#include "proxy/CMessage.h"

#include "common/CEventLog.h"
#include "common/CRegistry.h"
#include "common/CVDateTime.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>

std::string CMessage::filePath(const std::string& stateFolder) const
{
    if (!spoolId.empty())
        return stateFolder + "/msg" + spoolId + ".msg";
    return path;
}

long CMessage::sizeQuery(const std::string& stateFolder) const
{
    if (size >= 0)
        return size;
    const std::string file = filePath(stateFolder);
    struct stat st {};
    if (file.empty() || ::stat(file.c_str(), &st) != 0)
        return 0;
    return static_cast<long>(st.st_size);
}

bool CMessage::load(const std::string& id, const std::string& stateFolder)
{
    spoolId = id;
    const std::string file = stateFolder + "/msg" + id + ".msg";
    if (!readText(file)) {
        CEventLog().LogEvent(1, "Unable to open %s", file.c_str());
        return false;
    }
    return true;
}

bool CMessage::readText(const std::string& file)
{
    text.reset();
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return false;
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    static const char kEnd[] = "\r\n.\r\n";
    const size_t end = data.find(kEnd);
    if (end != std::string::npos)
        data.resize(end + 5);
    else if (data.compare(0, 3, ".\r\n") != 0)
        data += (data.size() >= 2 && data.compare(data.size() - 2, 2, "\r\n") == 0) ? ".\r\n" : kEnd;
    else
        data.resize(3);
    path = file;
    size = static_cast<long>(data.size());
    text = std::move(data);
    return true;
}

std::string CMessage::generatedUid()
{
    CVDateTime now;
    char uid[40];
    std::snprintf(uid, sizeof uid, "QF%08x%04d%02d%02d%02d%02d%02d", static_cast<unsigned>(GetNextId()),
                  now.year(), now.month(), now.day(), now.hour(), now.minute(), now.second());
    return uid;
}
