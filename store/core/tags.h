// Property tags used by name in the store ([MS-OXPROPS]). Only the ones the
// code refers to; a property read from a file needs no entry here.
#pragma once

#include <cstdint>

#include "store/core/props.h"

namespace tavrin::store::tags {

// Property ids.
inline constexpr uint16_t PidTagImportance = 0x0017;
inline constexpr uint16_t PidTagMessageClass = 0x001A;
inline constexpr uint16_t PidTagSensitivity = 0x0036;
inline constexpr uint16_t PidTagSubject = 0x0037;
inline constexpr uint16_t PidTagClientSubmitTime = 0x0039;
inline constexpr uint16_t PidTagSubjectPrefix = 0x003D;
inline constexpr uint16_t PidTagSentRepresentingName = 0x0042;
inline constexpr uint16_t PidTagSentRepresentingEmailAddress = 0x0065;
inline constexpr uint16_t PidTagMessageToMe = 0x0057;
inline constexpr uint16_t PidTagMessageCcMe = 0x0058;
inline constexpr uint16_t PidTagConversationTopic = 0x0070;
inline constexpr uint16_t PidTagConversationIndex = 0x0071;
inline constexpr uint16_t PidTagRecipientType = 0x0C15;
inline constexpr uint16_t PidTagSenderName = 0x0C1A;
inline constexpr uint16_t PidTagSenderEmailAddress = 0x0C1F;
inline constexpr uint16_t PidTagSenderSmtpAddress = 0x5D01;
inline constexpr uint16_t PidTagSentRepresentingSmtpAddress = 0x5D02;
inline constexpr uint16_t PidTagDisplayBcc = 0x0E02;
inline constexpr uint16_t PidTagDisplayCc = 0x0E03;
inline constexpr uint16_t PidTagDisplayTo = 0x0E04;
inline constexpr uint16_t PidTagMessageDeliveryTime = 0x0E06;
inline constexpr uint16_t PidTagMessageFlags = 0x0E07;
inline constexpr uint16_t PidTagMessageSize = 0x0E08;
inline constexpr uint16_t PidTagParentEntryId = 0x0E09;
inline constexpr uint16_t PidTagMessageStatus = 0x0E17;
inline constexpr uint16_t PidTagHasAttachments = 0x0E1B;
inline constexpr uint16_t PidTagNormalizedSubject = 0x0E1D;
inline constexpr uint16_t PidTagRtfInSync = 0x0E1F;
inline constexpr uint16_t PidTagAttachSize = 0x0E20;
inline constexpr uint16_t PidTagAttachNumber = 0x0E21;
inline constexpr uint16_t PidTagAccess = 0x0FF4;
inline constexpr uint16_t PidTagInstanceKey = 0x0FF6;
inline constexpr uint16_t PidTagAccessLevel = 0x0FF7;
inline constexpr uint16_t PidTagMappingSignature = 0x0FF8;
inline constexpr uint16_t PidTagRecordKey = 0x0FF9;
inline constexpr uint16_t PidTagStoreRecordKey = 0x0FFA;
inline constexpr uint16_t PidTagStoreEntryId = 0x0FFB;
inline constexpr uint16_t PidTagObjectType = 0x0FFE;
inline constexpr uint16_t PidTagEntryId = 0x0FFF;
inline constexpr uint16_t PidTagBody = 0x1000;
inline constexpr uint16_t PidTagRtfCompressed = 0x1009;
inline constexpr uint16_t PidTagHtml = 0x1013;
inline constexpr uint16_t PidTagRowid = 0x3000;
inline constexpr uint16_t PidTagDisplayName = 0x3001;
inline constexpr uint16_t PidTagAddressType = 0x3002;
inline constexpr uint16_t PidTagEmailAddress = 0x3003;
inline constexpr uint16_t PidTagComment = 0x3004;
inline constexpr uint16_t PidTagCreationTime = 0x3007;
inline constexpr uint16_t PidTagLastModificationTime = 0x3008;
inline constexpr uint16_t PidTagSearchKey = 0x300B;
inline constexpr uint16_t PidTagConversationId = 0x3013;
inline constexpr uint16_t PidTagConversationIndexTracking = 0x3016;
inline constexpr uint16_t PidTagStoreSupportMask = 0x340D;
inline constexpr uint16_t PidTagContentCount = 0x3602;
inline constexpr uint16_t PidTagContentUnreadCount = 0x3603;
inline constexpr uint16_t PidTagSubfolders = 0x360A;
inline constexpr uint16_t PidTagContainerClass = 0x3613;
inline constexpr uint16_t PidTagAssocContentCount = 0x3617;
inline constexpr uint16_t PidTagAttachDataBinary = 0x3701;  // also PidTagAttachDataObject (PT_OBJECT)
inline constexpr uint16_t PidTagAttachExtension = 0x3703;
inline constexpr uint16_t PidTagAttachFilename = 0x3704;
inline constexpr uint16_t PidTagAttachMethod = 0x3705;
inline constexpr uint16_t PidTagAttachLongFilename = 0x3707;
inline constexpr uint16_t PidTagAttachPathname = 0x3708;
inline constexpr uint16_t PidTagAttachRendering = 0x3709;
inline constexpr uint16_t PidTagRenderingPosition = 0x370B;
inline constexpr uint16_t PidTagAttachLongPathname = 0x370D;
inline constexpr uint16_t PidTagAttachMimeTag = 0x370E;
inline constexpr uint16_t PidTagAttachContentId = 0x3712;
inline constexpr uint16_t PidTagAttachFlags = 0x3714;
inline constexpr uint16_t PidTagDisplayType = 0x3900;
inline constexpr uint16_t PidTagSmtpAddress = 0x39FE;
inline constexpr uint16_t PidTagInternetCodepage = 0x3FDE;
inline constexpr uint16_t PidTagMessageLocaleId = 0x3FF1;
inline constexpr uint16_t PidTagMessageCodepage = 0x3FFD;
inline constexpr uint16_t PidTagAttachmentHidden = 0x7FFE;

// Attachment methods ([MS-OXCMSG] 2.2.2.9).
inline constexpr int32_t afNone = 0;
inline constexpr int32_t afByValue = 1;
inline constexpr int32_t afByReference = 2;
inline constexpr int32_t afByReferenceOnly = 4;
inline constexpr int32_t afEmbeddedMessage = 5;
inline constexpr int32_t afStorage = 6;
inline constexpr int32_t afByWebReference = 7;

// PidTagMessageFlags bits ([MS-OXCMSG] 2.2.1.6).
inline constexpr int32_t MSGFLAG_READ = 0x0001;
inline constexpr int32_t MSGFLAG_UNMODIFIED = 0x0002;
inline constexpr int32_t MSGFLAG_SUBMIT = 0x0004;
inline constexpr int32_t MSGFLAG_UNSENT = 0x0008;
inline constexpr int32_t MSGFLAG_HASATTACH = 0x0010;
inline constexpr int32_t MSGFLAG_FROMME = 0x0020;
inline constexpr int32_t MSGFLAG_ASSOCIATED = 0x0040;

}  // namespace tavrin::store::tags
