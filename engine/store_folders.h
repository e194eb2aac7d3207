// Which store folder mirrors a source folder: one rule for the folder tree
// mirroring and for the message import, so that both always agree.
//
// A source folder is named by its path relative to the source folder, with
// "\" between its components, as the conversion takes it from the walk:
// "\Inbox\Old" for E:\Mail\Inbox\Old converted from E:\Mail, "Inbox\Old"
// when the source folder is a drive root (its path ends in the separator, so
// no separator is left in front), "" or "\" for the source folder itself.
// The store folder is a list of components below the top of the store's
// visible folder tree (empty: the top itself).
//
// The rules, in order (texts compared exactly, case-sensitive):
//   1. A path with "!" stands for the text before its first "!", without
//      leading and trailing blanks ("\Work\A!B\C" -> "\Work\A").
//   2. A path with ":\" stands for the text between its first ":\" and the
//      next one, or the end ("\X:\Y\Z" -> "Y\Z"), taken as a path of a
//      drive root.
//   3. A first component "Inbox" is the store's default Inbox, "Sent" its
//      default Sent Items (whatever those folders are named in the store).
//      Below the first level "Inbox" and "Sent" are folders like any other.
//   4. The mirroring makes every store folder that mirrors a source folder,
//      also when no message goes into it, except:
//        - the folders of rule 1 (a path with "!");
//        - the default folders of rule 3;
//        - a folder whose last component is "Calendar", "Contacts",
//          "Emailed Contacts", "Tasks", "Sent", "Notebook" or
//          "Conversations", except at the first level of a drive root,
//          where only "Emailed Contacts" is left out.
//      Such a folder is made only when a message goes into it. Making a
//      folder makes its missing parents first, top-down, so no folder is
//      made anywhere else.
//   5. A component whose name ends in ".mbox" (any case) stands for its
//      name without that extension: an mbox file is a folder of messages,
//      and so is an Apple Mail "NAME.mbox" folder (its "mbox" file holds
//      the messages of NAME). The other rules see the name without it
//      ("\Sent.mbox" is the default Sent Items).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tavrin::engine {

// The display names of the store's default Inbox and Sent Items.
struct DefaultFolderNames {
    std::string inbox;
    std::string sent;
};

struct StoreFolder {
    std::vector<std::string> path;  // components below the top of the folder tree
    bool mirrored = false;          // the mirroring makes it, even when it stays empty

    bool operator==(const StoreFolder&) const = default;
};

// The store folder of the source folder at `relative` (rules above).
StoreFolder StoreFolderFor(std::string_view relative, const DefaultFolderNames& defaults);

// The store folder as the report names it: "\Inbox\Old"; "\" for the top.
std::string StoreFolderText(const std::vector<std::string>& path);

}  // namespace tavrin::engine
