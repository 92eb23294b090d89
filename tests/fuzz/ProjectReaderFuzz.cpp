// Feeds arbitrary bytes to the project reader as a project file, into a fresh montage, then renders what
// was loaded and checks that every record's strings survive a second trip through the file's encoding.
//
// Built with SONALTO_PROJECT_SEEDS, the same file is the seed writer instead: a few valid and damaged
// projects naming small source files that it writes too.
#include "montage/ProjectFile.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

// A failed invariant stops the fuzzer with the input that broke it.
void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TMontage montage;
    TBytesView view(data, size);
    bool complete = true;
    try {
        LoadProjectFromStream(montage, view, [](const std::string&) {});
    } catch (const EStreamError&) {
        complete = false; // a last record cut short
    }

    Check(montage.ClipCount >= 0 && montage.ClipCount <= MaxClips);
    for (int p = 0; p < montage.ClipCount; ++p) {
        const Tsample* clip = montage.ClipAt(p);
        Check(clip != nullptr && clip->Position == p);
        Check(clip->FadeInKind >= 0 && clip->FadeInKind <= 2);
        Check(clip->FadeOutKind >= 0 && clip->FadeOutKind <= 2);
    }
    if (complete)
        Check(montage.MontageSaved);
    if (montage.ClipCount > 0) {
        montage.RestartRender();
        montage.CompleteRender();
        Check(montage.RenderFinished);
    }

    // What a record reads as is written back within its fields and reads the same again.
    for (std::size_t at = 0; at + ClipRecordSize <= size; at += ClipRecordSize) {
        const TClipRecord record = DecodeClipRecord(data + at);
        Check(IsValidUtf8(record.Title) && IsValidUtf8(record.SourceFile));
        const std::array<std::uint8_t, ClipRecordSize> again = EncodeClipRecord(record);
        const TClipRecord back = DecodeClipRecord(again.data());
        Check(back.Title == record.Title && back.SourceFile == record.SourceFile);
        Check(back.StartMs == record.StartMs && back.LengthMs == record.LengthMs &&
              back.FadeInKind == record.FadeInKind && back.FadeOutKind == record.FadeOutKind &&
              back.FadeInMs == record.FadeInMs && back.FadeOutMs == record.FadeOutMs &&
              back.Position == record.Position);
    }
    return 0;
}

#ifdef SONALTO_PROJECT_SEEDS

#include "audio/TestWaves.h"

#include <cstdio>
#include <filesystem>
#include <vector>

namespace {

bool WriteBytes(const std::string& path, const std::uint8_t* bytes, std::size_t size)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(bytes, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

bool WriteBytes(const std::string& path, const Bytes& bytes)
{
    return WriteBytes(path, bytes.data(), bytes.size());
}

void Append(Bytes& out, const TClipRecord& record)
{
    const std::array<std::uint8_t, ClipRecordSize> bytes = EncodeClipRecord(record);
    out.insert(out.end(), bytes.begin(), bytes.end());
}

} // namespace

int main(int argc, char* argv[])
{
    namespace fs = std::filesystem;
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SEED_FOLDER SOURCE_FOLDER\n", argv[0]);
        return 2;
    }
    const fs::path seeds = fs::absolute(argv[1]);
    const fs::path sources = fs::absolute(argv[2]);
    fs::create_directories(seeds);
    fs::create_directories(sources);

    const std::string mono = (sources / "mono.wav").string();
    const std::string stereo = (sources / "stereo.wav").string();
    const std::string eight = (sources / "huit.wav").string();
    const std::string text = (sources / "texte.txt").string();
    const std::string missing = (sources / "absent.wav").string();
    bool ok = WriteBytes(mono, CanonicalWave(PcmFormat(1, 22050, 16), Staircase16(11025, 1))) &&
              WriteBytes(stereo, CanonicalWave(PcmFormat(2, 44100, 16), Staircase16(13230, 2))) &&
              WriteBytes(eight, CanonicalWave(PcmFormat(1, 11025, 8), Staircase8(2205, 1))) &&
              WriteBytes(text, Bytes{'p', 'a', 's', ' ', 'u', 'n', ' ', 's', 'o', 'n', '\n'});

    std::vector<std::pair<std::string, Bytes>> projects;
    Bytes three;
    Append(three, {"Ouverture", mono, 100, 300, 0, 2, 1000, 2000, 0});
    Append(three, {"Thème", stereo, 0, 250, 2, 0, 2000, 1000, 1});
    Append(three, {"Œuvre €", eight, 50, 100, 1, 1, 1000, 1000, 2});
    projects.emplace_back("trois", three);

    Bytes one;
    Append(one, {"音声", mono, 0, 500, 0, 0, 7000, -5, 0});
    projects.emplace_back("un", one);

    Bytes damaged;
    Append(damaged, {"Texte", text, 0, 100, 1, 1, 1000, 1000, 0});
    Append(damaged, {"Absent", missing, 0, 100, 1, 1, 1000, 1000, 1});
    Append(damaged, {"Bornes", mono, -500, 2147483647, 3, -1, 0, 1000, 7});
    Append(damaged, {"Vide", stereo, 200, -100, 1000, 2, 1000, 1000, 3});
    projects.emplace_back("abimes", damaged);

    Bytes lengths = one;
    lengths[0] = 255;  // title length
    lengths[46] = 255; // path length
    projects.emplace_back("longueurs", lengths);

    projects.emplace_back("tronque", Bytes(three.begin(), three.end() - 1));
    projects.emplace_back("vide", Bytes{});

    for (const auto& [name, bytes] : projects)
        ok = WriteBytes((seeds / (name + ".snt")).string(), bytes) && ok;
    if (!ok) {
        std::fprintf(stderr, "cannot write the seeds\n");
        return 1;
    }
    return 0;
}

#endif
