// RFC 822 / MIME messages turned into the message model with GMime.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "store/mapi/message.h"

namespace mime {

class ImportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Deeper message/rfc822 nesting is kept as the raw bytes of the inner message.
constexpr int kMaxEmbeddedDepth = 32;
// Deeper multipart nesting is kept as the raw bytes of the part.
constexpr int kMaxMultipartDepth = 64;

// Never fails on damaged MIME: what cannot be understood is kept as an attachment of raw bytes.
// job_codepage reads 8-bit text that names no charset when the message itself gives no hint
// (see unlabelled_text.h); empty: this system's code page.
mapi::Message ImportMessage(const char* data, std::size_t size, const std::string& job_codepage = std::string());
// Throws ImportError when the file cannot be read.
mapi::Message ImportMessageFile(const std::string& path, const std::string& job_codepage = std::string());

// What the one attachment of a clear-signed S/MIME message (as ImportMessage keeps one) holds,
// read as any other message: the signed content's attachments one by one, the signature among
// them. None for any other message.
std::optional<mapi::Message> SignedContentOf(const mapi::Message& message);

// A part of a message that a user saves as a file: its name as the mail gives it (decoded; empty
// when it gives none; no file name yet: it may hold anything), its MIME type and its bytes with
// the transfer encoding undone (an embedded message: the whole inner message).
struct AttachedFile {
    std::string name;
    std::string mime_type;
    std::string bytes;
};

// The attachments of a message as files, in the order it holds them: every part but the body
// texts and signatures, inline parts with a name included, each embedded message whole (named
// ".eml"). None when the bytes are no message.
std::vector<AttachedFile> AttachedFilesOf(std::string_view message, const std::string& job_codepage = std::string());

// A header's unstructured text with its encoded words decoded, as UTF-8; 8-bit words that are
// no UTF-8 are read in code_page.
std::string DecodeHeaderText(const std::string& raw, const std::string& code_page);

// A FILETIME from seconds since 1970.
mapi::Filetime FiletimeFromUnix(std::int64_t seconds);

}  // namespace mime
