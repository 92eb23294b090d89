// The help window and its troubleshooting box on the offscreen platform: where the pages are found,
// the toolbar, the history, printing, mail to the authors.
#include "HelpTestSupport.h"
#include "help/ui/Unit4.h"
#include "help/ui/apr.h"
#include "widgets/Dialogs.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(content);
}

// A folder holding a small set of help pages: index.htm with a link to deux.htm.
void writePages(const QString& folder, const QByteArray& marker)
{
    writeFile(folder + QStringLiteral("/aide/index.htm"),
              "<html><head><meta charset=\"utf-8\"></head><body><p>" + marker +
                  "</p><p><a href=\"deux.htm\">Deuxième page</a></p></body></html>");
    writeFile(folder + QStringLiteral("/aide/deux.htm"),
              "<html><head><meta charset=\"utf-8\"></head><body><p>Page deux</p>"
              "<p><a href=\"index.htm\">Sommaire</a></p></body></html>");
}

QString canonical(const QString& path)
{
    return QFileInfo(path).canonicalFilePath();
}

struct Shown
{
    DialogKind kind;
    QString text;
};

class HelpWindowTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        previous = QDir::currentPath();
        SetDialogHook([this](DialogKind kind, const QString& /*caption*/, const QString& text) {
            shown.push_back({kind, text});
            return false;
        });
    }
    void TearDown() override
    {
        QDir::setCurrent(previous);
        SetDialogHook({});
    }

    QString path(const QString& relative) const { return dir.path() + QLatin1Char('/') + relative; }

    QTemporaryDir dir;
    QString previous;
    std::vector<Shown> shown;
};

// ---- Where the pages are found -----------------------------------------------------------------------

TEST_F(HelpWindowTest, OpensIndexOfTheWorkingFolderWhenItHasOne)
{
    writePages(dir.path(), "Pages du dossier de travail");
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    TFaide Faide;
    EXPECT_EQ(canonical(Faide.HelpBase()), canonical(dir.path()));
    EXPECT_TRUE(Faide.HelpBase().endsWith(QDir::separator()));
    EXPECT_EQ(canonical(Faide.WB->source().toLocalFile()), canonical(path(QStringLiteral("aide/index.htm"))));
    EXPECT_TRUE(Faide.WB->toPlainText().contains(QStringLiteral("Pages du dossier de travail")));
}

TEST_F(HelpWindowTest, WithoutPagesInTheWorkingFolderOpensTheProgramsOwnPages)
{
    // A program started from the desktop's menu runs in a folder that has no help: the pages come from
    // the installed folder or, for this test run from the build tree, from the source tree.
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    TFaide Faide;
    EXPECT_NE(canonical(Faide.HelpBase()), canonical(dir.path()));
    EXPECT_TRUE(QFileInfo(HelpEntry(Faide.HelpBase())).isFile()) << Faide.HelpBase().toStdString();
    EXPECT_TRUE(
        HelpFolders(QCoreApplication::applicationDirPath()).contains(QDir::cleanPath(Faide.HelpBase())))
        << Faide.HelpBase().toStdString();
    EXPECT_TRUE(Faide.WB->toPlainText().contains(QStringLiteral("Sonalto")));
}

TEST_F(HelpWindowTest, HelpBaseTakesTheFirstFolderThatHoldsThePages)
{
    const QString work = path(QStringLiteral("travail"));
    const QString installed = path(QStringLiteral("share/sonalto"));
    const QString source = path(QStringLiteral("source/resources"));
    const QString sep = QDir::separator();
    QDir().mkpath(work);

    // Nothing anywhere: the working folder all the same, and the browser says the page is missing.
    EXPECT_EQ(FindHelpBase(work, {installed, source}), work + sep);
    writePages(source, "source");
    EXPECT_EQ(FindHelpBase(work, {installed, source}), source + sep);
    writePages(installed, "installé");
    EXPECT_EQ(FindHelpBase(work, {installed, source}), installed + sep);
    writePages(work, "travail");
    EXPECT_EQ(FindHelpBase(work, {installed, source}), work + sep);
    EXPECT_EQ(FindHelpBase(work + sep, {installed}), work + sep);
    // A folder with an "aide" subfolder but no entry page does not count.
    QDir().mkpath(path(QStringLiteral("vide/aide")));
    EXPECT_EQ(FindHelpBase(path(QStringLiteral("vide")), {installed}), installed + sep);
    EXPECT_EQ(HelpEntry(work + sep), work + sep + QStringLiteral("aide") + sep + QStringLiteral("index.htm"));
}

TEST_F(HelpWindowTest, SourceTreeIsAFallbackOnlyForAProgramInTheBuildTree)
{
    const QString source = QDir::cleanPath(QStringLiteral(SONALTO_SOURCE_DIR "/resources"));
    const QStringList fromBuild = HelpFolders(QCoreApplication::applicationDirPath());
    ASSERT_FALSE(fromBuild.isEmpty());
    EXPECT_EQ(fromBuild.last(), source);
    const QStringList installed = HelpFolders(path(QStringLiteral("prefix/bin")));
    EXPECT_FALSE(installed.contains(source));
    // The first place looked at is the data folder beside the program, whatever the install prefix.
    EXPECT_TRUE(installed.first().startsWith(path(QStringLiteral("prefix/"))))
        << installed.first().toStdString();
}

// ---- The window ------------------------------------------------------------------------------------------

TEST_F(HelpWindowTest, WindowHasItsToolbarAndBrowser)
{
    writePages(dir.path(), "Accueil");
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    TFaide Faide;
    Faide.show();
    EXPECT_EQ(Faide.windowTitle(), QStringLiteral("Aide sonalto"));
    EXPECT_EQ(Faide.frameGeometry().size(), QSize(640, 480));
    EXPECT_EQ(Faide.palette().color(QPalette::Window), QColor(192, 192, 192));

    struct Button
    {
        QToolButton* button;
        int left;
        const char* hint;
    };
    const Button buttons[] = {
        {Faide.SpeedButton1, 1, "Sommaire"},           {Faide.SpeedButton2, 33, "Page précédente"},
        {Faide.SpeedButton3, 58, "Page suivante"},     {Faide.SpeedButton7, 90, "Mise en page"},
        {Faide.SpeedButton5, 115, "Imprimer la page"}, {Faide.SpeedButton4, 147, "Ecrire aux auteurs"},
        {Faide.baide, 608, "Problème d'affichage ?"},
    };
    for (const Button& b : buttons) {
        SCOPED_TRACE(b.hint);
        EXPECT_EQ(b.button->geometry(), QRect(b.left, 1, 25, 25));
        EXPECT_EQ(b.button->toolTip(), QString::fromUtf8(b.hint));
        EXPECT_TRUE(b.button->autoRaise());
        EXPECT_EQ(b.button->parentWidget(), Faide.Panel1);
        if (b.button != Faide.baide) {
            EXPECT_FALSE(b.button->icon().isNull());
        }
    }
    EXPECT_EQ(Faide.baide->text(), QStringLiteral("?"));
    EXPECT_TRUE(Faide.baide->font().bold());
    EXPECT_TRUE(Faide.baide->font().italic());
    EXPECT_EQ(Faide.baide->palette().color(QPalette::ButtonText), QColor(209, 49, 20));
    // The button's right edge stays inside the window.
    EXPECT_LE(Faide.baide->geometry().right(), Faide.width() - 1);

    EXPECT_EQ(Faide.Panel1->geometry(), QRect(0, 0, Faide.width(), 27));
    EXPECT_EQ(Faide.WB->geometry(), QRect(0, 27, Faide.width(), Faide.height() - 27));
}

TEST_F(HelpWindowTest, BackOnTheFirstPageDoesNothing)
{
    writePages(dir.path(), "Accueil");
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    TFaide Faide;
    const QUrl first = Faide.WB->source();
    const QString text = Faide.WB->toPlainText();
    Faide.SpeedButton2->click();
    EXPECT_EQ(Faide.WB->source(), first);
    EXPECT_EQ(Faide.WB->toPlainText(), text);
    Faide.SpeedButton3->click();
    EXPECT_EQ(Faide.WB->source(), first);
    EXPECT_TRUE(shown.empty());
}

TEST_F(HelpWindowTest, LinksBackForwardAndContents)
{
    writePages(dir.path(), "Accueil");
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    TFaide Faide;
    Faide.show();
    const QString index = canonical(path(QStringLiteral("aide/index.htm")));
    const QString deux = canonical(path(QStringLiteral("aide/deux.htm")));

    // Click on the link's text in the page.
    QTextCursor link = Faide.WB->document()->find(QStringLiteral("Deuxième page"));
    ASSERT_FALSE(link.isNull());
    link.setPosition(link.selectionStart() + 2);
    const QPoint at = Faide.WB->cursorRect(link).center();
    QTest::mouseClick(Faide.WB->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(canonical(Faide.WB->source().toLocalFile()), deux);
    EXPECT_TRUE(Faide.WB->toPlainText().contains(QStringLiteral("Page deux")));

    Faide.SpeedButton2->click();
    EXPECT_EQ(canonical(Faide.WB->source().toLocalFile()), index);
    Faide.SpeedButton3->click();
    EXPECT_EQ(canonical(Faide.WB->source().toLocalFile()), deux);
    // Forward at the end of the history does nothing.
    Faide.SpeedButton3->click();
    EXPECT_EQ(canonical(Faide.WB->source().toLocalFile()), deux);
    Faide.SpeedButton1->click();
    EXPECT_EQ(canonical(Faide.WB->source().toLocalFile()), index);
    EXPECT_TRUE(Faide.WB->toPlainText().contains(QStringLiteral("Accueil")));
    EXPECT_TRUE(shown.empty());
}

TEST_F(HelpWindowTest, MissingPageSaysSoInFrench)
{
    writePages(dir.path(), "Accueil");
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    TFaide Faide;
    const QString missing = path(QStringLiteral("aide/absente.htm"));
    Faide.WB->setSource(QUrl::fromLocalFile(missing));
    EXPECT_TRUE(Faide.WB->toPlainText().contains(QStringLiteral("Page introuvable")));
    EXPECT_TRUE(Faide.WB->toPlainText().contains(missing));
    // The page before it is still in the history.
    Faide.SpeedButton2->click();
    EXPECT_TRUE(Faide.WB->toPlainText().contains(QStringLiteral("Accueil")));
}

// ---- Mail, printing, troubleshooting ---------------------------------------------------------------------

class MailCatcher : public QObject
{
    Q_OBJECT
public:
    std::vector<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.push_back(url); }
};

TEST_F(HelpWindowTest, WriteToTheAuthorsOpensOneMailLinkToThreeAddresses)
{
    TFaide Faide;
    MailCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &catcher, "open");
    Faide.SpeedButton4->click();
    QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
    ASSERT_EQ(catcher.opened.size(), 1u);
    const QUrl& url = catcher.opened.front();
    EXPECT_EQ(url.scheme(), QStringLiteral("mailto"));
    const QStringList addresses = url.path().split(QLatin1Char(','));
    ASSERT_EQ(addresses.size(), 3);
    for (const QString& address : addresses)
        EXPECT_TRUE(address.contains(QLatin1Char('@')) && !address.contains(QLatin1Char(' ')))
            << address.toStdString();
    EXPECT_TRUE(shown.empty());
}

TEST_F(HelpWindowTest, NoMailProgramIsNotReported)
{
    // The offscreen platform opens no link at all.
    TFaide Faide;
    Faide.SpeedButton4->click();
    EXPECT_TRUE(shown.empty());
}

int pdfPageCount(const QString& file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray pdf = f.readAll();
    if (!pdf.startsWith("%PDF"))
        return -1;
    // The page tree's count is written in plain.
    const qsizetype at = pdf.indexOf("/Type /Pages");
    const qsizetype count = pdf.indexOf("/Count ", at);
    if (at < 0 || count < 0)
        return -1;
    return pdf.mid(count + 7, 8).split(' ').front().split('\n').front().trimmed().toInt();
}

TEST_F(HelpWindowTest, PrintsThePageShown)
{
    QByteArray longPage = "<html><body>";
    for (int i = 0; i < 300; ++i)
        longPage += "<p>Ligne " + QByteArray::number(i) + " de la longue page</p>";
    writePages(dir.path(), "Accueil");
    writeFile(path(QStringLiteral("aide/longue.htm")), longPage + "</body></html>");
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    TFaide Faide;

    const auto print = [&](const QString& name) {
        QPrinter printer;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(path(name));
        Faide.PrintPage(printer);
        return pdfPageCount(path(name));
    };
    EXPECT_EQ(print(QStringLiteral("index.pdf")), 1);
    Faide.WB->setSource(QUrl::fromLocalFile(path(QStringLiteral("aide/longue.htm"))));
    EXPECT_GT(print(QStringLiteral("longue.pdf")), 3);
    EXPECT_TRUE(shown.empty());
}

TEST_F(HelpWindowTest, PrintingThatFailsGoesToTheErrorBox)
{
    writePages(dir.path(), "Accueil");
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    TFaide Faide;
    QPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path(QStringLiteral("pas/de/dossier/page.pdf")));
    Guarded([&] { Faide.PrintPage(printer); });
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].kind, DialogKind::Error);
    EXPECT_EQ(shown[0].text, QStringLiteral("Impossible d'imprimer la page."));
}

TEST_F(HelpWindowTest, TroubleshootingButtonShowsTheBoxAndOkClosesIt)
{
    TFaide Faide;
    TAP AP(&Faide);
    bool wasModal = false;
    WhenModalShown([&](QWidget* modal) {
        wasModal = modal == &AP;
        AP.SpeedButton1->click();
    });
    Faide.baide->click();
    EXPECT_TRUE(wasModal);
    EXPECT_FALSE(AP.isVisible());
}

TEST(TroubleshootingBoxTest, DrawnAsDesignedWithItsAdviceInsideTheBox)
{
    TAP AP;
    EXPECT_EQ(AP.size(), QSize(211, 117));
    EXPECT_TRUE(AP.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(AP.Panel1->palette().color(QPalette::Window), QColor(253, 250, 208));
    EXPECT_EQ(AP.Label5->text(), QStringLiteral("Résolution des problèmes"));
    EXPECT_EQ(AP.Label5->geometry(), QRect(10, 8, 191, 17));
    EXPECT_EQ(AP.Label6->geometry(), QRect(16, 32, 185, 49));
    EXPECT_EQ(AP.SpeedButton1->geometry(), QRect(88, 88, 41, 17));
    EXPECT_EQ(AP.Bevel1->geometry(), AP.SpeedButton1->geometry());
    EXPECT_EQ(AP.SpeedButton1->text(), QStringLiteral("OK"));
    EXPECT_EQ(AP.SpeedButton1->toolTip(), QStringLiteral("Fermer cette fenêtre"));

    const QString advice = AP.Label6->text();
    EXPECT_TRUE(
        advice.startsWith(QStringLiteral("Si vous rencontrez des problèmes de son ou d'affichage, ")));
    // The whole advice fits in the label, word-wrapped in its font.
    const QRect needed = QFontMetrics(AP.Label6->font())
                             .boundingRect(QRect(0, 0, AP.Label6->width(), 1000), Qt::TextWordWrap, advice);
    EXPECT_LE(needed.height(), AP.Label6->height()) << advice.toStdString();
    EXPECT_LE(QFontMetrics(AP.Label5->font()).horizontalAdvance(AP.Label5->text()), AP.Label5->width());
}

} // namespace

#include "HelpWindowTest.moc"
