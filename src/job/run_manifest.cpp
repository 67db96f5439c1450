#include "job/run_manifest.h"

#include "conversion/job_settings.h"
#include "conversion/job_tally.h"
#include "platform/paths.h"

#ifndef OMBRIK_VERSION
#define OMBRIK_VERSION "unknown"
#endif

bool KeepsManifest(const JobSettings& settings) {
    return settings.manifest && settings.saving_option != "imap" && !settings.destination_path.empty();
}

ManifestHeader RunManifestHeader(const JobSettings& settings, std::vector<std::string> sources, const std::string& started) {
    ManifestHeader header;
    header.version = OMBRIK_VERSION;
    header.started = started;
    header.sources = std::move(sources);
    header.options = {{"format", settings.saving_option},
                      {"destination", settings.destination_path},
                      {"folder files", std::to_string(header.sources.size())},
                      {"recover", settings.recover ? "yes" : "no"},
                      {"code page", settings.codepage},
                      {"threads", settings.threads == 0 ? std::string("all cores") : std::to_string(settings.threads)}};
    if (settings.extract_attachments) header.options.emplace_back("extract attachments", "yes");
    if (settings.saving_option == "mbox") header.options.emplace_back("mbox status", settings.mbox_status ? "yes" : "no");
    if (settings.saving_option == "pst") {
        header.options.emplace_back("pst mode", settings.pst_mode == "seprate" ? "separate" : settings.pst_mode);
        if (settings.pst_mode != "seprate") header.options.emplace_back("pst store", settings.pst_path);
    }
    return header;
}

void WriteRunManifest(const JobSettings& settings, const ManifestHeader& header, const MessageManifest& manifest,
                      JobTally& tally, const SourceDigestOf& source_digest) {
    platform::CreateDirectory(settings.destination_path);
    std::string failure;
    const std::vector<std::string> written = WriteManifestFiles(settings.destination_path, header, manifest, failure, source_digest);
    if (!failure.empty()) {
        tally.CountFailure(settings.destination_path, "the manifest could not be written: " + failure);
        return;
    }
    for (const std::string& path : written) tally.AddNote(path, "the manifest of this run");
}
