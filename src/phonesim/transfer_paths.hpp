// Where the simulated phone keeps a file that a request names, and how much room its
// memory has left.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

#include "phonesim/phone.hpp"

namespace phonesim {

// The served file for a phone folder ("/"-separated, as requests carry it) and a name, under
// Phone::root(). Nothing for a path that could leave the served folder: an absolute path, a
// "." or ".." component, an empty name, a NUL, a backslash or a drive colon.
std::optional<std::filesystem::path> MapPhonePath(const Phone& phone, std::u16string_view folder,
                                                  std::u16string_view name);

// The served folder for a phone folder path, under the same rules ("" is the root).
std::optional<std::filesystem::path> MapPhoneFolder(const Phone& phone, std::u16string_view folder);

// Free bytes of the memory that holds the phone folder: the configured figure, else the
// memory's total less what its files take (the memory card is the top-level folder named
// like the card; the internal memory is everything else).
uint64_t FreeBytes(Phone& phone, std::u16string_view folder);

// Records that the files of the memory holding the phone folder grew (or, negative, shrank)
// by delta bytes, for the used figure that FreeBytes keeps.
void AdjustUsedBytes(Phone& phone, std::u16string_view folder, int64_t delta);

// The bytes that the files below a served path take (a file's own size, a folder's walk).
uint64_t BytesAt(const std::filesystem::path& path);

// Whether the request code's changes to the served folder are followed by AdjustUsedBytes
// (or it changes nothing): the session, listing, file and transfer commands.
bool KeepsUsedBytes(uint8_t code);

}  // namespace phonesim
