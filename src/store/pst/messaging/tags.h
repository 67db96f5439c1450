// The property tags only the PST messaging layer reads and writes (the ones messages carry
// are mapi's), and the fixed node ids.
#pragma once

#include <cstdint>

#include "store/mapi/prop_tags.h"

namespace pst::messaging {

namespace tag {
constexpr std::uint32_t kMessageToMe = 0x0057000B;
constexpr std::uint32_t kMessageCcMe = 0x0058000B;
constexpr std::uint32_t kMessageStatus = 0x0E170003;
constexpr std::uint32_t kResponsibility = 0x0E0F000B;
constexpr std::uint32_t kRecordKey = 0x0FF90102;
constexpr std::uint32_t kEntryId = 0x0FFF0102;
constexpr std::uint32_t kComment = 0x3004001F;
constexpr std::uint32_t kValidFolderMask = 0x35DF0003;
constexpr std::uint32_t kIpmSubTreeEntryId = 0x35E00102;
constexpr std::uint32_t kIpmWastebasketEntryId = 0x35E30102;
constexpr std::uint32_t kFinderEntryId = 0x35E70102;
constexpr std::uint32_t kContentCount = 0x36020003;
constexpr std::uint32_t kContentUnreadCount = 0x36030003;
constexpr std::uint32_t kSubfolders = 0x360A000B;
constexpr std::uint32_t kContainerClass = 0x3613001F;
constexpr std::uint32_t kTransmittableDisplayName = 0x39FF001F;
constexpr std::uint32_t kSendRichInfo = 0x3A40000B;
constexpr std::uint32_t kPstHiddenCount = 0x66350003;
constexpr std::uint32_t kPstHiddenUnread = 0x66360003;
constexpr std::uint32_t kPstLrNoRestrictions = 0x6633000B;
constexpr std::uint32_t kPstPassword = 0x67FF0003;
constexpr std::uint32_t kSearchFolderCriteria = 0x660B0003;
constexpr std::uint32_t kReceiveFolderNid = 0x66050003;
constexpr std::uint32_t kLtpRowId = 0x67F20003;
constexpr std::uint32_t kLtpRowVer = 0x67F30003;
constexpr std::uint32_t kNameidBucketCount = 0x00010003;
constexpr std::uint32_t kNameidStreamGuid = 0x00020102;
constexpr std::uint32_t kNameidStreamEntry = 0x00030102;
constexpr std::uint32_t kNameidStreamString = 0x00040102;
constexpr std::uint32_t kNameidBucketBase = 0x10000102;
}  // namespace tag

namespace nid {
constexpr std::uint32_t kMessageStore = 0x21;
constexpr std::uint32_t kNameToIdMap = 0x61;
constexpr std::uint32_t kRootFolder = 0x122;
constexpr std::uint32_t kSearchManagementQueue = 0x1E1;
constexpr std::uint32_t kSearchActivityList = 0x201;
constexpr std::uint32_t kSearchDomainObject = 0x261;
constexpr std::uint32_t kHierarchyTableTemplate = 0x60D;
constexpr std::uint32_t kContentsTableTemplate = 0x60E;
constexpr std::uint32_t kAssocContentsTableTemplate = 0x60F;
constexpr std::uint32_t kSearchContentsTableTemplate = 0x610;
constexpr std::uint32_t kReceiveFolderTable = 0x62B;
constexpr std::uint32_t kOutgoingQueueTable = 0x64C;
constexpr std::uint32_t kAttachmentTable = 0x671;
constexpr std::uint32_t kRecipientTable = 0x692;
constexpr std::uint32_t kChangeHistoryTable = 0x6B6;
constexpr std::uint32_t kTombstoneTable = 0x6D7;
constexpr std::uint32_t kInternalTable = 0x6F8;
constexpr std::uint32_t kIpmSubtree = 0x8022;
constexpr std::uint32_t kSearchRoot = 0x8042;
constexpr std::uint32_t kDeletedItems = 0x8062;
constexpr std::uint32_t kSpamSearchFolder = 0x2223;
}  // namespace nid

}  // namespace pst::messaging
