// The montage's project file (.snt): one record of 332 bytes per clip, in strip order, with no header.
// Integers are 32-bit signed little-endian; the title and the source path are length-prefixed strings in
// Windows-1252, or in UTF-8 when Windows-1252 cannot hold them. The audio is not stored: loading cuts each
// clip again from its source file, whatever its sound format.
#pragma once

#include "audio/SoundDecoder.h"
#include "montage/Montage.h"
#include "platform/io/Stream.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

constexpr std::size_t ClipRecordSize = 332;

// Where each field of a record lies.
namespace ClipRecordLayout {
constexpr std::size_t TitleLength = 0;
constexpr std::size_t Title = 1;
constexpr std::size_t TitleCapacity = 45;
constexpr std::size_t SourceLength = 46;
constexpr std::size_t Source = 47;
constexpr std::size_t SourceCapacity = 255;
constexpr std::size_t StartMs = 304;
constexpr std::size_t LengthMs = 308;
constexpr std::size_t FadeInKind = 312;
constexpr std::size_t FadeOutKind = 316;
constexpr std::size_t FadeInMs = 320;
constexpr std::size_t FadeOutMs = 324;
constexpr std::size_t Position = 328;
} // namespace ClipRecordLayout

// One clip as the file holds it; the strings are UTF-8 in memory.
struct TClipRecord
{
    std::string Title;
    std::string SourceFile;
    std::int32_t StartMs = 0;
    std::int32_t LengthMs = 0;
    std::int32_t FadeInKind = 1;
    std::int32_t FadeOutKind = 1;
    std::int32_t FadeInMs = 1000;
    std::int32_t FadeOutMs = 1000;
    std::int32_t Position = 0;
};

// A montage that cannot be saved as it is; the text is meant for the user.
class EProjectError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// A project file that ends inside a record.
class EReadPastEndError : public EStreamError
{
public:
    EReadPastEndError() : EStreamError("Lecture au-delà de la fin de fichier") {}
};

// ---- Text encodings -------------------------------------------------------------------------------

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text);
// Every byte through the Windows-1252 table; its five unassigned bytes (0x81, 0x8D, 0x8F, 0x90, 0x9D)
// stand for the control characters of the same number.
std::string Windows1252ToUtf8(std::string_view bytes);
// The Windows-1252 bytes of a UTF-8 text; nothing when the text is not valid UTF-8 or holds a character
// that Windows-1252 lacks.
std::optional<std::string> Utf8ToWindows1252(std::string_view text);

// The bytes a string field holds for a text: Windows-1252 when it can hold the text and reads back as
// the same text, else the text's own bytes (UTF-8).
std::string EncodeFieldText(std::string_view text);
// The text of a string field: UTF-8 when its bytes are valid UTF-8 with at least one non-ASCII byte,
// else Windows-1252.
std::string DecodeFieldText(std::string_view bytes);

// ---- Records --------------------------------------------------------------------------------------

// The title is cut to 45 characters (and, when written in UTF-8, to whole characters within 45 bytes).
// Throws EProjectError naming the clip when the source path takes more than 255 bytes.
std::array<std::uint8_t, ClipRecordSize> EncodeClipRecord(const TClipRecord& record);
// Reads ClipRecordSize bytes. Length bytes larger than their field are limited to it; the numbers are
// returned as stored.
TClipRecord DecodeClipRecord(const std::uint8_t* bytes);

// ---- Saving and loading ---------------------------------------------------------------------------

// Writes the strip, in order, to a file written beside the target and renamed over it. Nothing is written
// for an empty strip. On success MontageSaved becomes true; on failure (EProjectError, EFCreateError,
// EWriteError) the previous file and the montage are left as they were.
void SaveProject(TMontage& montage, const std::string& fileName);

// Appends the clips of a project to a montage already freed, cutting each one from its source file, a wave
// or any sound file the decoder reads (decoded once for all the clips cut from it in a row).
// A missing source, or one that is not a readable sound, is told through showMessage (naming the file, and
// the clip for the latter) and its record left out. Records beyond the strip's capacity are left out with one
// message. A stream ending inside a record throws EReadPastEndError after keeping the clips read before it;
// the render is then not restarted. progress is told the share of the whole load done while sources are
// decoded; its answer false stops the load there, keeping the clips read before and leaving MontageSaved
// false, and the result is then false. Otherwise: RelayoutStrip, RestartRender (when there are clips),
// MontageSaved := true and OnClipsPresent, and the result is true.
bool LoadProjectFromStream(TMontage& montage, TStream& stream,
                           const std::function<void(const std::string&)>& showMessage,
                           const TDecodeProgress& progress = {});
// Reads a whole project file, so that nothing need change before it is known to be complete: a file that
// cannot be read throws EFOpenError (or EReadError), one that ends inside a record EReadPastEndError.
void ReadProjectFile(const std::string& fileName, TMemoryStream& file);
// The same from a file; a file that cannot be read throws EFOpenError (or EReadError) and changes nothing.
bool LoadProject(TMontage& montage, const std::string& fileName,
                 const std::function<void(const std::string&)>& showMessage,
                 const TDecodeProgress& progress = {});
