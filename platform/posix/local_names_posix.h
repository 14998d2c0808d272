#pragma once

#include <string>

namespace kel {

/// The name that the local account file `file` (/etc/passwd, /etc/group:
/// lines of name:password:id:...) gives to `id`, or "" when it is not
/// there. The file is read directly, not through the system's name
/// services: the packaged program is linked statically and cannot load
/// them, and the accounts it asks about (the user running it, the groups
/// that own serial devices) are local ones.
std::string LocalAccountName(const char* file, unsigned long id);

}  // namespace kel
