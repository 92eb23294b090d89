// The help window: the local help pages in a browser, with a toolbar for the contents, back, forward,
// page setup, printing, mail to the authors and the troubleshooting box.
#pragma once

#include <QDialog>
#include <QStringList>
#include <QTextBrowser>
#include <memory>

class QPrinter;
class QToolButton;

// Folders that may hold the help pages, in the order they are tried after the working folder: the data
// folder beside the installed program in programFolder, the data folder of this build's install prefix,
// and, for a program that runs from the build tree, the source tree's resources folder.
QStringList HelpFolders(const QString& programFolder);

// The folder the help paths start from, ending with the path separator: the working folder when it holds
// "aide/index.htm", else the first of the other folders that does, else the working folder all the same.
QString FindHelpBase(const QString& workingFolder, const QStringList& otherFolders);

// The entry page under a help base: "aide/index.htm".
QString HelpEntry(const QString& helpBase);

// The browser of the help window: local pages, links and history; a page that cannot be found shows a
// short French message naming it instead of staying blank.
class THelpBrowser : public QTextBrowser
{
public:
    explicit THelpBrowser(QWidget* parent = nullptr);
    QVariant loadResource(int type, const QUrl& name) override;
};

class TFaide : public QDialog
{
public:
    explicit TFaide(QWidget* parent = nullptr);
    ~TFaide() override;

    // Sizes the window, places the troubleshooting button, finds the help base and opens the entry page.
    void FormCreate();
    const QString& HelpBase() const { return m_helpBase; }

    // The troubleshooting box shown by "Problème d'affichage ?"; without one, a TAP child of this window.
    void SetTroubleshootingBox(QDialog* box) { m_troubleshooting = box; }

    // Toolbar commands.
    void SpeedButton1Click(); // "Sommaire"
    void SpeedButton2Click(); // "Page précédente"
    void SpeedButton3Click(); // "Page suivante"
    void SpeedButton7Click(); // "Mise en page"
    void SpeedButton5Click(); // "Imprimer la page"
    void SpeedButton4Click(); // "Ecrire aux auteurs"
    void baideClick();        // "Problème d'affichage ?"

    // Prints the page shown on a printer already chosen; a printer that fails raises an error.
    void PrintPage(QPrinter& printer);

    // The mail link to the authors.
    static QUrl AuthorsMail();

    QWidget* Panel1;
    QToolButton* SpeedButton1;
    QToolButton* SpeedButton2;
    QToolButton* SpeedButton3;
    QToolButton* SpeedButton7;
    QToolButton* SpeedButton5;
    QToolButton* SpeedButton4;
    QToolButton* baide;
    THelpBrowser* WB;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QPrinter& printer();

    QString m_helpBase;
    QDialog* m_troubleshooting = nullptr;
    // Made at the first page setup or print, so that opening the program does not ask for printers.
    std::unique_ptr<QPrinter> m_printer;
};
