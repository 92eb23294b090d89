// The montage: the clips (extraits) of the strip with their fades, the tables that order them, the
// rules that keep crossfades consistent, the step-by-step render into one wave and its WAV export.
// No widgets: each clip tells its panel what to show through a view, and the window listens to the
// montage's events.
#pragma once

#include "audio/WaveStorage.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

constexpr TPCMFormat MontageFormat = Mono16bit22050Hz;

// A montage that cannot be exported as it is; the text is meant for the user.
class EMontageError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};
constexpr int MaxClips = 100;

// What a clip's panel shows. The montage calls it whenever a shown value changes.
class TsampleView
{
public:
    virtual ~TsampleView() = default;
    virtual void ShowTitle(const std::string& title) = 0;
    virtual void ShowLength(std::int32_t lengthMs) = 0;
    virtual void ShowFadeIn(std::int32_t kind, std::int32_t ms) = 0;
    virtual void ShowFadeOut(std::int32_t kind, std::int32_t ms) = 0;
    // The clip's place in the strip (its panel's left edge and its handle's tag follow it).
    virtual void ShowPosition(std::int32_t position) = 0;
    virtual void ShowPlaying(bool playing) = 0;
};

// One clip. Its view is destroyed after its audio, as the panel after the storage.
class Tsample
{
public:
    Tsample(std::string title, std::string sourceFile, std::int32_t startMs, std::int32_t lengthMs,
            std::int32_t slot, std::int32_t position);

    std::unique_ptr<TsampleView> View;
    TWaveStorage Storage;

    std::string Title;
    std::string SourceFile;
    std::int32_t StartMs = 0;
    std::int32_t LengthMs = 0;
    std::int32_t FadeInKind = 1;
    std::int32_t FadeOutKind = 1;
    std::int32_t FadeInMs = 1000;
    std::int32_t FadeOutMs = 1000;
    std::int32_t Position = 0;
    std::int32_t Slot = 0;

    void SetTitle(std::string title);
    void SetFadeIn(std::int32_t kind, std::int32_t ms);
    void SetFadeOut(std::int32_t kind, std::int32_t ms);
    void SetPosition(std::int32_t position);
    // Shows every value on a view just attached.
    void ShowAll();
};

class TMontage
{
public:
    static constexpr int RenderIdle = -1;

    TMontage();
    ~TMontage();

    std::array<std::unique_ptr<Tsample>, MaxClips> ClipSlots;
    std::array<int, MaxClips> StripOrder{};
    int ClipCount = 0;
    int ClipCounter = 1;
    int PendingDelete = 0;
    int PlayingSlot = -1;
    bool MontageSaved = true;

    int RenderCursor = RenderIdle;
    bool RenderFinished = false; // the montage player's button is enabled: WT holds the whole montage
    TWaveStorage WS2, WS3, WT;
    const std::uint8_t* OverviewSamples = nullptr;
    std::uint32_t OverviewCount = 0;
    float OverviewScale = 0;
    int OverviewWidth = 620; // the overview box's width, set by the window
    std::string WaveExportFileName;
    std::string ProjectFileName; // the last project saved since the start

    // The window's side.
    std::function<std::unique_ptr<TsampleView>(Tsample& clip)> CreateView;
    std::function<void()> OnRenderRestarted;           // the render is no longer finished
    std::function<void()> OnRenderFinished;            // WT holds the whole montage
    std::function<void(bool)> OnClipsPresent;          // the save and export commands follow
    std::function<void()> OnEmptied;                   // the last clip went: the overview is blanked
    std::function<void(Tsample& clip)> OnDeletingClip; // a playback of that clip must stop first

    Tsample* ClipAt(int position) const;
    int FirstFreeSlot() const;

    // A new clip at the end of the strip, stored in its slot, without audio yet.
    Tsample& Create(const std::string& title, const std::string& sourceFile, std::int32_t startMs,
                    std::int32_t lengthMs, int slot);
    void SwapPositions(int a, int b);
    void FixCrossfades(Tsample& clip);
    void RelayoutStrip();
    void FreeAllClips();

    // Editing.
    // Adds the stretch [startMs, endMs) of the recording as a new clip; false when the strip is full or the
    // stretch is empty.
    bool AddClip(const std::string& title, const TWave& recording, const std::string& sourceFile,
                 std::uint32_t startMs, std::uint32_t endMs);
    void CycleFadeIn(int position);
    void CycleFadeOut(int position);
    void SetFadeInSeconds(int position, int seconds);
    void SetFadeOutSeconds(int position, int seconds);
    // The deletion asked for PendingDelete, run outside the clip's own handlers.
    void DeletePending();
    void HandleDragDrop(int source, int target);

    // Rendering.
    void RestartRender();
    void RenderStep();
    // Runs the remaining steps at once.
    void CompleteRender();
    // The whole montage, rendered to its end, for an export: EMontageError when it holds no sound.
    const TWave& RenderedMontage();
    // The whole montage (rendering what is left first) into a file, written beside it and renamed over it,
    // so that a failed export leaves any previous file as it was.
    void ExportWave(const std::string& fileName);

private:
    void renderClip(int position);
    void finishRender();
};
