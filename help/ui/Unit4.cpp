#include "help/ui/Unit4.h"

#include "help/ui/apr.h"
#include "widgets/Dialogs.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <stdexcept>

namespace {

const QSize OuterSize(640, 480);
const QColor Silver(192, 192, 192);
const QColor BaideColour(209, 49, 20);

QIcon svgIcon(const char* name)
{
    return QIcon(QStringLiteral(":/icons/") + QString::fromLatin1(name));
}

QToolButton* flatButton(QWidget* parent, const char* name, QPoint at, const QString& hint, const QIcon& glyph)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(QRect(at, QSize(25, 25)));
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setToolTip(hint);
    if (!glyph.isNull()) {
        button->setIcon(glyph);
        button->setIconSize(QSize(18, 18));
    }
    return button;
}

QString withSeparator(QString folder)
{
    if (!folder.endsWith(QDir::separator()))
        folder += QDir::separator();
    return folder;
}

bool holdsHelp(const QString& folder)
{
    return !folder.isEmpty() && QFileInfo(HelpEntry(withSeparator(folder))).isFile();
}

// A program started from under the build folder is being developed: its pages are in the source tree.
bool runsFromBuildTree(const QString& programFolder)
{
    const QString build = QFileInfo(QStringLiteral(SONALTO_BUILD_DIR)).canonicalFilePath();
    const QString program = QFileInfo(programFolder).canonicalFilePath();
    return !build.isEmpty() && !program.isEmpty() &&
           (program == build || program.startsWith(build + QLatin1Char('/')));
}

} // namespace

QStringList HelpFolders(const QString& programFolder)
{
    QStringList folders;
    if (!programFolder.isEmpty())
        folders << QDir::cleanPath(programFolder + QLatin1Char('/') + QStringLiteral(SONALTO_HELP_FROM_BIN));
    folders << QStringLiteral(SONALTO_HELP_INSTALLED);
    if (runsFromBuildTree(programFolder))
        folders << QStringLiteral(SONALTO_HELP_SOURCE);
    return folders;
}

QString FindHelpBase(const QString& workingFolder, const QStringList& otherFolders)
{
    if (holdsHelp(workingFolder))
        return withSeparator(workingFolder);
    for (const QString& folder : otherFolders)
        if (holdsHelp(folder))
            return withSeparator(folder);
    return withSeparator(workingFolder);
}

QString HelpEntry(const QString& helpBase)
{
    return helpBase + QStringLiteral("aide") + QDir::separator() + QStringLiteral("index.htm");
}

// ---- Browser ----------------------------------------------------------------------------------------

THelpBrowser::THelpBrowser(QWidget* parent) : QTextBrowser(parent)
{
    // Pages on the web and mail links go to the desktop's own programs; local links stay here.
    setOpenExternalLinks(true);
}

QVariant THelpBrowser::loadResource(int type, const QUrl& name)
{
    if (type == QTextDocument::HtmlResource && name.isLocalFile() && !QFileInfo(name.toLocalFile()).isFile())
        return QStringLiteral("<html><body><h3>Page introuvable</h3><p>La page <b>%1</b> n'existe pas.</p>"
                              "<p>Les pages d'aide de Sonalto ne sont peut-être pas installées.</p>"
                              "</body></html>")
            .arg(name.toLocalFile().toHtmlEscaped());
    return QTextBrowser::loadResource(type, name);
}

// ---- Help window ------------------------------------------------------------------------------------

TFaide::TFaide(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("Faide"));
    setWindowTitle(QStringLiteral("Aide sonalto"));
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Silver);
    setPalette(p);

    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(27);
    Panel1->setCursor(Qt::PointingHandCursor);

    SpeedButton1 =
        flatButton(Panel1, "SpeedButton1", {1, 1}, QStringLiteral("Sommaire"), svgIcon("help-contents.svg"));
    SpeedButton2 = flatButton(Panel1, "SpeedButton2", {33, 1}, QStringLiteral("Page précédente"),
                              svgIcon("help-back.svg"));
    SpeedButton3 = flatButton(Panel1, "SpeedButton3", {58, 1}, QStringLiteral("Page suivante"),
                              svgIcon("help-forward.svg"));
    SpeedButton7 = flatButton(Panel1, "SpeedButton7", {90, 1}, QStringLiteral("Mise en page"),
                              svgIcon("help-page-setup.svg"));
    SpeedButton5 = flatButton(Panel1, "SpeedButton5", {115, 1}, QStringLiteral("Imprimer la page"),
                              svgIcon("help-print.svg"));
    SpeedButton4 = flatButton(Panel1, "SpeedButton4", {147, 1}, QStringLiteral("Ecrire aux auteurs"),
                              svgIcon("help-mail.svg"));
    baide = flatButton(Panel1, "baide", {179, 1}, QStringLiteral("Problème d'affichage ?"), QIcon());
    baide->setText(QStringLiteral("?"));
    QFont font;
    font.setFamilies(
        {QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(21);
    font.setBold(true);
    font.setItalic(true);
    baide->setFont(font);
    QPalette bp = baide->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
        bp.setColor(group, QPalette::ButtonText, BaideColour);
    baide->setPalette(bp);

    WB = new THelpBrowser(this);
    WB->setObjectName(QStringLiteral("WB"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Panel1);
    layout->addWidget(WB, 1);

    const auto click = [this](QToolButton* button, void (TFaide::*handler)()) {
        connect(button, &QToolButton::clicked, this,
                [this, handler] { Guarded([&] { (this->*handler)(); }); });
    };
    click(SpeedButton1, &TFaide::SpeedButton1Click);
    click(SpeedButton2, &TFaide::SpeedButton2Click);
    click(SpeedButton3, &TFaide::SpeedButton3Click);
    click(SpeedButton7, &TFaide::SpeedButton7Click);
    click(SpeedButton5, &TFaide::SpeedButton5Click);
    click(SpeedButton4, &TFaide::SpeedButton4Click);
    click(baide, &TFaide::baideClick);

    FormCreate();
}

TFaide::~TFaide() = default;

void TFaide::FormCreate()
{
    setFixedSize(OuterSize);
    baide->move(608, baide->y());
    m_helpBase = FindHelpBase(QDir::currentPath(), HelpFolders(QCoreApplication::applicationDirPath()));
    WB->setSource(QUrl::fromLocalFile(HelpEntry(m_helpBase)));
}

void TFaide::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // 640 x 480 is the outer size: once the window manager has framed the window, the inside gives up
    // what the frame takes.
    const QSize frame = frameGeometry().size() - geometry().size();
    if (frame.width() > 0 || frame.height() > 0)
        setFixedSize(OuterSize - frame);
    CenterOnScreen(this);
}

void TFaide::SpeedButton1Click()
{
    WB->setSource(QUrl::fromLocalFile(HelpEntry(m_helpBase)));
}

void TFaide::SpeedButton2Click()
{
    WB->backward();
}

void TFaide::SpeedButton3Click()
{
    WB->forward();
}

QPrinter& TFaide::printer()
{
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *m_printer;
}

void TFaide::SpeedButton7Click()
{
    QPageSetupDialog dialog(&printer(), this);
    dialog.exec();
}

void TFaide::SpeedButton5Click()
{
    QPrintDialog dialog(&printer(), this);
    dialog.setWindowTitle(QStringLiteral("Imprimer la page"));
    if (dialog.exec() == QDialog::Accepted)
        PrintPage(printer());
}

void TFaide::PrintPage(QPrinter& target)
{
    WB->print(&target);
    if (target.printerState() == QPrinter::Error)
        throw std::runtime_error("Impossible d'imprimer la page.");
}

QUrl TFaide::AuthorsMail()
{
    return QUrl(
        QStringLiteral("mailto:enregistrement@sonalto.example,montage@sonalto.example,aide@sonalto.example"));
}

void TFaide::SpeedButton4Click()
{
    // Without a mail program nothing happens, and nothing is said.
    QDesktopServices::openUrl(AuthorsMail());
}

void TFaide::baideClick()
{
    QDialog* box = m_troubleshooting ? m_troubleshooting : findChild<TAP*>();
    if (box)
        box->exec();
}
