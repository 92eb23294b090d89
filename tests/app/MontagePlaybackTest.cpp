// Playing the montage and single clips, the overview, and the project commands of the main window, on
// the virtual sound device and the offscreen platform.
#include "app/Unit1.h"
#include "audio/TestWaves.h"
#include "montage/ui/ClipPanel.h"
#include "montage/ui/OverviewBox.h"
#include "montage/ui/Unit3.h"
#include "platform/sound/virtual/VirtualWaveOut.h"
#include "widgets/Dialogs.h"

#include <QAction>
#include <QLabel>
#include <QTest>
#include <QToolButton>
#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

void pump()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::sendPostedEvents();
}

class MontagePlaybackTest : public testing::Test
{
protected:
    void SetUp() override
    {
        device = std::make_shared<VirtualWaveOutBackend>();
        SetCurrentWaveOutBackend(device);
        SetDialogHook([this](DialogKind kind, const QString& caption, const QString& text) {
            shown.push_back({kind, caption + " : " + text});
            return answer;
        });
        std::string pattern = testing::TempDir() + "sonalto-play-XXXXXX";
        folder = std::string(mkdtemp(pattern.data())) + "/";
        window = std::make_unique<TDepart>();
        // A work area that gives the overview box 620 x 129 pixels.
        window->FormCreate(QRect(0, 0, 644, 606));
        window->show();
    }
    void TearDown() override
    {
        window.reset();
        SetDialogHook({});
        SetCurrentWaveOutBackend(nullptr);
    }

    // A clip of count samples (sample i = i * step, 16-bit) at the end of the strip.
    Tsample& clip(const std::string& title, std::size_t count, int step = 1)
    {
        std::vector<std::int16_t> s(count);
        for (std::size_t i = 0; i < count; ++i)
            s[i] = static_cast<std::int16_t>(static_cast<int>(i) * step);
        const Bytes bytes = CanonicalWave(PcmFormat(1, 22050, 16), Pcm16(s));
        const std::string path = folder + title + ".wav";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        TMontage& m = window->Montage();
        Tsample& c =
            m.Create(title, path, 0, static_cast<std::int32_t>(count * 1000 / 22050), m.FirstFreeSlot());
        LoadBytes(c.Storage.Wave(), bytes);
        m.RestartRender();
        return c;
    }

    void playToEnd(TWaveAudioIO& player)
    {
        for (int i = 0; i < 600 && player.Active(); ++i) {
            device->Advance(100);
            pump();
        }
    }

    QToolButton* playButton(int position)
    {
        return static_cast<TClipPanel*>(window->PanelAt(position))->PlayButton;
    }

    std::shared_ptr<VirtualWaveOutBackend> device;
    std::unique_ptr<TDepart> window;
    std::string folder;
    std::vector<std::pair<DialogKind, QString>> shown;
    bool answer = true;
};

TEST_F(MontagePlaybackTest, PlayingOneClipThenAnother)
{
    Tsample& a = clip("A", 22050, 1);
    Tsample& b = clip("B", 11025, 3);
    window->PlayClick(0);
    pump();
    EXPECT_EQ(playButton(0)->text(), "||");
    EXPECT_EQ(window->Montage().PlayingSlot, a.Slot);
    window->PlayClick(1);
    pump();
    EXPECT_EQ(playButton(0)->text(), ">");
    EXPECT_EQ(playButton(0)->property("Tag").toInt(), 0);
    EXPECT_EQ(playButton(1)->text(), "||");
    EXPECT_EQ(window->Montage().PlayingSlot, b.Slot);
    playToEnd(window->AP2);
    // Only B was heard to its end; at its end its button comes back by itself.
    EXPECT_EQ(device->LastPlayed(),
              Bytes(b.Storage.Wave().Data(), b.Storage.Wave().Data() + b.Storage.Wave().DataSize()));
    EXPECT_EQ(playButton(1)->text(), ">");
    EXPECT_EQ(window->Montage().PlayingSlot, -1);
}

TEST_F(MontagePlaybackTest, DeletingTheClipBeingHeardStopsIt)
{
    clip("A", 22050 * 3, 1);
    window->PlayClick(0);
    pump();
    ASSERT_TRUE(window->AP2.Active());
    window->DeleteClick(0);
    window->TdelTimer();
    EXPECT_FALSE(window->AP2.Active());
    EXPECT_EQ(window->Montage().PlayingSlot, -1);
    EXPECT_EQ(window->Montage().ClipCount, 0);
}

TEST_F(MontagePlaybackTest, TheMontageButtonStopsTheEditorAndPlaysTheWholeMontage)
{
    std::string path = folder + "rec.wav";
    const Bytes rec = CanonicalWave(PcmFormat(1, 8000, 16), Staircase16(16000, 1));
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(rec.data()), static_cast<std::streamsize>(rec.size()));
    ASSERT_TRUE(window->LoadRecording(QString::fromStdString(path)));
    window->BjoueB->click();
    pump();
    ASSERT_EQ(TDepart::Tag(window->BjoueB), 1);
    clip("A", 22050, 2);
    clip("B", 22050, 5);
    window->Montage().CompleteRender();
    ASSERT_TRUE(window->BjT->isEnabled());
    window->BjT->click();
    EXPECT_EQ(TDepart::Tag(window->BjoueB), 0);
    EXPECT_FALSE(window->AP.Active());
    EXPECT_EQ(TDepart::Tag(window->BjT), 1);
    EXPECT_EQ(window->BjT->icon().cacheKey(), window->ipausej.cacheKey());
    playToEnd(window->AP3);
    const TWave& wt = window->Montage().WT.Wave();
    EXPECT_EQ(device->LastPlayed(), Bytes(wt.Data(), wt.Data() + wt.DataSize()));
    EXPECT_EQ(TDepart::Tag(window->BjT), 0);
    EXPECT_EQ(window->BjT->icon().cacheKey(), window->Ijjaune.cacheKey());
    // A second click while playing stops it.
    window->BjT->click();
    pump();
    window->BjT->click();
    EXPECT_FALSE(window->AP3.Active());
    EXPECT_EQ(TDepart::Tag(window->BjT), 0);
}

TEST_F(MontagePlaybackTest, OverviewDrawsOneSamplePerColumn)
{
    ASSERT_EQ(window->PB2->width(), 620);
    ASSERT_EQ(window->PB2->height(), 129);
    clip("long", 62000, 1); // sample i = i, wrapping in 16 bits
    window->Montage().CompleteRender();
    EXPECT_FLOAT_EQ(window->Montage().OverviewScale, 0.01F);
    const QImage box = window->PB2->grab().toImage();
    const float k = static_cast<float>(129.0L / 32768 / 2);
    EXPECT_NEAR(k, 0.00197, 0.00001);
    for (int x : {0, 7, 150, 327, 400, 619}) {
        const auto v = static_cast<std::int16_t>(static_cast<int>(std::nearbyintl(x / 0.01L)));
        const int y = 64 + static_cast<int>(std::nearbyintl(static_cast<long double>(v) * k));
        EXPECT_EQ(box.pixelColor(x, y), QColor(Qt::black)) << x;
    }
    EXPECT_EQ(box.pixelColor(10, 2), QColor(255, 255, 210));
}

TEST_F(MontagePlaybackTest, FullScaleReachesBothEdgesOfTheOverview)
{
    // 32767 then -32768, alternately, over a short montage: columns repeat samples.
    Tsample& c = clip("edges", 2, 1);
    const Bytes two = CanonicalWave(PcmFormat(1, 22050, 16), Pcm16({32767, -32768}));
    LoadBytes(c.Storage.Wave(), two);
    window->Montage().RestartRender();
    window->Montage().CompleteRender();
    const QImage box = window->PB2->grab().toImage();
    EXPECT_EQ(box.pixelColor(0, 128), QColor(Qt::black)); // x 0 shows sample 0: 32767 at y 128
    EXPECT_EQ(box.pixelColor(619, 0), QColor(Qt::black)); // the last columns show -32768 at y 0
}

TEST_F(MontagePlaybackTest, NewAndClosingAskBeforeLosingAnUnsavedMontage)
{
    clip("A", 2205);
    window->Montage().MontageSaved = false;
    answer = false;
    window->BnewClick();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].second, "ALERTE : Le montage en cours n'a pas été enregistré. Continuer quand même ?");
    EXPECT_EQ(window->Montage().ClipCount, 1);
    window->close();
    EXPECT_TRUE(window->isVisible()); // No: the window stays
    EXPECT_EQ(shown.back().second,
              "ALERTE : Le montage en cours n'a pas été enregistré. Quitter quand même ?");
    answer = true;
    window->BnewClick();
    EXPECT_EQ(window->Montage().ClipCount, 0);
    EXPECT_TRUE(window->Montage().MontageSaved);
    EXPECT_FALSE(window->Bsauver->isEnabled());
    EXPECT_FALSE(window->Bwave->isEnabled());
    EXPECT_FALSE(window->Exporterlemontageauformatmp31->isEnabled());
    EXPECT_EQ(window->PB2->grab().toImage().pixelColor(5, 5), QColor(255, 255, 210));
    const std::size_t asked = shown.size();
    window->BnewClick(); // saved: no question
    EXPECT_EQ(shown.size(), asked);
}

TEST_F(MontagePlaybackTest, SaveThenOpenGivesTheSameStrip)
{
    clip("Bonjour", 22050);
    clip("Au revoir", 11025, 2);
    TMontage& m = window->Montage();
    m.CycleFadeOut(0); // 1 -> 2: a crossfade with the second clip
    window->SaveProjectAs(QString::fromStdString(folder + "montage.snt"));
    EXPECT_TRUE(m.MontageSaved);
    EXPECT_EQ(m.ProjectFileName, folder + "montage.snt");
    window->BnewClick();
    ASSERT_EQ(m.ClipCount, 0);
    window->OpenProject(QString::fromStdString(folder + "montage.snt"));
    ASSERT_EQ(m.ClipCount, 2);
    EXPECT_EQ(m.ClipAt(0)->Title, "Bonjour");
    EXPECT_EQ(m.ClipAt(1)->Title, "Au revoir");
    EXPECT_EQ(m.ClipAt(0)->FadeOutKind, 2);
    EXPECT_EQ(m.ClipAt(1)->FadeInKind, 2);
    EXPECT_TRUE(window->Bsauver->isEnabled());
    EXPECT_NE(window->PanelAt(1), nullptr);
    // A source that went away: one message naming it, and the other clip.
    std::remove((folder + "Bonjour.wav").c_str());
    window->BnewClick();
    window->OpenProject(QString::fromStdString(folder + "montage.snt"));
    EXPECT_EQ(m.ClipCount, 1);
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back().second,
              QString::fromStdString("Sonalto : Le fichier " + folder +
                                     "Bonjour.wav n'a pas été trouvé. Il a peut-être été effacé "
                                     "depuis la dernière sauvegarde."));
}

TEST_F(MontagePlaybackTest, AProjectThatCannotBeOpenedLeavesTheMontageAsItWas)
{
    clip("A", 22050);
    clip("B", 11025);
    TMontage& m = window->Montage();
    window->SaveProjectAs(QString::fromStdString(folder + "bon.snt"));
    std::ifstream in(folder + "bon.snt", std::ios::binary);
    const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(folder + "court.snt", std::ios::binary) << whole.substr(0, 332 + 100);
    m.MontageSaved = false;
    for (const std::string name : {"absent.snt", "court.snt", ""}) {
        SCOPED_TRACE(name);
        EXPECT_ANY_THROW(window->OpenProject(QString::fromStdString(folder + name)));
        ASSERT_EQ(m.ClipCount, 2);
        EXPECT_EQ(m.ClipAt(0)->Title, "A");
        EXPECT_EQ(m.ClipAt(1)->Title, "B");
        EXPECT_NE(window->PanelAt(1), nullptr);
        EXPECT_FALSE(m.MontageSaved);
    }
}

TEST_F(MontagePlaybackTest, OpeningAProjectThatEndsWithNoClipShowsAnEmptyMontage)
{
    clip("A", 22050);
    window->SaveProjectAs(QString::fromStdString(folder + "seul.snt"));
    window->Montage().CompleteRender();
    ASSERT_TRUE(window->BjT->isEnabled());
    ASSERT_FALSE(window->Label12->text().isEmpty());
    std::remove((folder + "A.wav").c_str());
    window->OpenProject(QString::fromStdString(folder + "seul.snt"));
    EXPECT_EQ(window->Montage().ClipCount, 0);
    EXPECT_FALSE(window->BjT->isEnabled());
    EXPECT_TRUE(window->Label12->text().isEmpty());
    EXPECT_FALSE(window->Bwave->isEnabled());
    EXPECT_EQ(window->PB2->grab().toImage().pixelColor(5, 5), QColor(255, 255, 210));
}

TEST_F(MontagePlaybackTest, NewAndOpenStopTheMontageBeingPlayed)
{
    clip("A", 22050 * 3);
    window->SaveProjectAs(QString::fromStdString(folder + "m.snt"));
    for (const bool open : {false, true}) {
        SCOPED_TRACE(open ? "Ouvrir" : "Nouveau");
        if (window->Montage().ClipCount == 0)
            window->OpenProject(QString::fromStdString(folder + "m.snt"));
        window->Montage().CompleteRender();
        window->BjT->click();
        pump();
        ASSERT_TRUE(window->AP3.Active());
        if (open)
            window->OpenProject(QString::fromStdString(folder + "m.snt"));
        else
            window->BnewClick();
        EXPECT_FALSE(window->AP3.Active());
        EXPECT_EQ(TDepart::Tag(window->BjT), 0);
        EXPECT_EQ(window->BjT->icon().cacheKey(), window->Ijjaune.cacheKey());
    }
    // Once the new montage is rendered, its button plays it.
    window->Montage().CompleteRender();
    ASSERT_TRUE(window->BjT->isEnabled());
    window->BjT->click();
    pump();
    EXPECT_TRUE(window->AP3.Active());
}

TEST_F(MontagePlaybackTest, ASourceThatIsNotAWaveIsToldAndLeftOut)
{
    clip("Texte", 2205);
    clip("Bon", 22050);
    window->SaveProjectAs(QString::fromStdString(folder + "m.snt"));
    std::ofstream(folder + "Texte.wav") << "Ceci n'est pas un son.";
    window->OpenProject(QString::fromStdString(folder + "m.snt"));
    TMontage& m = window->Montage();
    ASSERT_EQ(m.ClipCount, 1);
    EXPECT_EQ(m.ClipAt(0)->Title, "Bon");
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back().second,
              QString::fromStdString("Sonalto : L'extrait « Texte » n'a pas été chargé : le fichier " +
                                     folder + "Texte.wav n'est pas un fichier son lisible."));
    // The montage holds the good clip, and exports it.
    m.ExportWave(folder + "export.wav");
    TWave exported;
    exported.LoadFromFile(folder + "export.wav");
    EXPECT_EQ(exported.DataSize(), 2U * 22050);
}

} // namespace
