// The Debian package as a technician gets it: the validators of the desktop and of the software centres
// pass, lintian finds no error, every file is in it, and, unpacked into a throw-away folder (never into the
// machine's own /usr), its exporter exports a project made here and its program finds its help pages there.
#include "audio/TestWaves.h"
#include "montage/Montage.h"
#include "montage/ProjectFile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct Outcome
{
    int status = -1;
    std::string out; // standard output and error together
};

Outcome shell(const std::string& command)
{
    Outcome run;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.out.append(buffer, n);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string lineStarting(const std::string& text, const std::string& prefix)
{
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(prefix, 0) == 0)
            return line;
    return {};
}

class Package : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        root = fs::temp_directory_path() / ("sonalto-package-" + std::to_string(::getpid()));
        fs::remove_all(root);
        fs::create_directories(root);
        unpacked = shell("dpkg-deb -x " + std::string(SONALTO_PACKAGE_FILE) + " " + (root / "tree").string());
    }
    static void TearDownTestSuite()
    {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    static fs::path tree(const std::string& path) { return root / "tree" / path; }

    static inline fs::path root;
    static inline Outcome unpacked;
};

TEST_F(Package, HoldsEveryFileAndPassesTheValidators)
{
    ASSERT_EQ(unpacked.status, 0) << unpacked.out;
    for (const std::string file :
         {"usr/bin/sonalto", "usr/bin/sonalto-export", "usr/share/sonalto/aide/index.htm",
          "usr/share/applications/sonalto.desktop", "usr/share/icons/hicolor/scalable/apps/sonalto.svg",
          "usr/share/metainfo/fr.sonalto.Sonalto.metainfo.xml", "usr/share/mime/packages/sonalto.xml",
          "usr/share/man/man1/sonalto.1.gz", "usr/share/man/man1/sonalto-export.1.gz",
          "usr/share/doc/sonalto/copyright", "usr/share/doc/sonalto/changelog.gz"})
        EXPECT_TRUE(fs::is_regular_file(tree(file))) << file;
    // The icons rendered at every size a desktop asks for, each of its own size.
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        const std::string icon = "usr/share/icons/hicolor/" + std::to_string(size) + "x" +
                                 std::to_string(size) + "/apps/sonalto.png";
        const Outcome file = shell("file " + tree(icon).string());
        EXPECT_NE(file.out.find(std::to_string(size) + " x " + std::to_string(size)), std::string::npos)
            << file.out;
    }

    const Outcome lintian = shell(std::string("lintian --allow-root ") + SONALTO_PACKAGE_FILE);
    EXPECT_EQ(lineStarting(lintian.out, "E:"), "") << lintian.out;
    const Outcome desktop =
        shell("desktop-file-validate " + tree("usr/share/applications/sonalto.desktop").string());
    EXPECT_EQ(desktop.status, 0) << desktop.out;
    EXPECT_EQ(desktop.out.find("error"), std::string::npos) << desktop.out;
    EXPECT_EQ(desktop.out.find("warning"), std::string::npos) << desktop.out;
    const Outcome metainfo = shell("appstreamcli validate --no-net " +
                                   tree("usr/share/metainfo/fr.sonalto.Sonalto.metainfo.xml").string());
    EXPECT_EQ(metainfo.status, 0) << metainfo.out;
    EXPECT_EQ(lineStarting(metainfo.out, "W:") + lineStarting(metainfo.out, "E:"), "") << metainfo.out;
    // The project files get their type from the package's description of it.
    fs::create_directories(root / "mime" / "packages");
    fs::copy_file(tree("usr/share/mime/packages/sonalto.xml"), root / "mime" / "packages" / "sonalto.xml");
    ASSERT_EQ(shell("update-mime-database " + (root / "mime").string()).status, 0);
    std::ifstream globs(root / "mime" / "globs2");
    const std::string text((std::istreambuf_iterator<char>(globs)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("application/x-sonalto-project:*.snt"), std::string::npos);
    // Its own dependencies, found from the programs, include the decoders and the sound libraries.
    const Outcome control = shell(std::string("dpkg-deb -f ") + SONALTO_PACKAGE_FILE + " Depends Section");
    EXPECT_NE(control.out.find("libpulse0"), std::string::npos) << control.out;
    EXPECT_NE(control.out.find("Section: sound"), std::string::npos) << control.out;
}

TEST_F(Package, ItsExporterExportsAProject)
{
    ASSERT_EQ(unpacked.status, 0) << unpacked.out;
    const fs::path source = root / "voix.wav";
    const Bytes wave = CanonicalWave(PcmFormat(1, 22050, 16), Sine16(22050 * 2, 1, 440, 22050, 0.5));
    std::ofstream(source, std::ios::binary)
        .write(reinterpret_cast<const char*>(wave.data()), static_cast<std::streamsize>(wave.size()));
    TMontage made;
    made.Create("Voix", source.string(), 500, 1000, 0);
    SaveProject(made, (root / "projet.snt").string());
    const Outcome run =
        shell("XDG_CACHE_HOME=" + (root / "cache").string() + " " + tree("usr/bin/sonalto-export").string() +
              " " + (root / "projet.snt").string() + " " + (root / "sortie.mp3").string());
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_GT(fs::file_size(root / "sortie.mp3"), 10000U);
}

TEST_F(Package, ItsProgramFindsItsHelpPagesBesideIt)
{
    ASSERT_EQ(unpacked.status, 0) << unpacked.out;
    // The help window reads its first page as the program starts; the trace says which file it was.
    const fs::path trace = root / "trace.txt";
    const std::string program = tree("usr/bin/sonalto").string();
    // The program runs under strace, which ends once the program it traces is stopped.
    const std::string script =
        "strace -f -e trace=openat -o " + trace.string() + " " + program +
        " & s=$!; for i in $(seq 300); do xdotool search --name '^Sonalto$' >/dev/null && "
        "break; sleep 0.1; done; xdotool search --name '^Sonalto$' >/dev/null; found=$?; "
        "kill $(pgrep -P $s); wait $s; exit $found";
    const std::string scriptFile = (root / "show.sh").string();
    std::ofstream(scriptFile) << script << "\n";
    const Outcome run = shell("cd " + root.string() +
                              " && QT_QPA_PLATFORM=xcb PULSE_SERVER=unix:/nonexistent/sonalto "
                              "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/"
                              "sonalto timeout 120 xvfb-run -a -s '-screen 0 1366x768x24 -nolisten tcp' sh " +
                              scriptFile);
    EXPECT_EQ(run.status, 0) << "the window did not show: " << run.out;
    std::ifstream in(trace);
    const std::string opened((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string page = tree("usr/share/sonalto/aide/index.htm").string();
    const std::size_t at = opened.find("\"" + page + "\"");
    ASSERT_NE(at, std::string::npos) << "the help page of the package was not read";
    const std::string line = opened.substr(at, opened.find('\n', at) - at);
    EXPECT_EQ(line.find("ENOENT"), std::string::npos) << line;
}

} // namespace
