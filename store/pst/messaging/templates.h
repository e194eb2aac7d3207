// The columns of the tables a new PST carries ([MS-PST] 2.4.4.4.1,
// 2.4.4.5.1, 2.4.4.6.1, 2.4.8.6.2.1, 2.4.5.2.1, 2.4.5.3.1), in the order in
// which Outlook adds them (which fixes each column's cell bit and offset),
// after PidTagLtpRowId and PidTagLtpRowVer.
#pragma once

#include <array>
#include <cstdint>

namespace tavrin::pst::messaging::columns {

// Hierarchy table template, 0x60D.
inline constexpr std::array<uint32_t, 11> kHierarchy = {
    0x3001001F, 0x36020003, 0x36030003, 0x360A000B, 0x0E300102, 0x0E330014,
    0x0E340102, 0x0E380003, 0x3613001F, 0x66350003, 0x66360003};

// Contents table template, 0x60E.
inline constexpr std::array<uint32_t, 26> kContents = {
    0x0E170003, 0x001A001F, 0x0E070003, 0x00170003, 0x0042001F, 0x0037001F, 0x0E060040,
    0x00390040, 0x0E080003, 0x0E04001F, 0x0E03001F, 0x0057000B, 0x0058000B, 0x00360003,
    0x10970003, 0x0070001F, 0x00710102, 0x30130102, 0x65C60003, 0x30080040, 0x0E300102,
    0x0E330014, 0x0E340102, 0x0E3D0102, 0x0E3C0102, 0x0E380003};

// Associated (FAI) contents table template, 0x60F.
inline constexpr std::array<uint32_t, 13> kAssocContents = {
    0x0E170003, 0x001A001F, 0x0E070003, 0x3001001F, 0x70030003, 0x70040102, 0x70050102,
    0x7006001F, 0x70070003, 0x6800001F, 0x6803000B, 0x68051003, 0x682F001F};

// Search contents table template, 0x610.
inline constexpr std::array<uint32_t, 17> kSearchContents = {
    0x67F10003, 0x0E05001F, 0x0E170003, 0x001A001F, 0x0E070003, 0x00170003,
    0x0042001F, 0x0037001F, 0x0E060040, 0x0E080003, 0x0E04001F, 0x0E03001F,
    0x0057000B, 0x0058000B, 0x00360003, 0x0E2A000B, 0x30080040};

// Attachment table template, 0x671.
inline constexpr std::array<uint32_t, 4> kAttachments = {0x370B0003, 0x0E200003, 0x37050003, 0x3704001F};

// Recipient table template, 0x692.
inline constexpr std::array<uint32_t, 12> kRecipients = {
    0x0E0F000B, 0x3002001F, 0x3003001F, 0x0FFF0102, 0x3001001F, 0x0C150003,
    0x300B0102, 0x0FF90102, 0x0FFE0003, 0x39000003, 0x3A40000B, 0x39FF001F};

// Receive folder table, 0x62B: message class -> folder NID.
inline constexpr std::array<uint32_t, 2> kReceiveFolders = {0x66050003, 0x001A001F};

// Outgoing queue table, 0x64C.
inline constexpr std::array<uint32_t, 8> kOutgoingQueue = {
    0x0E140003, 0x0E100003, 0x00390040, 0x0EA20003, 0x67F10003, 0x0E29001F, 0x0E070003, 0x000F0040};

// The other empty tables of a new Outlook file, 0x6B6, 0x6D7 and 0x6F8.
inline constexpr std::array<uint32_t, 3> kTable6B6 = {0x0E330014, 0x0E370102, 0x0E380003};
inline constexpr std::array<uint32_t, 7> kTable6D7 = {0x0E3E0102, 0x0E310102, 0x0E300102, 0x0E380003,
                                                      0x0E340102, 0x0E330014, 0x001A001F};
inline constexpr std::array<uint32_t, 2> kTable6F8 = {0x30070040, 0x0E330014};

// Attachment properties Outlook adds to a message's attachment table after
// the template columns, when an attachment has them.
inline constexpr std::array<uint16_t, 22> kAttachmentExtras = {
    0x3714, 0x370A, 0x370D, 0x3708, 0x3707, 0x3703, 0x3001, 0x370F, 0x3711, 0x3713, 0x3712,
    0x370E, 0x6909, 0x7FFD, 0x7FFB, 0x7FFC, 0x7FFA, 0x7FFE, 0x7FFF, 0x7FF9, 0x3719, 0x371A};

}  // namespace tavrin::pst::messaging::columns
