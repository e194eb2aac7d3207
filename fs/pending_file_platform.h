// The seam between the shared part of PendingFile and ScratchFile (the
// temporary names and the removal of orphans, fs/pending_file.cpp) and the
// system calls under them (fs/pending_file_posix.cpp; a Windows
// implementation provides the same). Internal to the fs layer.
#pragma once

#include <cstdint>
#include <string>

namespace tavrin::fs::detail {

// ---- provided by the platform file ----

// This process's id.
int64_t currentProcessId();
// True when a process with this id runs on this computer (or when that
// cannot be told: a file is only removed when its owner is known gone).
bool processRunning(int64_t pid);
// This computer's name as the system gives it (empty when unknown).
std::string hostName();

// ---- shared (fs/pending_file.cpp) ----

// Eight lower-case hex digits naming this computer (a hash of its name).
const std::string& hostTag();
// "NAME.KIND-PID-HOST-RANDOM" for the target's file name NAME, KIND "tmp" or
// "spill", with a fresh random part.
std::string temporaryName(const std::string& targetName, const char* kind);
// True when `fileName` has the form above; gives the owner's id and host.
bool parseTemporaryName(const std::string& fileName, int64_t& pid, std::string& host);
// The folder of a path ("." when it has none) and its last component.
std::string folderOf(const std::string& path);
std::string fileNameOf(const std::string& path);
// Whether the named forms are forced (forceNamedTemporariesForTesting).
bool namedTemporariesForced();

}  // namespace tavrin::fs::detail
