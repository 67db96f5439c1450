// On-disk structures of the node database of a Unicode PST store (wVer 23, 512-byte pages).
// Every structure is little-endian; the plain structs below are read and written through
// memcpy on a little-endian host, so their sizes are pinned with static_assert.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <cstring>
#include <string>

#include "platform/write_failure.h"

namespace pst {

// Any malformed or unsupported structure met while reading, or a misuse of the writer.
class PstError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A failure of the system underneath (a full disk, an input/output error, a file that cannot be
// opened), with its kind, so that callers can tell a full disk from a damaged store; the text
// gives the kind in words, never the system's number.
class PstSystemError : public PstError {
public:
    PstSystemError(const std::string& what, platform::WriteFailure failure)
        : PstError(what + ": " + platform::WriteFailureWords(failure)), failure_(failure) {}
    PstSystemError(const std::string& what, int error) : PstSystemError(what, platform::WriteFailureOf(error)) {}
    platform::WriteFailure failure() const { return failure_; }

private:
    platform::WriteFailure failure_;
};

namespace ndb {

static_assert(std::endian::native == std::endian::little, "the on-disk structs assume a little-endian host");

constexpr std::uint64_t kPageSize = 512;
constexpr std::uint64_t kPageDataSize = 496;
constexpr std::uint64_t kBlockAlign = 64;
constexpr std::uint64_t kMaxBlockData = 8176;        // data bytes of one block
constexpr std::uint64_t kMaxBlockSize = 8192;        // a block with its trailer
constexpr std::uint64_t kDensityListOffset = 0x4200;
constexpr std::uint64_t kFirstAMapOffset = 0x4400;
constexpr std::uint64_t kAMapCoverage = 496 * 8 * 64;          // 253,952 bytes per AMap
constexpr std::uint64_t kPMapCoverage = 8 * kAMapCoverage;     // one PMap per 8 AMaps
constexpr std::uint64_t kFMapCoverage = 496 * kAMapCoverage;   // one FMap per 496 AMaps
constexpr std::uint64_t kHeaderFMapAMaps = 128;         // rgbFM: one byte per AMap
constexpr std::uint64_t kFMapAMaps = 496;               // an FMap page: one byte per AMap
constexpr std::uint64_t kHeaderFPMapPMaps = 128 * 8;    // rgbFP: one bit per PMap (about 2 GB)
constexpr std::uint64_t kFPMapPMaps = 496 * 8;          // an FPMap page: one bit per PMap

constexpr std::uint16_t kMagicClient = 0x4D53;  // "SM"
constexpr std::uint16_t kMagicClientOst = 0x4F53;  // "SO": an offline store of a server account
constexpr std::uint16_t kVersionUnicode = 23;
constexpr std::uint16_t kVersionClient = 19;

enum class CryptMethod : std::uint8_t { None = 0x00, Permute = 0x01 };

enum PageType : std::uint8_t {
    kPtypeBBT = 0x80,
    kPtypeNBT = 0x81,
    kPtypeFMap = 0x82,
    kPtypePMap = 0x83,
    kPtypeAMap = 0x84,
    kPtypeFPMap = 0x85,
    kPtypeDL = 0x86,
};

// Node types (low 5 bits of a NID).
enum NidType : std::uint32_t {
    kNidTypeHid = 0x00,
    kNidTypeInternal = 0x01,
    kNidTypeNormalFolder = 0x02,
    kNidTypeSearchFolder = 0x03,
    kNidTypeNormalMessage = 0x04,
    kNidTypeAttachment = 0x05,
    kNidTypeSearchUpdateQueue = 0x06,
    kNidTypeSearchCriteriaObject = 0x07,
    kNidTypeAssocMessage = 0x08,
    kNidTypeContentsTableIndex = 0x0A,
    kNidTypeReceiveFolderTable = 0x0B,
    kNidTypeOutgoingQueueTable = 0x0C,
    kNidTypeHierarchyTable = 0x0D,
    kNidTypeContentsTable = 0x0E,
    kNidTypeAssocContentsTable = 0x0F,
    kNidTypeSearchContentsTable = 0x10,
    kNidTypeAttachmentTable = 0x11,
    kNidTypeRecipientTable = 0x12,
    kNidTypeSearchTableIndex = 0x13,
    kNidTypeLtp = 0x1F,
};

constexpr std::uint32_t MakeNid(std::uint32_t type, std::uint32_t index) { return (index << 5) | (type & 0x1F); }
constexpr std::uint32_t NidType(std::uint64_t nid) { return static_cast<std::uint32_t>(nid & 0x1F); }
constexpr std::uint32_t NidIndex(std::uint64_t nid) { return static_cast<std::uint32_t>(nid >> 5); }

// A BID's bit 1 marks an internal block (XBLOCK, XXBLOCK, SLBLOCK, SIBLOCK); bit 0 is reserved.
constexpr bool IsInternalBid(std::uint64_t bid) { return (bid & 0x2) != 0; }

#pragma pack(push, 1)

// BREF: a BID and the absolute file offset of what it names.
struct BREF {
    std::uint64_t bid;
    std::uint64_t ib;
};
static_assert(sizeof(BREF) == 16);

// ROOT: the file state kept in the header.
struct ROOT {
    std::uint32_t dwReserved;
    std::uint64_t ibFileEof;
    std::uint64_t ibAMapLast;
    std::uint64_t cbAMapFree;
    std::uint64_t cbPMapFree;
    BREF BREFNBT;
    BREF BREFBBT;
    std::uint8_t fAMapValid;
    std::uint8_t bReserved;
    std::uint16_t wReserved;
};
static_assert(sizeof(ROOT) == 72);

// HEADER (Unicode).
struct HEADER {
    std::uint32_t dwMagic;
    std::uint32_t dwCRCPartial;
    std::uint16_t wMagicClient;
    std::uint16_t wVer;
    std::uint16_t wVerClient;
    std::uint8_t bPlatformCreate;
    std::uint8_t bPlatformAccess;
    std::uint32_t dwReserved1;
    std::uint32_t dwReserved2;
    std::uint64_t bidUnused;
    std::uint64_t bidNextP;
    std::uint32_t dwUnique;
    std::uint32_t rgnid[32];
    std::uint64_t qwUnused;
    ROOT root;
    std::uint32_t dwAlign;
    std::uint8_t rgbFM[128];
    std::uint8_t rgbFP[128];
    std::uint8_t bSentinel;
    std::uint8_t bCryptMethod;
    std::uint16_t rgbReserved;
    std::uint64_t bidNextB;
    std::uint32_t dwCRCFull;
    std::uint8_t rgbReserved2[3];
    std::uint8_t bReserved;
    std::uint8_t rgbReserved3[32];
};
static_assert(sizeof(HEADER) == 564);
constexpr std::size_t kHeaderPartialCrcStart = 8;
constexpr std::size_t kHeaderPartialCrcLength = 471;
constexpr std::size_t kHeaderFullCrcLength = 516;
constexpr std::uint32_t kHeaderMagic = 0x4E444221;  // "!BDN"
constexpr std::uint8_t kAMapValid2 = 0x02;

// PAGETRAILER (Unicode).
struct PAGETRAILER {
    std::uint8_t ptype;
    std::uint8_t ptypeRepeat;
    std::uint16_t wSig;
    std::uint32_t dwCRC;
    std::uint64_t bid;
};
static_assert(sizeof(PAGETRAILER) == 16);

// BLOCKTRAILER (Unicode).
struct BLOCKTRAILER {
    std::uint16_t cb;
    std::uint16_t wSig;
    std::uint32_t dwCRC;
    std::uint64_t bid;
};
static_assert(sizeof(BLOCKTRAILER) == 16);

// BTPAGE (Unicode): entries, then the counts, then the trailer.
struct BTPAGE {
    std::uint8_t rgentries[488];
    std::uint8_t cEnt;
    std::uint8_t cEntMax;
    std::uint8_t cbEnt;
    std::uint8_t cLevel;
    std::uint32_t dwPadding;
    PAGETRAILER pageTrailer;
};
static_assert(sizeof(BTPAGE) == 512);

// BTENTRY: a key and the child page of an intermediate B-tree page.
struct BTENTRY {
    std::uint64_t btkey;
    BREF BREF_;
};
static_assert(sizeof(BTENTRY) == 24);

// BBTENTRY: one block of the block B-tree.
struct BBTENTRY {
    BREF BREF_;
    std::uint16_t cb;
    std::uint16_t cRef;
    std::uint32_t dwPadding;
};
static_assert(sizeof(BBTENTRY) == 24);

// NBTENTRY: one node of the node B-tree.
struct NBTENTRY {
    std::uint64_t nid;
    std::uint64_t bidData;
    std::uint64_t bidSub;
    std::uint32_t nidParent;
    std::uint32_t dwPadding;
};
static_assert(sizeof(NBTENTRY) == 32);

// XBLOCK / XXBLOCK header: a data tree's list of child BIDs follows.
struct XBLOCKHEADER {
    std::uint8_t btype;   // 0x01
    std::uint8_t cLevel;  // 1 for XBLOCK, 2 for XXBLOCK
    std::uint16_t cEnt;
    std::uint32_t lcbTotal;
};
static_assert(sizeof(XBLOCKHEADER) == 8);

// SLBLOCK / SIBLOCK header: a subnode tree's entries follow.
struct SLBLOCKHEADER {
    std::uint8_t btype;   // 0x02
    std::uint8_t cLevel;  // 0 for SLBLOCK, 1 for SIBLOCK
    std::uint16_t cEnt;
    std::uint32_t dwPadding;
};
static_assert(sizeof(SLBLOCKHEADER) == 8);

struct SLENTRY {
    std::uint64_t nid;
    std::uint64_t bidData;
    std::uint64_t bidSub;
};
static_assert(sizeof(SLENTRY) == 24);

struct SIENTRY {
    std::uint64_t nid;
    std::uint64_t bid;
};
static_assert(sizeof(SIENTRY) == 16);

// DLISTPAGE: the density list, always at 0x4200.
struct DLISTPAGE {
    std::uint8_t bFlags;
    std::uint8_t cEntDList;
    std::uint16_t wPadding;
    std::uint32_t ulCurrentPage;
    std::uint32_t rgDListPageEnt[119];  // dwPageNum (20 bits), dwFreeSlots (12 bits)
    std::uint8_t rgPadding[12];
    PAGETRAILER pageTrailer;
};
static_assert(sizeof(DLISTPAGE) == 512);

#pragma pack(pop)

constexpr std::size_t kBtEntriesSize = 488;
constexpr std::size_t kXBlockMaxEntries = (kMaxBlockData - sizeof(XBLOCKHEADER)) / 8;                  // 1021
constexpr std::size_t kSLBlockMaxEntries = (kMaxBlockData - sizeof(SLBLOCKHEADER)) / sizeof(SLENTRY);  // 340
constexpr std::size_t kSIBlockMaxEntries = (kMaxBlockData - sizeof(SLBLOCKHEADER)) / sizeof(SIENTRY);  // 510

// Whole size of a block of cb data bytes: data, trailer, rounded up to 64 bytes.
constexpr std::uint64_t BlockSize(std::uint64_t cb) {
    return (cb + sizeof(BLOCKTRAILER) + kBlockAlign - 1) / kBlockAlign * kBlockAlign;
}

}  // namespace ndb
}  // namespace pst
