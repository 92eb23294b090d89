// The montage without widgets: the crossfade rules of the strip, adding, cycling, timing, deleting and
// reordering clips, the step-by-step render and the WAV export. Each clip's panel is replaced by a view
// that keeps what it was last told to show; the window's side by counters of the montage's events.
// Rendered samples are checked against a reference of the gain and mix rules written in signed terms.
#include "montage/Montage.h"

#include "audio/TestWaves.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <memory>
#include <numbers>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

const TWaveFormatEx Mono22050 = PcmFormat(1, 22050, 16);
const TWaveFormatEx Mono8000 = PcmFormat(1, 8000, 16);
const TWaveFormatEx Stereo44100 = PcmFormat(2, 44100, 16);

using Samples = std::vector<std::int16_t>;

// ---- Reference rules ------------------------------------------------------------------------------

// Gain i / m on a signed sample: a negative sample is taken one step nearer zero before scaling and
// moved one step back after; division first, then product, rounded to nearest with ties to even.
std::int16_t Scaled(std::int16_t s, std::uint32_t i, std::uint32_t m)
{
    if (s >= 0)
        return static_cast<std::int16_t>(std::nearbyintl(static_cast<long double>(s) / m * i));
    return static_cast<std::int16_t>(std::nearbyintl(static_cast<long double>(s + 1) / m * i) - 1);
}

// One crossfaded sample: a's sample at distance i from its end falling over m, b's sample e - 1 - i
// rising over e at half weight.
std::int16_t Mixed(std::int16_t a, std::int16_t b, std::uint32_t i, std::uint32_t m, std::uint32_t e)
{
    const std::uint32_t j = e - 1 - i;
    const auto A =
        static_cast<long long>(std::nearbyintl(static_cast<long double>(a < 0 ? a + 1 : a) / m * i));
    const auto B =
        static_cast<long long>(std::nearbyintl(static_cast<long double>(b < 0 ? b + 1 : b) / e * j));
    const long long halfB = B >= 0 ? B / 2 : -((-B + 1) / 2); // rounded down
    return static_cast<std::int16_t>(halfB + A - ((A < 0 || B < 0) ? 1 : 0));
}

// ---- Signals --------------------------------------------------------------------------------------

// Sample i holds i, wrapped to 16 bits: every sample tells where it came from.
Samples Staircase(std::size_t count, std::size_t from = 0)
{
    Samples out(count);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(from + i));
    return out;
}

// Positive and negative values all over the range.
Samples Wavy(std::size_t count, int seed)
{
    Samples out(count);
    for (std::size_t i = 0; i < count; ++i)
        out[i] =
            static_cast<std::int16_t>(static_cast<long long>((i * 7919 + seed * 104729) % 60001) - 30000);
    return out;
}

Samples Concat(std::initializer_list<Samples> parts)
{
    Samples out;
    for (const Samples& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

Samples SamplesOf(const TWave& wave)
{
    return Samples16(wave.Data(), wave.DataSize());
}

bool IsMontageFormat(const TWave& wave)
{
    const TWaveFormatEx* f = wave.WaveFormat();
    return f && f->wFormatTag == 1 && f->nChannels == 1 && f->nSamplesPerSec == 22050 &&
           f->wBitsPerSample == 16;
}

// ---- The view double ------------------------------------------------------------------------------

struct Shown
{
    std::string title;
    std::int32_t lengthMs = -1;
    std::int32_t fadeInKind = -1;
    std::int32_t fadeInMs = -1;
    std::int32_t fadeOutKind = -1;
    std::int32_t fadeOutMs = -1;
    std::int32_t position = -1;
    bool playing = true;
    std::vector<std::int32_t> positions; // every position shown, in order
    bool destroyed = false;
};

class RecordingView : public TsampleView
{
public:
    RecordingView(std::shared_ptr<Shown> shown, std::vector<std::string>& events)
        : m_shown(std::move(shown)), m_events(events)
    {
    }
    ~RecordingView() override
    {
        m_shown->destroyed = true;
        m_events.push_back("view gone " + m_shown->title);
    }
    void ShowTitle(const std::string& title) override { m_shown->title = title; }
    void ShowLength(std::int32_t lengthMs) override { m_shown->lengthMs = lengthMs; }
    void ShowFadeIn(std::int32_t kind, std::int32_t ms) override
    {
        m_shown->fadeInKind = kind;
        m_shown->fadeInMs = ms;
    }
    void ShowFadeOut(std::int32_t kind, std::int32_t ms) override
    {
        m_shown->fadeOutKind = kind;
        m_shown->fadeOutMs = ms;
    }
    void ShowPosition(std::int32_t position) override
    {
        m_shown->position = position;
        m_shown->positions.push_back(position);
    }
    void ShowPlaying(bool playing) override { m_shown->playing = playing; }

private:
    std::shared_ptr<Shown> m_shown;
    std::vector<std::string>& m_events;
};

// ---- Fixture --------------------------------------------------------------------------------------

class MontageTest : public testing::Test
{
protected:
    MontageTest()
    {
        montage.CreateView = [this](Tsample& clip) {
            auto shown = std::make_shared<Shown>();
            views[clip.Title] = shown;
            return std::make_unique<RecordingView>(shown, events);
        };
        montage.OnRenderRestarted = [this] { ++restarted; };
        montage.OnRenderFinished = [this] { ++finished; };
        montage.OnClipsPresent = [this](bool present) { clipsPresent.push_back(present); };
        montage.OnEmptied = [this] { ++emptied; };
        montage.OnDeletingClip = [this](Tsample& clip) {
            events.push_back("deleting " + clip.Title + (views[clip.Title]->destroyed ? " (gone)" : ""));
        };
    }

    // A clip at the end of the strip holding these 22050 Hz samples.
    Tsample& AddSamples(const std::string& title, const Samples& samples)
    {
        const int slot = montage.FirstFreeSlot();
        const auto lengthMs = static_cast<std::int32_t>(std::lround(samples.size() * 1000.0 / 22050));
        Tsample& clip = montage.Create(title, "/classe/" + title + ".wav", 0, lengthMs, slot);
        LoadBytes(clip.Storage.Wave(), CanonicalWave(Mono22050, Pcm16(samples)));
        return clip;
    }

    // Clips c0, c1, ... of short distinct audio.
    void AddClips(int count)
    {
        for (int k = 0; k < count; ++k)
            AddSamples("c" + std::to_string(k), Staircase(220, 1000 * static_cast<std::size_t>(k)));
    }

    Tsample& Clip(const std::string& title)
    {
        for (int p = 0; p < montage.ClipCount; ++p)
            if (montage.ClipAt(p)->Title == title)
                return *montage.ClipAt(p);
        throw std::runtime_error("no clip " + title);
    }

    // The titles in strip order, after checking that every table and view agrees with that order.
    std::vector<std::string> Strip()
    {
        std::vector<std::string> titles;
        for (int p = 0; p < montage.ClipCount; ++p) {
            const Tsample* clip = montage.ClipAt(p);
            EXPECT_NE(clip, nullptr) << p;
            if (!clip)
                break;
            EXPECT_EQ(clip->Position, p) << clip->Title;
            EXPECT_EQ(montage.StripOrder[static_cast<std::size_t>(p)], clip->Slot) << clip->Title;
            EXPECT_EQ(montage.ClipSlots[static_cast<std::size_t>(clip->Slot)].get(), clip) << clip->Title;
            EXPECT_EQ(views.at(clip->Title)->position, p) << clip->Title;
            titles.push_back(clip->Title);
        }
        return titles;
    }

    void ExpectFadeIn(const std::string& title, int kind, int ms)
    {
        const Tsample& clip = Clip(title);
        EXPECT_EQ(clip.FadeInKind, kind) << title;
        EXPECT_EQ(clip.FadeInMs, ms) << title;
        EXPECT_EQ(views.at(title)->fadeInKind, kind) << title;
        EXPECT_EQ(views.at(title)->fadeInMs, ms) << title;
    }

    void ExpectFadeOut(const std::string& title, int kind, int ms)
    {
        const Tsample& clip = Clip(title);
        EXPECT_EQ(clip.FadeOutKind, kind) << title;
        EXPECT_EQ(clip.FadeOutMs, ms) << title;
        EXPECT_EQ(views.at(title)->fadeOutKind, kind) << title;
        EXPECT_EQ(views.at(title)->fadeOutMs, ms) << title;
    }

    // A finished render left as it is, with the event counters cleared.
    void RenderAndSettle()
    {
        montage.RestartRender();
        montage.CompleteRender();
        restarted = 0;
        finished = 0;
    }

    // Declared before the montage: its clips' views still report while it is destroyed.
    std::vector<std::string> events;
    std::map<std::string, std::shared_ptr<Shown>> views;
    int restarted = 0;
    int finished = 0;
    int emptied = 0;
    std::vector<bool> clipsPresent;
    TMontage montage;
};

// ---- Creating and freeing -------------------------------------------------------------------------

TEST_F(MontageTest, CreateAppendsAClipWithDefaultsAndShowsThem)
{
    Tsample& first = montage.Create("Premier", "/classe/a.wav", 1500, 2500, 7);
    Tsample& second = montage.Create("Second", "/classe/b.wav", 0, 800, 3);
    EXPECT_EQ(montage.ClipCount, 2);
    EXPECT_EQ(montage.ClipSlots[7].get(), &first);
    EXPECT_EQ(montage.ClipSlots[3].get(), &second);
    EXPECT_EQ(montage.ClipAt(0), &first);
    EXPECT_EQ(montage.ClipAt(1), &second);
    EXPECT_EQ(montage.ClipAt(2), nullptr);
    EXPECT_EQ(montage.FirstFreeSlot(), 0);
    EXPECT_EQ(first.SourceFile, "/classe/a.wav");
    EXPECT_EQ(first.StartMs, 1500);
    EXPECT_EQ(first.LengthMs, 2500);
    EXPECT_EQ(second.Position, 1);
    for (const Tsample* clip : {&first, &second}) {
        EXPECT_EQ(clip->FadeInKind, 1);
        EXPECT_EQ(clip->FadeOutKind, 1);
        EXPECT_EQ(clip->FadeInMs, 1000);
        EXPECT_EQ(clip->FadeOutMs, 1000);
    }
    const Shown& shown = *views.at("Premier");
    EXPECT_EQ(shown.title, "Premier");
    EXPECT_EQ(shown.lengthMs, 2500);
    EXPECT_EQ(shown.fadeInKind, 1);
    EXPECT_EQ(shown.fadeInMs, 1000);
    EXPECT_EQ(shown.fadeOutKind, 1);
    EXPECT_EQ(shown.fadeOutMs, 1000);
    EXPECT_EQ(shown.position, 0);
    EXPECT_FALSE(shown.playing);
    EXPECT_EQ(Strip(), (std::vector<std::string>{"Premier", "Second"}));
}

TEST_F(MontageTest, FreeAllClipsDestroysEveryClipAndEmptiesTheTables)
{
    AddClips(3);
    montage.FreeAllClips();
    EXPECT_EQ(montage.ClipCount, 0);
    for (const auto& slot : montage.ClipSlots)
        EXPECT_EQ(slot, nullptr);
    for (const auto& [title, shown] : views)
        EXPECT_TRUE(shown->destroyed) << title;
    EXPECT_EQ(montage.FirstFreeSlot(), 0);
}

// ---- Crossfade rules ------------------------------------------------------------------------------

TEST_F(MontageTest, FirstClipCannotCrossfadeIn)
{
    AddClips(2);
    Clip("c0").SetFadeIn(2, 3000);
    montage.RelayoutStrip();
    ExpectFadeIn("c0", 1, 3000);
    ExpectFadeOut("c0", 1, 1000);
    ExpectFadeIn("c1", 1, 1000);
}

TEST_F(MontageTest, LastClipCannotCrossfadeOut)
{
    AddClips(2);
    Clip("c1").SetFadeOut(2, 4000);
    montage.RelayoutStrip();
    ExpectFadeOut("c1", 1, 4000);
    ExpectFadeIn("c1", 1, 1000);
    ExpectFadeOut("c0", 1, 1000);
}

TEST_F(MontageTest, SingleClipLosesBothCrossfades)
{
    AddClips(1);
    Clip("c0").SetFadeIn(2, 2000);
    Clip("c0").SetFadeOut(2, 2000);
    montage.FixCrossfades(Clip("c0"));
    ExpectFadeIn("c0", 1, 2000);
    ExpectFadeOut("c0", 1, 2000);
}

TEST_F(MontageTest, LeftCrossfadeOutPullsTheRightClipIn)
{
    AddClips(2);
    Clip("c0").SetFadeOut(2, 3000);
    montage.RelayoutStrip();
    ExpectFadeOut("c0", 2, 3000);
    ExpectFadeIn("c1", 2, 3000);
}

TEST_F(MontageTest, RightCrossfadeInPullsTheLeftClipWhenFixedAlone)
{
    AddClips(2);
    Clip("c0").SetFadeOut(1, 2000);
    Clip("c1").SetFadeIn(2, 4000);
    montage.FixCrossfades(Clip("c1"));
    ExpectFadeOut("c0", 2, 4000);
    ExpectFadeIn("c1", 2, 4000);
}

TEST_F(MontageTest, LeftClipWinsWhenTheEndsDisagree)
{
    AddClips(4);
    // Joint c0|c1: only the right end crossfades; the left fixes first and removes it.
    Clip("c0").SetFadeOut(1, 2000);
    Clip("c1").SetFadeIn(2, 4000);
    // Joint c2|c3: both crossfade with different durations; the left one's duration stays.
    Clip("c2").SetFadeOut(2, 3000);
    Clip("c3").SetFadeIn(2, 5000);
    montage.RelayoutStrip();
    ExpectFadeOut("c0", 1, 2000);
    ExpectFadeIn("c1", 1, 4000);
    ExpectFadeOut("c2", 2, 3000);
    ExpectFadeIn("c3", 2, 3000);
}

TEST_F(MontageTest, MiddleClipRepairsBothJoints)
{
    AddClips(3);
    Clip("c1").SetFadeIn(2, 2000);
    Clip("c1").SetFadeOut(2, 4000);
    montage.FixCrossfades(Clip("c1"));
    ExpectFadeOut("c0", 2, 2000);
    ExpectFadeIn("c2", 2, 4000);

    // The middle clip no longer crossfades: the neighbours' crossfade ends become plain ends.
    Clip("c1").SetFadeIn(0, 2000);
    Clip("c1").SetFadeOut(1, 4000);
    montage.FixCrossfades(Clip("c1"));
    ExpectFadeOut("c0", 1, 2000);
    ExpectFadeIn("c2", 1, 4000);
}

// ---- Adding the selection -------------------------------------------------------------------------

TEST_F(MontageTest, AddClipCutsTheSelectedStretch)
{
    // A 3 s recording at 22050 Hz, the selection from sample 22050 to sample 44100.
    const auto recording = MakeWave(Mono22050, Pcm16(Staircase(66150)));
    const std::uint32_t startMs = static_cast<std::uint32_t>(std::lround(22050.0 / 22050 * 1000));
    const std::uint32_t endMs = static_cast<std::uint32_t>(std::lround(44100.0 / 22050 * 1000));
    ASSERT_EQ(startMs, 1000U);
    ASSERT_EQ(endMs, 2000U);
    ASSERT_TRUE(montage.AddClip("Extrait n° 1", *recording, "/classe/enregistrement.wav", startMs, endMs));

    ASSERT_EQ(montage.ClipCount, 1);
    const Tsample& clip = *montage.ClipAt(0);
    EXPECT_EQ(clip.Title, "Extrait n° 1");
    EXPECT_EQ(clip.SourceFile, "/classe/enregistrement.wav");
    EXPECT_EQ(clip.StartMs, 1000);
    EXPECT_EQ(clip.LengthMs, 1000);
    EXPECT_EQ(clip.Slot, 0);
    EXPECT_TRUE(IsMontageFormat(clip.Storage.Wave()));
    EXPECT_EQ(SamplesOf(clip.Storage.Wave()), Staircase(22050, 22050));
    EXPECT_EQ(recording->DataSize(), 66150U * 2); // the recording itself is left whole

    EXPECT_EQ(montage.ClipCounter, 2);
    EXPECT_FALSE(montage.MontageSaved);
    EXPECT_EQ(clipsPresent, std::vector<bool>{true});
    EXPECT_EQ(montage.RenderCursor, 0);
    EXPECT_FALSE(montage.RenderFinished);
    EXPECT_GE(restarted, 1);
    const Shown& shown = *views.at("Extrait n° 1");
    EXPECT_EQ(shown.lengthMs, 1000);
    EXPECT_EQ(shown.position, 0);
    EXPECT_EQ(shown.fadeInKind, 1);
    EXPECT_EQ(shown.fadeOutKind, 1);
}

TEST_F(MontageTest, AddClipConvertsStereo44100ToTheMontageFormat)
{
    // 3 s of a 220 Hz tone, the same on both channels; the clip is the second second.
    constexpr double Frequency = 220;
    constexpr double Amplitude = 0.5 * 32767;
    const auto recording = MakeWave(Stereo44100, Sine16(132300, 2, Frequency, 44100, 0.5));
    ASSERT_TRUE(montage.AddClip("Stereo", *recording, "/classe/stereo.wav", 1000, 2000));

    const TWave& wave = montage.ClipAt(0)->Storage.Wave();
    ASSERT_TRUE(IsMontageFormat(wave));
    EXPECT_EQ(wave.PCMFormat(), MontageFormat);
    const Samples samples = SamplesOf(wave);
    EXPECT_NEAR(static_cast<double>(samples.size()), 22050, 4);
    // Away from the cut edges, the tone from t = 1 s sampled at 22050 Hz.
    for (std::size_t k = 200; k + 200 < samples.size(); k += 97) {
        const double t = 1.0 + static_cast<double>(k) / 22050;
        const double expected = Amplitude * std::sin(2 * std::numbers::pi * Frequency * t);
        ASSERT_NEAR(samples[k], expected, 0.02 * Amplitude) << k;
    }
}

TEST_F(MontageTest, AddClipRefusesAnEmptyStretchOrTitle)
{
    const auto recording = MakeWave(Mono22050, Pcm16(Staircase(22050)));
    EXPECT_FALSE(montage.AddClip("Vide", *recording, "/classe/r.wav", 500, 500));
    EXPECT_FALSE(montage.AddClip("Envers", *recording, "/classe/r.wav", 600, 500));
    EXPECT_FALSE(montage.AddClip("", *recording, "/classe/r.wav", 0, 500));
    EXPECT_EQ(montage.ClipCount, 0);
    EXPECT_EQ(montage.ClipCounter, 1);
    EXPECT_TRUE(montage.MontageSaved);
    EXPECT_TRUE(clipsPresent.empty());
    EXPECT_TRUE(views.empty());
    EXPECT_EQ(montage.RenderCursor, TMontage::RenderIdle);
}

TEST_F(MontageTest, AtMostOneHundredClips)
{
    const auto recording = MakeWave(Mono22050, Pcm16(Staircase(2205)));
    for (int k = 0; k < MaxClips; ++k)
        ASSERT_TRUE(montage.AddClip("x" + std::to_string(k), *recording, "/classe/r.wav", 0, 100)) << k;
    EXPECT_EQ(montage.ClipCount, 100);
    EXPECT_EQ(montage.ClipCounter, 101);
    EXPECT_EQ(montage.FirstFreeSlot(), -1);

    EXPECT_FALSE(montage.AddClip("de trop", *recording, "/classe/r.wav", 0, 100));
    EXPECT_EQ(montage.ClipCount, 100);
    EXPECT_EQ(montage.ClipCounter, 101);
    EXPECT_EQ(views.count("de trop"), 0U);

    // A freed slot is taken again; the new clip still goes to the end of the strip.
    const int freedSlot = montage.ClipAt(37)->Slot;
    montage.PendingDelete = 37;
    montage.DeletePending();
    ASSERT_TRUE(montage.AddClip("encore", *recording, "/classe/r.wav", 0, 100));
    EXPECT_EQ(montage.ClipAt(99)->Title, "encore");
    EXPECT_EQ(montage.ClipAt(99)->Slot, freedSlot);
    EXPECT_EQ(montage.ClipCounter, 102);
}

// ---- Cycling fade kinds and setting durations -----------------------------------------------------

TEST_F(MontageTest, MiddleClipFadeInCyclesThroughCrossfade)
{
    AddClips(3);
    Clip("c0").SetFadeOut(1, 3000);
    montage.MontageSaved = true;

    montage.CycleFadeIn(1); // 1 -> 2: crossfade with c0, whose duration wins
    ExpectFadeIn("c1", 2, 3000);
    ExpectFadeOut("c0", 2, 3000);
    EXPECT_FALSE(montage.MontageSaved);
    EXPECT_EQ(montage.RenderCursor, 0);

    montage.CycleFadeIn(1); // 2 -> 0: the broken crossfade leaves c0 a fade
    ExpectFadeIn("c1", 0, 3000);
    ExpectFadeOut("c0", 0, 3000);

    montage.CycleFadeIn(1); // 0 -> 1: c0 keeps its fade
    ExpectFadeIn("c1", 1, 3000);
    ExpectFadeOut("c0", 0, 3000);
    ExpectFadeOut("c1", 1, 1000);
    ExpectFadeIn("c2", 1, 1000);
}

TEST_F(MontageTest, FirstClipFadeInSkipsCrossfade)
{
    AddClips(2);
    montage.CycleFadeIn(0);
    ExpectFadeIn("c0", 0, 1000);
    montage.CycleFadeIn(0);
    ExpectFadeIn("c0", 1, 1000);
    montage.CycleFadeIn(0);
    ExpectFadeIn("c0", 0, 1000);
    ExpectFadeOut("c0", 1, 1000);
    ExpectFadeIn("c1", 1, 1000);
}

TEST_F(MontageTest, FadeOutCyclesForMiddleAndLastClips)
{
    AddClips(3);
    Clip("c2").SetFadeIn(1, 5000);

    montage.CycleFadeOut(1); // 1 -> 2: c2 follows with c1's duration
    ExpectFadeOut("c1", 2, 1000);
    ExpectFadeIn("c2", 2, 1000);
    montage.CycleFadeOut(1); // 2 -> 0
    ExpectFadeOut("c1", 0, 1000);
    ExpectFadeIn("c2", 0, 1000);
    montage.CycleFadeOut(1); // 0 -> 1
    ExpectFadeOut("c1", 1, 1000);
    ExpectFadeIn("c2", 0, 1000);

    montage.CycleFadeOut(2); // last clip: 1 -> 0 -> 1
    ExpectFadeOut("c2", 0, 1000);
    montage.CycleFadeOut(2);
    ExpectFadeOut("c2", 1, 1000);
}

TEST_F(MontageTest, BreakingACrossfadeFromEitherSideLeavesTheOtherAFade)
{
    AddClips(4);
    montage.CycleFadeIn(1);  // c0|c1 crossfade
    montage.CycleFadeOut(2); // c2|c3 crossfade
    ExpectFadeOut("c0", 2, 1000);
    ExpectFadeIn("c3", 2, 1000);

    montage.CycleFadeOut(0); // c0's side: 2 -> 0
    ExpectFadeOut("c0", 0, 1000);
    ExpectFadeIn("c1", 0, 1000);

    montage.CycleFadeIn(3); // c3's side: 2 -> 0
    ExpectFadeIn("c3", 0, 1000);
    ExpectFadeOut("c2", 0, 1000);
}

TEST_F(MontageTest, SpinnersSetWholeSecondsAndFollowACrossfade)
{
    AddClips(3);
    montage.CycleFadeIn(1); // c0|c1 crossfade
    montage.MontageSaved = true;
    restarted = 0;

    montage.SetFadeInSeconds(1, 4);
    ExpectFadeIn("c1", 2, 4000);
    ExpectFadeOut("c0", 2, 4000);
    EXPECT_FALSE(montage.MontageSaved);
    EXPECT_EQ(montage.RenderCursor, 0);
    EXPECT_EQ(restarted, 1);

    montage.SetFadeOutSeconds(0, 2);
    ExpectFadeOut("c0", 2, 2000);
    ExpectFadeIn("c1", 2, 2000);

    // Without a crossfade the neighbour keeps its own duration.
    montage.SetFadeOutSeconds(1, 3);
    ExpectFadeOut("c1", 1, 3000);
    ExpectFadeIn("c2", 1, 1000);
    montage.SetFadeInSeconds(2, 5);
    ExpectFadeIn("c2", 1, 5000);
    ExpectFadeOut("c1", 1, 3000);

    // The spinners go from 1 to 5 s.
    montage.SetFadeInSeconds(2, 0);
    ExpectFadeIn("c2", 1, 1000);
    montage.SetFadeInSeconds(2, 9);
    ExpectFadeIn("c2", 1, 5000);
}

// ---- Deleting -------------------------------------------------------------------------------------

TEST_F(MontageTest, DeletingMovesTheFollowingClipsLeft)
{
    for (bool saved : {true, false}) {
        SCOPED_TRACE(saved);
        montage.FreeAllClips();
        views.clear();
        events.clear();
        AddClips(4);
        const int deletedSlot = Clip("c1").Slot;
        const std::shared_ptr<Shown> deletedView = views.at("c1");
        montage.MontageSaved = saved;
        RenderAndSettle();
        for (const auto& [title, shown] : views)
            shown->positions.clear();

        montage.PendingDelete = 1;
        montage.DeletePending();

        EXPECT_EQ(Strip(), (std::vector<std::string>{"c0", "c2", "c3"}));
        EXPECT_EQ(views.at("c2")->positions.back(), 1);
        EXPECT_EQ(views.at("c3")->positions.back(), 2);
        EXPECT_TRUE(views.at("c0")->positions.empty());
        EXPECT_TRUE(deletedView->destroyed);
        EXPECT_EQ(montage.ClipSlots[static_cast<std::size_t>(deletedSlot)], nullptr);
        EXPECT_EQ(montage.MontageSaved, saved);
        EXPECT_EQ(montage.RenderCursor, 0);
        EXPECT_FALSE(montage.RenderFinished);
        EXPECT_EQ(restarted, 1);
        EXPECT_EQ(emptied, 0);
        EXPECT_EQ(events, (std::vector<std::string>{"deleting c1", "view gone c1"}));
    }
    EXPECT_TRUE(clipsPresent.empty());
}

TEST_F(MontageTest, DeletingRepairsTheNewJoint)
{
    AddClips(5);
    montage.SetFadeOutSeconds(0, 3);
    montage.CycleFadeOut(0); // c0|c1 crossfade of 3 s
    montage.CycleFadeIn(4);  // c3|c4 crossfade
    ASSERT_EQ(Clip("c1").FadeInKind, 2);

    montage.PendingDelete = 1; // c0 now meets c2, which did not crossfade: c0's side decides
    montage.DeletePending();
    ExpectFadeOut("c0", 2, 3000);
    ExpectFadeIn("c2", 2, 3000);

    montage.PendingDelete = 3; // c4 goes: c3 is last and cannot crossfade out
    montage.DeletePending();
    EXPECT_EQ(Strip(), (std::vector<std::string>{"c0", "c2", "c3"}));
    ExpectFadeOut("c3", 1, 1000);
}

TEST_F(MontageTest, DeletingTheOnlyClipEmptiesTheMontage)
{
    AddClips(1);
    RenderAndSettle();
    ASSERT_TRUE(montage.RenderFinished);
    montage.MontageSaved = false;

    montage.PendingDelete = 0;
    montage.DeletePending();

    EXPECT_EQ(montage.ClipCount, 0);
    EXPECT_EQ(montage.ClipSlots[0], nullptr);
    EXPECT_EQ(montage.RenderCursor, TMontage::RenderIdle);
    EXPECT_FALSE(montage.RenderFinished);
    EXPECT_EQ(restarted, 1);
    EXPECT_TRUE(montage.MontageSaved);
    EXPECT_EQ(clipsPresent, std::vector<bool>{false});
    EXPECT_EQ(emptied, 1);
    EXPECT_EQ(events, (std::vector<std::string>{"deleting c0", "view gone c0"}));

    // Idle: further steps neither render nor finish.
    montage.RenderStep();
    montage.RenderStep();
    EXPECT_FALSE(montage.RenderFinished);
    EXPECT_EQ(finished, 0);
}

TEST_F(MontageTest, DeletingTheLastPositionNeedsNoMove)
{
    AddClips(3);
    montage.PendingDelete = 2;
    montage.DeletePending();
    EXPECT_EQ(Strip(), (std::vector<std::string>{"c0", "c1"}));
    EXPECT_EQ(events, (std::vector<std::string>{"deleting c2", "view gone c2"}));
}

// ---- Drag and drop --------------------------------------------------------------------------------

TEST_F(MontageTest, DragAndDropReordersTheStrip)
{
    struct Case
    {
        int source;
        int target;
        std::vector<std::string> order;
    };
    const Case cases[] = {
        {0, 3, {"c1", "c2", "c0", "c3", "c4"}}, {3, 0, {"c3", "c0", "c1", "c2", "c4"}},
        {1, 2, {"c0", "c2", "c1", "c3", "c4"}}, {2, 1, {"c0", "c2", "c1", "c3", "c4"}},
        {4, 0, {"c4", "c0", "c1", "c2", "c3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.source) + " onto " + std::to_string(c.target));
        montage.FreeAllClips();
        views.clear();
        AddClips(5);
        RenderAndSettle();
        montage.MontageSaved = true;
        montage.HandleDragDrop(c.source, c.target);
        EXPECT_EQ(Strip(), c.order);
        EXPECT_FALSE(montage.MontageSaved);
        EXPECT_EQ(montage.RenderCursor, 0);
        EXPECT_FALSE(montage.RenderFinished);
    }
}

TEST_F(MontageTest, DroppingAClipOnItselfChangesNothing)
{
    AddClips(3);
    RenderAndSettle();
    montage.HandleDragDrop(1, 1);
    EXPECT_EQ(Strip(), (std::vector<std::string>{"c0", "c1", "c2"}));
    EXPECT_TRUE(montage.MontageSaved);
    EXPECT_TRUE(montage.RenderFinished);
}

TEST_F(MontageTest, FadesTravelWithTheirClipsAndJointsAreRepaired)
{
    AddClips(5);
    montage.SetFadeOutSeconds(0, 2);
    montage.CycleFadeOut(0);         // c0|c1 crossfade of 2 s
    montage.CycleFadeOut(2);         // c2 fade-out 2 ...
    montage.CycleFadeOut(2);         // ... then 0
    montage.SetFadeOutSeconds(2, 4); // c2: fade of 4 s; c3's fade-in 0 from the broken crossfade
    ExpectFadeIn("c3", 0, 1000);

    montage.HandleDragDrop(0, 3);
    EXPECT_EQ(Strip(), (std::vector<std::string>{"c1", "c2", "c0", "c3", "c4"}));
    // c1 came first: its crossfade-in is gone. c0 still crossfades out, now into c3, with its duration.
    ExpectFadeIn("c1", 1, 2000);
    ExpectFadeOut("c2", 0, 4000);
    ExpectFadeIn("c0", 1, 1000);
    ExpectFadeOut("c0", 2, 2000);
    ExpectFadeIn("c3", 2, 2000);
    ExpectFadeOut("c3", 1, 1000);
    ExpectFadeIn("c4", 1, 1000);
}

TEST_F(MontageTest, MovingARightCrossfadeAwayUndoesIt)
{
    AddClips(5);
    montage.CycleFadeIn(3); // c2|c3 crossfade
    montage.HandleDragDrop(1, 2);
    EXPECT_EQ(Strip(), (std::vector<std::string>{"c0", "c2", "c1", "c3", "c4"}));
    // c2 still crossfades out, now into c1; c1 does not crossfade out, so c3 loses its crossfade-in.
    ExpectFadeOut("c2", 2, 1000);
    ExpectFadeIn("c1", 2, 1000);
    ExpectFadeOut("c1", 1, 1000);
    ExpectFadeIn("c3", 1, 1000);
}

// ---- Rendering ------------------------------------------------------------------------------------

TEST_F(MontageTest, FadesOfKindZeroOverOneSecond)
{
    const Samples source = Staircase(66150); // 3000 ms
    AddSamples("c0", source);
    Clip("c0").SetFadeIn(0, 1000);
    Clip("c0").SetFadeOut(0, 1000);
    RenderAndSettle();

    const TWave& wt = montage.WT.Wave();
    ASSERT_TRUE(IsMontageFormat(wt));
    EXPECT_EQ(wt.Duration(), 3000U);
    const Samples result = SamplesOf(wt);
    ASSERT_EQ(result.size(), 66150U);
    for (std::uint32_t i = 0; i < 22050; ++i)
        ASSERT_EQ(result[i], Scaled(source[i], i, 22050)) << i;
    for (std::uint32_t k = 22050; k < 44100; ++k)
        ASSERT_EQ(result[k], source[k]) << k;
    for (std::uint32_t i = 0; i < 22050; ++i)
        ASSERT_EQ(result[66149 - i], Scaled(source[66149 - i], i, 22050)) << i;
    // A few by hand: 11025 at gain 1/2 is 5512.5, even 5512; the last sample (613) at gain 0;
    // sample 55124 (-10412, taken as -10411) at gain 1/2 is -5205.5, even -5206, then one step back.
    EXPECT_EQ(result[0], 0);
    EXPECT_EQ(result[11025], 5512);
    EXPECT_EQ(result[66149], 0);
    EXPECT_EQ(result[55124], -5207);
}

TEST_F(MontageTest, PlainClipsAreJoinedSampleForSample)
{
    const Samples first = Staircase(66150);
    const Samples second = Wavy(30001, 3);
    AddSamples("c0", first);
    AddSamples("c1", second);
    RenderAndSettle();
    const TWave& wt = montage.WT.Wave();
    EXPECT_TRUE(IsMontageFormat(wt));
    EXPECT_EQ(SamplesOf(wt), Concat({first, second}));
}

TEST_F(MontageTest, CrossfadeJoinsTwoClips)
{
    const Samples a = Wavy(66150, 1);
    const Samples b = Wavy(66150, 2);
    AddSamples("a", a);
    AddSamples("b", b);
    montage.CycleFadeOut(0); // crossfade of 1000 ms
    ASSERT_EQ(Clip("b").FadeInKind, 2);
    montage.CompleteRender();

    const TWave& wt = montage.WT.Wave();
    const Samples result = SamplesOf(wt);
    // 3000 ms, then b without its first second: 66150 + 44100 samples.
    ASSERT_EQ(result.size(), 110250U);
    EXPECT_EQ(wt.Duration(), 5000U);
    for (std::uint32_t k = 0; k < 44100; ++k)
        ASSERT_EQ(result[k], a[k]) << k;
    for (std::uint32_t i = 0; i < 22050; ++i)
        ASSERT_EQ(result[66149 - i], Mixed(a[66149 - i], b[22049 - i], i, 22050, 22050)) << i;
    for (std::uint32_t k = 0; k < 44100; ++k)
        ASSERT_EQ(result[66150 + k], b[22050 + k]) << k;
}

TEST_F(MontageTest, RenderNeverChangesTheClipsOwnAudio)
{
    AddSamples("a", Wavy(44100, 1));
    AddSamples("b", Wavy(44100, 2));
    AddSamples("c", Wavy(44100, 3));
    montage.CycleFadeOut(0);
    montage.CycleFadeIn(0);
    montage.CycleFadeOut(2);
    std::vector<Bytes> before;
    for (int p = 0; p < montage.ClipCount; ++p)
        before.push_back(WaveBytes(montage.ClipAt(p)->Storage.Wave()));
    montage.CompleteRender();
    ASSERT_TRUE(montage.RenderFinished);
    for (int p = 0; p < montage.ClipCount; ++p)
        EXPECT_EQ(WaveBytes(montage.ClipAt(p)->Storage.Wave()), before[static_cast<std::size_t>(p)]) << p;
}

TEST_F(MontageTest, ClipInAnotherFormatIsLeftOut)
{
    const Samples first = Staircase(2205);
    const Samples last = Wavy(2205, 9);
    AddSamples("c0", first);
    Tsample& odd = montage.Create("odd", "/classe/odd.wav", 0, 100, montage.FirstFreeSlot());
    LoadBytes(odd.Storage.Wave(), CanonicalWave(Mono8000, Pcm16(Wavy(800, 4))));
    AddSamples("c2", last);
    RenderAndSettle();
    EXPECT_TRUE(IsMontageFormat(montage.WT.Wave()));
    EXPECT_EQ(SamplesOf(montage.WT.Wave()), Concat({first, last}));
}

TEST_F(MontageTest, FirstClipInAnotherFormatSetsTheMontageFormat)
{
    const Samples oddSamples = Wavy(800, 4);
    Tsample& odd = montage.Create("odd", "/classe/odd.wav", 0, 100, montage.FirstFreeSlot());
    LoadBytes(odd.Storage.Wave(), CanonicalWave(Mono8000, Pcm16(oddSamples)));
    AddSamples("c1", Staircase(2205));
    RenderAndSettle();
    const TWaveFormatEx* format = montage.WT.Wave().WaveFormat();
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->nSamplesPerSec, 8000U);
    EXPECT_EQ(SamplesOf(montage.WT.Wave()), oddSamples);
}

TEST_F(MontageTest, ChangeDuringARenderStartsItAgain)
{
    const Samples a = Wavy(44100, 1);
    const Samples b = Wavy(44100, 2);
    const Samples c = Wavy(44100, 3);
    AddSamples("a", a);
    AddSamples("b", b);
    AddSamples("c", c);
    montage.RestartRender();
    montage.RenderStep();
    montage.RenderStep();
    ASSERT_EQ(montage.RenderCursor, 2);
    restarted = 0;

    montage.CycleFadeIn(1); // a|b crossfade of 1000 ms
    EXPECT_EQ(montage.RenderCursor, 0);
    EXPECT_EQ(restarted, 1);
    for (int step = 1; step <= 3; ++step) {
        montage.RenderStep();
        EXPECT_FALSE(montage.RenderFinished) << step;
        EXPECT_EQ(montage.RenderCursor, step);
    }
    EXPECT_EQ(finished, 0);
    montage.RenderStep();
    EXPECT_TRUE(montage.RenderFinished);
    EXPECT_EQ(finished, 1);
    // The montage is the new one: b enters a second later, mixed into a's tail.
    const Samples result = SamplesOf(montage.WT.Wave());
    ASSERT_EQ(result.size(), 3U * 44100 - 22050);
    EXPECT_EQ(result[44099], Mixed(a[44099], b[22049], 0, 22050, 22050));
    EXPECT_EQ(result[44100], b[22050]);
    EXPECT_EQ(Samples(result.end() - 44100, result.end()), c);
}

TEST_F(MontageTest, HundredClipsFinishAfterOneStepMoreThanClips)
{
    Samples expected;
    for (int k = 0; k < MaxClips; ++k) {
        const Samples samples = Staircase(220, 300 * static_cast<std::size_t>(k));
        AddSamples("c" + std::to_string(k), samples);
        expected.insert(expected.end(), samples.begin(), samples.end());
    }
    montage.RestartRender();
    for (int step = 1; step <= MaxClips; ++step) {
        montage.RenderStep();
        ASSERT_FALSE(montage.RenderFinished) << step;
    }
    montage.RenderStep();
    EXPECT_TRUE(montage.RenderFinished);
    EXPECT_EQ(finished, 1);
    montage.RenderStep();
    montage.CompleteRender();
    EXPECT_EQ(finished, 1);

    const TWave& wt = montage.WT.Wave();
    EXPECT_EQ(SamplesOf(wt), expected);
    EXPECT_EQ(montage.OverviewSamples, wt.Data());
    EXPECT_EQ(montage.OverviewCount, 22000U);
    EXPECT_FLOAT_EQ(montage.OverviewScale, static_cast<float>(montage.OverviewWidth) / 22000.0F);
}

TEST_F(MontageTest, EmptyMontageFinishesWithBlankOverview)
{
    montage.RestartRender();
    montage.RenderStep();
    EXPECT_TRUE(montage.RenderFinished);
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(montage.OverviewCount, 0U);
    EXPECT_EQ(montage.OverviewScale, 0.0F);
    EXPECT_EQ(montage.OverviewSamples, nullptr);
}

TEST_F(MontageTest, InvalidFirstClipGivesAnEmptyMontage)
{
    montage.Create("invalide", "/classe/pas-un-wave.wav", 0, 1000, 0); // its storage stays empty
    AddSamples("c1", Staircase(2205));
    RenderAndSettle();
    EXPECT_FALSE(montage.WT.Wave().Valid());
    EXPECT_EQ(montage.OverviewCount, 0U);
    EXPECT_EQ(montage.OverviewScale, 0.0F);
    EXPECT_TRUE(std::isfinite(montage.OverviewScale));
}

// ---- WAV export -----------------------------------------------------------------------------------

class MontageExportTest : public MontageTest
{
protected:
    MontageExportTest()
    {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() /
              ("sonalto-montage-" + std::to_string(::getpid()) + "-" + std::string(info->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~MontageExportTest() override
    {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    static Bytes ReadFile(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    static std::string CreateErrorOf(TMontage& montage, const std::string& path)
    {
        try {
            montage.ExportWave(path);
        } catch (const EFCreateError& error) {
            return error.what();
        } catch (const std::exception& error) {
            return std::string("other error: ") + error.what();
        }
        return "no error";
    }

    std::vector<fs::path> Entries(const fs::path& folder)
    {
        std::vector<fs::path> out;
        for (const auto& entry : fs::directory_iterator(folder))
            out.push_back(entry.path().filename());
        return out;
    }

    fs::path dir;
};

TEST_F(MontageExportTest, FinishedMontageIsWrittenAsItsImage)
{
    const Samples a = Staircase(4410);
    const Samples b = Wavy(2205, 5);
    AddSamples("a", a);
    AddSamples("b", b);
    RenderAndSettle();
    montage.MontageSaved = false;
    const std::string path = (dir / "montage.wav").string();

    montage.ExportWave(path);

    const Bytes file = ReadFile(path);
    EXPECT_EQ(file, WaveBytes(montage.WT.Wave()));
    TWave reread;
    LoadBytes(reread, file);
    EXPECT_TRUE(IsMontageFormat(reread));
    EXPECT_EQ(SamplesOf(reread), Concat({a, b}));
    EXPECT_EQ(montage.WaveExportFileName, path);
    EXPECT_FALSE(montage.MontageSaved);
    EXPECT_EQ(Entries(dir), std::vector<fs::path>{"montage.wav"});
}

TEST_F(MontageExportTest, ExportDuringARenderWritesTheWholeMontage)
{
    const Samples a = Staircase(4410);
    const Samples b = Wavy(2205, 5);
    const Samples c = Wavy(3000, 6);
    AddSamples("a", a);
    AddSamples("b", b);
    AddSamples("c", c);
    montage.RestartRender();
    montage.RenderStep();
    ASSERT_FALSE(montage.RenderFinished);
    const std::string path = (dir / "montage.wav").string();

    montage.ExportWave(path);

    EXPECT_TRUE(montage.RenderFinished);
    EXPECT_EQ(finished, 1);
    TWave reread;
    LoadBytes(reread, ReadFile(path));
    EXPECT_EQ(SamplesOf(reread), Concat({a, b, c}));
}

TEST_F(MontageExportTest, ExportReplacesAnExistingFile)
{
    const std::string path = (dir / "montage.wav").string();
    {
        std::ofstream old(path, std::ios::binary);
        old << std::string(100000, 'x');
    }
    AddSamples("a", Staircase(441));
    RenderAndSettle();
    montage.ExportWave(path);
    EXPECT_EQ(ReadFile(path), WaveBytes(montage.WT.Wave()));
}

TEST_F(MontageExportTest, MissingFolderRaisesCreateErrorAndKeepsTheLastName)
{
    AddSamples("a", Staircase(441));
    RenderAndSettle();
    const std::string good = (dir / "premier.wav").string();
    montage.ExportWave(good);
    const Bytes goodBytes = ReadFile(good);

    const std::string bad = (dir / "absent" / "montage.wav").string();
    EXPECT_EQ(CreateErrorOf(montage, bad), "Impossible de créer le fichier " + bad);
    EXPECT_EQ(montage.WaveExportFileName, good);
    EXPECT_FALSE(fs::exists(dir / "absent"));
    EXPECT_EQ(ReadFile(good), goodBytes);
}

TEST_F(MontageExportTest, TargetThatCannotBeReplacedIsLeftIntact)
{
    AddSamples("a", Staircase(441));
    RenderAndSettle();
    const std::string good = (dir / "premier.wav").string();
    montage.ExportWave(good);

    // The target is a folder holding a file: the finished file cannot take its place.
    const fs::path target = dir / "montage.wav";
    fs::create_directory(target);
    {
        std::ofstream inside(target / "notes.txt");
        inside << "a garder";
    }
    EXPECT_EQ(CreateErrorOf(montage, target.string()), "Impossible de créer le fichier " + target.string());
    EXPECT_TRUE(fs::is_directory(target));
    EXPECT_EQ(ReadFile(target / "notes.txt"), (Bytes{'a', ' ', 'g', 'a', 'r', 'd', 'e', 'r'}));
    EXPECT_EQ(montage.WaveExportFileName, good);
    // Nothing left beside the target.
    std::vector<fs::path> entries = Entries(dir);
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<fs::path>{"montage.wav", "premier.wav"}));
}

TEST_F(MontageExportTest, AMontageWithoutSoundIsRefusedAndNothingIsWritten)
{
    // A first clip with no wave at all, or one with a format but no sample.
    AddSamples("vide", {});
    const std::string path = (dir / "montage.wav").string();
    for (const bool invalid : {false, true}) {
        if (invalid)
            montage.ClipAt(0)->Storage.Wave().Clear();
        montage.RestartRender();
        EXPECT_EQ(CreateErrorOf(montage, path),
                  "other error: Le montage ne contient aucun son : rien n'a été exporté.");
        EXPECT_TRUE(Entries(dir).empty());
        EXPECT_TRUE(montage.WaveExportFileName.empty());
    }
}

} // namespace
