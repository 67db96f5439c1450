// Any bytes as an RFC 822 message: the import must neither crash nor hang, and what it makes
// must lay out as an MSG file and render.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "store/cfb/compound_file.h"
#include "store/mime/charsets.h"
#include "store/mime/flowed.h"
#include "store/mime/mime_import.h"
#include "store/msg/msg_file.h"
#include "store/render/render.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // The code page read from the job's settings: the same bytes must import under any of them.
    mapi::Message message = mime::ImportMessage(text.data(), text.size(), size % 2 == 0 ? "" : "CP932");
    (void)mime::UnwrapFlowed(text, size % 3 == 0);

    cfb::Storage root = cfb::MakeRootStorage();
    msg::BuildMsgStorage(message, root);  // throws only for models the import never makes

    (void)render::RenderHtml(message);
    (void)render::RenderRtf(message);
    const std::string rtf = render::EncapsulateHtmlInRtf(mime::HtmlBodyUtf8(message));
    if (render::DecompressRtf(render::CompressRtf(rtf)) != rtf) std::abort();
    return 0;
}
