// The store folder of every kind of source folder, from one table: the
// cases of E:\Mail and of a drive root, the folders left to their messages,
// "A!B" and ":\", a tree with Inbox and Sent at several depths, and default
// folders with other names.
#include <gtest/gtest.h>

#include "engine/store_folders.h"

namespace tavrin::engine {
namespace {

using Path = std::vector<std::string>;

TEST(StoreFolders, EverySourceFolderHasOneStoreFolder) {
    const DefaultFolderNames names{"Inbox", "Sent Items"};
    const struct {
        const char* relative;
        Path path;
        bool mirrored;
    } cases[] = {
        // The source folder itself: the top of the store.
        {"", {}, false},
        {"\\", {}, false},
        // E:\Mail: Inbox and Sent at the first level are the default folders.
        {"\\Inbox", {"Inbox"}, false},
        {"\\Inbox\\Old", {"Inbox", "Old"}, true},
        {"\\Sent", {"Sent Items"}, false},
        {"\\Sent\\Projects", {"Sent Items", "Projects"}, true},
        {"\\Work", {"Work"}, true},
        {"\\Work\\A!B", {"Work", "A"}, false},
        {"\\Work\\A !B\\C", {"Work", "A"}, false},
        {"\\!x", {}, false},
        // D:\ (a drive root): first-level folders are made unless they are
        // Emailed Contacts; Inbox and Sent are the default folders.
        {"Inbox", {"Inbox"}, false},
        {"Sent", {"Sent Items"}, false},
        {"Emailed Contacts", {"Emailed Contacts"}, false},
        {"Notebook", {"Notebook"}, true},
        {"Calendar", {"Calendar"}, true},
        {"Work", {"Work"}, true},
        {"Inbox\\Old", {"Inbox", "Old"}, true},
        {"Sent\\Projects", {"Sent Items", "Projects"}, true},
        {"Sent\\Projects\\X", {"Sent Items", "Projects", "X"}, true},
        // Folders left to the messages that need them, at any depth.
        {"\\Calendar", {"Calendar"}, false},
        {"\\Notebook", {"Notebook"}, false},
        {"\\Work\\Calendar", {"Work", "Calendar"}, false},
        {"\\Work\\Contacts", {"Work", "Contacts"}, false},
        {"\\Work\\Emailed Contacts", {"Work", "Emailed Contacts"}, false},
        {"\\Work\\Tasks", {"Work", "Tasks"}, false},
        {"\\Work\\Notebook", {"Work", "Notebook"}, false},
        {"\\Work\\Conversations", {"Work", "Conversations"}, false},
        {"Work\\Sent", {"Work", "Sent"}, false},
        {"\\Work\\Calendar\\X", {"Work", "Calendar", "X"}, true},
        {"\\Work\\My Calendar", {"Work", "My Calendar"}, true},
        // ":\" inside a path: what follows it, as a drive root's path.
        {"\\X:\\Y\\Z", {"Y", "Z"}, true},
        {"\\X:\\Inbox", {"Inbox"}, false},
        {"\\a:\\b:\\c", {"b"}, true},
        // Mail\A\Inbox\B\C, Mail\Inbox\X, Mail\Sent: no folder anywhere else.
        {"\\A", {"A"}, true},
        {"\\A\\Inbox", {"A", "Inbox"}, true},
        {"\\A\\Inbox\\B", {"A", "Inbox", "B"}, true},
        {"\\A\\Inbox\\B\\C", {"A", "Inbox", "B", "C"}, true},
        {"\\Inbox\\X", {"Inbox", "X"}, true},
        // Inbox and Sent below the first level are folders like any other.
        {"\\X\\Y\\Inbox\\Z", {"X", "Y", "Inbox", "Z"}, true},
        {"\\X\\Y\\Sent", {"X", "Y", "Sent"}, false},
        {"\\X\\Y\\Sent\\Z", {"X", "Y", "Sent", "Z"}, true},
        {"\\Inbox\\Inbox", {"Inbox", "Inbox"}, true},
        {"\\Inbox\\Sent", {"Inbox", "Sent"}, false},
        {"\\Sent\\Inbox", {"Sent Items", "Inbox"}, true},
        {"\\Sent\\Sent\\Q", {"Sent Items", "Sent", "Q"}, true},
        {"\\P\\Inbox\\Q\\Inbox\\R", {"P", "Inbox", "Q", "Inbox", "R"}, true},
        {"Sent\\Inbox\\Sent\\X", {"Sent Items", "Inbox", "Sent", "X"}, true},
        // Names are compared exactly.
        {"\\inbox", {"inbox"}, true},
        {"\\Sent Items", {"Sent Items"}, true},
        // Mailboxes (mbox files, Apple Mail NAME.mbox folders) lose ".mbox".
        {"\\Work\\Old.mbox", {"Work", "Old"}, true},
        {"\\A.MBOX\\B.Mbox", {"A", "B"}, true},
        {"\\Inbox.mbox", {"Inbox"}, false},
        {"Sent.mbox\\X.mbox", {"Sent Items", "X"}, true},
        {"\\Work\\Calendar.mbox", {"Work", "Calendar"}, false},
        {"\\.mbox", {".mbox"}, true},
        {"\\x.mbox.eml", {"x.mbox.eml"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.relative);
        EXPECT_EQ(StoreFolderFor(c.relative, names), (StoreFolder{c.path, c.mirrored}));
    }
    const DefaultFolderNames german{"Posteingang", "Gesendete Elemente"};
    EXPECT_EQ(StoreFolderFor("\\Inbox\\Alt", german).path, (Path{"Posteingang", "Alt"}));
    EXPECT_EQ(StoreFolderFor("Sent", german).path, (Path{"Gesendete Elemente"}));
    EXPECT_EQ(StoreFolderText({}), "\\");
    EXPECT_EQ(StoreFolderText({"Inbox", "Old"}), "\\Inbox\\Old");
}

}  // namespace
}  // namespace tavrin::engine
