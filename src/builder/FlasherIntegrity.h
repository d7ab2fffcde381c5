#pragma once
// The integrity record of a program file: found outside its payload block, and the file's
// blocks judged against it as the running flasher judges its own.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "builder/MarkerSearch.h"
#include "builder/PayloadFile.h"
#include "payload/IntegrityRecord.h"

namespace builder {

// The record block of a program whose payload block starts at payloadOffset; nothing for a
// program made before programs carried one.
std::optional<MarkedBlock> FindIntegrityRecordBlock(std::FILE* program, std::uint64_t payloadOffset);

// The flasher file at path, whose payload block was read as payload: its routine store and
// record blocks read from the file and judged by payload::CheckIntegrity. A file that cannot
// be read again is Damaged.
payload::Integrity CheckFlasherFile(const std::string& path, const PayloadFile& payload);

} // namespace builder
