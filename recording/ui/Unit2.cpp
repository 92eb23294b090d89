#include "recording/ui/Unit2.h"

#include "recording/ui/StxVumeter.h"
#include "widgets/Look.h"

#include <QComboBox>
#include <QEvent>
#include <QFile>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QSlider>
#include <QToolButton>

namespace {

const char* const Caption = "Enregistrement";
const char* const StartHint = " Démarrer l'enregistrement";
const char* const StopHint = "Arrêter l'enregistrement";
const char* const RestartHint = "Démarrer l'enregistrement";
const char* const TransferHint = " Transférer dans la console de montage";
const char* const GroupBoxHint = " Réglages de l'enregistrement";

const QColor Blue(0, 0, 255);
const QColor Maroon(128, 0, 0);
const QColor Navy(0, 0, 128);

QLabel* label(QWidget* parent, const char* name, const QString& caption, QRect bounds,
              Qt::Alignment alignment, const QColor& colour)
{
    auto* l = new QLabel(caption, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(bounds);
    l->setAlignment(alignment);
    SetTextColour(l, colour, true);
    return l;
}

QPixmap picture(const char* name, int size)
{
    return QIcon(QStringLiteral(":/icons/") + QString::fromLatin1(name)).pixmap(size, size);
}

// A hidden image control holding a picture for Benr.
QLabel* hiddenImage(QWidget* parent, const char* name, const QPixmap& pixmap)
{
    auto* image = new QLabel(parent);
    image->setObjectName(QString::fromLatin1(name));
    image->setPixmap(pixmap);
    image->resize(pixmap.size());
    image->hide();
    return image;
}

} // namespace

TFenr::TFenr(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("Fenr"));
    setWindowTitle(QString::fromUtf8(Caption));
    setFixedSize(288, 144);
    setFont(SansFont(11));
    setMouseTracking(true);

    GroupBox1 = new QGroupBox(QStringLiteral("Signal"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 8, 241, 97);
    SetTextColour(GroupBox1, Blue, true);
    GroupBox1->setMouseTracking(true);
    GroupBox1->installEventFilter(this);

    Label1 = label(GroupBox1, "Label1", QStringLiteral("Source: "), {8, 22, 53, 17},
                   Qt::AlignRight | Qt::AlignVCenter, Maroon);

    CB = new QComboBox(GroupBox1);
    CB->setObjectName(QStringLiteral("CB"));
    CB->setGeometry(64, 20, 161, 21);
    CB->setEditable(false);
    SetTextColour(CB, Blue, true);
    CB->setProperty("hint", QStringLiteral("Choix de la source d'enregistrement"));

    Label2 = label(GroupBox1, "Label2", QStringLiteral("Volume:"), {4, 60, 49, 17},
                   Qt::AlignRight | Qt::AlignVCenter, Maroon);

    VOl = new QSlider(Qt::Horizontal, GroupBox1);
    VOl->setObjectName(QStringLiteral("VOl"));
    VOl->setGeometry(56, 48, 177, 41);
    VOl->setRange(0, 100);
    VOl->setSingleStep(1);
    VOl->setPageStep(2);
    VOl->setTickPosition(QSlider::TicksBothSides);
    VOl->setTickInterval(10);
    VOl->setProperty("hint", QStringLiteral("Réglage du volume d'enregistrement"));

    VM = new TStxVumeter(this);
    VM->setObjectName(QStringLiteral("VM"));
    VM->setGeometry(256, 24, 25, 113);
    VM->SetStyle(deThinSunken);
    VM->SetMaxValue(100);
    VM->SetPosition(0);
    VM->SetTopSpace(4);
    VM->SetBottomSpace(4);
    VM->SetLeftSpace(3);
    VM->SetRightSpace(4);
    VM->SetBackColor(QColor(192, 192, 192));
    VM->SetActiveColor(QColor(0, 255, 0));
    VM->SetInactiveColor(QColor(0, 128, 0));
    VM->SetSingleColumn(true);
    VM->SetElementHeight(4);
    VM->SetBlancHeight(0);
    VM->SetSeparatorWidth(0);
    VM->setProperty("hint", QStringLiteral("Niveau sonore de l'enregistrement"));

    Label3 = label(this, "Label3", QStringLiteral("00"), {256, 4, 25, 21},
                   Qt::AlignHCenter | Qt::AlignVCenter, Navy);
    Label3->setFont(SansFont(11, true));

    m_startGlyph = picture("record.svg", 18);
    Pause = hiddenImage(this, "Pause", picture("pause.svg", 19));
    Image1 = hiddenImage(this, "Image1", picture("record.svg", 15));

    Benr = new QToolButton(this);
    Benr->setObjectName(QStringLiteral("Benr"));
    Benr->setGeometry(192, 112, 25, 25);
    Benr->setCursor(Qt::PointingHandCursor);
    Benr->setFocusPolicy(Qt::NoFocus);
    setGlyph(m_startGlyph);
    setHint(Benr, QString::fromUtf8(StartHint));
    setTag(0);

    btransfert = new QToolButton(this);
    btransfert->setObjectName(QStringLiteral("btransfert"));
    btransfert->setGeometry(224, 112, 25, 25);
    btransfert->setCursor(Qt::PointingHandCursor);
    btransfert->setFocusPolicy(Qt::NoFocus);
    btransfert->setIcon(QIcon(picture("transfer.svg", 18)));
    btransfert->setIconSize(QSize(18, 18));
    setHint(btransfert, QString::fromUtf8(TransferHint));

    // A move over any control stops there: the hinted ones show their hint, the others leave the status line
    // as it is, instead of passing the move on to the group box or the window.
    for (QWidget* control : findChildren<QWidget*>())
        control->setAttribute(Qt::WA_NoMousePropagation);

    SD.Title = QStringLiteral("Enregistrer sous");
    SD.DefaultExt = QStringLiteral("wav");
    SD.Filter = QStringLiteral("Fichiers Wave (*.wav)");

    AM.SetDestinationID(1);

    AR.SetPCMFormat(Mono16bit22050Hz);
    AR.SetBufferLength(100);
    AR.OnLevel = [this](TWaveAudioIO* /*sender*/, int level) { ARLevel(level); };

    // Only a choice of the user runs CBChange: the list's own selection changes (the first item added) do
    // not.
    connect(CB, &QComboBox::activated, this, [this] { Guarded([&] { CBChange(); }); });
    connect(VOl, &QSlider::valueChanged, this, [this] { Guarded([&] { VOlChange(); }); });
    connect(Benr, &QToolButton::clicked, this, [this] { Guarded([&] { BenrClick(); }); });
    connect(btransfert, &QToolButton::clicked, this, [this] { Guarded([&] { btransfertClick(); }); });

    FormCreate();
}

TFenr::~TFenr()
{
    // A recording still under way is completed by the recorder as it goes, first of the members; its last
    // level report has no window left to show it.
    AR.OnLevel = nullptr;
}

void TFenr::FormCreate()
{
    const int count = static_cast<int>(AM.LineCount());
    for (int i = 0; i < count; ++i)
        CB->addItem(QString::fromStdString(AM.Lines(i)->Name()));
    CB->setCurrentIndex(0);
    CBChange();
    AR.SetPCMFormat(Mono16bit22050Hz);
}

void TFenr::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CenterOnScreen(this);
}

// ---- Source and volume ----------------------------------------------------------------------------

void TFenr::CBChange()
{
    const int index = CB->currentIndex();
    if (index < 0)
        return;
    if (TAudioMixerLine* destination = AM.DestinationLine())
        destination->SelectSource(index);
    VOl->setValue(AM.Lines(index)->Volume());
}

void TFenr::VOlChange()
{
    const int index = CB->currentIndex();
    if (index < 0)
        return;
    AM.Lines(index)->SetVolume(VOl->value());
}

// ---- Recording ------------------------------------------------------------------------------------

int TFenr::Tag() const
{
    return Benr->property("Tag").toInt();
}

void TFenr::setTag(int tag)
{
    Benr->setProperty("Tag", tag);
}

void TFenr::setGlyph(const QPixmap& picture)
{
    Benr->setIcon(QIcon(picture));
    Benr->setIconSize(picture.size());
}

void TFenr::BenrClick()
{
    if (Tag() == 1) {
        setGlyph(Image1->pixmap());
        // A recorder that closed by itself (a full disk) has nothing left to stop.
        if (AR.Active())
            AR.Stop();
        setTag(0);
        Benr->setProperty("hint", QString::fromUtf8(RestartHint));
        m_recordingMade = true;
        btransfert->setEnabled(true);
        return;
    }

    if (CB->currentIndex() < 0) {
        QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(Caption),
                        QStringLiteral("Sélectionnez la source!"), QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("SourceBox"));
        box.exec();
        return;
    }
    if (m_recordingMade && !AskYesNo(QString::fromUtf8(Caption),
                                     QStringLiteral("La piste en mémoire va être ecrasée. Continuer ?")))
        return;
    if (!SD.Execute(this))
        return;
    if (QFile::exists(SD.FileName) &&
        !AskYesNo(QString::fromUtf8(Caption),
                  QStringLiteral("Un fichier du même nom existe déjà. Il sera écrasé. Continuer ?")))
        return;

    bool started = false;
    try {
        setGlyph(Pause->pixmap());
        CBChange();
        setTag(1);
        Benr->setProperty("hint", QString::fromUtf8(StopHint));
        started = AR.RecordToFile(QFile::encodeName(SD.FileName).toStdString());
    } catch (...) {
        backToIdle();
        throw;
    }
    if (!started) {
        backToIdle();
        throw EWaveAudioSysError(AR.LastError() != MMSYSERR_NOERROR && !AR.LastErrorText().empty()
                                     ? AR.LastErrorText()
                                     : std::string("L'enregistrement n'a pas pu démarrer."));
    }
    btransfert->setEnabled(false);
}

void TFenr::backToIdle()
{
    setGlyph(m_startGlyph);
    setTag(0);
    Benr->setProperty("hint", QString::fromUtf8(StartHint));
    btransfert->setEnabled(true);
}

void TFenr::ARLevel(int level)
{
    VM->SetPosition(level);
    Label3->setText(QString::number(level));
    // Both show the level at once. The meter repaints itself on the write; the number is painted here rather
    // than by running the application's pending events, which could hand the recorder its next buffer while
    // this one is not yet written.
    Label3->repaint();
}

void TFenr::btransfertClick()
{
    if (!m_recordingMade)
        return;
    {
        const BusyCursor busy;
        if (loadRecording)
            loadRecording(SD.FileName);
    }
    close();
}

// ---- Hints ----------------------------------------------------------------------------------------

void TFenr::setHint(QWidget* control, const QString& hint)
{
    // The hint goes to the main window's status line, never into a tooltip.
    control->setProperty("hint", hint);
    control->setMouseTracking(true);
    control->installEventFilter(this);
}

bool TFenr::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Benr || watched == btransfert) {
        if (event->type() == QEvent::ToolTip)
            return true;
        if (event->type() == QEvent::MouseMove)
            BenrMouseMove(watched);
    } else if (watched == GroupBox1 && event->type() == QEvent::MouseMove) {
        GroupBox1MouseMove();
    }
    return QDialog::eventFilter(watched, event);
}

void TFenr::mouseMoveEvent(QMouseEvent* event)
{
    FormMouseMove();
    QDialog::mouseMoveEvent(event);
}

void TFenr::BenrMouseMove(QObject* sender)
{
    if (showHint)
        showHint(sender->property("hint").toString());
}

void TFenr::FormMouseMove()
{
    if (showHint)
        showHint(QString());
}

void TFenr::GroupBox1MouseMove()
{
    if (showHint)
        showHint(QString::fromUtf8(GroupBoxHint));
}
