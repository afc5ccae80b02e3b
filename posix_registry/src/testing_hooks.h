#pragma once

#include "file_system.h"

namespace posix_registry {

// Routes every file operation of the registry functions through files, or
// back to the system's when files is null.
void UseFileSystemForTesting(FileSystem* files);

}  // namespace posix_registry
