// The tools' settings records on disk: one ".flt" file per tool in the data folder and one
// file per tool in each named preset. A file is read over the record (a missing or empty
// file leaves it as it is, a short one replaces the bytes it has, bytes past the record are
// not read), and every value with a range is then brought into that range, so a damaged
// file can never reach a filter with a value it was not made for. Writing replaces the file
// as a whole (a temporary file beside it renamed over it), so a failure never leaves half a
// record behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/ToolSettings.h"

namespace orb::tools {

// "<data folder>/<file>" of the tool's settings file; empty for a tool without one.
std::string ToolSettingsPath(int toolId);
// "<data folder>/presets/<family tag>/<preset>.<ext>"; empty for a tool without presets.
std::string ToolPresetPath(int toolId, const std::string& presetName);

// Reads the tool's settings file over its process-wide record, creating the file empty when
// it is missing. The tone curves start from the factory curves. False when an existing
// file could not be read (the record keeps what it had).
bool LoadToolSettings(int toolId);
// Writes the tool's record to its settings file. False when it could not be written.
bool SaveToolSettings(int toolId);
// The record into / out of the named preset of the identified scanner family. Loading a
// preset that does not exist leaves the record as it is (the file is created empty).
bool SaveToolPreset(int toolId, const std::string& presetName);
bool LoadToolPreset(int toolId, const std::string& presetName);

// The bytes of a tool's process-wide record, and of its factory record; empty for a tool
// without a record.
std::vector<uint8_t> ToolRecordBytes(int toolId);
std::vector<uint8_t> FactoryToolRecordBytes(int toolId);
// Lays bytes over the tool's record (fewer bytes replace a prefix, more are not read) and
// brings its values into their ranges. False for a tool without a record.
bool SetToolRecordBytes(int toolId, const uint8_t* data, size_t n);

// Brings every ranged value of a record into its range; returns the names of the fields
// that were changed (empty when the record was sound).
std::vector<std::string> KeepInRange(BrightContRecord& r);
std::vector<std::string> KeepInRange(BWPointRecord& r);
std::vector<std::string> KeepInRange(BWThresholdRecord& r);
std::vector<std::string> KeepInRange(DescreenRecord& r);
std::vector<std::string> KeepInRange(DespeckleRecord& r);
std::vector<std::string> KeepInRange(GammaRecord& r);
std::vector<std::string> KeepInRange(SharpenRecord& r);
std::vector<std::string> KeepInRange(EnabledByteRecord& r);
// The same for the process-wide record of a tool id.
std::vector<std::string> KeepToolRecordInRange(int toolId);

}  // namespace orb::tools
