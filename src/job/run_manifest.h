// The manifest of one conversion run: the entries the folder loops recorded, under a header that
// names the program, the run's choices and its start and end, written into the destination.
#pragma once

#include <string>
#include <vector>

#include "export/message_manifest.h"

class JobTally;
struct JobSettings;

// Whether a run with these settings keeps a manifest: asked for, and a form that writes into a
// destination folder (an upload has none).
bool KeepsManifest(const JobSettings& settings);

// The header of a run with these settings that began at started.
ManifestHeader RunManifestHeader(const JobSettings& settings, std::vector<std::string> sources, const std::string& started);

// Writes the manifest files into the destination; a note names them, a failure says why not.
// A source's digest from source_digest where one is given (the job's own), else read again.
void WriteRunManifest(const JobSettings& settings, const ManifestHeader& header, const MessageManifest& manifest,
                      JobTally& tally, const SourceDigestOf& source_digest = {});
