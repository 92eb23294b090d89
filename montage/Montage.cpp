#include "montage/Montage.h"

#include "montage/Fades.h"
#include "platform/io/Stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <unistd.h>

// ---- Tsample --------------------------------------------------------------------------------------

Tsample::Tsample(std::string title, std::string sourceFile, std::int32_t startMs, std::int32_t lengthMs,
                 std::int32_t slot, std::int32_t position)
    : Title(std::move(title)), SourceFile(std::move(sourceFile)), StartMs(startMs), LengthMs(lengthMs),
      Position(position), Slot(slot)
{
}

void Tsample::SetTitle(std::string title)
{
    Title = std::move(title);
    if (View)
        View->ShowTitle(Title);
}

void Tsample::SetFadeIn(std::int32_t kind, std::int32_t ms)
{
    FadeInKind = kind;
    FadeInMs = ms;
    if (View)
        View->ShowFadeIn(kind, ms);
}

void Tsample::SetFadeOut(std::int32_t kind, std::int32_t ms)
{
    FadeOutKind = kind;
    FadeOutMs = ms;
    if (View)
        View->ShowFadeOut(kind, ms);
}

void Tsample::SetPosition(std::int32_t position)
{
    Position = position;
    if (View)
        View->ShowPosition(position);
}

void Tsample::ShowAll()
{
    if (!View)
        return;
    View->ShowTitle(Title);
    View->ShowLength(LengthMs);
    View->ShowFadeIn(FadeInKind, FadeInMs);
    View->ShowFadeOut(FadeOutKind, FadeOutMs);
    View->ShowPosition(Position);
    View->ShowPlaying(false);
}

// ---- The strip ------------------------------------------------------------------------------------

TMontage::TMontage() = default;

TMontage::~TMontage()
{
    FreeAllClips();
}

Tsample* TMontage::ClipAt(int position) const
{
    if (position < 0 || position >= ClipCount)
        return nullptr;
    return ClipSlots[static_cast<std::size_t>(StripOrder[static_cast<std::size_t>(position)])].get();
}

int TMontage::FirstFreeSlot() const
{
    for (int slot = 0; slot < MaxClips; ++slot)
        if (!ClipSlots[static_cast<std::size_t>(slot)])
            return slot;
    return -1;
}

Tsample& TMontage::Create(const std::string& title, const std::string& sourceFile, std::int32_t startMs,
                          std::int32_t lengthMs, int slot)
{
    auto clip = std::make_unique<Tsample>(title, sourceFile, startMs, lengthMs, slot, ClipCount);
    if (CreateView) {
        clip->View = CreateView(*clip);
        clip->ShowAll();
    }
    StripOrder[static_cast<std::size_t>(ClipCount)] = slot;
    ++ClipCount;
    ClipSlots[static_cast<std::size_t>(slot)] = std::move(clip);
    return *ClipSlots[static_cast<std::size_t>(slot)];
}

void TMontage::SwapPositions(int a, int b)
{
    Tsample* ca = ClipAt(a);
    Tsample* cb = ClipAt(b);
    if (!ca || !cb)
        return;
    std::swap(StripOrder[static_cast<std::size_t>(a)], StripOrder[static_cast<std::size_t>(b)]);
    ca->SetPosition(b);
    cb->SetPosition(a);
}

void TMontage::FixCrossfades(Tsample& c)
{
    const int p = c.Position;
    const int n = ClipCount;
    Tsample* prev = ClipAt(p - 1);
    Tsample* next = ClipAt(p + 1);
    if (p == 0 && c.FadeInKind == 2)
        c.SetFadeIn(1, c.FadeInMs);
    if (c.FadeInKind == 2 && prev)
        prev->SetFadeOut(2, c.FadeInMs);
    else if (prev && prev->FadeOutKind == 2)
        prev->SetFadeOut(1, prev->FadeOutMs);
    if (p == n - 1 && c.FadeOutKind == 2)
        c.SetFadeOut(1, c.FadeOutMs);
    if (c.FadeOutKind == 2 && next)
        next->SetFadeIn(2, c.FadeOutMs);
    else if (next && next->FadeInKind == 2)
        next->SetFadeIn(1, next->FadeInMs);
}

void TMontage::RelayoutStrip()
{
    for (int p = 0; p < ClipCount; ++p)
        FixCrossfades(*ClipAt(p));
}

void TMontage::FreeAllClips()
{
    for (int p = 0; p < ClipCount; ++p)
        ClipSlots[static_cast<std::size_t>(StripOrder[static_cast<std::size_t>(p)])].reset();
    ClipCount = 0;
    PlayingSlot = -1;
    // Nothing left to render: a step must not look for clips that are gone.
    RenderCursor = RenderIdle;
    RenderFinished = false;
}

// ---- Editing --------------------------------------------------------------------------------------

bool TMontage::AddClip(const std::string& title, const TWave& recording, const std::string& sourceFile,
                       std::uint32_t startMs, std::uint32_t endMs)
{
    const int slot = FirstFreeSlot();
    if (slot < 0 || startMs >= endMs || title.empty())
        return false;
    ++ClipCounter;
    Tsample& clip = Create(title, sourceFile, static_cast<std::int32_t>(startMs),
                           static_cast<std::int32_t>(endMs - startMs), slot);
    TWave& wave = clip.Storage.Wave();
    // Only the stretch is copied: everything after it goes, including the samples of a last partial
    // millisecond.
    wave.CopyRange(recording, startMs, endMs);
    wave.ConvertToPCM(MontageFormat);
    MontageSaved = false;
    if (OnClipsPresent)
        OnClipsPresent(true);
    RestartRender();
    return true;
}

void TMontage::CycleFadeIn(int position)
{
    Tsample* c = ClipAt(position);
    if (!c)
        return;
    int k = (c->FadeInKind + 1) % 3;
    if (position == 0 && k == 2)
        k = 0;
    c->SetFadeIn(k, c->FadeInMs);
    Tsample* prev = ClipAt(position - 1);
    if (k == 2 && prev)
        prev->SetFadeOut(2, prev->FadeOutMs);
    else if (prev && prev->FadeOutKind == 2)
        prev->SetFadeOut(0, prev->FadeOutMs);
    RelayoutStrip();
    RestartRender();
    MontageSaved = false;
}

void TMontage::CycleFadeOut(int position)
{
    Tsample* c = ClipAt(position);
    if (!c)
        return;
    int k = (c->FadeOutKind + 1) % 3;
    if (position == ClipCount - 1 && k == 2)
        k = 0;
    c->SetFadeOut(k, c->FadeOutMs);
    Tsample* next = ClipAt(position + 1);
    if (k == 2 && next)
        next->SetFadeIn(2, next->FadeInMs);
    else if (next && next->FadeInKind == 2)
        next->SetFadeIn(0, next->FadeInMs);
    RelayoutStrip();
    RestartRender();
    MontageSaved = false;
}

void TMontage::SetFadeInSeconds(int position, int seconds)
{
    Tsample* c = ClipAt(position);
    if (!c)
        return;
    c->SetFadeIn(c->FadeInKind, std::clamp(seconds, 1, 5) * 1000);
    Tsample* prev = ClipAt(position - 1);
    if (c->FadeInKind == 2 && prev)
        prev->SetFadeOut(prev->FadeOutKind, c->FadeInMs);
    RestartRender();
    MontageSaved = false;
}

void TMontage::SetFadeOutSeconds(int position, int seconds)
{
    Tsample* c = ClipAt(position);
    if (!c)
        return;
    c->SetFadeOut(c->FadeOutKind, std::clamp(seconds, 1, 5) * 1000);
    Tsample* next = ClipAt(position + 1);
    if (c->FadeOutKind == 2 && next)
        next->SetFadeIn(next->FadeInKind, c->FadeOutMs);
    RestartRender();
    MontageSaved = false;
}

void TMontage::DeletePending()
{
    if (PendingDelete < 0 || PendingDelete >= ClipCount)
        return;
    for (int k = PendingDelete; k <= ClipCount - 2; ++k)
        SwapPositions(k, k + 1);
    Tsample* last = ClipAt(ClipCount - 1);
    if (OnDeletingClip)
        OnDeletingClip(*last);
    if (PlayingSlot == last->Slot)
        PlayingSlot = -1;
    ClipSlots[static_cast<std::size_t>(last->Slot)].reset();
    --ClipCount;
    RelayoutStrip();
    if (ClipCount > 0) {
        RestartRender();
        return;
    }
    RenderCursor = RenderIdle;
    RenderFinished = false;
    OverviewSamples = nullptr;
    OverviewCount = 0;
    if (OnRenderRestarted)
        OnRenderRestarted();
    MontageSaved = true;
    if (OnClipsPresent)
        OnClipsPresent(false);
    if (OnEmptied)
        OnEmptied();
}

void TMontage::HandleDragDrop(int source, int target)
{
    if (source == target || !ClipAt(source) || !ClipAt(target))
        return;
    if (std::abs(target - source) == 1) {
        SwapPositions(target, source);
    } else if (target > source + 1) {
        for (int k = source; k <= target - 2; ++k)
            SwapPositions(k, k + 1);
    } else {
        for (int k = source; k >= target + 1; --k)
            SwapPositions(k, k - 1);
    }
    RelayoutStrip();
    RestartRender();
    MontageSaved = false;
}

// ---- Rendering ------------------------------------------------------------------------------------

void TMontage::RestartRender()
{
    RenderFinished = false;
    if (OnRenderRestarted)
        OnRenderRestarted();
    RenderCursor = 0;
}

void TMontage::RenderStep()
{
    if (RenderCursor == RenderIdle)
        return;
    if (RenderCursor < ClipCount) {
        renderClip(RenderCursor);
        ++RenderCursor;
        return;
    }
    if (RenderCursor == ClipCount && !RenderFinished)
        finishRender();
}

void TMontage::CompleteRender()
{
    if (RenderCursor > ClipCount)
        RenderCursor = 0; // the strip shrank under a render that never restarted: do it all again
    while (RenderCursor != RenderIdle && !(RenderCursor == ClipCount && RenderFinished))
        RenderStep();
}

const TWave& TMontage::RenderedMontage()
{
    CompleteRender();
    const TWave& montage = WT.Wave();
    if (!montage.Valid() || montage.DataSize() == 0)
        throw EMontageError("Le montage ne contient aucun son : rien n'a été exporté.");
    return montage;
}

void TMontage::renderClip(int position)
{
    const Tsample& c = *ClipAt(position);
    WS2.SetWave(&c.Storage.Wave());
    TWave& w = WS2.Wave();

    const std::int32_t inMs = std::min<std::int32_t>(static_cast<std::int32_t>(w.Duration()), c.FadeInMs);
    if (c.FadeInKind == 0)
        ApplyFadeIn(w, FadeSampleCount(w, c.FadeInMs));
    else if (c.FadeInKind == 2 && position > 0 && inMs > 0)
        w.Delete(0, static_cast<std::uint32_t>(inMs)); // already mixed into the previous clip's tail

    if (c.FadeOutKind == 0) {
        ApplyFadeOut(w, FadeSampleCount(w, c.FadeOutMs));
    } else if (c.FadeOutKind == 2 && position < ClipCount - 1) {
        const Tsample& b = *ClipAt(position + 1);
        WS3.SetWave(&b.Storage.Wave());
        ApplyCrossfade(w, FadeSampleCount(w, c.FadeOutMs), WS3.Wave(),
                       FadeSampleCount(WS3.Wave(), b.FadeInMs));
    }

    // Each clip goes after the montage's last sample, so that nothing of the montage is moved behind it.
    // A clip in another format is refused and left out.
    if (position == 0)
        WT.SetWave(&w);
    else
        WT.Wave().Append(w);
}

void TMontage::finishRender()
{
    RenderFinished = true;
    TWave& montage = WT.Wave();
    OverviewSamples = montage.Data();
    OverviewCount = montage.DataSize() / 2;
    OverviewScale = OverviewCount > 0
                        ? static_cast<float>(static_cast<long double>(OverviewWidth) / OverviewCount)
                        : 0.0F;
    if (OnRenderFinished)
        OnRenderFinished();
}

// ---- WAV export -----------------------------------------------------------------------------------

void TMontage::ExportWave(const std::string& fileName)
{
    const TWave& montage = RenderedMontage();
    // Written beside the target under a name of its own, then renamed over it in one step.
    const std::string temporary = fileName + ".sonalto-tmp";
    try {
        montage.SaveToFile(temporary);
    } catch (const EFCreateError&) {
        throw EFCreateError(fileName);
    } catch (const EStreamError&) {
        ::unlink(temporary.c_str());
        throw EWriteError(fileName);
    }
    if (std::rename(temporary.c_str(), fileName.c_str()) != 0) {
        ::unlink(temporary.c_str());
        throw EFCreateError(fileName);
    }
    WaveExportFileName = fileName;
}
