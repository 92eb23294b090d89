#include "mp3/Mp3Export.h"

#include "platform/io/Stream.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

std::optional<MPEG_QUALITY> Mp3QualityNamed(const std::string& name)
{
    for (std::size_t i = 0; i < std::size(Mp3QualityNames); ++i)
        if (name == Mp3QualityNames[i])
            return static_cast<MPEG_QUALITY>(i);
    return std::nullopt;
}

void ExportWaveAsMp3(const TWave& rendered, const std::string& target, const TMp3Choice& choice,
                     TWaveStorage& work, TLameCoder& coder)
{
    const std::string partial = target + ".sonalto-tmp";
    std::string temporary;
    try {
        work.SetWave(&rendered);
        // The encoder takes the samples as they are: a conversion that failed would be encoded as something
        // else (a montage of over six and a half hours no longer fits in one wave).
        if (!work.Wave().ConvertToPCM(Stereo16bit44100Hz))
            throw ELameError("Le montage n'a pas pu être converti en stéréo 44100 Hz (il est sans doute trop "
                             "long) : le fichier mp3 n'a pas été enregistré.");
        temporary = Mp3TemporaryWaveFile();
        work.Wave().SaveToFile(temporary);
        work.Wave().Clear();

        coder.InputFiles().clear();
        coder.OutputFiles().clear();
        coder.InputFiles().push_back(temporary);
        coder.OutputFiles().push_back(partial);
        coder.SetQuality(choice.Quality);
        coder.SetBitrate(choice.Bitrate);
        try {
            coder.Encode();
        } catch (const EFCreateError&) {
            throw EFCreateError(target); // the name the user knows, not the one beside it
        }
        ::unlink(temporary.c_str());
        // The finished file takes the place of any previous one in one step.
        if (std::rename(partial.c_str(), target.c_str()) != 0)
            throw EFCreateError(target);
    } catch (...) {
        ::unlink(partial.c_str());
        if (!temporary.empty())
            ::unlink(temporary.c_str());
        work.Wave().Clear();
        throw;
    }
}

std::string Mp3TemporaryWaveFile()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (base.isEmpty())
        base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const std::string folder = QFile::encodeName(base + QStringLiteral("/sonalto")).toStdString();
    std::string file = folder + "/tempo.wav";
    if (base.isEmpty() || !QDir().mkpath(base))
        throw EFCreateError(file);
    // Nobody else may write into the folder: a file of ours there cannot be replaced by a link.
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw EFCreateError(file);
    struct stat info = {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid())
        throw EFCreateError(file);
    if ((info.st_mode & 07777) != 0700 && ::chmod(folder.c_str(), 0700) != 0)
        throw EFCreateError(file);
    return file;
}
