#pragma once

#include <sys/types.h>

#include <string>

#include "platform/environment.h"

namespace kel {

/// The folder that holds `path` ("." for a bare name, "/" at the top).
std::string ParentFolder(const std::string& path);

/// The nearest part of the absolute `path` that exists ("/" at the least).
std::string NearestExisting(std::string path);

/// True for a folder of this user's own at `path`: a real folder owned by
/// the effective user, or a link owned by the user to such a folder.
/// Anything else (a link or folder someone else put there in a shared
/// place, another user's home reached through a kept HOME under sudo) is
/// refused, so that nothing the program keeps goes where another user led
/// it.
bool IsOwnFolder(const std::string& path);

/// The home folder of user `uid` in the local password file, or empty.
/// The program is linked statically, where the C library's own lookup
/// would need the system's shared name-service libraries at run time;
/// local accounts are all it needs (others have HOME set by their login).
/// The file is read as untrusted: a regular file, at most 4 MiB.
std::string PasswordFileHome(uid_t uid);

/// The effective user's own home: HOME when it is an absolute path to a
/// folder of the user's own, else the home of the user's password entry
/// (root under sudo keeping the caller's HOME gets root's); empty when
/// there is neither.
std::string OwnHome(Environment& env);

}  // namespace kel
