// MAPI property tags used by the MIME import, the MSG writer, the renderings and the PST engine.
// Append only: other layers rely on these names.
#pragma once

#include "store/mapi/property.h"

namespace mapi {

// Message envelope
constexpr PropTag PR_MESSAGE_CLASS_W = MakeTag(0x001A, PropType::Unicode);
constexpr PropTag PR_SUBJECT_W = MakeTag(0x0037, PropType::Unicode);
constexpr PropTag PR_SUBJECT_PREFIX_W = MakeTag(0x003D, PropType::Unicode);
constexpr PropTag PR_NORMALIZED_SUBJECT_W = MakeTag(0x0E1D, PropType::Unicode);
constexpr PropTag PR_CONVERSATION_TOPIC_W = MakeTag(0x0070, PropType::Unicode);
constexpr PropTag PR_IMPORTANCE = MakeTag(0x0017, PropType::Int32);
constexpr PropTag PR_PRIORITY = MakeTag(0x0026, PropType::Int32);
constexpr PropTag PR_SENSITIVITY = MakeTag(0x0036, PropType::Int32);
constexpr PropTag PR_CLIENT_SUBMIT_TIME = MakeTag(0x0039, PropType::SysTime);
constexpr PropTag PR_MESSAGE_DELIVERY_TIME = MakeTag(0x0E06, PropType::SysTime);
constexpr PropTag PR_MESSAGE_FLAGS = MakeTag(0x0E07, PropType::Int32);
constexpr PropTag PR_MESSAGE_SIZE = MakeTag(0x0E08, PropType::Int32);
constexpr PropTag PR_HASATTACH = MakeTag(0x0E1B, PropType::Boolean);
constexpr PropTag PR_RTF_IN_SYNC = MakeTag(0x0E1F, PropType::Boolean);
constexpr PropTag PR_DISPLAY_TO_W = MakeTag(0x0E04, PropType::Unicode);
constexpr PropTag PR_DISPLAY_CC_W = MakeTag(0x0E03, PropType::Unicode);
constexpr PropTag PR_DISPLAY_BCC_W = MakeTag(0x0E02, PropType::Unicode);
constexpr PropTag PR_TRANSPORT_MESSAGE_HEADERS_W = MakeTag(0x007D, PropType::Unicode);
constexpr PropTag PR_INTERNET_MESSAGE_ID_W = MakeTag(0x1035, PropType::Unicode);
constexpr PropTag PR_IN_REPLY_TO_ID_W = MakeTag(0x1042, PropType::Unicode);
constexpr PropTag PR_INTERNET_REFERENCES_W = MakeTag(0x1039, PropType::Unicode);
constexpr PropTag PR_INTERNET_CPID = MakeTag(0x3FDE, PropType::Int32);
constexpr PropTag PR_MESSAGE_CODEPAGE = MakeTag(0x3FFD, PropType::Int32);
constexpr PropTag PR_STORE_SUPPORT_MASK = MakeTag(0x340D, PropType::Int32);
constexpr PropTag PR_CREATION_TIME = MakeTag(0x3007, PropType::SysTime);
constexpr PropTag PR_LAST_MODIFICATION_TIME = MakeTag(0x3008, PropType::SysTime);
constexpr PropTag PR_SEARCH_KEY = MakeTag(0x300B, PropType::Binary);

// Sender and "sent representing"
constexpr PropTag PR_SENDER_NAME_W = MakeTag(0x0C1A, PropType::Unicode);
constexpr PropTag PR_SENDER_EMAIL_ADDRESS_W = MakeTag(0x0C1F, PropType::Unicode);
constexpr PropTag PR_SENDER_ADDRTYPE_W = MakeTag(0x0C1E, PropType::Unicode);
constexpr PropTag PR_SENDER_SMTP_ADDRESS_W = MakeTag(0x5D01, PropType::Unicode);
constexpr PropTag PR_SENT_REPRESENTING_NAME_W = MakeTag(0x0042, PropType::Unicode);
constexpr PropTag PR_REPLY_RECIPIENT_ENTRIES = MakeTag(0x004F, PropType::Binary);
constexpr PropTag PR_REPLY_RECIPIENT_NAMES_W = MakeTag(0x0050, PropType::Unicode);
constexpr PropTag PR_SENT_REPRESENTING_EMAIL_ADDRESS_W = MakeTag(0x0065, PropType::Unicode);
constexpr PropTag PR_SENT_REPRESENTING_ADDRTYPE_W = MakeTag(0x0064, PropType::Unicode);
constexpr PropTag PR_SENT_REPRESENTING_SMTP_ADDRESS_W = MakeTag(0x5D02, PropType::Unicode);

// Bodies
constexpr PropTag PR_BODY_W = MakeTag(0x1000, PropType::Unicode);
constexpr PropTag PR_RTF_COMPRESSED = MakeTag(0x1009, PropType::Binary);
constexpr PropTag PR_HTML = MakeTag(0x1013, PropType::Binary);  // bytes in PR_INTERNET_CPID
constexpr PropTag PR_NATIVE_BODY_INFO = MakeTag(0x1016, PropType::Int32);

// Recipients
constexpr PropTag PR_RECIPIENT_TYPE = MakeTag(0x0C15, PropType::Int32);
constexpr PropTag PR_DISPLAY_NAME_W = MakeTag(0x3001, PropType::Unicode);
constexpr PropTag PR_ADDRTYPE_W = MakeTag(0x3002, PropType::Unicode);
constexpr PropTag PR_EMAIL_ADDRESS_W = MakeTag(0x3003, PropType::Unicode);
constexpr PropTag PR_SMTP_ADDRESS_W = MakeTag(0x39FE, PropType::Unicode);
constexpr PropTag PR_DISPLAY_TYPE = MakeTag(0x3900, PropType::Int32);
constexpr PropTag PR_OBJECT_TYPE = MakeTag(0x0FFE, PropType::Int32);
constexpr PropTag PR_ROWID = MakeTag(0x3000, PropType::Int32);
constexpr PropTag PR_RECIPIENT_DISPLAY_NAME_W = MakeTag(0x5FF6, PropType::Unicode);

// Attachments
constexpr PropTag PR_ATTACH_NUM = MakeTag(0x0E21, PropType::Int32);
constexpr PropTag PR_ATTACH_SIZE = MakeTag(0x0E20, PropType::Int32);
constexpr PropTag PR_ATTACH_DATA_BIN = MakeTag(0x3701, PropType::Binary);
constexpr PropTag PR_ATTACH_DATA_OBJ = MakeTag(0x3701, PropType::Object);
constexpr PropTag PR_ATTACH_EXTENSION_W = MakeTag(0x3703, PropType::Unicode);
constexpr PropTag PR_ATTACH_FILENAME_W = MakeTag(0x3704, PropType::Unicode);
constexpr PropTag PR_ATTACH_METHOD = MakeTag(0x3705, PropType::Int32);
constexpr PropTag PR_ATTACH_LONG_FILENAME_W = MakeTag(0x3707, PropType::Unicode);
constexpr PropTag PR_RENDERING_POSITION = MakeTag(0x370B, PropType::Int32);
constexpr PropTag PR_ATTACH_MIME_TAG_W = MakeTag(0x370E, PropType::Unicode);
constexpr PropTag PR_ATTACH_CONTENT_ID_W = MakeTag(0x3712, PropType::Unicode);
constexpr PropTag PR_ATTACH_CONTENT_LOCATION_W = MakeTag(0x3713, PropType::Unicode);
constexpr PropTag PR_ATTACH_FLAGS = MakeTag(0x3714, PropType::Int32);
constexpr PropTag PR_ATTACHMENT_HIDDEN = MakeTag(0x7FFE, PropType::Boolean);
constexpr PropTag PR_ATTACHMENT_LINKID = MakeTag(0x7FFA, PropType::Int32);
constexpr PropTag PR_ATTACHMENT_FLAGS = MakeTag(0x7FFD, PropType::Int32);

// Values
constexpr std::int32_t MAPI_TO = 1;
constexpr std::int32_t MAPI_CC = 2;
constexpr std::int32_t MAPI_BCC = 3;
constexpr std::int32_t MAPI_MAILUSER = 6;
constexpr std::int32_t MAPI_ATTACH = 7;
constexpr std::int32_t DT_MAILUSER = 0;
constexpr std::int32_t NO_ATTACHMENT = 0;
constexpr std::int32_t ATTACH_BY_VALUE = 1;
constexpr std::int32_t ATTACH_EMBEDDED_MSG = 5;
constexpr std::int32_t ATTACH_MHTML_REF = 4;  // PR_ATTACH_FLAGS: referenced from the HTML body
constexpr std::int32_t MSGFLAG_READ = 0x0001;
constexpr std::int32_t MSGFLAG_UNSENT = 0x0008;
constexpr std::int32_t MSGFLAG_HASATTACH = 0x0010;
constexpr std::int32_t STORE_UNICODE_OK = 0x00040000;
constexpr std::int32_t IMPORTANCE_LOW = 0;
constexpr std::int32_t IMPORTANCE_NORMAL = 1;
constexpr std::int32_t IMPORTANCE_HIGH = 2;
constexpr std::int32_t CP_UTF8 = 65001;

// Property sets of named properties (GUIDs in on-disk byte order).
constexpr Guid PS_MAPI = {0x28, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                          0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr Guid PS_PUBLIC_STRINGS = {0x29, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                    0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr Guid PS_INTERNET_HEADERS = {0x86, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                      0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

// Envelope flags
constexpr PropTag PR_ALTERNATE_RECIPIENT_ALLOWED = MakeTag(0x0002, PropType::Boolean);
constexpr PropTag PR_ORIGINATOR_DELIVERY_REPORT_REQUESTED = MakeTag(0x0023, PropType::Boolean);
constexpr PropTag PR_READ_RECEIPT_REQUESTED = MakeTag(0x0029, PropType::Boolean);
constexpr PropTag PR_CONVERSATION_INDEX = MakeTag(0x0071, PropType::Binary);
constexpr PropTag PR_ICON_INDEX = MakeTag(0x1080, PropType::Int32);
constexpr PropTag PR_LAST_VERB_EXECUTED = MakeTag(0x1081, PropType::Int32);
constexpr PropTag PR_FLAG_STATUS = MakeTag(0x1090, PropType::Int32);
constexpr PropTag PR_FOLLOWUP_ICON = MakeTag(0x1095, PropType::Int32);
// Icons of a mail item in a message list, and the verbs a reader last used on it.
constexpr std::int32_t ICON_MAIL_READ = 0x100;
constexpr std::int32_t ICON_MAIL_UNREAD = 0x101;
constexpr std::int32_t ICON_MAIL_UNSENT = 0x103;
constexpr std::int32_t ICON_MAIL_REPLIED = 0x105;
constexpr std::int32_t ICON_MAIL_FORWARDED = 0x106;
constexpr std::int32_t VERB_REPLY_TO_SENDER = 102;
constexpr std::int32_t VERB_FORWARD = 104;
constexpr std::int32_t FLAG_STATUS_FLAGGED = 2;
constexpr std::int32_t FOLLOWUP_ICON_RED = 6;
constexpr std::int32_t SENSITIVITY_NONE = 0;
constexpr std::int32_t SENSITIVITY_PERSONAL = 1;
constexpr std::int32_t SENSITIVITY_PRIVATE = 2;
constexpr std::int32_t SENSITIVITY_COMPANY_CONFIDENTIAL = 3;

}  // namespace mapi
