// The file a folder conversion writes, and the further files it goes on in
// at the size cap: part k of "NAME.pst" is "NAME (k).pst" (k from 2), each
// a whole store with the default folders and the part of the source tree
// whose messages it holds, its store named "... (k)". When adding to a file
// whose parts exist, they are filled in order: each part but the last was
// full when the next was begun, so new messages go into the last part and
// on into new ones, while the earlier parts are only looked at for the
// messages they hold. One store is written at a time. What happens to the files is told in the run's
// summary: the files completed, and why a file could not be (its messages
// then count as not converted).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/outcome.h"
#include "engine/store_folders.h"
#include "fs/result.h"
#include "store/session.h"

namespace tavrin::engine {

class OutputParts {
public:
    // `maxFileSize`: the size a file may reach; 0 for no cap.
    OutputParts(RunSummary& summary, uint64_t maxFileSize);
    OutputParts(const OutputParts&) = delete;
    OutputParts& operator=(const OutputParts&) = delete;

    // Part 1: a store at `path` named `displayName`, with its default
    // folders looked up: a new one, or with options.replaceExisting one that
    // replaces the file there at Logoff, or with options.addToExisting the
    // file there added to. On failure nothing is open and nothing is
    // recorded.
    Status open(const std::string& path, const std::string& displayName, const store::LogonOptions& options);
    bool isOpen() const { return session_ != nullptr; }
    // The file being written existed and is added to.
    bool adding() const { return adding_; }
    // The file being written, and its part number (1, 2, ...).
    const std::string& path() const { return path_; }
    int number() const { return number_; }
    const DefaultFolderNames& defaults() const { return defaults_; }

    // The store folder at `path` below the top of the folder tree. Missing
    // components are made top-down, each looked up first as the store looks
    // folders up (ignoring letter case), so nothing is added beside a folder
    // that is there.
    Result<std::shared_ptr<store::RDOFolder>> folder(const std::vector<std::string>& path);

    // The earlier part that holds a message of the store folder at `path`
    // (the path of that part's file; `subject` is the message's), or the
    // empty text. Only when adding to a file with parts; a part whose folder
    // cannot be read counts as not holding it.
    std::string heldEarlier(const std::vector<std::string>& path, const store::Message& message,
                            std::string& subject);
    bool hasEarlierParts() const { return !earlier_.empty(); }

    // True when an item of `itemBytes` would take the file past the cap. A
    // new file holds at least one message, whatever its size.
    bool full(uint64_t itemBytes) const;
    // A message was saved into the file.
    void saved() { ++messages_; }
    // Whether the file can still be completed (see RDOSession::CheckOutput).
    Status check();

    // Completes the file and goes on in the next part. A name that is taken
    // is passed over, never replaced. False when the output failed (told as
    // fail() tells it).
    bool next();
    // Completes the file. False when it could not be completed (told as
    // fail() tells it). Nothing to do when no file is open.
    bool finish();
    // The file can no longer be completed: it is discarded (nothing of it
    // stays), the messages saved into it count as not converted for `cause`
    // (or the words for `e`), and the cause is the run's output failure.
    void fail(const Error& e);
    void fail(const std::string& cause);
    // The words for an output failure: "The disk holding PATH is full." for
    // a full disk, else the error's description.
    std::string cause(const Error& e) const;

private:
    Status logon(const std::string& path, const store::LogonOptions& options);
    Status lookAt(const std::string& path, const std::string& displayName);

    RunSummary& summary_;
    uint64_t maxFileSize_;
    std::unique_ptr<store::RDOSession> session_;
    std::shared_ptr<store::RDOStore> store_;
    DefaultFolderNames defaults_;
    std::string basePath_, baseName_, displayName_, path_;
    int number_ = 1;
    store::LogonOptions options_;  // those of the parts after the first
    bool adding_ = false;
    // The parts before the one being written that existed: open for the
    // lookup of what they hold, never written (closed without Logoff, which
    // leaves a file as it was).
    struct Earlier {
        std::string path, displayName;
        std::unique_ptr<store::RDOSession> session;
    };
    std::vector<Earlier> earlier_;
    size_t firstRecord_ = 0;  // the records from here on belong to the file being written
    size_t messages_ = 0;     // messages saved into it
};

}  // namespace tavrin::engine
