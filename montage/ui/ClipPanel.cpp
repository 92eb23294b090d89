#include "montage/ui/ClipPanel.h"

#include "widgets/Look.h"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QImage>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <algorithm>

namespace {

const char* const ClipMimeType = "application/x-sonalto-clip";

const QColor PanelColour(12, 209, 125);
const QColor Blue(0, 0, 255);
const QColor Red(255, 0, 0);
const QColor Maroon(128, 0, 0);
const QColor Purple(128, 0, 128);

// The picture with its background colour, that of its bottom-left pixel, made see-through.
QPixmap transparentPicture(const QPixmap& picture)
{
    if (picture.isNull())
        return picture;
    QImage image = picture.toImage().convertToFormat(QImage::Format_ARGB32);
    const QRgb background = image.pixel(0, image.height() - 1);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (line[x] == background)
                line[x] = qRgba(0, 0, 0, 0);
    }
    QPixmap result = QPixmap::fromImage(image);
    result.setDevicePixelRatio(picture.devicePixelRatio());
    return result;
}

// Shows a picture in an image control that takes the picture's size.
void showPicture(QLabel* image, const QPixmap& picture)
{
    image->setPixmap(picture);
    if (!picture.isNull())
        image->resize(picture.deviceIndependentSize().toSize());
}

// The clip position a drag carries, or -1 when the drag is not a clip's handle.
int draggedPosition(const QMimeData* data)
{
    if (!data || !data->hasFormat(QString::fromLatin1(ClipMimeType)))
        return -1;
    bool ok = false;
    const int position = QString::fromLatin1(data->data(QString::fromLatin1(ClipMimeType))).toInt(&ok);
    return ok && position >= 0 ? position : -1;
}

} // namespace

// ---- TUpDown --------------------------------------------------------------------------------------

TUpDown::TUpDown(QWidget* parent, int minimum, int maximum, int position)
    : QWidget(parent), m_min(minimum), m_max(std::max(minimum, maximum)), m_position(minimum)
{
    SetPosition(position);
}

void TUpDown::SetPosition(int position)
{
    const int clamped = std::clamp(position, m_min, m_max);
    if (clamped != m_position) {
        m_position = clamped;
        update();
    }
}

void TUpDown::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    const QPalette& p = palette();
    const int split = height() / 2;
    const QRect halves[2] = {QRect(0, 0, width(), split), QRect(0, split, width(), height() - split)};
    for (int i = 0; i < 2; ++i) {
        const QRect r = halves[i];
        // A small raised button: light top-left edge, dark bottom-right edge.
        painter.fillRect(r, p.color(QPalette::Button));
        painter.setPen(p.color(QPalette::Light));
        painter.drawLine(r.topLeft(), r.topRight());
        painter.drawLine(r.topLeft(), r.bottomLeft());
        painter.setPen(p.color(QPalette::Shadow));
        painter.drawLine(r.bottomLeft(), r.bottomRight());
        painter.drawLine(r.topRight(), r.bottomRight());

        // The arrow: a triangle three pixels high, centred in its half.
        const bool up = i == 0;
        const int cx = r.left() + (r.width() - 1) / 2;
        const int top = r.top() + (r.height() - 3) / 2;
        painter.setPen(isEnabled() ? p.color(QPalette::ButtonText) : p.color(QPalette::Mid));
        for (int row = 0; row < 3; ++row) {
            const int half = up ? row : 2 - row;
            painter.drawLine(cx - half, top + row, cx + half, top + row);
        }
    }
}

void TUpDown::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    // The same halves as drawn: the upper one is split rows high.
    const int split = height() / 2;
    const bool up = event->position().y() < split;
    SetPosition(m_position + (up ? 1 : -1));
    emit clicked(m_position);
}

// ---- TClipPanel -----------------------------------------------------------------------------------

TClipPanel::TClipPanel(QWidget* strip, const std::array<QPixmap, 6>& fadeImages, const QPixmap& target)
    : QFrame(strip), m_fadeImages(fadeImages)
{
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
    setGeometry(8, 8, 120, 88);
    setFont(SansFont(11));
    QPalette p = palette();
    p.setColor(QPalette::Window, PanelColour);
    setPalette(p);
    setAutoFillBackground(true);
    // The bare panel's hint is empty: moving over it clears the status line.
    setProperty("hint", QString());
    setMouseTracking(true);
    setAttribute(Qt::WA_NoMousePropagation);
    installEventFilter(this);

    const auto label = [this](const char* name, QRect bounds, const QColor& colour, const QString& hint) {
        auto* l = new QLabel(this);
        l->setObjectName(QString::fromLatin1(name));
        l->setGeometry(bounds);
        l->setTextFormat(Qt::PlainText);
        l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        SetTextColour(l, colour);
        if (!hint.isNull())
            l->setProperty("hint", hint);
        return l;
    };
    const auto image = [this](const char* name, QPoint place, const QString& hint) {
        auto* l = new QLabel(this);
        l->setObjectName(QString::fromLatin1(name));
        l->setGeometry(QRect(place, QSize(25, 25)));
        l->setProperty("hint", hint);
        return l;
    };
    const auto button = [this](const char* name, QRect bounds, const QString& caption, const QColor& colour,
                               const QString& hint) {
        auto* b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(bounds);
        b->setText(caption);
        b->setFont(SansFont(11, true));
        b->setFocusPolicy(Qt::NoFocus);
        SetTextColour(b, colour);
        b->setProperty("hint", hint);
        return b;
    };
    const auto spinner = [this](const char* name, QPoint place, const QString& hint) {
        auto* s = new TUpDown(this, 1, 5, 1);
        s->setObjectName(QString::fromLatin1(name));
        s->setGeometry(QRect(place, QSize(9, 25)));
        s->setProperty("hint", hint);
        return s;
    };

    TitleLabel =
        label("TitleLabel", {2, 4, 117, 29}, Blue, QStringLiteral("Double-clic pour modifier le titre."));
    TitleLabel->setWordWrap(true);
    TitleLabel->setCursor(Qt::PointingHandCursor);
    LengthLabel = label("LengthLabel", {32, 68, 57, 13}, Maroon, QStringLiteral("Durée totale du montage"));
    FadeInImage = image("FadeInImage", {0, 32}, QStringLiteral("filtre d'entrée. Clique pour le changer."));
    FadeInImage->setCursor(Qt::PointingHandCursor);
    FadeOutImage =
        image("FadeOutImage", {95, 32}, QStringLiteral("filtre de sortie. Clique pour le changer."));
    FadeOutImage->setCursor(Qt::PointingHandCursor);
    MoveHandle =
        image("MoveHandle", {48, 32}, QStringLiteral("Clique et fais glisser pour déplacer cet extrait."));
    MoveHandle->setAcceptDrops(true);
    showPicture(MoveHandle, transparentPicture(target));
    DeleteButton = button("DeleteButton", {1, 72, 15, 15}, QStringLiteral("X"), Red,
                          QStringLiteral("Clique pour supprimer cet extrait"));
    FadeInSpin = spinner("FadeInSpin", {24, 32}, QStringLiteral("Réglage de la durée du filtre d'entrée."));
    FadeOutSpin =
        spinner("FadeOutSpin", {86, 32}, QStringLiteral("Réglage de la durée du filtre de sortie."));
    FadeInLabel = label("FadeInLabel", {4, 58, 21, 13}, Purple, QString());
    FadeOutLabel = label("FadeOutLabel", {96, 58, 21, 13}, Purple, QString());
    PlayButton = button("PlayButton", {104, 72, 15, 15}, QString(), Blue,
                        QStringLiteral("Clique pour écouter cet extrait"));

    for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        // What the panel's controls do with the mouse stays with them: a move over a seconds label
        // leaves the status line alone instead of reaching the bare panel.
        child->setAttribute(Qt::WA_NoMousePropagation);
        child->setMouseTracking(child->property("hint").isValid());
        child->installEventFilter(this);
    }

    connect(FadeInSpin, &TUpDown::clicked, this, &TClipPanel::fadeInSpinClicked);
    connect(FadeOutSpin, &TUpDown::clicked, this, &TClipPanel::fadeOutSpinClicked);
    connect(DeleteButton, &QToolButton::clicked, this, &TClipPanel::deleteClicked);
    connect(PlayButton, &QToolButton::clicked, this, &TClipPanel::playClicked);

    setFadeIn(1, 1);
    setFadeOut(1, 1);
    setPlaying(false);
    setPosition(0);
}

void TClipPanel::setTitle(const QString& title)
{
    TitleLabel->setText(title);
}

void TClipPanel::setLength(const QString& text)
{
    LengthLabel->setText(text);
}

void TClipPanel::setFadeIn(int kind, int seconds)
{
    // Kinds: 0 fade (drawn transparent), 1 none, 2 crossfade.
    if (kind >= 0 && kind <= 2)
        showPicture(FadeInImage, kind == 0 ? transparentPicture(m_fadeImages[kind]) : m_fadeImages[kind]);
    else
        FadeInImage->clear();
    FadeInSpin->SetPosition(seconds);
    // The spinner holds 1 to 5: the label shows where it stands, whatever the project file said.
    FadeInLabel->setText(QString::number(FadeInSpin->Position()));
}

void TClipPanel::setFadeOut(int kind, int seconds)
{
    if (kind >= 0 && kind <= 2) {
        const QPixmap& picture = m_fadeImages[kind + 3];
        showPicture(FadeOutImage, kind == 0 ? transparentPicture(picture) : picture);
    } else {
        FadeOutImage->clear();
    }
    FadeOutSpin->SetPosition(seconds);
    FadeOutLabel->setText(QString::number(FadeOutSpin->Position()));
}

void TClipPanel::setPlaying(bool playing)
{
    PlayButton->setText(playing ? QStringLiteral("||") : QStringLiteral(">"));
    PlayButton->setProperty("Tag", playing ? 1 : 0);
}

void TClipPanel::setPosition(int position)
{
    m_position = position;
    MoveHandle->setProperty("Tag", position);
}

bool TClipPanel::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::ToolTip:
        // Hints go to the status line, never into a tooltip.
        return true;
    case QEvent::MouseMove: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const QVariant hint = watched->property("hint");
        if (hint.isValid() && showHint)
            showHint(hint.toString());
        if (watched == MoveHandle && m_dragArmed && (mouse->buttons() & Qt::LeftButton) &&
            (mouse->position().toPoint() - m_dragStart).manhattanLength() >=
                QApplication::startDragDistance()) {
            m_dragArmed = false;
            auto* data = new QMimeData;
            data->setData(QString::fromLatin1(ClipMimeType), QByteArray::number(m_position));
            auto* drag = new QDrag(MoveHandle);
            drag->setMimeData(data);
            drag->setPixmap(MoveHandle->pixmap());
            drag->setHotSpot(m_dragStart);
            emit dragStarted();
            drag->exec(Qt::MoveAction);
            return true;
        }
        break;
    }
    case QEvent::MouseButtonPress: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton)
            break;
        if (watched == MoveHandle) {
            m_dragArmed = true;
            m_dragStart = mouse->position().toPoint();
            return true;
        }
        if (watched == FadeInImage || watched == FadeOutImage)
            return true;
        break;
    }
    case QEvent::MouseButtonRelease: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton)
            break;
        if (watched == MoveHandle) {
            m_dragArmed = false;
            return true;
        }
        // A click is a press and a release on the same picture.
        auto* image = qobject_cast<QLabel*>(watched);
        if ((watched == FadeInImage || watched == FadeOutImage) &&
            image->rect().contains(mouse->position().toPoint())) {
            if (watched == FadeInImage)
                emit fadeInClicked();
            else
                emit fadeOutClicked();
            return true;
        }
        break;
    }
    case QEvent::MouseButtonDblClick:
        if (watched == TitleLabel && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            emit titleDoubleClicked();
            return true;
        }
        break;
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        if (watched == MoveHandle) {
            // Only another clip's handle is taken.
            auto* drop = static_cast<QDropEvent*>(event);
            const int source = draggedPosition(drop->mimeData());
            if (source < 0 || source == m_position) {
                drop->ignore();
                return true;
            }
            drop->setDropAction(Qt::MoveAction);
            drop->accept();
            if (event->type() == QEvent::Drop)
                emit handleDropped(source);
            return true;
        }
        break;
    default:
        break;
    }
    return QFrame::eventFilter(watched, event);
}
