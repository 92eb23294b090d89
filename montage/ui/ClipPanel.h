// One clip's panel in the montage strip: title, length, the two fade pictures with their spinners and
// seconds, the drag handle, the delete and play buttons. It only shows what it is given and reports
// what the user does; the main window applies the montage's rules.
#pragma once

#include <QFrame>
#include <QIcon>
#include <array>
#include <functional>

class QLabel;
class QToolButton;

// A vertical pair of arrows holding a position between a minimum and a maximum (no number shown).
class TUpDown : public QWidget
{
    Q_OBJECT
public:
    TUpDown(QWidget* parent, int minimum, int maximum, int position);
    int Position() const { return m_position; }
    void SetPosition(int position); // clamped, no signal

signals:
    // An arrow was clicked: the new position (clamped; emitted even when it did not change).
    void clicked(int position);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    int m_min, m_max, m_position;
};

class TClipPanel : public QFrame
{
    Q_OBJECT
public:
    // fadeImages: [0] env1, [1] env3, [2] env5, [3] env2, [4] env4, [5] env6; target: the handle's picture.
    TClipPanel(QWidget* strip, const std::array<QPixmap, 6>& fadeImages, const QPixmap& target);

    void setTitle(const QString& title);    // shown as plain text, word-wrapped
    void setLength(const QString& text);    // FormatTime of the clip length
    void setFadeIn(int kind, int seconds);  // picture FadeImages[kind], spinner and label
    void setFadeOut(int kind, int seconds); // picture FadeImages[kind + 3]
    void setPlaying(bool playing);          // ">" (Tag 0) or "||" (Tag 1)
    void setPosition(int position);         // the handle's Tag
    int position() const { return m_position; }

    // Where the hints go (the main window's status line), unchanged, without a leading space.
    std::function<void(const QString&)> showHint;

    // Controls, named as the clip's fields.
    QLabel* TitleLabel;
    QLabel* LengthLabel;
    QLabel* FadeInImage;
    QLabel* FadeOutImage;
    QLabel* MoveHandle;
    QToolButton* DeleteButton;
    QToolButton* PlayButton;
    TUpDown* FadeInSpin;
    TUpDown* FadeOutSpin;
    QLabel* FadeInLabel;
    QLabel* FadeOutLabel;

signals:
    void titleDoubleClicked();
    void fadeInClicked();
    void fadeOutClicked();
    void fadeInSpinClicked(int seconds);
    void fadeOutSpinClicked(int seconds);
    void deleteClicked();
    void playClicked();
    // Another clip's handle, at position source, was dropped on this clip's handle.
    void handleDropped(int source);
    // This clip's handle starts being dragged, just before the drag runs (the scrolling zones watch it).
    void dragStarted();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::array<QPixmap, 6> m_fadeImages;
    int m_position = 0;
    // Where the left button went down on the handle, while it is held there.
    QPoint m_dragStart;
    bool m_dragArmed = false;
};
