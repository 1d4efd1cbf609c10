#pragma once

// Helpers shared by the platform files of the file access layer; not part of its interface.

#include "files/fileaccess.h"

#include <string>

namespace tunesift::fileaccess_detail {

// A path with an embedded NUL would silently name a different file at the system interface.
inline bool isUsablePath(const std::string& path)
{
    return !path.empty() && path.find('\0') == std::string::npos;
}

inline std::string describe(const std::string& what, const std::string& path)
{
    return what + " \"" + path + "\"";
}

// Throws std::system_error with the platform's last error (errno, or GetLastError on Windows).
[[noreturn]] void throwLastError(const std::string& what, const std::string& path);

// What the installed fault hook says about the step; no fault without a hook.
WriteFault askWriteFault(WriteStep step);

} // namespace tunesift::fileaccess_detail
