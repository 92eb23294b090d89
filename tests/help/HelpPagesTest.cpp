// The help pages under resources/aide: every link and picture leads somewhere, every page is reached
// from the contents, every picture is used, and the help browser shows the pictures.
#include "HelpTestSupport.h"
#include "help/ui/Unit4.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPixmap>
#include <QRegularExpression>
#include <QSet>
#include <QTextBlock>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

const QString Aide = QStringLiteral(SONALTO_SOURCE_DIR "/resources/aide");

QString read(const QString& file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll());
}

QStringList filesUnder(const QString& folder, const QStringList& patterns)
{
    QStringList files;
    QDirIterator it(folder, patterns, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QFileInfo(it.next()).canonicalFilePath();
    files.sort();
    return files;
}

QStringList pages()
{
    return filesUnder(Aide, {QStringLiteral("*.htm"), QStringLiteral("*.html")});
}

struct Link
{
    QString attribute; // "href" or "src"
    QString target;
};

std::vector<Link> linksOf(const QString& html)
{
    static const QRegularExpression attribute(
        QStringLiteral("\\b(href|src)\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)')"),
        QRegularExpression::CaseInsensitiveOption);
    std::vector<Link> links;
    for (auto it = attribute.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        links.push_back({m.captured(1).toLower(), m.captured(2) + m.captured(3)});
    }
    return links;
}

bool external(const QString& target)
{
    return target.startsWith(QStringLiteral("http:")) || target.startsWith(QStringLiteral("https:")) ||
           target.startsWith(QStringLiteral("mailto:"));
}

// The file a link leads to (canonical, empty when missing) and its anchor.
std::pair<QString, QString> resolve(const QString& page, const QString& target)
{
    const qsizetype hash = target.indexOf(QLatin1Char('#'));
    const QString file = hash < 0 ? target : target.left(hash);
    const QString anchor = hash < 0 ? QString() : target.mid(hash + 1);
    if (file.isEmpty())
        return {page, anchor};
    const QString path = QFileInfo(page).dir().filePath(QUrl::fromPercentEncoding(file.toUtf8()));
    return {QFileInfo(path).canonicalFilePath(), anchor};
}

bool hasAnchor(const QString& html, const QString& anchor)
{
    const QString quoted = QRegularExpression::escape(anchor);
    return QRegularExpression(QStringLiteral("\\b(name|id)\\s*=\\s*[\"']") + quoted + QStringLiteral("[\"']"))
        .match(html)
        .hasMatch();
}

// A picture as the document holds it: the file's bytes, or what the layout made of them.
QImage pictureOf(const QVariant& data)
{
    switch (data.userType()) {
    case QMetaType::QImage:
        return data.value<QImage>();
    case QMetaType::QPixmap:
        return data.value<QPixmap>().toImage();
    case QMetaType::QByteArray:
        return QImage::fromData(data.toByteArray());
    default:
        return {};
    }
}

TEST(HelpPagesTest, ContentsPageExists)
{
    EXPECT_TRUE(QFileInfo(Aide + QStringLiteral("/index.htm")).isFile());
    EXPECT_GE(pages().size(), 10);
}

TEST(HelpPagesTest, EveryLinkAndPictureLeadsToAFileThatExists)
{
    const QString root = QFileInfo(Aide).canonicalFilePath();
    int checked = 0;
    for (const QString& page : pages()) {
        const QString html = read(page);
        for (const Link& link : linksOf(html)) {
            SCOPED_TRACE((QFileInfo(page).fileName() + QStringLiteral(" -> ") + link.target).toStdString());
            if (external(link.target)) {
                EXPECT_EQ(link.attribute, QStringLiteral("href"));
                continue;
            }
            const auto [file, anchor] = resolve(page, link.target);
            ASSERT_FALSE(file.isEmpty()) << "missing file";
            EXPECT_TRUE(file.startsWith(root + QLatin1Char('/'))) << "outside the help folder";
            if (link.attribute == QStringLiteral("src")) {
                EXPECT_FALSE(QImage(file).isNull()) << "not a picture";
            }
            if (!anchor.isEmpty()) {
                EXPECT_TRUE(hasAnchor(read(file), anchor)) << "missing anchor";
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 50);
}

TEST(HelpPagesTest, EveryPageIsReachedFromTheContentsAndLinksBackToThem)
{
    const QString index = QFileInfo(Aide + QStringLiteral("/index.htm")).canonicalFilePath();
    QSet<QString> reached{index};
    QStringList todo{index};
    while (!todo.isEmpty()) {
        const QString page = todo.takeFirst();
        for (const Link& link : linksOf(read(page))) {
            if (link.attribute != QStringLiteral("href") || external(link.target))
                continue;
            const QString file = resolve(page, link.target).first;
            if (!file.isEmpty() && file.endsWith(QStringLiteral(".htm")) && !reached.contains(file)) {
                reached.insert(file);
                todo << file;
            }
        }
    }
    for (const QString& page : pages()) {
        EXPECT_TRUE(reached.contains(page)) << page.toStdString() << " is not reached from index.htm";
        if (page == index)
            continue;
        bool backToContents = false;
        for (const Link& link : linksOf(read(page)))
            backToContents = backToContents || resolve(page, link.target).first == index;
        EXPECT_TRUE(backToContents) << page.toStdString() << " has no link to index.htm";
    }
}

TEST(HelpPagesTest, EveryPictureIsUsedByAPage)
{
    QSet<QString> used;
    for (const QString& page : pages())
        for (const Link& link : linksOf(read(page)))
            if (link.attribute == QStringLiteral("src"))
                used.insert(resolve(page, link.target).first);
    const QStringList pictures = filesUnder(Aide, {QStringLiteral("*.png"), QStringLiteral("*.jpg"),
                                                   QStringLiteral("*.gif"), QStringLiteral("*.svg")});
    EXPECT_FALSE(pictures.isEmpty());
    for (const QString& picture : pictures)
        EXPECT_TRUE(used.contains(picture)) << picture.toStdString() << " is used by no page";
}

TEST(HelpPagesTest, PagesAreUtf8WithATitle)
{
    for (const QString& page : pages()) {
        SCOPED_TRACE(QFileInfo(page).fileName().toStdString());
        QFile f(page);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        EXPECT_FALSE(QString::fromUtf8(bytes).contains(QChar::ReplacementCharacter));
        EXPECT_TRUE(bytes.contains("charset=\"utf-8\"") || bytes.contains("charset=utf-8"));
        EXPECT_TRUE(QRegularExpression(QStringLiteral("<title>[^<]+</title>"))
                        .match(QString::fromUtf8(bytes))
                        .hasMatch());
    }
}

TEST(HelpPagesTest, HelpBrowserShowsEveryPageWithItsPictures)
{
    THelpBrowser browser;
    browser.resize(640, 453);
    for (const QString& page : pages()) {
        SCOPED_TRACE(QFileInfo(page).fileName().toStdString());
        browser.setSource(QUrl::fromLocalFile(page));
        EXPECT_FALSE(browser.toPlainText().contains(QStringLiteral("Page introuvable")));
        EXPECT_FALSE(browser.documentTitle().isEmpty());
        for (QTextBlock block = browser.document()->begin(); block.isValid(); block = block.next())
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextCharFormat format = it.fragment().charFormat();
                if (!format.isImageFormat())
                    continue;
                const QString name = format.toImageFormat().name();
                const QVariant data = browser.document()->resource(QTextDocument::ImageResource,
                                                                   browser.source().resolved(QUrl(name)));
                const QImage image = pictureOf(data);
                ASSERT_FALSE(image.isNull()) << name.toStdString();
                // Shown whole in the help window, beside its scroll bar.
                const double width =
                    format.toImageFormat().width() > 0 ? format.toImageFormat().width() : image.width();
                EXPECT_LE(width, 600) << name.toStdString();
            }
    }
}

} // namespace
