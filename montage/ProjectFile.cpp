#include "montage/ProjectFile.h"

#include "audio/PcmWaveFile.h"
#include "platform/io/FileDescriptor.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// ---- UTF-8 ----------------------------------------------------------------------------------------

// Decodes the character at i and moves past it; false (i unchanged) on a malformed sequence.
bool nextCodePoint(std::string_view text, std::size_t& i, char32_t& cp)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b0 = byte(i);
    if (b0 < 0x80) {
        cp = b0;
        ++i;
        return true;
    }
    std::size_t count = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        count = 1;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        count = 2;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        count = 3;
        cp = b0 & 0x07;
        min = 0x10000;
    } else {
        return false;
    }
    if (text.size() - i <= count)
        return false;
    for (std::size_t k = 1; k <= count; ++k) {
        const unsigned char b = byte(i + k);
        if ((b & 0xC0) != 0x80)
            return false;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return false;
    i += count + 1;
    return true;
}

void appendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool hasNonAscii(std::string_view text)
{
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// Bytes 0x80 to 0x9F; the unassigned ones stand for the control character of the same number.
constexpr std::array<char16_t, 32> Windows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

std::optional<unsigned char> windows1252Byte(char32_t cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return static_cast<unsigned char>(cp);
    for (std::size_t k = 0; k < Windows1252High.size(); ++k)
        if (Windows1252High[k] == cp)
            return static_cast<unsigned char>(0x80 + k);
    return std::nullopt;
}

// The first count characters of a valid UTF-8 text.
std::string_view firstCharacters(std::string_view text, std::size_t count)
{
    std::size_t i = 0;
    char32_t cp = 0;
    for (std::size_t n = 0; n < count && i < text.size(); ++n)
        if (!nextCodePoint(text, i, cp))
            break;
    return text.substr(0, i);
}

// The longest prefix of at most size bytes that does not split a UTF-8 sequence.
std::string_view wholeCharactersWithin(std::string_view text, std::size_t size)
{
    if (text.size() <= size)
        return text;
    std::size_t end = size;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

// ---- Little-endian fields -------------------------------------------------------------------------

void putInt32(std::uint8_t* at, std::int32_t value)
{
    const auto u = static_cast<std::uint32_t>(value);
    for (int k = 0; k < 4; ++k)
        at[k] = static_cast<std::uint8_t>(u >> (8 * k));
}

std::int32_t getInt32(const std::uint8_t* at)
{
    std::uint32_t u = 0;
    for (int k = 0; k < 4; ++k)
        u |= static_cast<std::uint32_t>(at[k]) << (8 * k);
    return static_cast<std::int32_t>(u);
}

std::string_view fieldBytes(const std::uint8_t* bytes, std::size_t lengthAt, std::size_t textAt,
                            std::size_t capacity)
{
    const std::size_t length = std::min<std::size_t>(bytes[lengthAt], capacity);
    return {reinterpret_cast<const char*>(bytes + textAt), length};
}

// ---- Files ----------------------------------------------------------------------------------------

// Writes the bytes under a name of their own beside the target, then renames them over it in one step:
// a failure at any point leaves the target as it was and nothing beside it.
void replaceFile(const std::string& fileName, const std::vector<std::uint8_t>& bytes)
{
    const std::string temporary = fileName + ".sonalto-tmp";
    FileDescriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.get() < 0)
        throw EFCreateError(fileName);
    const auto fail = [&](auto error) {
        if (fd.get() >= 0)
            ::close(fd.release());
        ::unlink(temporary.c_str());
        throw error;
    };
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            fail(EWriteError(fileName));
        done += static_cast<std::size_t>(put);
    }
    if (::fsync(fd.get()) != 0)
        fail(EWriteError(fileName));
    if (::close(fd.release()) != 0)
        fail(EWriteError(fileName));
    if (std::rename(temporary.c_str(), fileName.c_str()) != 0)
        fail(EFCreateError(fileName));
}

bool pathExists(const std::string& path, struct stat& st)
{
    // A name holding a zero byte cannot name a file (the system would read a shorter name).
    return path.find('\0') == std::string::npos && ::stat(path.c_str(), &st) == 0;
}

// What a project's load learns of each source, so that each is looked at once however many clips it gives:
// a wave file's header (each clip then reads its own bytes alone), or a sound file decoded whole, kept while
// clips further on still name it.
class SourceCache
{
public:
    // Counts the sources named by the records still to load, so that each decode is let go after its last
    // clip.
    void Expect(const std::string& name) { ++m_namesLeft[name]; }
    void Passed(const std::string& name)
    {
        if (const auto it = m_namesLeft.find(name); it != m_namesLeft.end() && --it->second <= 0) {
            m_namesLeft.erase(it);
            m_decoded.erase(name);
            m_waves.erase(name);
        }
    }

    // The source as a wave file of PCM, or null when it is another kind of file (opened once either way).
    TPcmWaveFile* Wave(const std::string& path)
    {
        auto [it, added] = m_waves.try_emplace(path);
        if (added) {
            auto file = std::make_unique<TPcmWaveFile>();
            try {
                if (file->Open(path)) {
                    file->RepairPCMFormat();
                    it->second = std::move(file);
                }
            } catch (...) {
                m_waves.erase(it);
                throw;
            }
        }
        return it->second.get();
    }

    TWave* Decoded(const std::string& path)
    {
        const auto it = m_decoded.find(path);
        return it == m_decoded.end() ? nullptr : &it->second;
    }
    TWave& KeepDecoded(const std::string& path, TWave& wave)
    {
        TWave& kept = m_decoded[path];
        kept.SwapContent(wave);
        return kept;
    }

private:
    std::map<std::string, int> m_namesLeft;
    std::map<std::string, std::unique_ptr<TPcmWaveFile>> m_waves;
    std::map<std::string, TWave> m_decoded;
};

enum class CutResult
{
    Cut,
    Unreadable,
    Cancelled
};

// The bytes of a source's samples that a clip keeps, as clips have always been cut: from the whole source,
// Delete(end, everything after) when the stretch ends before the source does, then Delete(0, start) (or
// everything, when the stretch starts where the source ends). Whole when neither cut applied: the clip is
// then the source's image as it stands.
struct ClipBytes
{
    bool whole = true;
    std::uint64_t first = 0;
    std::uint64_t last = 0;
};

ClipBytes clipBytes(const TWaveFormatEx& format, std::uint32_t dataSize, std::int32_t startMs,
                    std::int32_t lengthMs)
{
    // Durations are whole milliseconds, rounded: the samples after the last whole one belong to the stretch
    // only when it runs to the end of the source.
    const std::int64_t duration = WaveDuration(&format, dataSize);
    const std::int64_t start = std::clamp<std::int64_t>(startMs, 0, duration);
    const std::int64_t end =
        std::clamp<std::int64_t>(static_cast<std::int64_t>(startMs) + lengthMs, start, duration);
    ClipBytes bytes{true, 0, dataSize};
    if (end < duration) {
        bytes.whole = false;
        bytes.last =
            std::min<std::uint64_t>(WaveMsToBytes(format, static_cast<std::uint32_t>(end)), dataSize);
    }
    // A Delete leaves a stretch of less than half a millisecond alone.
    const bool heldSomething =
        WaveDuration(&format, static_cast<std::uint32_t>(bytes.last - bytes.first)) > 0;
    if (start == duration && heldSomething) {
        bytes.whole = false;
        bytes.first = bytes.last; // the stretch starts where the source ends: every sample goes
    } else if (start > 0 && start < duration && heldSomething) {
        bytes.whole = false;
        bytes.first =
            std::min<std::uint64_t>(WaveMsToBytes(format, static_cast<std::uint32_t>(start)), bytes.last);
    }
    return bytes;
}

// A clip of a decoded source, which is in memory: only its own bytes are copied, converted to the montage's
// format straight from the source as ConvertTo would convert them. False when the conversion is refused.
bool cutFromMemory(TWave& wave, const TWave& source, const ClipBytes& bytes, const TWaveFormatEx& as)
{
    const TWaveFormatEx& format = *source.WaveFormat();
    const std::uint8_t* data = source.Data() + bytes.first;
    const auto count = static_cast<std::size_t>(bytes.last - bytes.first);
    if (SameWaveFormatRecord(format, as)) {
        const std::size_t header = WaveHeaderSize(format);
        HeapBlock block(header + count + (count & 1U));
        std::copy_n(data, count, block.data() + header);
        wave.AdoptSamples(std::move(block), format, count);
        return true;
    }
    HeapBlock converted;
    if (!ConvertWaveFormat(format, data, static_cast<std::uint32_t>(count), converted, as,
                           WaveHeaderSize(as)))
        return false;
    wave.AdoptConverted(std::move(converted), as);
    return true;
}

TWaveFormatEx montageRecord()
{
    TWaveFormatEx format{};
    PCMFormatToWaveFormat(format, MontageFormat);
    return format;
}

// A clip of a wave file that reads only its own bytes, converted to the montage's format as they are read
// (they are never held whole in the source's format). Cut touches nothing shared but the file, which it
// only reads: clips can be cut on other threads while the load goes on.
struct ClipPlan
{
    const TPcmWaveFile* file;
    ClipBytes bytes;

    bool Cut(TWave& wave) const
    {
        const TWaveFormatEx montageFormat = montageRecord();
        return file->ReadRange(bytes.first, bytes.last, wave, &montageFormat);
    }
};

// The plan for a clip of a regular file that is a wave of one of the PCM formats, when it does not take
// all of it; none for anything else.
std::optional<ClipPlan> planWaveClip(const std::string& path, const struct stat& st, std::int32_t startMs,
                                     std::int32_t lengthMs, SourceCache& sources)
{
    if (!S_ISREG(st.st_mode))
        return std::nullopt;
    const TPcmWaveFile* file = sources.Wave(path);
    if (!file || WaveFormatToPCMFormat(&file->Format()) == nonePCM)
        return std::nullopt;
    const ClipBytes bytes = clipBytes(file->Format(), file->DataSize(), startMs, lengthMs);
    if (bytes.whole)
        return std::nullopt;
    return ClipPlan{file, bytes};
}

// The clip's audio: the stretch [startMs, startMs + lengthMs) of the source, limited to what the source
// holds, in the montage's format. Unreadable, with an empty wave, when the source cannot be read as a wave
// of PCM sound or decoded into one. A wave file gives only the clip's own bytes; another file is decoded
// once for all the clips that name it.
CutResult cutFromSource(TWave& wave, const std::string& path, const struct stat& st, std::int32_t startMs,
                        std::int32_t lengthMs, SourceCache& sources, const TDecodeOptions& options)
{
    wave.Clear();
    // Only regular files are read: opening a pipe or a device could wait for ever or never end.
    if (!S_ISREG(st.st_mode))
        return CutResult::Unreadable;
    try {
        if (const TPcmWaveFile* file = sources.Wave(path)) {
            if (WaveFormatToPCMFormat(&file->Format()) == nonePCM)
                return CutResult::Unreadable;
            if (const std::optional<ClipPlan> plan = planWaveClip(path, st, startMs, lengthMs, sources))
                return plan->Cut(wave) ? CutResult::Cut : CutResult::Unreadable;
            file->ReadWhole(wave); // the clip is the whole file, as it stands
        } else {
            TWave* source = sources.Decoded(path);
            if (!source) {
                TWave whole;
                const TSoundLoad read = DecodeSoundFile(path, whole, options);
                if (read == TSoundLoad::Cancelled)
                    return CutResult::Cancelled;
                if (read != TSoundLoad::Loaded)
                    return CutResult::Unreadable;
                // Folded to mono first, as the editor folds it: the stretch is then cut from the very samples
                // the extract was cut from.
                FoldStereoInPlace(whole);
                source = &sources.KeepDecoded(path, whole);
            }
            if (source->PCMFormat() == nonePCM)
                return CutResult::Unreadable;
            // From memory the clip has always been an image of its own, even when it is all of the source.
            const ClipBytes bytes = clipBytes(*source->WaveFormat(), source->DataSize(), startMs, lengthMs);
            return cutFromMemory(wave, *source, bytes, montageRecord()) ? CutResult::Cut
                                                                        : CutResult::Unreadable;
        }
        if (!wave.ConvertToPCM(MontageFormat)) {
            wave.Clear();
            return CutResult::Unreadable;
        }
        wave.TrimToData();
        return CutResult::Cut;
    } catch (const EStreamError&) {
    } catch (const std::bad_alloc&) {
    }
    wave.Clear();
    return CutResult::Unreadable;
}

// One whole record from the stream; false at its end or before a record cut short.
bool readRecord(TStream& stream, std::array<std::uint8_t, ClipRecordSize>& bytes)
{
    std::size_t got = 0;
    while (got < bytes.size()) {
        const std::size_t n = stream.Read(bytes.data() + got, bytes.size() - got);
        if (n == 0)
            break;
        got += n;
    }
    return got == bytes.size();
}

// The names under which a record's source may be found: its path as text, and the bytes stored when the
// path was of no known encoding.
std::vector<std::string> sourceNames(const std::array<std::uint8_t, ClipRecordSize>& bytes)
{
    std::vector<std::string> names{DecodeClipRecord(bytes.data()).SourceFile};
    std::string raw(fieldBytes(bytes.data(), ClipRecordLayout::SourceLength, ClipRecordLayout::Source,
                               ClipRecordLayout::SourceCapacity));
    if (raw != names.front())
        names.push_back(std::move(raw));
    return names;
}

// Where a record's source is: its path, or the bytes stored for a path of no known encoding. False when
// neither names a file.
bool findSource(const std::array<std::uint8_t, ClipRecordSize>& bytes, const TClipRecord& record,
                std::string& path, struct stat& st)
{
    path = record.SourceFile;
    if (pathExists(path, st))
        return true;
    const std::string raw(fieldBytes(bytes.data(), ClipRecordLayout::SourceLength, ClipRecordLayout::Source,
                                     ClipRecordLayout::SourceCapacity));
    if (IsValidUtf8(raw) || !pathExists(raw, st))
        return false;
    path = raw;
    return true;
}

// A clip this short costs less to convert than handing it over, and would only add the other thread's
// buffers to a project of many short clips.
constexpr std::uint64_t MinBytesCutAhead = 1 << 20;

// The plan for the clip of the record at the stream's position (which stays where it is), when it is a
// long enough clip of a wave file.
std::optional<ClipPlan> planNextClip(TStream& stream, SourceCache& sources)
{
    const std::uint64_t position = stream.Position();
    std::array<std::uint8_t, ClipRecordSize> bytes{};
    const bool whole = readRecord(stream, bytes);
    stream.Seek(static_cast<std::int64_t>(position), SeekOrigin::Beginning);
    if (!whole)
        return std::nullopt;
    const TClipRecord record = DecodeClipRecord(bytes.data());
    std::optional<ClipPlan> plan;
    try {
        std::string path;
        struct stat st
        {
        };
        if (findSource(bytes, record, path, st))
            plan = planWaveClip(path, st, record.StartMs, record.LengthMs, sources);
    } catch (const EStreamError&) {
        // told when its turn comes
    }
    if (plan && plan->bytes.last - plan->bytes.first < MinBytesCutAhead)
        plan.reset();
    return plan;
}

// The thread that cuts the next record's clip while the loading thread cuts this one's, so that two cores
// convert at once. It lives for the whole load: its resampler and buffers serve every clip it cuts. One clip
// at a time; the loading thread opens its file, the cutting thread only reads it.
class ClipCutter
{
public:
    ClipCutter() = default;
    ClipCutter(const ClipCutter&) = delete;
    ClipCutter& operator=(const ClipCutter&) = delete;
    ~ClipCutter()
    {
        if (!m_thread.joinable())
            return;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

    // Whether the clip of the record at that position was handed over.
    bool Holds(std::uint64_t position) const { return m_position == position; }

    void Start(std::uint64_t position, const ClipPlan& plan)
    {
        if (!m_thread.joinable())
            m_thread = std::thread([this] { run(); });
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_plan = plan;
            m_done = false;
        }
        m_position = position;
        m_wake.notify_all();
    }

    // The clip handed over, once cut; Unreadable when it could not be.
    CutResult Take(TWave& wave)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_wake.wait(lock, [this] { return m_done; });
        m_position.reset();
        if (!m_wave)
            return CutResult::Unreadable;
        wave.SwapContent(*m_wave);
        m_wave.reset();
        return CutResult::Cut;
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stop || m_plan.has_value(); });
            if (m_stop)
                return;
            const ClipPlan plan = *m_plan;
            m_plan.reset();
            lock.unlock();
            auto wave = std::make_unique<TWave>();
            bool cut = false;
            try {
                cut = plan.Cut(*wave);
            } catch (...) {
                // unreadable, as on the loading thread
            }
            lock.lock();
            if (cut)
                m_wave = std::move(wave);
            m_done = true;
            m_wake.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<ClipPlan> m_plan;
    std::unique_ptr<TWave> m_wave;
    bool m_done = false;
    bool m_stop = false;
    std::optional<std::uint64_t> m_position; // the loading thread's own
    std::thread m_thread;
};

std::string missingSourceMessage(const std::string& path)
{
    return "Le fichier " + path +
           " n'a pas été trouvé. Il a peut-être été effacé depuis la dernière sauvegarde.";
}

std::string unreadableSourceMessage(const std::string& title, const std::string& path)
{
    return "L'extrait « " + title + " » n'a pas été chargé : le fichier " + path +
           " n'est pas un fichier son lisible.";
}

std::string stripFullMessage()
{
    return "Le montage contient plus de " + std::to_string(MaxClips) +
           " extraits : les suivants n'ont pas été chargés.";
}

} // namespace

// ---- Text encodings -------------------------------------------------------------------------------

bool IsValidUtf8(std::string_view text)
{
    std::size_t i = 0;
    char32_t cp = 0;
    while (i < text.size())
        if (!nextCodePoint(text, i, cp))
            return false;
    return true;
}

std::string Windows1252ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        appendUtf8(out, b >= 0x80 && b < 0xA0 ? Windows1252High[b - 0x80] : b);
    }
    return out;
}

std::optional<std::string> Utf8ToWindows1252(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    char32_t cp = 0;
    while (i < text.size()) {
        if (!nextCodePoint(text, i, cp))
            return std::nullopt;
        const std::optional<unsigned char> b = windows1252Byte(cp);
        if (!b)
            return std::nullopt;
        out += static_cast<char>(*b);
    }
    return out;
}

std::string EncodeFieldText(std::string_view text)
{
    // Windows-1252 bytes that happen to form UTF-8 would be read back as UTF-8, as another text.
    if (std::optional<std::string> ansi = Utf8ToWindows1252(text);
        ansi && !(hasNonAscii(*ansi) && IsValidUtf8(*ansi)))
        return *ansi;
    return std::string(text);
}

std::string DecodeFieldText(std::string_view bytes)
{
    if (hasNonAscii(bytes) && IsValidUtf8(bytes))
        return std::string(bytes);
    return Windows1252ToUtf8(bytes);
}

// ---- Records --------------------------------------------------------------------------------------

std::array<std::uint8_t, ClipRecordSize> EncodeClipRecord(const TClipRecord& record)
{
    namespace L = ClipRecordLayout;
    std::array<std::uint8_t, ClipRecordSize> out{};

    std::string title;
    if (IsValidUtf8(record.Title))
        title = EncodeFieldText(firstCharacters(record.Title, L::TitleCapacity));
    else
        title = record.Title; // bytes of no known encoding travel as they are
    title = std::string(wholeCharactersWithin(title, L::TitleCapacity));

    const std::string source = EncodeFieldText(record.SourceFile);
    if (source.size() > L::SourceCapacity)
        throw EProjectError("Le chemin du fichier source de l'extrait « " + record.Title +
                            " » est trop long (plus de " + std::to_string(L::SourceCapacity) +
                            " caractères) : le montage n'a pas été enregistré.");

    out[L::TitleLength] = static_cast<std::uint8_t>(title.size());
    std::memcpy(out.data() + L::Title, title.data(), title.size());
    out[L::SourceLength] = static_cast<std::uint8_t>(source.size());
    std::memcpy(out.data() + L::Source, source.data(), source.size());
    putInt32(out.data() + L::StartMs, record.StartMs);
    putInt32(out.data() + L::LengthMs, record.LengthMs);
    putInt32(out.data() + L::FadeInKind, record.FadeInKind);
    putInt32(out.data() + L::FadeOutKind, record.FadeOutKind);
    putInt32(out.data() + L::FadeInMs, record.FadeInMs);
    putInt32(out.data() + L::FadeOutMs, record.FadeOutMs);
    putInt32(out.data() + L::Position, record.Position);
    return out;
}

TClipRecord DecodeClipRecord(const std::uint8_t* bytes)
{
    namespace L = ClipRecordLayout;
    TClipRecord record;
    record.Title = DecodeFieldText(fieldBytes(bytes, L::TitleLength, L::Title, L::TitleCapacity));
    record.SourceFile = DecodeFieldText(fieldBytes(bytes, L::SourceLength, L::Source, L::SourceCapacity));
    record.StartMs = getInt32(bytes + L::StartMs);
    record.LengthMs = getInt32(bytes + L::LengthMs);
    record.FadeInKind = getInt32(bytes + L::FadeInKind);
    record.FadeOutKind = getInt32(bytes + L::FadeOutKind);
    record.FadeInMs = getInt32(bytes + L::FadeInMs);
    record.FadeOutMs = getInt32(bytes + L::FadeOutMs);
    record.Position = getInt32(bytes + L::Position);
    return record;
}

// ---- Saving and loading ---------------------------------------------------------------------------

void SaveProject(TMontage& montage, const std::string& fileName)
{
    if (montage.ClipCount == 0)
        return;
    // Every record is made first: a montage that cannot be written leaves no file behind.
    std::vector<std::uint8_t> bytes;
    bytes.reserve(ClipRecordSize * static_cast<std::size_t>(montage.ClipCount));
    for (int p = 0; p < montage.ClipCount; ++p) {
        const Tsample& clip = *montage.ClipAt(p);
        const TClipRecord record{clip.Title,    clip.SourceFile, clip.StartMs,
                                 clip.LengthMs, clip.FadeInKind, clip.FadeOutKind,
                                 clip.FadeInMs, clip.FadeOutMs,  p};
        const std::array<std::uint8_t, ClipRecordSize> encoded = EncodeClipRecord(record);
        bytes.insert(bytes.end(), encoded.begin(), encoded.end());
    }
    replaceFile(fileName, bytes);
    montage.MontageSaved = true;
}

bool LoadProjectFromStream(TMontage& montage, TStream& stream,
                           const std::function<void(const std::string&)>& showMessage,
                           const TDecodeProgress& progress)
{
    const auto tell = [&](const std::string& text) {
        if (showMessage)
            showMessage(text);
    };
    SourceCache sources;
    TDecodeOptions options;
    bool cancelled = false;
    // The whole load's share done: the records before this one, and this one's decode.
    const double records = std::max<double>(1, static_cast<double>(stream.Size() / ClipRecordSize));
    if (progress)
        options.Progress = [&](double done) {
            const double before = static_cast<double>(stream.Position() / ClipRecordSize) - 1;
            return progress(std::clamp((before + done) / records, 0.0, 1.0));
        };
    // Which sources the records name, and how often, so that each is let go after its last clip.
    const std::uint64_t firstRecord = stream.Position();
    for (std::array<std::uint8_t, ClipRecordSize> bytes{}; readRecord(stream, bytes);)
        for (const std::string& name : sourceNames(bytes))
            sources.Expect(name);
    stream.Seek(static_cast<std::int64_t>(firstRecord), SeekOrigin::Beginning);
    ClipCutter cutter;
    try {
        while (stream.Position() < stream.Size()) {
            if (montage.ClipCount >= MaxClips || montage.FirstFreeSlot() < 0) {
                tell(stripFullMessage());
                break;
            }
            // This record's clip was handed over while the one before was cut here; otherwise the next
            // record's is handed over now, to be cut while this one is.
            TWave cutAhead;
            std::optional<CutResult> cutAheadResult;
            if (cutter.Holds(stream.Position()))
                cutAheadResult = cutter.Take(cutAhead);
            std::array<std::uint8_t, ClipRecordSize> bytes{};
            if (!readRecord(stream, bytes))
                throw EReadPastEndError();
            if (!cutAheadResult)
                if (const std::optional<ClipPlan> next = planNextClip(stream, sources))
                    cutter.Start(stream.Position(), *next);
            struct Passed
            {
                SourceCache& sources;
                std::vector<std::string> names;
                ~Passed()
                {
                    for (const std::string& name : names)
                        sources.Passed(name);
                }
            } passed{sources, sourceNames(bytes)};

            const TClipRecord record = DecodeClipRecord(bytes.data());
            std::string path;
            struct stat st
            {
            };
            if (!findSource(bytes, record, path, st)) {
                tell(missingSourceMessage(record.SourceFile));
                continue;
            }

            // A clip in another format than the montage's would be refused by the render, and would
            // empty the whole montage if it came first: such a source is told and left out.
            TWave audio;
            if (cutAheadResult)
                audio.SwapContent(cutAhead);
            const CutResult cut = cutAheadResult ? *cutAheadResult
                                                 : cutFromSource(audio, path, st, record.StartMs,
                                                                 record.LengthMs, sources, options);
            if (cut == CutResult::Cancelled) {
                cancelled = true;
                break;
            }
            if (cut == CutResult::Unreadable) {
                tell(unreadableSourceMessage(record.Title, path));
                continue;
            }
            Tsample& clip =
                montage.Create(record.Title, path, record.StartMs, record.LengthMs, montage.FirstFreeSlot());
            const auto kind = [](std::int32_t k) { return k >= 0 && k <= 2 ? k : 1; };
            clip.SetFadeIn(kind(record.FadeInKind), record.FadeInMs);
            clip.SetFadeOut(kind(record.FadeOutKind), record.FadeOutMs);
            clip.Storage.Wave().SwapContent(audio);
        }
    } catch (...) {
        // The clips read so far stay, with consistent joints; the render and the commands are left alone.
        montage.RelayoutStrip();
        throw;
    }

    montage.RelayoutStrip();
    if (montage.ClipCount > 0)
        montage.RestartRender();
    // A montage cut short is not the file's: closing it without saving deserves the question.
    montage.MontageSaved = !cancelled;
    if (montage.OnClipsPresent)
        montage.OnClipsPresent(montage.ClipCount > 0);
    return !cancelled;
}

void ReadProjectFile(const std::string& fileName, TMemoryStream& file)
{
    file.LoadFromFile(fileName);
    if (file.Size() % ClipRecordSize != 0)
        throw EReadPastEndError();
}

bool LoadProject(TMontage& montage, const std::string& fileName,
                 const std::function<void(const std::string&)>& showMessage, const TDecodeProgress& progress)
{
    TMemoryStream file;
    file.LoadFromFile(fileName);
    return LoadProjectFromStream(montage, file, showMessage, progress);
}
