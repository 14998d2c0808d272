#pragma once

#include <cstdint>

namespace kel {

/// Whether a Windows reparse point with tag `tag` is a link: a name
/// surrogate (symbolic link, junction, a WSL link), which stands for
/// another path. Other reparse points are the file itself kept in another
/// way: a cloud placeholder of OneDrive's Files On-Demand (every file and
/// folder under a sync root), a deduplicated or compressed file. Those are
/// used like plain files and folders.
bool ReparseTagIsLink(uint32_t tag);

}  // namespace kel
