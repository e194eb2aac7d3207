// What the store writer and the store updater share about the layout of a
// store: the store's and folders' own properties ([MS-PST] 2.4.3,
// [MS-OXPROPS], [MS-OXOSFLD]) and the standard folders Outlook creates.
#pragma once

#include <cstdint>

#include "store/pst/messaging/message_store.h"

namespace tavrin::pst::messaging {

// Store and folder properties ([MS-PST] 2.4.3, [MS-OXPROPS]).
inline constexpr uint16_t PidTagReplVersionHistory = 0x0E34;
inline constexpr uint16_t PidTagReplFlags = 0x0E38;
inline constexpr uint16_t PidTagIpmOutboxEntryId = 0x35E2;
inline constexpr uint16_t PidTagIpmSentMailEntryId = 0x35E4;
inline constexpr uint16_t PidTagViewsEntryId = 0x35E5;
inline constexpr uint16_t PidTagCommonViewsEntryId = 0x35E6;
inline constexpr uint16_t PidTagIpmAppointmentEntryId = 0x36D0;
inline constexpr uint16_t PidTagIpmContactEntryId = 0x36D1;
inline constexpr uint16_t PidTagIpmJournalEntryId = 0x36D2;
inline constexpr uint16_t PidTagIpmNoteEntryId = 0x36D3;
inline constexpr uint16_t PidTagIpmTaskEntryId = 0x36D4;
inline constexpr uint16_t PidTagIpmDraftsEntryId = 0x36D7;
inline constexpr uint16_t PidTagAdditionalRenEntryIds = 0x36D8;
inline constexpr uint16_t PidTagAdditionalRenEntryIdsEx = 0x36D9;
inline constexpr uint16_t PidTagPstLrNoRestrictions = 0x6633;
inline constexpr uint16_t PidTagPstIpmsubTreeDescendant = 0x66FA;  // Outlook writes 0x000E0011 in a new file
inline constexpr uint16_t PidTagSearchFolderState = 0x660B;

// PidTagValidFolderMask bits ([MS-PST] 2.4.3.1 / [MS-OXPROPS]).
inline constexpr int32_t FOLDER_IPM_SUBTREE_VALID = 0x01, FOLDER_IPM_INBOX_VALID = 0x02, FOLDER_IPM_OUTBOX_VALID = 0x04,
                  FOLDER_IPM_WASTEBASKET_VALID = 0x08, FOLDER_IPM_SENTMAIL_VALID = 0x10, FOLDER_VIEWS_VALID = 0x20,
                  FOLDER_COMMON_VIEWS_VALID = 0x40, FOLDER_FINDER_VALID = 0x80;

inline constexpr uint32_t NID_SPAM_SEARCH_FOLDER = 0x2223;

struct StandardFolder {
    FolderRole role;
    bool underRoot;
    const char* name;
    const char* containerClass;
    const char* comment;
};

// What Outlook's set-up of a new store creates, with its names, classes and
// comments; Inbox, Outbox and Sent Items also get the mail class.
inline constexpr StandardFolder kStandardFolders[] = {
    {FolderRole::Inbox, false, "Inbox", "IPF.Note", "Inbox folder"},
    {FolderRole::Outbox, false, "Outbox", "IPF.Note", "Outbox folder"},
    {FolderRole::SentItems, false, "Sent Items", "IPF.Note", "Sent Items folder"},
    {FolderRole::Views, true, "IPM_VIEWS", "", ""},
    {FolderRole::Calendar, false, "Calendar", "IPF.Appointment", "Calendar Comment"},
    {FolderRole::Contacts, false, "Contacts", "IPF.Contact", "Contacts Comment"},
    {FolderRole::Journal, false, "Journal", "IPF.Journal", "Journal Comment"},
    {FolderRole::Notes, false, "Notes", "IPF.StickyNote", "Notes Comment"},
    {FolderRole::Tasks, false, "Tasks", "IPF.Task", "Tasks Comment"},
    {FolderRole::Drafts, false, "Drafts", "IPF.Note", "Drafts folder"},
    {FolderRole::RssFeeds, false, "RSS Feeds", "IPF.Note.OutlookHomepage", "RSS Feed Comment"},
    {FolderRole::JunkEmail, false, "Junk E-mail", "IPF.Note", "Junk Email Comment"},
};

}  // namespace tavrin::pst::messaging
