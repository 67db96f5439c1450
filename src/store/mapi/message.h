// A message as MAPI sees it: properties, recipients and attachments, embedded messages to any
// depth. One message is held in memory at a time.
#pragma once

#include <memory>
#include <vector>

#include "store/mapi/property.h"

namespace mapi {

struct Message;

struct Recipient {
    PropertyBag props;
};

struct Attachment {
    PropertyBag props;                  // PR_ATTACH_DATA_BIN holds the bytes of a file attachment
    std::unique_ptr<Message> embedded;  // set for PR_ATTACH_METHOD = ATTACH_EMBEDDED_MSG
};

struct Message {
    PropertyBag props;
    std::vector<Recipient> recipients;
    std::vector<Attachment> attachments;
};

}  // namespace mapi
