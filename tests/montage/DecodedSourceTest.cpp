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

std::string saved(TMontage& montage, const std::string& name)
{
    SaveProject(montage, SoundPath(name));
    return SoundPath(name);
}

TEST(DecodedSource, ReopenedExtractsHoldTheSamplesTheyWereCutWith)
{
    const std::vector<std::string> sources = {
        Lame(WriteOnsetSine("extrait.wav", 44100, 2, 3), {"-b", "128"}, "extrait.mp3"),
        Lame(WriteOnsetSine("extrait-mono.wav", 44100, 1, 3), {"-b", "64", "-m", "m"}, "extrait-mono.mp3"),
        Ffmpeg(WriteOnsetSine("extrait-ogg.wav", 44100, 2, 3), {"-c:a", "libvorbis"}, "extrait.ogg")};
    for (const std::string& source : sources) {
        SCOPED_TRACE(source);
        TMontage montage;
        // Stretches at odd places: in the middle of a codec frame, from the very start, to the very end.
        addFromEditor(montage, source, "Milieu", 12345, 40001);
        addFromEditor(montage, source, "Début", 0, 7777);
        addFromEditor(montage, source, "Fin", 50000, 3 * 44100 - 1);
        const std::string project = saved(montage, "extraits.snt");
        for (int load = 0; load < 2; ++load) { // the same on every load
            TMontage reopened;
            ASSERT_TRUE(
                LoadProject(reopened, project, [](const std::string& text) { ADD_FAILURE() << text; }));
            ASSERT_EQ(reopened.ClipCount, 3);
            EXPECT_TRUE(reopened.MontageSaved);
            for (int p = 0; p < 3; ++p) {
                const TWave& wave = reopened.ClipAt(p)->Storage.Wave();
                EXPECT_EQ(reopened.ClipAt(p)->SourceFile, source);
                EXPECT_EQ(wave.PCMFormat(), MontageFormat);
                EXPECT_GT(wave.DataSize(), 0u);
                EXPECT_EQ(WaveSamples(wave), WaveSamples(montage.ClipAt(p)->Storage.Wave())) << p;
            }
        }
    }
}

TEST(DecodedSource, IsDecodedOnceForTheClipsCutFromIt)
{
    const std::string mp3 = Lame(WriteOnsetSine("une-fois.wav", 44100, 2, 2), {"-b", "128"}, "une-fois.mp3");
    TMontage montage;
    for (std::uint32_t k = 0; k < 3; ++k)
        addFromEditor(montage, mp3, "c" + std::to_string(k), 1000 * k, 1000 * k + 20000);
    std::vector<double> done;
    TMontage reopened;
    ASSERT_TRUE(LoadProject(reopened, saved(montage, "une-fois.snt"), {}, [&](double d) {
        done.push_back(d);
        return true;
    }));
    EXPECT_EQ(reopened.ClipCount, 3);
    EXPECT_TRUE(std::is_sorted(done.begin(), done.end()));
    // The whole decode happened for the first of three records: a third of the load, and nothing after.
    ASSERT_FALSE(done.empty());
    EXPECT_NEAR(done.back(), 1.0 / 3, 1e-9);
}

// Clips of two compressed sources in turn: each source is decoded for its first clip and never again.
TEST(DecodedSource, SourcesTakenInTurnAreEachDecodedOnce)
{
    const std::string a = Lame(WriteOnsetSine("tour-a.wav", 44100, 2, 2), {"-b", "128"}, "tour-a.mp3");
    const std::string b = Lame(WriteOnsetSine("tour-b.wav", 22050, 1, 2), {"-b", "64"}, "tour-b.mp3");
    TMontage montage;
    for (std::uint32_t k = 0; k < 4; ++k)
        addFromEditor(montage, k % 2 == 0 ? a : b, "t" + std::to_string(k), 3000 * k, 3000 * k + 9000);
    std::vector<double> done;
    TMontage reopened;
    ASSERT_TRUE(LoadProject(reopened, saved(montage, "tour.snt"), {}, [&](double d) {
        done.push_back(d);
        return true;
    }));
    ASSERT_EQ(reopened.ClipCount, 4);
    for (int p = 0; p < 4; ++p)
        EXPECT_EQ(WaveSamples(reopened.ClipAt(p)->Storage.Wave()),
                  WaveSamples(montage.ClipAt(p)->Storage.Wave()))
            << p;
    // The second decode ends with the second of four records: half of the load, and nothing after.
    ASSERT_FALSE(done.empty());
    EXPECT_NEAR(done.back(), 2.0 / 4, 1e-9);
}

TEST(DecodedSource, CancelledLoadKeepsTheClipsBeforeAndCountsAsUnsaved)
{
    const std::string wav = WriteOnsetSine("avant.wav", 22050, 1, 1);
    TMontage montage;
    addFromEditor(montage, wav, "Avant", 0, 11025);
    addFromEditor(montage, Lame(WriteOnsetSine("apres.wav", 44100, 2, 2), {}, "apres.mp3"), "Après", 0,
                  44100);
    addFromEditor(montage, wav, "Encore", 100, 11025);
    TMontage reopened;
    int restarts = 0;
    reopened.OnRenderRestarted = [&] { ++restarts; };
    int calls = 0;
    EXPECT_FALSE(
        LoadProject(reopened, saved(montage, "annule.snt"), {}, [&](double) { return ++calls < 3; }));
    ASSERT_EQ(reopened.ClipCount, 1);
    EXPECT_EQ(reopened.ClipAt(0)->Title, "Avant");
    EXPECT_FALSE(reopened.MontageSaved);
    EXPECT_EQ(restarts, 1);
}

TEST(DecodedSource, SourcesThatCannotBeDecodedAreToldAndLeftOut)
{
    RunTool({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=d=1:s=64x48:r=10",
             "-c:v", "mpeg4", SoundPath("muet.mp4")});
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"Bruit", WriteBytes("bruit.mp3", Bytes(30000, 0xA5))},
        {"Vide", WriteBytes("vide.m4a", {})},
        {"Muet", SoundPath("muet.mp4")}};
    TMontage montage;
    const std::string good = WriteOnsetSine("bonne.wav", 22050, 1, 1);
    addFromEditor(montage, good, "Bonne", 0, 5000);
    // Clips whose sources were sounds when they were cut and are no longer.
    for (const auto& [title, path] : bad) {
        addFromEditor(montage, good, title, 0, 5000);
        montage.ClipAt(montage.ClipCount - 1)->SourceFile = path;
    }
    std::vector<std::string> told;
    TMontage reopened;
    ASSERT_TRUE(LoadProject(reopened, saved(montage, "illisibles.snt"),
                            [&](const std::string& text) { told.push_back(text); }));
    ASSERT_EQ(told.size(), bad.size());
    for (std::size_t k = 0; k < bad.size(); ++k)
        EXPECT_EQ(told[k], "L'extrait « " + bad[k].first + " » n'a pas été chargé : le fichier " +
                               bad[k].second + " n'est pas un fichier son lisible.");
    ASSERT_EQ(reopened.ClipCount, 1);
    EXPECT_EQ(reopened.ClipAt(0)->Title, "Bonne");
}

} // namespace
