#include "antivirus/ClamEngine.h"

#include "common/CEventLog.h"

#include <clamav.h>
#include <dirent.h>
#include <sys/stat.h>

#include <mutex>
#include <shared_mutex>

namespace {

// What the folder holds, to see that it changed: names, sizes, times.
std::string folderStamp(const std::string& folder)
{
    std::string stamp;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return stamp;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat st {};
        if (::stat((folder + "/" + name).c_str(), &st) == 0)
            stamp += name + ":" + std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + ":" +
                     std::to_string(st.st_mtim.tv_nsec) + "\n";
    }
    ::closedir(dir);
    return stamp;
}

struct Engine {
    std::shared_mutex lock;   // scans share it; a reload takes it alone
    cl_engine* engine = nullptr;
    std::string folder;
    std::string stamp;
    unsigned signatures = 0;
    bool reportedEmpty = false;
    bool initialised = false;
    ~Engine()
    {
        if (engine)
            cl_engine_free(engine);
    }
};

Engine& shared()
{
    static Engine engine;
    return engine;
}

// Compiles the engine for folder unless it is current; with the lock held
// exclusively.
void reload(Engine& e, const std::string& folder)
{
    const std::string stamp = folderStamp(folder);
    if (e.initialised && e.folder == folder && e.stamp == stamp)
        return;
    if (!e.initialised) {
        cl_init(CL_INIT_DEFAULT);
        e.initialised = true;
    }
    if (e.engine) {
        cl_engine_free(e.engine);
        e.engine = nullptr;
    }
    e.folder = folder;
    e.stamp = stamp;
    e.signatures = 0;
    cl_engine* engine = cl_engine_new();
    if (engine == nullptr)
        return;
    unsigned signatures = 0;
    const cl_error_t loaded = stamp.empty() ? CL_EOPEN : cl_load(folder.c_str(), engine, &signatures, CL_DB_STDOPT);
    if (loaded != CL_SUCCESS || signatures == 0 || cl_engine_compile(engine) != CL_SUCCESS) {
        cl_engine_free(engine);
        if (!e.reportedEmpty)
            CEventLog().LogEvent(1, "virus: No virus database in %s, scanning inactive", folder.c_str());
        e.reportedEmpty = true;
        return;
    }
    e.engine = engine;
    e.signatures = signatures;
    CEventLog().LogEvent(4, "virus: ClamAV engine %s loaded with %u signatures from %s", cl_retver(), signatures,
                         folder.c_str());
}

} // namespace

std::string clamDefaultDatabaseFolder()
{
    const char* folder = cl_retdbdir();
    return folder ? folder : "/var/lib/clamav";
}

void clamNewReload()
{
    Engine& e = shared();
    std::unique_lock<std::shared_mutex> exclusive(e.lock);
    e.reportedEmpty = false;
}

EngineVerdict clamScanFile(const std::string& path, const ClamOptions& options)
{
    Engine& e = shared();
    {
        std::unique_lock<std::shared_mutex> exclusive(e.lock);
        reload(e, options.databaseFolder);
    }
    std::shared_lock<std::shared_mutex> scanning(e.lock);
    EngineVerdict verdict;
    if (e.engine == nullptr) {
        verdict.kind = EngineVerdict::Unscanned;
        verdict.reason = "no virus signatures in " + e.folder;
        return verdict;
    }
    cl_scan_options scan{};
    scan.general = CL_SCAN_GENERAL_HEURISTICS;
    scan.parse = ~0u;
    if (!options.scanArchives)
        scan.parse &= ~static_cast<uint32_t>(CL_SCAN_PARSE_ARCHIVE);
    if (!options.macroCheck)
        scan.parse &= ~static_cast<uint32_t>(CL_SCAN_PARSE_OLE2);
    scan.heuristic = CL_SCAN_HEURISTIC_ENCRYPTED_ARCHIVE;
    const char* virus = nullptr;
    const cl_error_t result = cl_scanfile(path.c_str(), &virus, nullptr, e.engine, &scan);
    if (result == CL_CLEAN)
        return verdict;
    if (result == CL_VIRUS) {
        verdict.virus = virus ? virus : "unknown";
        verdict.kind = verdict.virus.rfind("Heuristics.Encrypted", 0) == 0 ? EngineVerdict::EncryptedArchive
                                                                            : EngineVerdict::Virus;
        return verdict;
    }
    verdict.kind = EngineVerdict::Error;
    verdict.error = static_cast<int>(result);
    CEventLog().LogEvent(1, "virus: ClamAV could not scan %s: %s", path.c_str(), cl_strerror(result));
    return verdict;
}
