// pathLogger: a breadth-first walk over a folder tree that collects the
// folder paths, the file names, the full file paths and, for each file, the
// number of its folder, in keyed collections.
//
//     pathLogger logger;
//     logger.PathLogInit();
//     logger.fullFileNamesOnly(false);
//     Status s = logger.LogPath(root);
//     ... logger.pathNames(), logger.fullFileNames() ...
//     logger.Terminate();
//
// Folders are taken level by level; each folder's sub-folders are appended
// (in the order the file system lists them) before its files are read. All
// files are taken, whatever their extension. Folder paths end in the path
// separator; the root is pathNames item 1, key "K0"; the sub-folders found
// get the keys "K2", "K3", ... (no folder gets "K1"); files get "K1", "K2",
// ... in the order found, and after n files Count() is n + 1.
//
// Links to folders are followed, except a link that leads back to a folder
// the walk is inside (the folder itself or one above it): such a sub-folder
// is left out, so a link loop cannot make the walk endless (see
// fs/folder_identity.h).
//
// Failures come back as the Status of LogPath and keep what was collected
// up to then: a folder that cannot be listed (an HRESULT_FROM_WIN32 number,
// e.g. err::kAccessDenied), or run-time error 457 when a key is already
// present (a second LogPath without PathLogInit in between fails on "K0").
// The walk calls fs::Yield() once per folder and once per item.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fs/folder_identity.h"
#include "fs/keyed_collection.h"
#include "fs/result.h"

namespace tavrin::fs {

class pathLogger {
public:
    using StringCollection = KeyedCollection<std::string>;
    using IndexCollection = KeyedCollection<int32_t>;
    // Receives the caption of the counter label (lblCount1 of the status
    // window) while files are found with fullFileNamesOnly set.
    using CounterLabel = std::function<void(const std::string& caption)>;

    void setCounterLabel(CounterLabel label) { counterLabel_ = std::move(label); }

    // Sets fullFileNamesOnly and drops the four collections.
    void PathLogInit();
    // Walks the tree below `strPARENT`. A path that is not an existing
    // folder changes nothing and is not an error.
    Status LogPath(const std::string& strPARENT);
    // The running file number: 1 + the number of files found.
    int32_t Count() const { return count_; }
    // Drops the four collections.
    void Terminate();

    // True: collect only fullFileNames and update the counter label; false:
    // collect fileNames, fullFileNames and pathPointers.
    void fullFileNamesOnly(bool fullPath) { fullFileNamesOnly_ = fullPath; }
    bool fullFileNamesOnly() const { return fullFileNamesOnly_; }

    // The collections themselves, shared with the caller; each is created
    // empty on first use. A caller that keeps one keeps it past Terminate.
    std::shared_ptr<StringCollection> fileNames();      // names without folder part
    std::shared_ptr<StringCollection> pathNames();      // folder paths ending in the separator
    std::shared_ptr<IndexCollection> pathPointers();    // per file: its folder's item number in pathNames
    std::shared_ptr<StringCollection> fullFileNames();  // folder path + name

private:
    int32_t count_ = 0;
    bool fullFileNamesOnly_ = false;
    CounterLabel counterLabel_;
    std::shared_ptr<StringCollection> fileNames_;
    std::shared_ptr<StringCollection> pathNames_;
    std::shared_ptr<IndexCollection> pathPointers_;
    std::shared_ptr<StringCollection> fullFileNames_;
    // For each pathNames item: the folders the walk is inside there.
    std::vector<FolderChain> chains_;
};

}  // namespace tavrin::fs
