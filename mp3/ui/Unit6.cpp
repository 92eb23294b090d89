#include "mp3/ui/Unit6.h"

#include "montage/Montage.h"
#include "platform/io/Stream.h"
#include "widgets/Dialogs.h"
#include "widgets/Look.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QFile>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QToolButton>

namespace {

const char* const SpeedButton4Hint = " Choix du fichier de sauvegarde";

QLabel* label(QWidget* parent, const char* name, const QString& caption, QRect bounds,
              Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter)
{
    auto* l = new QLabel(caption, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(bounds);
    l->setAlignment(alignment);
    return l;
}

QComboBox* dropDownList(QWidget* parent, const char* name, QRect bounds, const QStringList& items)
{
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(bounds);
    box->setEditable(false);
    box->addItems(items);
    box->setMaxVisibleItems(static_cast<int>(items.size()));
    return box;
}

// The output path, wrapped anywhere (a path has few spaces); a path longer than the label shows its end,
// where the file name is.
class PathLabel : public QLabel
{
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* /*event*/) override
    {
        QPainter painter(this);
        const QRect area = contentsRect();
        const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWrapAnywhere;
        const QFontMetrics metrics = fontMetrics();
        const auto fits = [&](const QString& s) {
            return metrics.boundingRect(area, flags, s).height() <= area.height();
        };
        const QString whole = text();
        QString shown = whole;
        if (!fits(whole)) {
            qsizetype low = 0;
            qsizetype high = whole.size();
            while (low < high) {
                const qsizetype mid = (low + high + 1) / 2;
                if (fits(QChar(0x2026) + whole.right(mid)))
                    low = mid;
                else
                    high = mid - 1;
            }
            shown = QChar(0x2026) + whole.right(low);
        }
        painter.setPen(palette().color(foregroundRole()));
        painter.drawText(area, flags, shown);
    }
};

std::string fileNameOf(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

} // namespace

// ---- The save-file dialog -------------------------------------------------------------------------

// ---- The dialog -----------------------------------------------------------------------------------

TFmp3::TFmp3(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("Fmp3"));
    setWindowTitle(QStringLiteral("Sauvegarde mp3"));
    setFixedSize(217, 168);
    setFont(SansFont(11));

    Label1 = label(this, "Label1", QStringLiteral("Sauvegarder sous :"), {8, 8, 129, 17});

    Lmp3 = new PathLabel(this);
    Lmp3->setObjectName(QStringLiteral("Lmp3"));
    Lmp3->setGeometry(8, 24, 201, 33);
    Lmp3->setTextFormat(Qt::PlainText);
    Lmp3->setWordWrap(true);
    Lmp3->setFont(SansFont(13));

    SpeedButton4 = new QToolButton(this);
    SpeedButton4->setObjectName(QStringLiteral("SpeedButton4"));
    SpeedButton4->setGeometry(136, 4, 25, 25);
    SpeedButton4->setIcon(QIcon(QStringLiteral(":/icons/open.svg")));
    SpeedButton4->setIconSize(QSize(18, 18));
    SpeedButton4->setAutoRaise(true);
    SpeedButton4->setCursor(Qt::PointingHandCursor);
    SpeedButton4->setFocusPolicy(Qt::NoFocus);
    // The hint goes to the main window's status line, never into a tooltip.
    SpeedButton4->setProperty("hint", QString::fromUtf8(SpeedButton4Hint));
    SpeedButton4->setMouseTracking(true);
    SpeedButton4->installEventFilter(this);

    GroupBox1 = new QGroupBox(QStringLiteral("Paramètres"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 58, 201, 73);
    Label3 = label(GroupBox1, "Label3", QStringLiteral("Débit :"), {8, 20, 57, 21},
                   Qt::AlignRight | Qt::AlignVCenter);
    QStringList bitrates;
    for (const std::uint32_t rate : Mp3Bitrates)
        bitrates << QString::number(rate);
    CBoxBitRate = dropDownList(GroupBox1, "CBoxBitRate", {72, 20, 57, 21}, bitrates);
    Label2 = label(GroupBox1, "Label2", QStringLiteral("Kbit / s"), {136, 20, 57, 21});
    Label5 = label(GroupBox1, "Label5", QStringLiteral("Qualité :"), {8, 45, 57, 21},
                   Qt::AlignRight | Qt::AlignVCenter);
    QStringList qualities;
    for (const char* name : Mp3QualityNames)
        qualities << QString::fromUtf8(name);
    CBoxQuality = dropDownList(GroupBox1, "CBoxQuality", {72, 45, 81, 21}, qualities);

    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setGeometry(8, 138, 201, 25);
    SpeedButton1->setText(QStringLiteral("ENREGISTRER EN MP3"));
    SpeedButton1->setFont(SansFont(11, true));
    SpeedButton1->setCursor(Qt::PointingHandCursor);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    SetTextColour(SpeedButton1, QColor(0, 0, 255));

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(SpeedButton1->geometry());
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setFormat(QStringLiteral("%p %"));
    ProgressBar1->setAlignment(Qt::AlignCenter);
    ProgressBar1->hide();

    SDM.Title = QStringLiteral("Enregistrer le montage au format mp3");
    SDM.Filter = QStringLiteral("Fichiers mp3 (*.mp3)");
    SDM.DefaultExt = QStringLiteral("mp3");

    Lame.DefaultExt = ".mp3";
    Lame.OnProgress = [this](TLameCoder*, std::uint16_t percent) { LameProgress(percent); };

    connect(SpeedButton4, &QToolButton::clicked, this, [this] { Guarded([&] { SpeedButton4Click(); }); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { Guarded([&] { SpeedButton1Click(); }); });

    FormCreate();
}

TFmp3::~TFmp3() = default;

void TFmp3::FormCreate()
{
    CBoxBitRate->setCurrentIndex(0);
    CBoxQuality->setCurrentIndex(0);
}

void TFmp3::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CenterOnScreen(this);
}

bool TFmp3::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == SpeedButton4) {
        if (event->type() == QEvent::ToolTip)
            return true;
        if (event->type() == QEvent::MouseMove)
            SpeedButton4MouseMove();
    }
    return QDialog::eventFilter(watched, event);
}

void TFmp3::SpeedButton4MouseMove()
{
    if (showHint)
        showHint(SpeedButton4->property("hint").toString());
}

void TFmp3::SpeedButton4Click()
{
    if (SDM.Execute(this))
        Lmp3->setText(SDM.FileName);
}

bool TFmp3::PrepareExport(TMontage& montage)
{
    if (montage.ClipCount == 0)
        return false;
    m_montage = &montage;
    const QString wave = QFile::decodeName(montage.WaveExportFileName.c_str());
    if (!wave.isEmpty()) {
        // The last four characters are taken for the extension, whatever they are.
        SDM.FileName = (wave.size() > 4 ? wave.left(wave.size() - 4) : QString()) + QStringLiteral(".mp3");
        SDM.InitialDir = wave.left(wave.lastIndexOf(QLatin1Char('/')) + 1);
    } else {
        SDM.FileName.clear();
    }
    Lmp3->setText(SDM.FileName);
    return true;
}

void TFmp3::SpeedButton1Click()
{
    if (m_exporting || !m_montage)
        return;
    if (Lmp3->text().isEmpty() && SDM.Execute(this))
        Lmp3->setText(SDM.FileName);
    if (Lmp3->text().isEmpty()) {
        ShowMessage(QStringLiteral("Pas de fichier sélectionné !"));
        return;
    }

    m_busy = std::make_unique<BusyCursor>();
    setExporting(true);
    try {
        // A render under way is finished first: the export holds the whole montage.
        const TMp3Choice choice{CBoxBitRate->currentText().toUInt(),
                                static_cast<MPEG_QUALITY>(CBoxQuality->currentIndex())};
        ExportWaveAsMp3(m_montage->RenderedMontage(), fileNameOf(Lmp3->text()), choice, W3, Lame);
    } catch (...) {
        setExporting(false);
        m_busy.reset();
        throw;
    }
    LameEndProcess();
}

void TFmp3::LameProgress(std::uint16_t percent)
{
    ProgressBar1->setValue(percent);
}

void TFmp3::LameEndProcess()
{
    m_busy.reset();
    setExporting(false);
    done(Accepted);
}

void TFmp3::setExporting(bool exporting)
{
    m_exporting = exporting;
    SpeedButton1->setEnabled(!exporting);
    SpeedButton4->setEnabled(!exporting);
    ProgressBar1->setValue(0);
    ProgressBar1->setVisible(exporting);
    if (exporting)
        ProgressBar1->raise();
}

void TFmp3::reject()
{
    if (!m_exporting)
        QDialog::reject();
}

void TFmp3::closeEvent(QCloseEvent* event)
{
    if (m_exporting)
        event->ignore();
    else
        QDialog::closeEvent(event);
}

// ---- The main window's command --------------------------------------------------------------------

void ExportMp3(TFmp3& dialog, TMontage& montage)
{
    if (dialog.PrepareExport(montage))
        dialog.exec();
}
