// sonalto-export run as a teacher's script would run it: a project made here, exported to WAV and MP3 and
// compared with the program's own exports of the same montage; bad arguments, projects that cannot be read
// and a missing source, each refused with nothing written.
#include "audio/TestWaves.h"
#include "montage/Montage.h"
#include "montage/ProjectFile.h"
#include "mp3/Mp3Export.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

Bytes readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

struct Outcome
{
    int status = -1;
    std::string errors;
};

class ExportTool : public testing::Test
{
protected:
    ExportTool()
    {
        dir = fs::temp_directory_path() / ("sonalto-export-" + std::to_string(::getpid()) + "-" +
                                           testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir / "cache");
        ::setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
        // Two sources: a staircase at 44100 Hz stereo and a tone at 22050 Hz mono; three clips with a fade
        // and a crossfade between them.
        writeFile(dir / "a.wav", CanonicalWave(PcmFormat(2, 44100, 16), Staircase16(44100 * 2, 2)));
        writeFile(dir / "b.wav",
                  CanonicalWave(PcmFormat(1, 22050, 16), Sine16(22050 * 3, 1, 440, 22050, 0.5)));
        TMontage made;
        made.Create("Un", (dir / "a.wav").string(), 250, 1000, 0).SetFadeIn(0, 1000);
        made.Create("Deux", (dir / "b.wav").string(), 0, 2000, 1).SetFadeOut(2, 1000);
        made.Create("Trois", (dir / "a.wav").string(), 1000, 900, 2).SetFadeIn(2, 1000);
        SaveProject(made, project().string());
    }
    ~ExportTool() override
    {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    fs::path project() const { return dir / "projet.snt"; }

    Outcome run(const std::string& arguments) const
    {
        const fs::path errors = dir / "errors.txt";
        const std::string command =
            std::string(SONALTO_EXPORT_PROGRAM) + " " + arguments + " 2>" + errors.string();
        Outcome outcome;
        const int status = std::system(command.c_str());
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        const Bytes text = readFile(errors);
        outcome.errors.assign(text.begin(), text.end());
        return outcome;
    }

    // The montage as the program opens it.
    void open(TMontage& montage) const
    {
        LoadProject(montage, project().string(), [](const std::string& text) { ADD_FAILURE() << text; });
    }

    fs::path dir;
};

TEST_F(ExportTool, WritesWhatTheProgramsOwnExportsWrite)
{
    const Outcome wav = run(project().string() + " " + (dir / "montage.wav").string());
    ASSERT_EQ(wav.status, 0) << wav.errors;
    EXPECT_TRUE(wav.errors.empty()) << wav.errors;
    TMontage own;
    open(own);
    own.ExportWave((dir / "own.wav").string());
    EXPECT_EQ(readFile(dir / "montage.wav"), readFile(dir / "own.wav"));
    EXPECT_GT(readFile(dir / "own.wav").size(), 44100U);

    const Outcome mp3 =
        run(project().string() + " " + (dir / "montage.MP3").string() + " --debit 128 --qualite Haute");
    ASSERT_EQ(mp3.status, 0) << mp3.errors;
    TWaveStorage work;
    TLameCoder coder;
    ExportWaveAsMp3(own.RenderedMontage(), (dir / "own.mp3").string(), {128, MPEG_QUALITY::HIGH_QUALITY},
                    work, coder);
    EXPECT_EQ(readFile(dir / "montage.MP3"), readFile(dir / "own.mp3"));
    EXPECT_GT(readFile(dir / "own.mp3").size(), 10000U);
    EXPECT_FALSE(fs::exists(dir / "cache" / "sonalto" / "tempo.wav"));
}

TEST_F(ExportTool, RefusesWhatItCannotDoAndWritesNothing)
{
    writeFile(dir / "court.snt", Bytes(332 + 10, 0));
    const std::string out = (dir / "sortie.wav").string();
    const std::string mp3 = (dir / "sortie.mp3").string();
    const std::string p = project().string();
    const struct
    {
        std::string arguments;
        int status;
        std::string says;
    } rows[] = {
        {"", 2, "usage : sonalto-export"},
        {p, 2, "il faut un projet et un fichier de sortie"},
        {p + " " + out + " " + mp3, 2, "trop d'arguments"},
        {p + " " + (dir / "sortie.ogg").string(), 2, "doit finir par .wav ou .mp3"},
        {p + " " + out + " --debit 320", 2, "ne valent que pour un fichier mp3"},
        {p + " " + mp3 + " --debit 100", 2, "débit inconnu : 100"},
        {p + " " + mp3 + " --qualite", 2, "il manque une valeur après --qualite"},
        {p + " " + mp3 + " --vite", 2, "option inconnue : --vite"},
        {(dir / "absent.snt").string() + " " + out, 1, "n'a pas pu être lu"},
        {(dir / "court.snt").string() + " " + out, 1, "Lecture au-delà de la fin de fichier"},
        {dir.string() + " " + out, 1, "n'a pas pu être lu"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments);
        const Outcome outcome = run(row.arguments);
        EXPECT_EQ(outcome.status, row.status);
        EXPECT_NE(outcome.errors.find(row.says), std::string::npos) << outcome.errors;
    }
    // A missing source: told, and the previous file left as it was.
    writeFile(out, Bytes{'a', 'n', 'c', 'i', 'e', 'n'});
    fs::remove(dir / "b.wav");
    const Outcome missing = run(p + " " + out);
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.errors.find("b.wav n'a pas été trouvé"), std::string::npos) << missing.errors;
    EXPECT_NE(missing.errors.find("rien n'a été exporté"), std::string::npos) << missing.errors;
    EXPECT_EQ(readFile(out), (Bytes{'a', 'n', 'c', 'i', 'e', 'n'}));
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"a.wav", "cache", "court.snt", "errors.txt", "projet.snt",
                                              "sortie.wav"}));
}

// The exporter is for machines without a desktop too: it must not need the widget libraries.
TEST(ExportToolLinks, NeedsNeitherQtGuiNorQtWidgets)
{
    const std::string command = std::string("readelf -d ") + SONALTO_EXPORT_PROGRAM;
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string needed;
    char line[512];
    while (std::fgets(line, sizeof line, pipe))
        if (std::string(line).find("(NEEDED)") != std::string::npos)
            needed += line;
    ASSERT_EQ(::pclose(pipe), 0);
    EXPECT_NE(needed.find("libQt6Core"), std::string::npos) << needed;
    EXPECT_EQ(needed.find("libQt6Gui"), std::string::npos) << needed;
    EXPECT_EQ(needed.find("libQt6Widgets"), std::string::npos) << needed;
}

} // namespace
