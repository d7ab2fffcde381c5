#pragma once
// A routine store file, which the builder writes into a flasher's store block in place of the
// template's own store: its name beside the program, its check against the profile table, and
// the store block found in a program file.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "payload/RoutineStore.h"

namespace builder {

// The store file of a program: its full path with the extension replaced by ".ROUTINES"
// (odflash-gui.ROUTINES beside odflash-gui.exe, as odflash-gui.INI is).
std::string RoutineStoreFileName(const std::string& programPath);

// Why store cannot be a flasher's routine store, or nothing when it can: it must have the
// store's exact length, carry each labelled routine's label inside that routine's place, have
// no routine that is one byte repeated, and not be the placeholder.
std::optional<std::string> CheckRoutineStore(std::span<const std::uint8_t> store);

// Reads and checks a store file. On failure returns nothing and sets reason to a sentence
// naming what is wrong.
std::optional<std::vector<std::uint8_t>> ReadRoutineStoreFile(const std::string& path, std::string& reason);

struct StoreBlockInFile {
  std::uint64_t MarkerOffset = 0;   // file offset of the store block's first marker byte
  std::vector<std::uint8_t> Store;  // the kRoutineStoreSize bytes behind the marker
};

// The first store block of a program file whose marker does not start inside the payload block
// (payloadOffset and the block's length): a firmware image could hold the marker's bytes.
// Nothing when the file holds no such block or ends inside it. Leaves the stream anywhere.
std::optional<StoreBlockInFile> FindRoutineStoreBlock(std::FILE* program, std::uint64_t payloadOffset);
// The same for a file named by path.
std::optional<StoreBlockInFile> ReadRoutineStoreFromFile(const std::string& path, std::uint64_t payloadOffset);

} // namespace builder
