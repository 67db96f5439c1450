// Folder files and a job context for exporter tests.
#pragma once

#include <string>
#include <vector>

#include "fixtures/dbx_builder.h"
#include "fixtures/recording_window.h"
#include "fixtures/temp_folder.h"
#include "conversion/folder_export.h"
#include "conversion/job_settings.h"
#include "conversion/job_tally.h"

namespace testsupport {

inline fixtures::DbxEmailSpec Email(const std::string& subject, const std::string& text,
                                    const std::string& sender = "someone@example.com", std::uint64_t date = 0) {
    fixtures::DbxEmailSpec spec;
    spec.subject = subject;
    spec.text = text;
    spec.sender_address = sender;
    spec.date = date;
    return spec;
}

struct ExportHarness {
    fixtures::TempFolder dir;
    fixtures::RecordingWindow window;
    JobSettings settings;
    JobTally tally;
    ExportContext context{window, settings, tally, nullptr, {}};

    std::string WriteDbx(const std::string& name, const fixtures::DbxFileBuilder& builder) {
        const std::string path = dir / name;
        builder.WriteTo(path);
        return path;
    }
    std::string Destination() {
        const std::string destination = dir / "ExportDBX";
        platform::CreateDirectory(destination);
        return destination;
    }
};

}  // namespace testsupport
