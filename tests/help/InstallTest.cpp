// The installed tree: `cmake --install` of this build into a temporary prefix gives the program, its help
// pages, a desktop entry and an icon, and the program there finds its pages.
#include "HelpTestSupport.h"
#include "help/ui/Unit4.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QByteArray contentOf(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList relativeFiles(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    files.sort();
    return files;
}

// The keys of the [Desktop Entry] group.
QMap<QString, QString> desktopEntry(const QString& file)
{
    QMap<QString, QString> keys;
    bool inGroup = false;
    for (const QString& line : QString::fromUtf8(contentOf(file)).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char('[')))
            inGroup = line.trimmed() == QStringLiteral("[Desktop Entry]");
        else if (inGroup && line.contains(QLatin1Char('=')) && !line.startsWith(QLatin1Char('#')))
            keys.insert(line.section(QLatin1Char('='), 0, 0).trimmed(), line.section(QLatin1Char('='), 1));
    }
    return keys;
}

class InstallTest : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        prefix = new QTemporaryDir;
        ASSERT_TRUE(prefix->isValid());
        QProcess install;
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start(QStringLiteral(SONALTO_CMAKE),
                      {QStringLiteral("--install"), QStringLiteral(SONALTO_BINARY_DIR),
                       QStringLiteral("--prefix"), prefix->path()});
        ASSERT_TRUE(install.waitForFinished(300000));
        output = new QString(QString::fromLocal8Bit(install.readAll()));
        exitCode = install.exitStatus() == QProcess::NormalExit ? install.exitCode() : -1;
    }
    static void TearDownTestSuite()
    {
        delete prefix;
        delete output;
        prefix = nullptr;
        output = nullptr;
    }
    void SetUp() override { ASSERT_EQ(exitCode, 0) << output->toStdString(); }

    static QString installed(const QString& relative) { return prefix->path() + QLatin1Char('/') + relative; }

    static inline QTemporaryDir* prefix = nullptr;
    static inline QString* output = nullptr;
    static inline int exitCode = -1;
};

TEST_F(InstallTest, ProgramIsInBin)
{
    const QFileInfo program(installed(QStringLiteral("bin/sonalto")));
    EXPECT_TRUE(program.isFile());
    EXPECT_TRUE(program.isExecutable());
}

TEST_F(InstallTest, HelpPagesAreAllInstalledUnderShareSonaltoAide)
{
    const QString source = QStringLiteral(SONALTO_SOURCE_DIR "/resources/aide");
    const QString target = installed(QStringLiteral("share/sonalto/aide"));
    EXPECT_TRUE(QFileInfo(target + QStringLiteral("/index.htm")).isFile());
    const QStringList files = relativeFiles(source);
    EXPECT_EQ(relativeFiles(target), files);
    for (const QString& file : files)
        EXPECT_EQ(contentOf(target + QLatin1Char('/') + file), contentOf(source + QLatin1Char('/') + file))
            << file.toStdString();
}

TEST_F(InstallTest, ProgramInThePrefixFindsItsHelpFromAnyWorkingFolder)
{
    QTemporaryDir elsewhere;
    const QString base = FindHelpBase(elsewhere.path(), HelpFolders(installed(QStringLiteral("bin"))));
    EXPECT_EQ(QFileInfo(base).canonicalFilePath(),
              QFileInfo(installed(QStringLiteral("share/sonalto"))).canonicalFilePath());
}

TEST_F(InstallTest, DesktopEntryStartsTheInstalledProgram)
{
    const QString file = installed(QStringLiteral("share/applications/sonalto.desktop"));
    ASSERT_TRUE(QFileInfo(file).isFile());
    const auto keys = desktopEntry(file);
    EXPECT_EQ(keys.value(QStringLiteral("Type")), QStringLiteral("Application"));
    EXPECT_EQ(keys.value(QStringLiteral("Name")), QStringLiteral("Sonalto"));
    EXPECT_FALSE(keys.value(QStringLiteral("Comment")).isEmpty());
    EXPECT_EQ(keys.value(QStringLiteral("Categories")), QStringLiteral("AudioVideo;Audio;Education;"));
    EXPECT_EQ(keys.value(QStringLiteral("Icon")), QStringLiteral("sonalto"));
    QString exec = keys.value(QStringLiteral("Exec"));
    // The file the file manager opens with it follows the program.
    EXPECT_TRUE(exec.endsWith(QStringLiteral(" %f"))) << exec.toStdString();
    if (exec.startsWith(QLatin1Char('"')))
        exec = exec.mid(1, exec.indexOf(QLatin1Char('"'), 1) - 1);
    else
        exec = exec.section(QLatin1Char(' '), 0, 0);
    EXPECT_EQ(QFileInfo(exec).canonicalFilePath(),
              QFileInfo(installed(QStringLiteral("bin/sonalto"))).canonicalFilePath())
        << keys.value(QStringLiteral("Exec")).toStdString();

    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (!validator.isEmpty()) {
        QProcess check;
        check.setProcessChannelMode(QProcess::MergedChannels);
        check.start(validator, {file});
        ASSERT_TRUE(check.waitForFinished());
        EXPECT_EQ(check.exitCode(), 0) << check.readAll().toStdString();
    }
}

TEST_F(InstallTest, IconIsTheProgramsScalableIcon)
{
    const QString icon = installed(QStringLiteral("share/icons/hicolor/scalable/apps/sonalto.svg"));
    EXPECT_TRUE(QFileInfo(icon).isFile());
    EXPECT_EQ(contentOf(icon), contentOf(QStringLiteral(SONALTO_SOURCE_DIR "/resources/icons/sonalto.svg")));
}

} // namespace
