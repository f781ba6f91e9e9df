#include "LogAccess.h"

#include "Output.h"
#include "ValueText.h"

#include <Ovra/ResultCodes.h>
#include <fstream>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace ovractl {

namespace {

bool IsFile(const std::string& path) {
#if defined(_WIN32)
    DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
#else
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
#endif
}

bool IsFolder(const std::string& path) {
#if defined(_WIN32)
    DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
#else
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
#endif
}

std::string Folder(const std::string& path) {
    const std::string::size_type slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

}  // namespace

int Require(int code, const std::string& what) {
    return code == Ovra::result::kOk ? kOk : Fail(what, LibraryCodeText(code), code);
}

int LogDatabase::Open(const std::string& path, bool create) {
    if (!IsFolder(Folder(path))) return Fail("no such folder", Folder(path), kNoInput);
    if (!create && !IsFile(path)) return Fail("no such database", path, kNoInput);
    if (int rc = m_log.Open(Wide(path)))
        return Fail("cannot open " + path, LibraryCodeText(rc), rc);
    m_log.ReadColumnTypes(m_types);
    if (!create && m_types.empty()) return Fail("no log table in", path, Ovra::result::kMissing);
    return 0;
}

}  // namespace ovractl
