// The program's message boxes, the busy pointer and the general error box. Tests replace the boxes by
// a hook that records what would have been shown and gives the answer.
#pragma once

#include <QString>

class QWidget;
#include <exception>
#include <functional>

enum class DialogKind
{
    Message,
    Error,
    Question
};

// Returns the answer for a question (true: Yes); ignored for the other kinds.
using DialogHook = std::function<bool(DialogKind kind, const QString& caption, const QString& text)>;
void SetDialogHook(DialogHook hook);

// A plain box with an OK button, titled with the application's name.
void ShowMessage(const QString& text);
// The general error box: what a command could not do, and the program goes on.
void ShowErrorBox(const QString& text);
// Yes and No buttons with the exclamation icon; No cancels.
bool AskYesNo(const QString& caption, const QString& text);

// The text an exception shows in the error box.
QString ExceptionText(const std::exception& e);

// Runs a command of the user; whatever it raises is shown in the error box and the program goes on.
template <typename Command> void Guarded(Command&& command)
{
    try {
        command();
    } catch (const std::exception& e) {
        ShowErrorBox(ExceptionText(e));
    } catch (...) {
        ShowErrorBox(QStringLiteral("Erreur inattendue"));
    }
}

// The busy pointer over the whole application while it lives.
class BusyCursor
{
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

// Places a top-level window in the middle of the screen's work area.
void CenterOnScreen(QWidget* window);

// A save-file dialog's settings and its answer.
class TSaveDialog
{
public:
    QString Title;
    QString Filter;
    QString DefaultExt;
    QString InitialDir;
    QString FileName; // proposed before Execute, the chosen file after a confirmed one

    // Runs the dialog modally; true when the user confirmed a file, which is then in FileName. An existing
    // file is chosen without a question.
    bool Execute(QWidget* parent);

    // Answers in place of the dialog when set (tests): sets FileName and tells whether it was confirmed.
    std::function<bool(TSaveDialog& dialog)> OnExecute;
};
