// Extracts cut from recordings in other formats than WAV: the project names the compressed file, and
// opening the project decodes it again and cuts the very same samples.
#include "audio/SoundFiles.h"
#include "editor/Editor.h"
#include "montage/ProjectFile.h"

#include <gtest/gtest.h>

namespace {

// Loads the recording as the main window does, and adds the stretch between two sample indices.
void addFromEditor(TMontage& montage, const std::string& file, const std::string& title, std::uint32_t from,
                   std::uint32_t to)
{
    TEditor editor;
    ASSERT_EQ(editor.LoadRecording(file), TEditor::LoadResult::Loaded);
    editor.SelStart = from;
    editor.SelEnd = to;
    const auto [startMs, endMs] = editor.SelectionMs();
    ASSERT_TRUE(montage.AddClip(title, editor.WS1.Wave(), editor.SourceFileName, startMs, endMs));
}

struct SourceRow
{
    std::string name;
    std::function<std::string()> make;
};

std::ostream& operator<<(std::ostream& out, const SourceRow& row)
{
    return out << row.name;
}

class ReopenedExtract : public testing::TestWithParam<SourceRow>
{
};

TEST_P(ReopenedExtract, HoldsTheSamplesItWasCutWith)
{
    const std::string source = GetParam().make();
    TMontage montage;
    // Stretches at odd places: in the middle of a codec frame, one from the very start, one to the end.
    addFromEditor(montage, source, "Milieu", 12345, 40001);
    addFromEditor(montage, source, "Début", 0, 7777);
    addFromEditor(montage, source, "Fin", 50000, 3 * 44100 - 1);
    const std::string project = SoundPath(GetParam().name + ".snt");
    SaveProject(montage, project);

    std::vector<std::string> told;
    for (int load = 0; load < 2; ++load) { // and the same on every load
        SCOPED_TRACE(load);
        TMontage reopened;
        ASSERT_TRUE(LoadProject(reopened, project, [&](const std::string& text) { told.push_back(text); }));
        EXPECT_TRUE(told.empty());
        ASSERT_EQ(reopened.ClipCount, 3);
        for (int p = 0; p < 3; ++p) {
            SCOPED_TRACE(montage.ClipAt(p)->Title);
            EXPECT_EQ(reopened.ClipAt(p)->SourceFile, source);
            EXPECT_EQ(reopened.ClipAt(p)->Storage.Wave().PCMFormat(), MontageFormat);
            EXPECT_GT(reopened.ClipAt(p)->Storage.Wave().DataSize(), 0u);
            EXPECT_EQ(WaveSamples(reopened.ClipAt(p)->Storage.Wave()),
                      WaveSamples(montage.ClipAt(p)->Storage.Wave()));
        }
        EXPECT_TRUE(reopened.MontageSaved);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, ReopenedExtract,
    testing::Values(
        SourceRow{"mp3_stereo",
                  [] {
                      return Lame(WriteOnsetSine("extrait.wav", 44100, 2, 3), {"-b", "128"}, "extrait.mp3");
                  }},
        SourceRow{"mp3_mono",
                  [] {
                      return Lame(WriteOnsetSine("extrait-mono.wav", 44100, 1, 3), {"-b", "64", "-m", "m"},
                                  "extrait-mono.mp3");
                  }},
        SourceRow{"ogg_vorbis", [] {
                      return Ffmpeg(WriteOnsetSine("extrait-ogg.wav", 44100, 2, 3), {"-c:a", "libvorbis"},
                                    "extrait.ogg");
                  }}));

TEST(DecodedSource, IsDecodedOnceForTheClipsCutFromIt)
{
    const std::string mp3 = Lame(WriteOnsetSine("une-fois.wav", 44100, 2, 2), {"-b", "128"}, "une-fois.mp3");
    TMontage montage;
    for (int k = 0; k < 3; ++k)
        addFromEditor(montage, mp3, "c" + std::to_string(k), 1000 * k, 1000 * k + 20000);
    const std::string project = SoundPath("une-fois.snt");
    SaveProject(montage, project);

    std::vector<double> done;
    TMontage reopened;
    ASSERT_TRUE(LoadProject(reopened, project, {}, [&](double d) {
        done.push_back(d);
        return true;
    }));
    EXPECT_EQ(reopened.ClipCount, 3);
    ASSERT_FALSE(done.empty());
    EXPECT_TRUE(std::is_sorted(done.begin(), done.end()));
    // The whole decode happened for the first of three records: a third of the load, and nothing after.
    EXPECT_NEAR(done.back(), 1.0 / 3, 1e-9);
}

TEST(DecodedSource, CancelledLoadKeepsTheClipsBeforeAndCountsAsUnsaved)
{
    const std::string wav = WriteOnsetSine("avant.wav", 22050, 1, 1);
    const std::string mp3 = Lame(WriteOnsetSine("apres.wav", 44100, 2, 2), {"-b", "128"}, "apres.mp3");
    TMontage montage;
    addFromEditor(montage, wav, "Avant", 0, 11025);
    addFromEditor(montage, mp3, "Après", 0, 44100);
    addFromEditor(montage, wav, "Encore", 100, 11025);
    const std::string project = SoundPath("annule.snt");
    SaveProject(montage, project);

    TMontage reopened;
    int restarts = 0;
    reopened.OnRenderRestarted = [&] { ++restarts; };
    int calls = 0;
    EXPECT_FALSE(LoadProject(reopened, project, {}, [&](double) { return ++calls < 3; }));
    ASSERT_EQ(reopened.ClipCount, 1);
    EXPECT_EQ(reopened.ClipAt(0)->Title, "Avant");
    EXPECT_FALSE(reopened.MontageSaved);
    EXPECT_EQ(restarts, 1);
}

TEST(DecodedSource, SourcesThatCannotBeDecodedAreToldAndLeftOut)
{
    const std::string good = WriteOnsetSine("bonne.wav", 22050, 1, 1);
    Bytes noise(30000);
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<std::uint8_t>((i * 2654435761U) >> 11);
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"Bruit", WriteBytes("bruit.mp3", noise)},
        {"Vide", WriteBytes("vide.m4a", {})},
        {"Muet", [] {
             RunTool({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                      "testsrc=d=1:s=64x48:r=10", "-c:v", "mpeg4", SoundPath("muet.mp4")});
             return SoundPath("muet.mp4");
         }()}};
    TMontage montage;
    addFromEditor(montage, good, "Bonne", 0, 5000);
    for (const auto& [title, path] : bad) {
        // A clip whose source was a sound when it was cut and is no longer one.
        const std::string standIn = WriteOnsetSine("provisoire.wav", 22050, 1, 1);
        addFromEditor(montage, standIn, title, 0, 5000);
        montage.ClipAt(montage.ClipCount - 1)->SourceFile = path;
    }
    const std::string project = SoundPath("illisibles.snt");
    SaveProject(montage, project);

    std::vector<std::string> told;
    TMontage reopened;
    ASSERT_TRUE(LoadProject(reopened, project, [&](const std::string& text) { told.push_back(text); }));
    ASSERT_EQ(told.size(), bad.size());
    for (std::size_t k = 0; k < bad.size(); ++k)
        EXPECT_EQ(told[k], "L'extrait « " + bad[k].first + " » n'a pas été chargé : le fichier " +
                               bad[k].second + " n'est pas un fichier son lisible.");
    ASSERT_EQ(reopened.ClipCount, 1);
    EXPECT_EQ(reopened.ClipAt(0)->Title, "Bonne");
}

} // namespace
