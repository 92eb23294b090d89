#include "app/Unit1.h"

#include "editor/ui/DecodeProgress.h"
#include "editor/ui/WaveformBox.h"
#include "help/ui/About.h"
#include "montage/ProjectFile.h"
#include "montage/ui/ClipPanel.h"
#include "montage/ui/OverviewBox.h"
#include "montage/ui/Tcalcul.h"
#include "montage/ui/Unit3.h"
#include "mp3/ui/Unit6.h"
#include "widgets/Dialogs.h"
#include "widgets/Look.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDragMoveEvent>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <limits>

namespace {

const QColor WindowColour(101, 119, 150);
const QColor StatusColour(254, 249, 216);
const QColor Label12Colour(255, 255, 210);
const QColor Navy(0, 0, 128);
const QColor Maroon(128, 0, 0);
const QColor Purple(128, 0, 128);

const char* const PBHint = " Clic gauche pour marquer le début / Clic droit pour marquer la fin";

void setColours(QWidget* widget, const QColor& text, const QColor& back)
{
    QPalette p = widget->palette();
    // Disabled controls keep the system's greyed text.
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::WindowText, text);
        p.setColor(group, QPalette::ButtonText, text);
    }
    if (back.isValid()) {
        p.setColor(QPalette::Window, back);
        widget->setAutoFillBackground(true);
    }
    widget->setPalette(p);
}

// The bare window surface: moving over it empties the status line.
class FormSurface : public QWidget
{
public:
    std::function<void()> onMouseMove;
    explicit FormSurface(QWidget* parent) : QWidget(parent) { setMouseTracking(true); }

protected:
    void mouseMoveEvent(QMouseEvent* /*event*/) override
    {
        if (onMouseMove)
            onMouseMove();
    }
};

// A horizontal rule drawn as a line engraved at the top of its box.
class TopLineBevel : public QWidget
{
public:
    explicit TopLineBevel(QWidget* parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent* /*event*/) override
    {
        QPainter painter(this);
        painter.setPen(QColor(128, 128, 128));
        painter.drawLine(0, 0, width() - 1, 0);
        painter.setPen(Qt::white);
        painter.drawLine(0, 1, width() - 1, 1);
    }
};

// The drag-scroll zones at both ends of the clip strip: one or two arrows pointing outwards.
class ScrollZone : public QWidget
{
public:
    // While a clip is dragged over the zone: scroll the strip by one line, pause, refuse the drop.
    std::function<void()> onDragOver;

    ScrollZone(QWidget* parent, int direction, int arrows)
        : QWidget(parent), m_direction(direction), m_arrows(arrows)
    {
        setAcceptDrops(true);
        setAutoFillBackground(true);
        QPalette p = palette();
        p.setColor(QPalette::Window, QColor(212, 208, 200));
        setPalette(p);
    }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override
    {
        // Taken so that the moves over the zone keep coming; no drop is ever accepted here.
        event->accept();
    }
    void dragMoveEvent(QDragMoveEvent* event) override
    {
        if (onDragOver)
            Guarded(onDragOver);
        event->ignore();
    }
    void dropEvent(QDropEvent* event) override { event->ignore(); }

    void paintEvent(QPaintEvent* /*event*/) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QColor(32, 32, 32));
        painter.setBrush(QColor(21, 101, 192));
        const double mid = height() / 2.0;
        for (int i = 0; i < m_arrows; ++i) {
            const double y = mid + (i - (m_arrows - 1) / 2.0) * 12;
            const double tip = m_direction < 0 ? 3.5 : width() - 3.5;
            const double base = m_direction < 0 ? width() - 4.5 : 4.5;
            const QPointF points[3] = {{tip, y}, {base, y - 5}, {base, y + 5}};
            painter.drawPolygon(points, 3);
        }
    }

private:
    int m_direction;
    int m_arrows;
};

// A clip's panel as the montage sees it.
class PanelView : public TsampleView
{
public:
    explicit PanelView(TClipPanel* panel) : m_panel(panel) {}
    ~PanelView() override { delete m_panel; }
    PanelView(const PanelView&) = delete;
    PanelView& operator=(const PanelView&) = delete;

    void ShowTitle(const std::string& title) override { m_panel->setTitle(QString::fromStdString(title)); }
    void ShowLength(std::int32_t lengthMs) override
    {
        m_panel->setLength(
            QString::fromStdString(FormatTime(static_cast<std::uint32_t>(std::max(lengthMs, 0)))));
    }
    void ShowFadeIn(std::int32_t kind, std::int32_t ms) override { m_panel->setFadeIn(kind, ms / 1000); }
    void ShowFadeOut(std::int32_t kind, std::int32_t ms) override { m_panel->setFadeOut(kind, ms / 1000); }
    void ShowPosition(std::int32_t position) override
    {
        m_panel->setPosition(position);
        // In the strip's content, clip p starts at 8 + 120 p; the scroll area shifts the content itself.
        m_panel->move(8 + 120 * position, 8);
    }
    void ShowPlaying(bool playing) override { m_panel->setPlaying(playing); }
    TClipPanel* panel() const { return m_panel; }

private:
    TClipPanel* m_panel;
};

QIcon svgIcon(const char* name)
{
    return QIcon(QStringLiteral(":/icons/") + QString::fromLatin1(name));
}

} // namespace

TDepart::TDepart(QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("Depart"));
    setWindowTitle(QStringLiteral("Sonalto"));
    setWindowIcon(svgIcon("sonalto.svg"));
    setFont(SansFont(11));
    setColours(this, Qt::black, WindowColour);
    // A sound file or a project dropped anywhere on the window opens; its controls take no drops of their
    // own, so theirs come here.
    setAcceptDrops(true);

    joueB = svgIcon("play-all.svg");
    joueV = svgIcon("play-selection.svg");
    Pause = svgIcon("pause.svg");
    Ijjaune = svgIcon("play-montage.svg");
    ipausej = svgIcon("pause-montage.svg");
    Icible = svgIcon("cible.svg");
    env1 = svgIcon("env1.svg");
    env2 = svgIcon("env2.svg");
    env3 = svgIcon("env3.svg");
    env4 = svgIcon("env4.svg");
    env5 = svgIcon("env5.svg");
    env6 = svgIcon("env6.svg");

    AP.SetStock(&m_editor.WS1);
    // The recording's player reads WS1 as it plays: it stops before an accepted file replaces it.
    m_editor.OnReplacingRecording = [this] {
        if (AP.Active())
            AP.Stop();
        if (Tag(BjoueB) == 1) {
            BjoueB->setIcon(joueB);
            SetTag(BjoueB, 0);
        }
    };
    AP.OnDeactivate = [this](TWaveAudioIO*) { APDeactivate(); };
    APS.OnDeactivate = [this](TWaveAudioIO*) { APSDeactivate(); };
    Tdecal = new QTimer(this);
    Tdecal->setObjectName(QStringLiteral("Tdecal"));
    Tdecal->setInterval(100);
    connect(Tdecal, &QTimer::timeout, this, [this] { Guarded([&] { TdecalTimer(); }); });

    auto* surface = new FormSurface(this);
    surface->onMouseMove = [this] { FormMouseMove(); };
    setCentralWidget(surface);
    createEditorBand(surface);
    createMontageBand(surface);
    createMenu();
    setupMontage();

    // Every control stops the mouse here: what is not one of the hinted controls leaves the status line
    // as it is, instead of passing the move on to the window surface.
    for (QWidget* child : surface->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        child->setAttribute(Qt::WA_NoMousePropagation);

    const QScreen* screen = QGuiApplication::primaryScreen();
    FormCreate(screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768));
}

TDepart::~TDepart()
{
    // The render ticker stops before the montage it steps goes away.
    TcalculThread.reset();
}

QToolButton* TDepart::toolButton(QWidget* parent, const char* name, QRect bounds, const QString& hint,
                                 const QIcon& glyph)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(bounds);
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::NoFocus);
    if (!glyph.isNull()) {
        button->setIcon(glyph);
        button->setIconSize(bounds.width() > 30 ? QSize(40, 18) : QSize(18, 18));
    }
    setHint(button, hint);
    return button;
}

QLabel* TDepart::infoLabel(QWidget* parent, const char* name, QRect bounds, const QColor& back,
                           const QString& hint)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(bounds);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    setColours(label, Qt::white, back);
    setHint(label, hint);
    return label;
}

void TDepart::setHint(QWidget* control, const QString& hint)
{
    // The hint goes to the status line only, never into a tooltip.
    control->setProperty("hint", hint);
    control->setMouseTracking(true);
    control->installEventFilter(this);
}

void TDepart::createEditorBand(QWidget* surface)
{
    SpeedButton7 = toolButton(surface, "SpeedButton7", {8, 8, 25, 25}, QStringLiteral("Enregistrer"),
                              svgIcon("record.svg"));
    SpeedButton4 = toolButton(surface, "SpeedButton4", {32, 8, 25, 25},
                              QStringLiteral("Ouvrir un fichier son"), svgIcon("open.svg"));
    SpeedButton5 = toolButton(surface, "SpeedButton5", {65, 8, 25, 25}, QStringLiteral("Zomm avant"),
                              svgIcon("zoom-in.svg"));
    SpeedButton6 = toolButton(surface, "SpeedButton6", {90, 8, 25, 25}, QStringLiteral("Zoom arrière"),
                              svgIcon("zoom-out.svg"));
    BjoueB = toolButton(surface, "BjoueB", {122, 8, 25, 25}, QStringLiteral("Ecouter tout"), joueB);
    SpeedButton9 = toolButton(surface, "SpeedButton9", {146, 8, 25, 25}, QStringLiteral("Afficher tout"),
                              svgIcon("show-all.svg"));
    BjoueV = toolButton(surface, "BjoueV", {178, 8, 25, 25}, QStringLiteral("Ecouter la sélection"), joueV);
    SpeedButton8 = toolButton(surface, "SpeedButton8", {202, 8, 25, 25},
                              QStringLiteral("Zoom sur la sélection"), svgIcon("zoom-selection.svg"));
    Baide = toolButton(surface, "Baide", {232, 8, 25, 25}, QStringLiteral("Aide"));
    Baide->setText(QStringLiteral("?"));
    Baide->setFont(ArialFont(19, true));
    setColours(Baide, Purple, QColor());

    Label1 =
        infoLabel(surface, "Label1", {264, 12, 65, 17}, QColor(0, 0, 255), QStringLiteral("Durée totale"));
    Label1->setFont(SansFont(13));
    Label2 = infoLabel(surface, "Label2", {336, 12, 241, 17}, QColor(0, 128, 0),
                       QStringLiteral("Paramètres de la sélection"));
    Label11 = infoLabel(surface, "Label11", {584, 12, 97, 17}, Purple,
                        QStringLiteral("Format de l'enregistrement"));

    PB = new TWaveformBox(m_editor, surface);
    PB->setObjectName(QStringLiteral("PB"));
    PB->setGeometry(8, 40, 620, 145);
    PB->installEventFilter(this);
    connect(PB, &TWaveformBox::mouseMoved, this, [this](int x) { Guarded([&] { PBMouseMove(x); }); });
    connect(PB, &TWaveformBox::mousePressed, this,
            [this](Qt::MouseButton button, int x) { Guarded([&] { PBMouseDown(button, x); }); });
    connect(PB, &TWaveformBox::mouseReleased, this,
            [this](Qt::MouseButton button, int x) { Guarded([&] { PBMouseUp(button, x); }); });

    SB = new QScrollBar(Qt::Horizontal, surface);
    SB->setObjectName(QStringLiteral("SB"));
    SB->setGeometry(8, 192, 620, 17);
    SB->setFocusPolicy(Qt::NoFocus);
    SB->setRange(0, 0);
    SB->setPageStep(TScrollBarState::LargeChange);
    SB->setSingleStep(TScrollBarState::SmallChange);
    connect(SB, &QScrollBar::valueChanged, this, [this](int position) {
        if (!m_syncingScrollBar)
            Guarded([&] { SBChange(position); });
    });

    Bevel1 = new TopLineBevel(surface);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setGeometry(0, 216, 640, 9);

    Laide = new QLabel(surface);
    Laide->setObjectName(QStringLiteral("Laide"));
    Laide->setGeometry(8, 528, 393, 17);
    Laide->setFont(SansFont(13));
    setColours(Laide, Navy, StatusColour);
}

void TDepart::createMontageBand(QWidget* surface)
{
    Bmp3 = toolButton(surface, "Bmp3", {0, 224, 33, 25}, QStringLiteral("Enregistrer au format mp3"));
    Bmp3->setText(QStringLiteral("mp3"));
    setColours(Bmp3, Maroon, QColor());
    Bmp3->setEnabled(false);
    Bnew = toolButton(surface, "Bnew", {32, 224, 25, 25}, QStringLiteral("Nouveau montage"),
                      svgIcon("new-montage.svg"));
    SpeedButton1 = toolButton(surface, "SpeedButton1", {64, 224, 25, 25}, QStringLiteral("Ouvrir un montage"),
                              svgIcon("open-montage.svg"));
    Bsauver = toolButton(surface, "Bsauver", {96, 224, 25, 25}, QStringLiteral("Enregistrer le montage"),
                         svgIcon("save-montage.svg"));
    Bsauver->setEnabled(false);
    Bwave = toolButton(surface, "Bwave", {128, 224, 49, 25},
                       QStringLiteral("Sauvergarder le montage final au format wave."),
                       svgIcon("wave-export.svg"));
    Bwave->setEnabled(false);
    Bajoute = toolButton(surface, "Bajoute", {184, 224, 25, 25},
                         QStringLiteral("Ajouter la sélection au montage"), svgIcon("add-to-montage.svg"));
    BjT = toolButton(surface, "BjT", {208, 224, 49, 25}, QStringLiteral("Ecouter le montage en entier"),
                     Ijjaune);
    BjT->setEnabled(false);

    Label12 = new QLabel(surface);
    Label12->setObjectName(QStringLiteral("Label12"));
    Label12->setGeometry(256, 228, 73, 17);
    Label12->setAlignment(Qt::AlignCenter);
    setColours(Label12, Qt::black, Label12Colour);
    setHint(Label12, QStringLiteral("Durée totale"));

    SSgauche = new ScrollZone(surface, -1, 2);
    SSgauche->setObjectName(QStringLiteral("SSgauche"));
    SSgauche->setGeometry(0, 256, 17, 121);
    Sgauche = new ScrollZone(surface, -1, 1);
    Sgauche->setObjectName(QStringLiteral("Sgauche"));
    Sgauche->setGeometry(16, 256, 17, 121);

    SB1 = new QScrollArea(surface);
    SB1->setObjectName(QStringLiteral("SB1"));
    SB1->setGeometry(32, 256, 596, 124);
    SB1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    SB1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    SB1->setFocusPolicy(Qt::NoFocus);
    auto* strip = new QWidget;
    strip->setObjectName(QStringLiteral("SB1Strip"));
    SB1->setWidget(strip);
    SB1->setWidgetResizable(false);

    Sdroite = new ScrollZone(surface, 1, 1);
    Sdroite->setObjectName(QStringLiteral("Sdroite"));
    Sdroite->setGeometry(632, 256, 17, 121);
    SSdroite = new ScrollZone(surface, 1, 2);
    SSdroite->setObjectName(QStringLiteral("SSdroite"));
    SSdroite->setGeometry(648, 256, 17, 121);

    PB2 = new TOverviewBox(m_montage, surface);
    PB2->setObjectName(QStringLiteral("PB2"));
    PB2->setGeometry(8, 392, 620, 129);
}

void TDepart::createMenu()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    const auto item = [this](QMenu* menu, const char* name, const QString& caption, bool enabled,
                             void (TDepart::*handler)()) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        action->setEnabled(enabled);
        if (handler)
            connect(action, &QAction::triggered, this,
                    [this, handler] { Guarded([&] { (this->*handler)(); }); });
        return action;
    };

    QMenu* montage = bar->addMenu(QStringLiteral("Montage"));
    montage->setObjectName(QStringLiteral("Fichier1"));
    // The montage commands arrive with the montage itself; until then their items do nothing.
    Nouveauprojet1 = item(montage, "Nouveauprojet1", QStringLiteral("Nouveau montage"), true, nullptr);
    Ouvrirunprojet1 = item(montage, "Ouvrirunprojet1", QStringLiteral("Ouvrir un montage"), true, nullptr);
    Sauvergarderunprojet1 =
        item(montage, "Sauvergarderunprojet1", QStringLiteral("Sauvergarder un montage"), false, nullptr);
    Exporterlemontageauformatwave1 =
        item(montage, "Exporterlemontageauformatwave1", QStringLiteral("Exporter le montage au format wave"),
             false, nullptr);
    Exporterlemontageauformatmp31 = item(montage, "Exporterlemontageauformatmp31",
                                         QStringLiteral("Exporter le montage au format mp3"), false, nullptr);
    montage->addSeparator()->setObjectName(QStringLiteral("N1"));
    Quitter1 = item(montage, "Quitter1", QStringLiteral("Quitter"), true, nullptr);
    connect(Quitter1, &QAction::triggered, this, &QWidget::close);

    QMenu* recording = bar->addMenu(QStringLiteral("Enregistrement"));
    recording->setObjectName(QStringLiteral("Squences1"));
    Ouvrirunenregistrement1 = item(recording, "Ouvrirunenregistrement1",
                                   QStringLiteral("Ouvrir un fichier wave"), true, &TDepart::ChargeTSAClick);
    Transfrerdepuislesonalto1 =
        item(recording, "Transfrerdepuislesonalto1", QStringLiteral("Transférer depuis le sonalto"), true,
             &TDepart::SpeedButton7Click);
    recording->addSeparator()->setObjectName(QStringLiteral("N2"));
    Lierenentier1 =
        item(recording, "Lierenentier1", QStringLiteral("Lire en entier"), true, &TDepart::BjoueBClick);
    Lirelaslection1 =
        item(recording, "Lirelaslection1", QStringLiteral("Lire la sélection"), true, &TDepart::BjoueVClick);
    recording->addSeparator()->setObjectName(QStringLiteral("N3"));
    Zoomavant1 = item(recording, "Zoomavant1", QStringLiteral("Zoom avant"), true, &TDepart::Button2Click);
    Zoomarrire1 =
        item(recording, "Zoomarrire1", QStringLiteral("Zoom arrière"), true, &TDepart::Button3Click);
    Vueentire1 =
        item(recording, "Vueentire1", QStringLiteral("Vue entière"), true, &TDepart::SpeedButton9Click);
    Zoomsurlaslection1 = item(recording, "Zoomsurlaslection1", QStringLiteral("Zoom sur la sélection"), true,
                              &TDepart::SpeedButton8Click);

    QMenu* help = bar->addMenu(QStringLiteral("Aide"));
    help->setObjectName(QStringLiteral("Aide1"));
    Sommairedelaide1 =
        item(help, "Sommairedelaide1", QStringLiteral("Sommaire de l'aide"), true, &TDepart::BaideClick);
    AproposdeSonalto1 = item(help, "AproposdeSonalto1", QStringLiteral("A propos de Sonalto"), true,
                             &TDepart::AproposdeSonalto1Click);

    Quitter2 = bar->addAction(QStringLiteral("Quitter"));
    Quitter2->setObjectName(QStringLiteral("Quitter2"));
    connect(Quitter2, &QAction::triggered, this, &QWidget::close);

    const auto click = [this](QToolButton* button, void (TDepart::*handler)()) {
        connect(button, &QToolButton::clicked, this,
                [this, handler] { Guarded([&] { (this->*handler)(); }); });
    };
    click(SpeedButton7, &TDepart::SpeedButton7Click);
    click(SpeedButton4, &TDepart::ChargeTSAClick);
    click(SpeedButton5, &TDepart::Button2Click);
    click(SpeedButton6, &TDepart::Button3Click);
    click(SpeedButton9, &TDepart::SpeedButton9Click);
    click(SpeedButton8, &TDepart::SpeedButton8Click);
    click(Baide, &TDepart::BaideClick);
    click(BjoueB, &TDepart::BjoueBClick);
    click(BjoueV, &TDepart::BjoueVClick);
}

void TDepart::FormCreate(const QRect& workArea)
{
    m_editor.RecordingLoaded = false;
    // The window fills the work area, one pixel short of its bottom, wherever the area starts: a top bar
    // or a dock at the left must not push the status line below the screen.
    const int W = workArea.width();
    const int H = workArea.height() - 1;
    m_outerSize = QSize(W, H);
    setFixedSize(W, H);
    move(workArea.topLeft());

    PB->resize(W - 24, PB->height());
    PB2->resize(W - 24, PB2->height());
    SB->resize(W - 24, SB->height());
    Laide->resize(W - 24, Laide->height());
    SB1->resize(W - 68, SB1->height());
    Bevel1->resize(W, Bevel1->height());
    Laide->move(Laide->x(), H - 72);
    PB2->resize(PB2->width(), Laide->y() - PB2->y() - 12);

    Sdroite->move(SB1->x() + SB1->width(), Sdroite->y());
    SSdroite->move(Sdroite->x() + Sdroite->width(), SSdroite->y());
    Label12->move(SB1->x() + SB1->width() - Label1->width() - 8, Label12->y());
    Bmp3->move(Label12->x() - Bmp3->width() - 16, Bmp3->y());
    Bwave->move(Bmp3->x() - Bwave->width(), Bwave->y());
    BjT->move(Bwave->x() - BjT->width() - 16, BjT->y());
    Bajoute->move((W - Bajoute->width()) / 2, Bajoute->y());

    Baide->move(PB->x() + PB->width() - Baide->width(), Baide->y());
    Label11->move(Baide->x() - Label11->width() - 8, Label11->y());
    Label2->move(Label11->x() - Label2->width() - 8, Label2->y());
    Label1->move(Label2->x() - Label1->width() - 8, Label1->y());

    m_editor.BoxWidth = PB->width();
    m_editor.BoxHeight = PB->height();
    m_montage.OverviewWidth = PB2->width();
}

void TDepart::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    fitFrame();
}

void TDepart::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    // The window manager frames the window after it shows: the inside then moves within the frame.
    fitFrame();
}

void TDepart::fitFrame()
{
    // W and H are the outer size: once the window manager has framed the window, the inside gives up
    // what the frame takes, so that the whole window stays within the work area.
    const QSize frame = frameGeometry().size() - geometry().size();
    if ((frame.width() > 0 || frame.height() > 0) && size() != m_outerSize - frame)
        setFixedSize(m_outerSize - frame);
}

// ---- Status line ----------------------------------------------------------------------------------

bool TDepart::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ToolTip)
        return true;
    if (event->type() == QEvent::MouseMove) {
        if (qobject_cast<QToolButton*>(watched))
            SpeedButton4MouseMove(watched);
        else if (qobject_cast<QLabel*>(watched))
            Label1MouseMove(watched);
    }
    return QMainWindow::eventFilter(watched, event);
}

void TDepart::SpeedButton4MouseMove(QObject* button)
{
    Laide->setText(QStringLiteral(" ") + button->property("hint").toString());
}

void TDepart::Label1MouseMove(QObject* label)
{
    Laide->setText(QStringLiteral(" ") + label->property("hint").toString());
}

void TDepart::FormMouseMove()
{
    Laide->setText(QString());
}

void TDepart::PBMouseMove(int x)
{
    if (!m_editor.RecordingLoaded) {
        Laide->setText(QString());
        return;
    }
    Laide->setText(QString::fromUtf8(PBHint));
    if (m_editor.MouseMove(x)) {
        syncTimer();
        PBPaint();
    }
}

// ---- Selection with the mouse ---------------------------------------------------------------------

void TDepart::syncTimer()
{
    if (m_editor.TdecalEnabled && !Tdecal->isActive())
        Tdecal->start();
    else if (!m_editor.TdecalEnabled && Tdecal->isActive())
        Tdecal->stop();
}

void TDepart::PBMouseDown(Qt::MouseButton button, int x)
{
    if (!m_editor.RecordingLoaded)
        return;
    if (AP2.Active())
        AP2.SetActive(false);
    const int which = button == Qt::LeftButton ? 1 : button == Qt::RightButton ? 2 : 0;
    if (m_editor.MouseDown(which, x))
        PBPaint();
}

void TDepart::PBMouseUp(Qt::MouseButton /*button*/, int x)
{
    m_editor.MouseUp(x);
    syncTimer();
}

void TDepart::TdecalTimer()
{
    if (m_editor.AutoScrollTick()) {
        syncScrollBar();
        PBPaint();
    }
}

// ---- Playback -------------------------------------------------------------------------------------

void TDepart::stopPlayer(QToolButton* button, TWaveAudioIO& player, const QIcon& glyph)
{
    if (Tag(button) != 1)
        return;
    player.SetActive(false);
    button->setIcon(glyph);
    SetTag(button, 0);
}

int TDepart::Tag(const QWidget* button)
{
    return button->property("Tag").toInt();
}

void TDepart::SetTag(QWidget* button, int tag)
{
    button->setProperty("Tag", tag);
}

void TDepart::BjoueBClick()
{
    if (!m_editor.RecordingLoaded)
        return;
    stopPlayer(BjoueV, APS, joueV);
    stopPlayer(BjT, AP3, Ijjaune);
    if (Tag(BjoueB) == 0) {
        if (AP.Active())
            AP.Stop();
        // The pause glyph only once the device has accepted to play: a refusal leaves the button as it was.
        AP.Play(0);
        BjoueB->setIcon(Pause);
        SetTag(BjoueB, 1);
    } else {
        BjoueB->setIcon(joueB);
        if (AP.Active())
            AP.Stop();
        SetTag(BjoueB, 0);
    }
}

void TDepart::BjoueVClick()
{
    if (!m_editor.RecordingLoaded)
        return;
    stopPlayer(BjoueB, AP, joueB);
    stopPlayer(BjT, AP3, Ijjaune);
    if (Tag(BjoueV) == 0) {
        const auto [a, b] = m_editor.SelectionMs();
        // The player gets the selection only (its bytes changing stop it first): everything after it goes,
        // including the samples of a last partial millisecond.
        APS.Wave().CopyRange(m_editor.WS1.Wave(), a, b);
        APS.SetActive(true);
        BjoueV->setIcon(Pause);
        SetTag(BjoueV, 1);
    } else {
        BjoueV->setIcon(joueV);
        APS.SetActive(false);
        SetTag(BjoueV, 0);
    }
}

void TDepart::APDeactivate()
{
    if (Tag(BjoueB) == 1) {
        BjoueB->setIcon(joueB);
        if (AP.Active())
            AP.Stop();
        SetTag(BjoueB, 0);
    }
}

void TDepart::APSDeactivate()
{
    stopPlayer(BjoueV, APS, joueV);
}

void TDepart::closeEvent(QCloseEvent* event)
{
    // FormCloseQuery: an unsaved montage is not closed without the user's word.
    if (!ConfirmUnsaved(QStringLiteral("Le montage en cours n'a pas été enregistré. Quitter quand même ?"))) {
        event->ignore();
        return;
    }
    Guarded([&] { FormClose(); });
    QMainWindow::closeEvent(event);
}

void TDepart::FormClose()
{
    if (TcalculThread)
        TcalculThread->requestInterruption();
    stopPlayer(BjoueB, AP, joueB);
    stopPlayer(BjoueV, APS, joueV);
    stopPlayer(BjT, AP3, Ijjaune);
    for (TWaveAudioIO* player : {static_cast<TWaveAudioIO*>(&AP2), static_cast<TWaveAudioIO*>(&AP3),
                                 static_cast<TWaveAudioIO*>(&APS)})
        if (player && player->Active())
            player->SetActive(false);
    if (AP.Active())
        AP.Stop();
    if (AP2.Active())
        AP2.SetActive(false);
    m_montage.FreeAllClips();
}

// ---- Loading --------------------------------------------------------------------------------------

QStringList TDepart::RecordingFilters()
{
    return {
        QStringLiteral("FIchiers Wave (*.wav)"),
        QStringLiteral("Tous les fichiers son (*.wav *.mp3 *.m4a *.aac *.ogg *.oga *.opus *.flac *.wma *.3gp "
                       "*.amr *.mp4 *.webm)")};
}

void TDepart::ChargeTSAClick()
{
    QFileDialog dialog(this, QStringLiteral("Ouvrir"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(RecordingFilters());
    if (!m_recordingFilter.isEmpty())
        dialog.selectNameFilter(m_recordingFilter);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    // The filter the user browsed with is the one he finds next time, chosen file or not.
    m_recordingFilter = dialog.selectedNameFilter();
    if (accepted && !dialog.selectedFiles().isEmpty())
        LoadRecording(dialog.selectedFiles().constFirst());
}

bool TDepart::LoadRecording(const QString& fileName)
{
    TEditor::LoadResult result = TEditor::LoadResult::Refused;
    {
        const BusyCursor busy;
        TDecodeProgressDialog progress(this, QStringLiteral("Ouverture du fichier son en cours..."));
        m_editor.OnDecodeProgress = [&progress](double done) { return progress(done); };
        const auto forget = qScopeGuard([this] { m_editor.OnDecodeProgress = {}; });
        result = m_editor.LoadRecording(QFile::encodeName(fileName).toStdString());
    }
    if (result == TEditor::LoadResult::Cancelled)
        return false;
    if (result == TEditor::LoadResult::Refused) {
        ShowMessage(QStringLiteral("Format non reconnu..."));
        return false;
    }
    Label1->setText(QString::fromStdString(m_editor.DurationText()));
    Label11->setText(QString::fromStdString(m_editor.FormatText()));
    syncScrollBar();
    PBPaint();
    return true;
}

void TDepart::OpenFile(const QString& fileName)
{
    if (QFileInfo(fileName).suffix().compare(QStringLiteral("snt"), Qt::CaseInsensitive) == 0) {
        if (!ConfirmUnsaved(
                QStringLiteral("Le montage en cours n'a pas été enregistré. Continuer quand même ?")))
            return;
        OpenProject(fileName);
    } else {
        LoadRecording(fileName);
    }
}

QString TDepart::CommandLineFile(const QStringList& arguments)
{
    qsizetype first = 1;
    const bool afterOptions = arguments.size() > first && arguments[first] == QStringLiteral("--");
    if (afterOptions)
        ++first;
    // An option (the program has none of its own) opens nothing; a file whose name starts with "-" follows
    // "--".
    if (arguments.size() <= first || arguments[first].isEmpty() ||
        (!afterOptions && arguments[first].startsWith(QLatin1Char('-'))))
        return {};
    const QString& argument = arguments[first];
    const QUrl url(argument);
    const QString path = url.isLocalFile() ? url.toLocalFile() : argument;
    // Absolute, so that an extract cut from it names its source wherever the project is opened from.
    return QFileInfo(path).absoluteFilePath();
}

namespace {

// The local file a drag carries, if it carries one.
QString droppedFile(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return {};
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            return url.toLocalFile();
    return {};
}

} // namespace

void TDepart::dragEnterEvent(QDragEnterEvent* event)
{
    if (!droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void TDepart::dropEvent(QDropEvent* event)
{
    const QString fileName = droppedFile(event->mimeData());
    if (fileName.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // Opened once the drop is over: the file manager that sent it is not kept waiting for the decode.
    QTimer::singleShot(0, this, [this, fileName] { Guarded([&] { OpenFile(fileName); }); });
}

// ---- View -----------------------------------------------------------------------------------------

void TDepart::syncScrollBar()
{
    m_syncingScrollBar = true;
    SB->setRange(m_editor.SB.Min, m_editor.SB.Max);
    SB->setValue(m_editor.SB.Position);
    m_syncingScrollBar = false;
}

void TDepart::PBPaint()
{
    PB->update();
    ShowSelection();
}

void TDepart::ShowSelection()
{
    Label2->setText(QString::fromStdString(m_editor.SelectionText()));
}

void TDepart::SBChange(int position)
{
    if (!m_editor.RecordingLoaded)
        return;
    m_editor.ScrollTo(position);
    PBPaint();
}

void TDepart::Button2Click()
{
    if (m_editor.ZoomIn()) {
        syncScrollBar();
        PBPaint();
    }
}

void TDepart::Button3Click()
{
    if (m_editor.ZoomOut()) {
        syncScrollBar();
        PBPaint();
    }
}

void TDepart::SpeedButton8Click()
{
    if (m_editor.ZoomOnSelection()) {
        syncScrollBar();
        PBPaint();
    }
}

void TDepart::SpeedButton9Click()
{
    if (m_editor.FullView()) {
        syncScrollBar();
        PBPaint();
    }
}

// ---- Other windows --------------------------------------------------------------------------------

void TDepart::SpeedButton7Click()
{
    if (auto* dialog = qobject_cast<QDialog*>(m_recordingWindow))
        dialog->exec();
}

void TDepart::BaideClick()
{
    if (auto* dialog = qobject_cast<QDialog*>(m_helpWindow))
        dialog->exec();
}

// ---- Montage --------------------------------------------------------------------------------------

void TDepart::setupMontage()
{
    const std::array<QPixmap, 6> fadeImages = {env1.pixmap(25, 25), env3.pixmap(25, 25), env5.pixmap(25, 25),
                                               env2.pixmap(25, 25), env4.pixmap(25, 25), env6.pixmap(25, 25)};
    const QPixmap target = Icible.pixmap(25, 25);
    m_montage.CreateView = [this, fadeImages, target](Tsample& /*clip*/) -> std::unique_ptr<TsampleView> {
        auto* panel = new TClipPanel(SB1->widget(), fadeImages, target);
        panel->showHint = [this](const QString& hint) { Laide->setText(hint); };
        // The clip's place changes with reordering: each handler asks the panel for it when it runs.
        connect(panel, &TClipPanel::titleDoubleClicked, this,
                [this, panel] { Guarded([&] { TitleDblClick(panel->position()); }); });
        connect(panel, &TClipPanel::fadeInClicked, this,
                [this, panel] { Guarded([&] { m_montage.CycleFadeIn(panel->position()); }); });
        connect(panel, &TClipPanel::fadeOutClicked, this,
                [this, panel] { Guarded([&] { m_montage.CycleFadeOut(panel->position()); }); });
        connect(panel, &TClipPanel::fadeInSpinClicked, this, [this, panel](int seconds) {
            Guarded([&] { m_montage.SetFadeInSeconds(panel->position(), seconds); });
        });
        connect(panel, &TClipPanel::fadeOutSpinClicked, this, [this, panel](int seconds) {
            Guarded([&] { m_montage.SetFadeOutSeconds(panel->position(), seconds); });
        });
        connect(panel, &TClipPanel::deleteClicked, this,
                [this, panel] { Guarded([&] { DeleteClick(panel->position()); }); });
        connect(panel, &TClipPanel::playClicked, this,
                [this, panel] { Guarded([&] { PlayClick(panel->position()); }); });
        connect(panel, &TClipPanel::handleDropped, this, [this, panel](int source) {
            Guarded([&] { m_montage.HandleDragDrop(source, panel->position()); });
        });
        panel->show();
        return std::make_unique<PanelView>(panel);
    };
    m_montage.OnRenderRestarted = [this] { BjT->setEnabled(false); };
    m_montage.OnRenderFinished = [this] {
        BjT->setEnabled(true);
        Label12->setText(QString::fromStdString(FormatTime(m_montage.WT.Wave().Duration())));
        PB2->PB2Paint();
    };
    m_montage.OnClipsPresent = [this](bool present) {
        montageControlsEnabled(present);
        resizeStrip();
    };
    m_montage.OnEmptied = [this] {
        Label12->setText(QString());
        PB2->Blank(QColor(255, 255, 210));
    };
    // A clip being heard through its ">" stops before it goes.
    m_montage.OnDeletingClip = [this](Tsample& clip) {
        if (m_montage.PlayingSlot == clip.Slot && AP2.Active())
            AP2.SetActive(false);
    };
    AP2.OnDeactivate = [this](TWaveAudioIO*) { AP2Deactivate(); };
    AP3.OnDeactivate = [this](TWaveAudioIO*) { AP3Deactivate(); };

    Tdel = new QTimer(this);
    Tdel->setObjectName(QStringLiteral("Tdel"));
    Tdel->setInterval(200);
    Tdel->setSingleShot(true);
    connect(Tdel, &QTimer::timeout, this, [this] { Guarded([&] { TdelTimer(); }); });

    // Dragging a clip over the zones beside the strip scrolls it, twice as fast on the outer ones.
    const auto zone = [this](QWidget* widget, int direction, int pauseMs) {
        static_cast<ScrollZone*>(widget)->onDragOver = [this, direction, pauseMs] {
            QScrollBar* bar = SB1->horizontalScrollBar();
            bar->setValue(std::clamp(bar->value() + direction * bar->singleStep(), 0, bar->maximum()));
            SB1->viewport()->repaint();
            QThread::msleep(static_cast<unsigned long>(pauseMs));
        };
    };
    zone(Sgauche, -1, 200);
    zone(SSgauche, -1, 100);
    zone(Sdroite, 1, 200);
    zone(SSdroite, 1, 100);
    SB1->horizontalScrollBar()->setSingleStep(20);

    connect(Bajoute, &QToolButton::clicked, this, [this] { Guarded([&] { BajouteClick(); }); });
    connect(BjT, &QToolButton::clicked, this, [this] { Guarded([&] { BjTClick(); }); });
    connect(Bnew, &QToolButton::clicked, this, [this] { Guarded([&] { BnewClick(); }); });
    connect(Nouveauprojet1, &QAction::triggered, this, [this] { Guarded([&] { BnewClick(); }); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { Guarded([&] { SpeedButton1Click(); }); });
    connect(Ouvrirunprojet1, &QAction::triggered, this, [this] { Guarded([&] { SpeedButton1Click(); }); });
    connect(Bsauver, &QToolButton::clicked, this, [this] { Guarded([&] { BsauverClick(); }); });
    connect(Sauvergarderunprojet1, &QAction::triggered, this, [this] { Guarded([&] { BsauverClick(); }); });
    connect(Bwave, &QToolButton::clicked, this, [this] { Guarded([&] { BwaveClick(); }); });
    connect(Bmp3, &QToolButton::clicked, this, [this] { Guarded([&] { Bmp3Click(); }); });
    connect(Exporterlemontageauformatmp31, &QAction::triggered, this,
            [this] { Guarded([&] { Bmp3Click(); }); });
    connect(Exporterlemontageauformatwave1, &QAction::triggered, this,
            [this] { Guarded([&] { BwaveClick(); }); });

    m_montage.RenderCursor = TMontage::RenderIdle;
    TcalculThread = std::make_unique<Tcalcul>(this, [this] { Guarded([&] { m_montage.RenderStep(); }); });
    TcalculThread->start();
}

void TDepart::montageControlsEnabled(bool enabled)
{
    for (QWidget* control :
         {static_cast<QWidget*>(Bsauver), static_cast<QWidget*>(Bwave), static_cast<QWidget*>(Bmp3)})
        control->setEnabled(enabled);
    for (QAction* item :
         {Sauvergarderunprojet1, Exporterlemontageauformatwave1, Exporterlemontageauformatmp31})
        item->setEnabled(enabled);
}

void TDepart::resizeStrip()
{
    // The strip covers every panel, so that the scroll range reaches the last one.
    SB1->widget()->resize(std::max(8 + 120 * m_montage.ClipCount + 8, SB1->viewport()->width()),
                          SB1->viewport()->height());
}

QWidget* TDepart::PanelAt(int position)
{
    Tsample* clip = m_montage.ClipAt(position);
    return clip && clip->View ? static_cast<PanelView*>(clip->View.get())->panel() : nullptr;
}

std::optional<QString> TDepart::AskTitle(const QString& text)
{
    if (!m_titleDialog)
        return std::nullopt;
    m_titleDialog->Edit->setText(text);
    m_titleDialog->exec();
    if (!m_titleDialog->DialogAccepted)
        return std::nullopt;
    return m_titleDialog->Edit->text();
}

void TDepart::BajouteClick()
{
    if (!m_editor.RecordingLoaded || m_editor.SourceFileName.empty())
        return;
    const std::uint32_t startMs = m_editor.SampleToMs(m_editor.SelStart);
    const std::uint32_t endMs = m_editor.SampleToMs(m_editor.SelEnd);
    if (!(startMs < endMs) || m_montage.FirstFreeSlot() < 0)
        return;
    const std::optional<QString> title = AskTitle(QStringLiteral("Extrait n° %1").arg(m_montage.ClipCounter));
    if (!title || title->isEmpty())
        return;
    const BusyCursor busy;
    m_montage.AddClip(title->toStdString(), m_editor.WS1.Wave(), m_editor.SourceFileName, startMs, endMs);
    resizeStrip();
}

void TDepart::TitleDblClick(int position)
{
    Tsample* clip = m_montage.ClipAt(position);
    if (!clip)
        return;
    // An empty title is accepted when renaming.
    if (const std::optional<QString> title = AskTitle(QString::fromStdString(clip->Title)))
        clip->SetTitle(title->toStdString());
}

void TDepart::DeleteClick(int position)
{
    const Tsample* asked = m_montage.ClipAt(position);
    if (!asked)
        return;
    const int slot = asked->Slot;
    if (!AskYesNo(QStringLiteral("CONFIRMATION"),
                  QStringLiteral("Etes-vous sûr de vouloir supprimer cette séquence?")))
        return;
    // While the question was open an earlier deletion may have run and moved this clip, or be still
    // waiting: the clip is found again by its slot, after the earlier one is done.
    if (Tdel->isActive()) {
        if (m_montage.ClipAt(m_montage.PendingDelete) == asked)
            return; // already on its way
        TdelTimer();
    }
    if (m_montage.ClipSlots[static_cast<std::size_t>(slot)].get() != asked)
        return;
    // Not here: this runs inside the clip's own button, whose panel the deletion destroys.
    m_montage.PendingDelete = asked->Position;
    Tdel->start();
}

void TDepart::TdelTimer()
{
    Tdel->stop();
    m_montage.DeletePending();
    resizeStrip();
}

void TDepart::BwaveClick()
{
    if (m_montage.ClipCount == 0)
        return;
    QFileDialog dialog(this, QStringLiteral("Enregistrer le montage"), QString(),
                       QStringLiteral("Fichiers wave (*.wav)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("wav"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    const QString previous = QString::fromStdString(m_montage.WaveExportFileName);
    if (!previous.isEmpty())
        dialog.selectFile(previous);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const BusyCursor busy;
    m_montage.ExportWave(QFile::encodeName(dialog.selectedFiles().constFirst()).toStdString());
}

// ---- Montage playback -----------------------------------------------------------------------------

void TDepart::BjTClick()
{
    if (m_montage.ClipCount == 0)
        return;
    stopPlayer(BjoueB, AP, joueB);
    stopPlayer(BjoueV, APS, joueV);
    if (Tag(BjT) != 0) {
        BjT->setIcon(Ijjaune);
        AP3.SetActive(false);
        SetTag(BjT, 0);
        return;
    }
    AP3.SetWave(&m_montage.WT.Wave());
    AP3.SetActive(true);
    // The pause glyph once the device plays: a refusal leaves the button as it was.
    BjT->setIcon(ipausej);
    SetTag(BjT, 1);
}

void TDepart::AP3Deactivate()
{
    if (Tag(BjT) == 1) {
        BjT->setIcon(Ijjaune);
        if (AP3.Active())
            AP3.SetActive(false);
        SetTag(BjT, 0);
    }
}

void TDepart::PlayClick(int position)
{
    Tsample* clip = m_montage.ClipAt(position);
    if (!clip || !clip->View)
        return;
    auto* panel = static_cast<PanelView*>(clip->View.get())->panel();
    if (panel->PlayButton->property("Tag").toInt() != 0) {
        AP2.SetActive(false);
        clip->View->ShowPlaying(false);
        m_montage.PlayingSlot = -1;
        return;
    }
    // A clip already playing stops here; its button comes back through AP2Deactivate.
    AP2.SetWave(&clip->Storage.Wave());
    AP2.SetActive(true);
    clip->View->ShowPlaying(true);
    m_montage.PlayingSlot = clip->Slot;
}

void TDepart::AP2Deactivate()
{
    if (m_montage.PlayingSlot < 0)
        return;
    // The clip may have gone (deleted, or the montage cleared) while it played.
    Tsample* clip = m_montage.ClipSlots[static_cast<std::size_t>(m_montage.PlayingSlot)].get();
    if (clip && clip->View)
        clip->View->ShowPlaying(false);
    m_montage.PlayingSlot = -1;
}

// ---- Project files --------------------------------------------------------------------------------

bool TDepart::ConfirmUnsaved(const QString& text)
{
    return m_montage.MontageSaved || AskYesNo(QStringLiteral("ALERTE"), text);
}

void TDepart::BnewClick()
{
    if (!ConfirmUnsaved(QStringLiteral("Le montage en cours n'a pas été enregistré. Continuer quand même ?")))
        return;
    clearMontage();
    m_montage.MontageSaved = true;
}

void TDepart::clearMontage()
{
    // The montage and its clips stop before they go, and their buttons come back to rest.
    stopPlayer(BjT, AP3, Ijjaune);
    if (AP2.Active())
        AP2.SetActive(false);
    m_montage.FreeAllClips();
    showEmptyMontage();
}

void TDepart::showEmptyMontage()
{
    BjT->setEnabled(false);
    Label12->setText(QString());
    montageControlsEnabled(false);
    PB2->Blank(QColor(255, 255, 210));
    resizeStrip();
}

void TDepart::SpeedButton1Click()
{
    if (!ConfirmUnsaved(QStringLiteral("Le montage en cours n'a pas été enregistré. Continuer quand même ?")))
        return;
    const QString fileName = QFileDialog::getOpenFileName(
        this, QStringLiteral("Ouvrir un montage"), QString(), QStringLiteral("Projets Sonalto (*.snt)"));
    if (!fileName.isEmpty())
        OpenProject(fileName);
}

void TDepart::OpenProject(const QString& fileName)
{
    const BusyCursor busy;
    // The whole file is read first: one that cannot be read, or that ends inside a record, leaves the
    // montage on screen as it was.
    TMemoryStream file;
    ReadProjectFile(QFile::encodeName(fileName).toStdString(), file);
    clearMontage();
    const auto showMessage = [](const std::string& text) { ShowMessage(QString::fromStdString(text)); };
    TDecodeProgressDialog progress(this, QStringLiteral("Ouverture du montage en cours..."));
    try {
        LoadProjectFromStream(m_montage, file, showMessage,
                              [&progress](double done) { return progress(done); });
    } catch (...) {
        resizeStrip(); // the clips read before the error stay in the strip
        throw;
    }
    if (m_montage.ClipCount == 0)
        showEmptyMontage();
    resizeStrip();
}

void TDepart::BsauverClick()
{
    if (m_montage.ClipCount == 0)
        return;
    QFileDialog dialog(this, QStringLiteral("Enregistrer le montage"), QString(),
                       QStringLiteral("Fichiers Sonalto (*.snt)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("snt"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!m_montage.ProjectFileName.empty())
        dialog.selectFile(QString::fromStdString(m_montage.ProjectFileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    SaveProjectAs(dialog.selectedFiles().constFirst());
}

void TDepart::SaveProjectAs(const QString& fileName)
{
    const BusyCursor busy;
    const std::string path = QFile::encodeName(fileName).toStdString();
    SaveProject(m_montage, path);
    m_montage.ProjectFileName = path;
    m_montage.MontageSaved = true;
}

void TDepart::AproposdeSonalto1Click()
{
    ::AproposdeSonalto1Click(this);
}

void TDepart::SetMp3Dialog(TFmp3* dialog)
{
    m_mp3Dialog = dialog;
    dialog->showHint = [this](const QString& hint) { Laide->setText(hint); };
}

void TDepart::Bmp3Click()
{
    if (m_mp3Dialog)
        ExportMp3(*m_mp3Dialog, m_montage);
}
