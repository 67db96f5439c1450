#include "export/eml_export.h"

#include "export/folder_loop.h"
#include "export/output_place.h"

namespace {

// One .eml file per e-mail: the stored text, byte for byte.
class EmlSink : public MessageSink {
public:
    explicit EmlSink(MessageFileOutput output) : output_(std::move(output)) {}

    bool Begin() override {
        output_.Begin();
        return true;
    }
    // Creating, writing and timing the file is most of the work of a message: done ahead, on the
    // workers, while the writer names the files in order.
    bool PreparesAhead() const override { return output_.StagesAhead(); }
    void Prepare(PreparedMessage& prepared) override {
        if (!output_.StagesAhead()) return;
        const auto& text = prepared.message.text;
        prepared.planned_path = output_.MakePath(prepared.message);
        prepared.staged_file = output_.Stage(prepared.message, text ? std::string_view(*text) : std::string_view(),
                                             prepared.planned_path);
    }
    std::string StatusText(const FolderMessage& message) override { return output_.PathOf(message); }
    std::string StatusTextOf(PreparedMessage& prepared) override {
        if (!prepared.planned_path.empty()) output_.UsePath(prepared.message, std::move(prepared.planned_path));
        return output_.PathOf(prepared.message);
    }
    std::string FailureSubject(const FolderMessage& message) override { return output_.PathOf(message); }
    std::string Write(PreparedMessage& prepared) override {
        const auto& text = prepared.message.text;
        std::string failure = output_.Place(prepared.message, text ? std::string_view(*text) : std::string_view(),
                                            prepared.staged_file.get(), prepared.already_there);
        prepared.staged_file.reset();
        prepared.output_path = output_.PlacedPath();
        return failure;
    }
    std::unique_ptr<MessageSink> RecoveredSink() override {
        return std::make_unique<EmlSink>(MessageFileOutput(context(), output_));
    }

private:
    ExportContext& context() { return output_.context(); }
    MessageFileOutput output_;
};

}  // namespace

void ExportFolderToEml(ExportContext& context, const std::string& dbx_path, const std::string& destination_path,
                       const std::string& folder_name) {
    EmlSink sink(MessageFileOutput(context, destination_path, folder_name, ".eml"));
    RunFolderLoop(context, dbx_path, sink, AttachmentsPlaceFor(context, destination_path, folder_name));
}
