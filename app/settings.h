#pragma once

#include <QString>

#include "app/dialog_engine.h"

namespace tessary {

// The maker key under which the per-user options are kept, beside the application name.
inline constexpr const char* kOrganizationName = "Zedra";

// Reads the five options from the per-user store; a missing or unreadable value gives 0.
// Values are taken as stored, without a range check.
BatchSettings ReadBatchSettings();
// Writes the five options; a failed write is not reported.
void WriteBatchSettings(const BatchSettings& settings);

// The options beside the five into `options` (its five are left alone), each under a key of its
// own in the same section; a missing or unusable value gives that option's default.
void ReadNewerOptions(DialogOptions& options);
void WriteNewerOptions(const DialogOptions& options);

// The output location of the last session, beside the five options; empty when none.
QString ReadOutputLocation();
void WriteOutputLocation(const QString& location);

}  // namespace tessary
