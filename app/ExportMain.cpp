// sonalto-export: the montage of a project written as one WAV or MP3 file, without the windows: what the
// program's own exports write, for a teacher who exports many projects from a script.
//   sonalto-export PROJET.snt SORTIE.wav
//   sonalto-export PROJET.snt SORTIE.mp3 [--debit 320] [--qualite Normal|Faible|Haute|Voix]
// Messages go to the standard error, in French; a progress line when it is a terminal. The exit status is 0
// only when the file was written; nothing is written otherwise (an existing file stays as it was).
#include "montage/Montage.h"
#include "montage/ProjectFile.h"
#include "mp3/Mp3Export.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <exception>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Failed = 1;
constexpr int BadArguments = 2;

void say(const std::string& text)
{
    std::fprintf(stderr, "sonalto-export : %s\n", text.c_str());
}

int usage(const std::string& problem)
{
    if (!problem.empty())
        say(problem);
    std::fprintf(stderr, "usage : sonalto-export PROJET.snt SORTIE.wav\n"
                         "        sonalto-export PROJET.snt SORTIE.mp3 [--debit 320|256|192|160|128|96] "
                         "[--qualite Normal|Faible|Haute|Voix]\n");
    return BadArguments;
}

std::string lowerExtension(const std::string& path)
{
    const std::size_t dot = path.find_last_of('.');
    const std::size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

// A line that replaces itself on a terminal, and nothing elsewhere.
class Progress
{
public:
    Progress() : m_terminal(::isatty(STDERR_FILENO) == 1) {}
    void show(const std::string& text)
    {
        if (m_terminal)
            std::fprintf(stderr, "\r%-60s", text.c_str());
    }
    void done()
    {
        if (m_terminal)
            std::fprintf(stderr, "\r%-60s\r", "");
    }

private:
    bool m_terminal;
};

} // namespace

int main(int argc, char* argv[])
{
    std::vector<std::string> positional;
    TMp3Choice choice;
    bool mp3Options = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--debit" || argument == "--qualite") {
            if (i + 1 >= argc)
                return usage("il manque une valeur après " + argument);
            const std::string value = argv[++i];
            mp3Options = true;
            if (argument == "--debit") {
                const auto known =
                    std::find_if(std::begin(Mp3Bitrates), std::end(Mp3Bitrates),
                                 [&](std::uint32_t rate) { return std::to_string(rate) == value; });
                if (known == std::end(Mp3Bitrates))
                    return usage("débit inconnu : " + value);
                choice.Bitrate = *known;
            } else if (const std::optional<MPEG_QUALITY> quality = Mp3QualityNamed(value)) {
                choice.Quality = *quality;
            } else {
                return usage("qualité inconnue : " + value);
            }
        } else if (argument.size() > 1 && argument[0] == '-') {
            return usage("option inconnue : " + argument);
        } else {
            positional.push_back(argument);
        }
    }
    if (positional.size() != 2)
        return usage(positional.size() < 2 ? "il faut un projet et un fichier de sortie"
                                           : "trop d'arguments");
    const std::string& project = positional[0];
    const std::string& output = positional[1];
    const std::string kind = lowerExtension(output);
    if (kind != "wav" && kind != "mp3")
        return usage("le fichier de sortie doit finir par .wav ou .mp3 : " + output);
    if (kind == "wav" && mp3Options)
        return usage("--debit et --qualite ne valent que pour un fichier mp3");

    TMontage montage;
    std::vector<std::string> leftOut;
    try {
        LoadProject(montage, project, [&](const std::string& text) { leftOut.push_back(text); });
    } catch (const std::exception& e) {
        say("le projet " + project + " n'a pas pu être lu : " + e.what());
        return Failed;
    }
    // The file must be the montage the teacher made: with a clip missing it would be another one.
    if (!leftOut.empty()) {
        for (const std::string& text : leftOut)
            say(text);
        say("rien n'a été exporté.");
        return Failed;
    }
    if (montage.ClipCount == 0) {
        say("le projet " + project + " ne contient aucun extrait : rien n'a été exporté.");
        return Failed;
    }

    Progress progress;
    try {
        while (montage.RenderCursor != TMontage::RenderIdle && montage.RenderCursor < montage.ClipCount) {
            progress.show("Montage : extrait " + std::to_string(montage.RenderCursor + 1) + " sur " +
                          std::to_string(montage.ClipCount));
            montage.RenderStep();
        }
        if (kind == "wav") {
            montage.ExportWave(output);
        } else {
            TWaveStorage work;
            TLameCoder coder;
            coder.DefaultExt = ".mp3";
            coder.OnProgress = [&progress](TLameCoder*, std::uint16_t percent) {
                progress.show("Encodage mp3 : " + std::to_string(percent) + " %");
            };
            ExportWaveAsMp3(montage.RenderedMontage(), output, choice, work, coder);
        }
    } catch (const std::exception& e) {
        progress.done();
        say(e.what());
        return Failed;
    }
    progress.done();
    return 0;
}
