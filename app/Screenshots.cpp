// Pictures of the real windows for the README and the help pages, taken offscreen:
//   sonalto_screenshots FOLDER [HELP_PICTURES_FOLDER]
// For the README the main window is shown at 1280 x 800 with a generated recording loaded and part of it
// selected. For the help pages (resources/aide/images) it is shown at 800 x 600, the smallest size its
// layout is made for, and pictures of the whole window are scaled to the width of the help window.
#include "app/Unit1.h"
#include "audio/WaveStorage.h"
#include "editor/ui/WaveformBox.h"
#include "montage/ui/ClipPanel.h"
#include "montage/ui/OverviewBox.h"
#include "montage/ui/Unit3.h"
#include "mp3/ui/Unit6.h"
#include "platform/sound/virtual/VirtualMixer.h"
#include "recording/ui/Unit2.h"
#include "widgets/Application.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTemporaryDir>
#include <QToolButton>
#include <cmath>
#include <cstdio>

namespace {

// Eight seconds of "speech": bursts of a few harmonics with a syllable-like envelope.
QString makeRecording(const QString& folder)
{
    TWaveFormatEx format{};
    PCMFormatToWaveFormat(format, Mono16bit22050Hz);
    TWave wave;
    RiffChunkInfo riff;
    RiffChunkInfo data;
    auto handle = BeginStreamWave(wave, format, riff, data);
    const int rate = 22050;
    for (int i = 0; i < rate * 8; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double syllable =
            std::pow(std::max(0.0, std::sin(M_PI * t * 2.3)), 2) * (0.5 + 0.5 * std::sin(t * 0.9));
        const double voice = std::sin(2 * M_PI * 180 * t) + 0.5 * std::sin(2 * M_PI * 360 * t + 1) +
                             0.3 * std::sin(2 * M_PI * 540 * t + 2);
        const auto v = static_cast<std::int16_t>(11000 * syllable * voice);
        handle->Write(&v, 2);
    }
    EndWaveWriting(std::move(handle), riff, data);
    const QString path = folder + QStringLiteral("/exemple.wav");
    wave.SaveToFile(QFile::encodeName(path).toStdString());
    return path;
}

// ---- Pictures of the help pages ---------------------------------------------------------------------

// The widest picture the help window shows beside its scroll bar.
const int HelpWidth = 600;

class HelpPictures
{
public:
    explicit HelpPictures(QString folder) : m_folder(std::move(folder)) {}

    // Saved as compact PNG files, without an alpha channel.
    void save(const QImage& image, const char* name) const
    {
        const QString path = m_folder + QLatin1Char('/') + QString::fromLatin1(name);
        if (!image.convertToFormat(QImage::Format_RGB888).save(path, "PNG", 0))
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    }

    static QImage fitWidth(const QImage& image)
    {
        return image.width() <= HelpWidth ? image : image.scaledToWidth(HelpWidth, Qt::SmoothTransformation);
    }

private:
    QString m_folder;
};

// The window as it is drawn now.
QImage grabWindow(QWidget& window)
{
    QCoreApplication::processEvents();
    return window.grab().toImage();
}

// The bounds of some controls within the window, with a margin around them.
QRect around(QWidget& window, std::initializer_list<const QWidget*> controls, int margin = 4)
{
    QRect bounds;
    for (const QWidget* control : controls)
        bounds |= QRect(control->mapTo(&window, QPoint(0, 0)), control->size());
    return bounds.adjusted(-margin, -margin, margin, margin) & window.rect();
}

// A numbered red disc pointing at a part of the window.
void drawMarker(QPainter& painter, QPointF centre, int number)
{
    painter.setPen(QPen(QColor(32, 32, 32), 1.5));
    painter.setBrush(QColor(211, 47, 47));
    painter.drawEllipse(centre, 10, 10);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(centre.x() - 10, centre.y() - 10, 20, 20), Qt::AlignCenter,
                     QString::number(number));
}

// A small caption in a box at a height, to the left or the right of x.
void drawCaption(QPainter& painter, double x, double y, bool leftOfX, const QString& text)
{
    const double width = painter.fontMetrics().horizontalAdvance(text) + 10;
    const QRectF box(leftOfX ? x - width - 4 : x + 4, y, width, 18);
    painter.setPen(QColor(32, 32, 32));
    painter.setBrush(QColor(255, 255, 255, 230));
    painter.drawRect(box);
    painter.drawText(box, Qt::AlignCenter, text);
}

QFont markerFont()
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    font.setBold(true);
    return font;
}

void mouseOver(QWidget* control)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(4, 4), control->mapToGlobal(QPointF(4, 4)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(control, &move);
}

void takeHelpPictures(const QString& folder)
{
    QDir().mkpath(folder);
    const HelpPictures pictures(folder);
    QTemporaryDir work;

    TDepart Depart;
    Depart.FormCreate(QRect(0, 0, 800, 600));
    Depart.show();

    // The program's icon, for the contents page.
    QImage logo(64, 64, QImage::Format_ARGB32);
    logo.fill(Qt::white);
    {
        QPainter painter(&logo);
        Depart.windowIcon().paint(&painter, logo.rect());
    }
    pictures.save(logo, "logo.png");

    // The glyphs of the help window's toolbar, on its silver background.
    for (const auto& [icon, file] :
         {std::pair{"help-contents.svg", "aide-sommaire.png"},
          std::pair{"help-back.svg", "aide-precedente.png"},
          std::pair{"help-forward.svg", "aide-suivante.png"},
          std::pair{"help-page-setup.svg", "aide-mise-en-page.png"},
          std::pair{"help-print.svg", "aide-imprimer.png"}, std::pair{"help-mail.svg", "aide-auteurs.png"}}) {
        QImage glyph(25, 25, QImage::Format_ARGB32);
        glyph.fill(QColor(192, 192, 192));
        QPainter painter(&glyph);
        QIcon(QStringLiteral(":/icons/") + QString::fromLatin1(icon)).paint(&painter, QRect(3, 3, 18, 18));
        painter.end();
        pictures.save(glyph, file);
    }

    // The menus, as they unfold under their titles.
    for (const auto& [menuName, file] :
         {std::pair{"Fichier1", "menu-montage.png"}, std::pair{"Squences1", "menu-enregistrement.png"},
          std::pair{"Aide1", "menu-aide.png"}}) {
        auto* menu = Depart.menuBar()->findChild<QMenu*>(QString::fromLatin1(menuName));
        if (!menu)
            continue;
        menu->adjustSize();
        pictures.save(menu->grab().toImage(), file);
    }

    // The editor's toolbar, and the status line showing the hint of the button under the mouse.
    mouseOver(Depart.BjoueB);
    QImage window = grabWindow(Depart);
    pictures.save(window.copy(around(Depart, {Depart.SpeedButton7, Depart.SpeedButton8})),
                  "barre-outils.png");
    pictures.save(window.copy(QRect(0, around(Depart, {Depart.Laide}).y(), 420, Depart.Laide->height() + 8)),
                  "ligne-aide.png");

    // A recording loaded, a stretch selected with the left (start) and right (end) buttons.
    Depart.LoadRecording(makeRecording(work.path()));
    TEditor& editor = Depart.Editor();
    editor.SelStart = 22050 * 2;
    editor.SelEnd = 22050 * 4 + 11025;
    Depart.PBPaint();
    window = grabWindow(Depart);
    pictures.save(window.copy(around(Depart, {Depart.Label1, Depart.Label11, Depart.Baide})),
                  "informations.png");
    {
        const QRect box = around(Depart, {Depart.PB, Depart.SB});
        QImage selection = HelpPictures::fitWidth(window.copy(box));
        const double k = static_cast<double>(selection.width()) / box.width();
        QPainter painter(&selection);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setFont(markerFont());
        const double pb = Depart.PB->mapTo(&Depart, QPoint(0, 0)).x() - box.x();
        const double start = (pb + editor.SelStart * editor.Scale) * k;
        const double end = (pb + editor.SelEnd * editor.Scale) * k;
        drawCaption(painter, start, 10, true, QStringLiteral("clic gauche ▶"));
        drawCaption(painter, end, 10, false, QStringLiteral("◀ clic droit"));
        painter.end();
        pictures.save(selection, "selection.png");
    }

    Depart.SpeedButton8Click();
    window = grabWindow(Depart);
    pictures.save(HelpPictures::fitWidth(window.copy(around(Depart, {Depart.PB, Depart.SB}))), "zoom.png");
    Depart.SpeedButton9Click();

    // The title dialog, as adding the selection shows it.
    {
        TFedit Fedit;
        Fedit.Edit->setText(QStringLiteral("Extrait n° 1"));
        Fedit.show();
        Fedit.FormShow();
        pictures.save(grabWindow(Fedit), "titre-extrait.png");
    }

    // The recording window while it records, on a card of three sources as a classroom computer lists them.
    {
        SetCurrentMixerBackend(std::make_shared<VirtualMixerBackend>(std::vector<VirtualMixerBackend::Device>{
            VirtualMixerBackend::Card("Audio interne", {"Microphone interne", "Entrée ligne",
                                                        "Moniteur de Audio interne Stéréo analogique"})}));
        TFenr Fenr;
        Fenr.CB->setCurrentIndex(1);
        Fenr.CBChange();
        Fenr.VOl->setValue(70);
        Fenr.ARLevel(62);
        Fenr.show();
        pictures.save(grabWindow(Fenr), "fenetre-enregistrement.png");
    }

    // A montage of three extracts: a fade at the start, a crossfade of two seconds, a fade at the end.
    TMontage& montage = Depart.Montage();
    const std::string source = editor.SourceFileName;
    montage.AddClip("Bonjour", editor.WS1.Wave(), source, 0, 2300);
    montage.AddClip("La classe", editor.WS1.Wave(), source, 2300, 5200);
    montage.AddClip("Au revoir", editor.WS1.Wave(), source, 5200, 8000);
    montage.CycleFadeIn(0);  // 1 -> 0: from silence
    montage.CycleFadeOut(0); // 1 -> 2: crossfade into the second
    montage.SetFadeOutSeconds(0, 2);
    montage.CycleFadeOut(2); // 1 -> 2, refused at the end: 0, to silence
    montage.CompleteRender();
    mouseOver(Depart.Bajoute);
    window = grabWindow(Depart);

    pictures.save(window.copy(around(Depart, {Depart.Bnew, Depart.Bsauver})), "barre-montage.png");
    pictures.save(window.copy(around(Depart, {Depart.Bajoute})), "bouton-ajouter.png");
    pictures.save(window.copy(around(Depart, {Depart.BjT, Depart.Label12})), "barre-export.png");
    pictures.save(HelpPictures::fitWidth(window.copy(around(Depart, {Depart.PB2}))), "apercu-montage.png");

    // The MP3 save dialog, after a WAV export of the montage proposed its name.
    {
        TFmp3 Fmp3;
        montage.WaveExportFileName = "/home/eleve/Documents/sortie-au-musee.wav";
        Fmp3.PrepareExport(montage);
        Fmp3.show();
        pictures.save(grabWindow(Fmp3), "sauvegarde-mp3.png");
        montage.WaveExportFileName.clear();
    }
    if (QWidget* last = Depart.PanelAt(2)) {
        pictures.save(window.copy(around(Depart, {Depart.SSgauche, last})), "bande-montage.png");
        pictures.save(window.copy(around(Depart, {last}, 0)), "extrait.png");
    }
    // The pictures of the fade kinds, as the panels show them: the first clip fades in from silence and
    // crosses into the second, the second goes on at full level, the third ends with a fade to silence.
    const auto fadePicture = [&](int position, bool fadeIn, const char* file) {
        auto* panel = static_cast<TClipPanel*>(Depart.PanelAt(position));
        if (panel)
            pictures.save(window.copy(around(Depart, {fadeIn ? panel->FadeInImage : panel->FadeOutImage}, 0)),
                          file);
    };
    fadePicture(0, true, "fondu-entree.png");
    fadePicture(2, true, "sans-filtre-entree.png");
    fadePicture(1, true, "enchaine-entree.png");
    fadePicture(2, false, "fondu-sortie.png");
    fadePicture(1, false, "sans-filtre-sortie.png");
    fadePicture(0, false, "enchaine-sortie.png");

    // The whole window, its parts numbered as the first help page describes them.
    {
        QImage whole = HelpPictures::fitWidth(window);
        const double k = static_cast<double>(whole.width()) / window.width();
        QPainter painter(&whole);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setFont(markerFont());
        const auto at = [&](const QWidget* control, double dx, double dy) {
            const QPoint p = control->mapTo(&Depart, QPoint(0, 0));
            return QPointF(p.x() * k + dx, p.y() * k + dy);
        };
        drawMarker(painter, at(Depart.SpeedButton8, 40, 8), 1);
        drawMarker(painter, at(Depart.Label1, -14, 8), 2);
        drawMarker(painter, at(Depart.PB, 16, 16), 3);
        drawMarker(painter, at(Depart.Bsauver, 40, 8), 4);
        drawMarker(painter, at(Depart.SB1, 16 + 3 * 120 * k + 12, 20), 5);
        drawMarker(painter, at(Depart.PB2, 16, 16), 6);
        drawMarker(painter, at(Depart.Laide, 330, 7), 7);
        painter.end();
        pictures.save(whole, "fenetre-principale.png");
    }
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s FOLDER [HELP_PICTURES_FOLDER]\n", argv[0]);
        return 2;
    }
    TApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);

    TDepart Depart;
    Depart.FormCreate(QRect(0, 0, 1280, 800));
    Depart.show();
    Depart.grab().save(folder + QStringLiteral("/fenetre-vide.png"));

    Depart.LoadRecording(makeRecording(folder));
    TEditor& editor = Depart.Editor();
    editor.SelStart = 22050 * 2;
    editor.SelEnd = 22050 * 4 + 11025;
    Depart.PBPaint();
    Depart.grab().save(folder + QStringLiteral("/fenetre-enregistrement.png"));
    Depart.SpeedButton8Click();
    Depart.grab().save(folder + QStringLiteral("/zoom-selection.png"));

    // A montage of three extracts, a fade at the start, a crossfade, a fade at the end.
    Depart.SpeedButton9Click();
    TMontage& montage = Depart.Montage();
    const std::string source = editor.SourceFileName;
    montage.AddClip("Bonjour", editor.WS1.Wave(), source, 0, 2300);
    montage.AddClip("La classe", editor.WS1.Wave(), source, 2300, 5200);
    montage.AddClip("Au revoir", editor.WS1.Wave(), source, 5200, 8000);
    montage.CycleFadeIn(0);  // 1 -> 0: from silence
    montage.CycleFadeOut(0); // 1 -> 2: crossfade into the second
    montage.CycleFadeOut(2); // 1 -> 2, refused at the end: 0, to silence
    montage.CompleteRender();
    QCoreApplication::processEvents();
    Depart.grab().save(folder + QStringLiteral("/montage.png"));

    if (argc == 3)
        takeHelpPictures(QString::fromLocal8Bit(argv[2]));
    return 0;
}
