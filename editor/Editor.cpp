#include "editor/Editor.h"

#include "audio/PcmWaveFile.h"
#include "editor/Rounding.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdio>
#include <utility>

std::string FormatTime(std::uint32_t ms)
{
    char text[32];
    std::snprintf(text, sizeof text, " %02u-%02u.%03u ", ms / 60000, (ms % 60000) / 1000, ms % 1000);
    return text;
}

void TScrollBarState::SetMin(int value)
{
    Min = std::min(value, Max);
    Position = std::clamp(Position, Min, Max);
}

void TScrollBarState::SetMax(int value)
{
    // A range that would end before it starts is taken as empty rather than refused.
    Max = std::max(value, Min);
    Position = std::clamp(Position, Min, Max);
}

void TScrollBarState::SetPosition(int value)
{
    Position = std::clamp(value, Min, Max);
}

// ---- Loading ---------------------------------------------------------------------------------------

bool TEditor::AcceptFormat()
{
    TWave& wave = WStest.Wave();
    // A file whose byte rate or block alignment is wrong is read by its channels, bits and rate, which are
    // what its samples really are: it then shows, plays and cuts like any other.
    wave.RepairPCMFormat();
    // A file with less than two bytes of sound has nothing to show or select.
    const bool accepted = wave.PCMFormat() != nonePCM && wave.DataSize() >= 2;

    static constexpr std::array<std::pair<TPCMFormat, TPCMFormat>, 10> Folds = {{
        {Stereo8bit8000Hz, Mono8Bit8000Hz},
        {Stereo16bit8000Hz, Mono16bit8000Hz},
        {Stereo8bit11025Hz, Mono8bit11025Hz},
        {Stereo16bit11025Hz, Mono16bit11025Hz},
        {Stereo8bit22050Hz, Mono8bit22050Hz},
        {Stereo16bit22050Hz, Mono16bit22050Hz},
        {Stereo8bit44100Hz, Mono8bit44100Hz},
        {Stereo16bit44100Hz, Mono16bit44100Hz},
        {Stereo8bit48000Hz, Mono8bit48000Hz},
        {Stereo16bit48000Hz, Mono16bit48000Hz},
    }};
    for (const auto& [stereo, mono] : Folds)
        if (wave.PCMFormat() == stereo)
            wave.ConvertToPCM(mono);
    if (!accepted)
        return false;

    // The format as the user recorded it (after the fold), before the editor's own 16-bit form.
    const TWaveFormatEx* format = wave.WaveFormat();
    m_stagedRate = format->nSamplesPerSec;
    m_stagedBits = format->wBitsPerSample;
    if (format->wBitsPerSample == 8) {
        TWaveFormatEx sixteen = *format;
        sixteen.wBitsPerSample = 16;
        sixteen.nBlockAlign = 2;
        sixteen.nAvgBytesPerSec = sixteen.nSamplesPerSec * 2;
        wave.ConvertTo(sixteen);
    }
    const TWaveFormatEx* result = wave.WaveFormat();
    return result && result->nChannels == 1 && result->wBitsPerSample == 16 && wave.DataSize() >= 2;
}

TSoundLoad TEditor::StageRecording(const std::string& fileName, bool& accepted)
{
    // A stereo or 8-bit wave file is folded and widened block by block as it is read: an hour of stereo is
    // never held beside its mono result. The samples are those the whole file's fold and widening give.
    TPcmWaveFile file;
    if (file.Open(fileName)) {
        file.RepairPCMFormat();
        const TWaveFormatEx& format = file.Format();
        const bool folds = format.nChannels == 2 || format.wBitsPerSample == 8;
        if (folds && WaveFormatToPCMFormat(&format) != nonePCM && file.DataSize() >= 2 &&
            file.ReadMono16(WStest.Wave())) {
            m_stagedRate = format.nSamplesPerSec;
            m_stagedBits = format.wBitsPerSample;
            accepted = WStest.Wave().DataSize() >= 2;
            return TSoundLoad::Loaded;
        }
    }
    TDecodeOptions options;
    options.Progress = OnDecodeProgress;
    bool decoded = false;
    const TSoundLoad read = LoadSoundFile(fileName, WStest.Wave(), options, &decoded);
    if (read != TSoundLoad::Loaded)
        return read;
    // A decoded hour is folded where it lies, to the same samples AcceptFormat's fold gives, so that it is
    // never held twice.
    if (decoded)
        FoldStereoInPlace(WStest.Wave());
    accepted = AcceptFormat();
    return read;
}

TEditor::LoadResult TEditor::LoadRecording(const std::string& fileName)
{
    bool accepted = false;
    try {
        if (const TSoundLoad read = StageRecording(fileName, accepted); read != TSoundLoad::Loaded) {
            WStest.Wave().Clear();
            return read == TSoundLoad::Cancelled ? LoadResult::Cancelled : LoadResult::Refused;
        }
    } catch (...) {
        WStest.Wave().Clear();
        throw;
    }
    if (!accepted) {
        WStest.Wave().Clear();
        return LoadResult::Refused;
    }
    if (OnReplacingRecording)
        OnReplacingRecording();
    SourceFileName = fileName;
    // The staged bytes move into WS1 instead of being copied: an hour-long recording is held once.
    WS1.Wave().SwapContent(WStest.Wave());
    WStest.Wave().Clear();
    m_loadedRate = m_stagedRate;
    m_loadedBits = m_stagedBits;

    Samples = WS1.Wave().Data();
    SampleCount = WS1.Wave().DataSize() >> 1;
    RecordingLoaded = true;
    FirstVisibleSample = 0;
    Scale = static_cast<float>(static_cast<long double>(BoxWidth) / SampleCount);
    FullViewScale = Scale;
    SelStart = 0;
    SelEnd = SampleCount - 1;
    SB.SetMin(0);
    SB.SetMax(0);
    SB.SetPosition(0);
    return LoadResult::Loaded;
}

// ---- Texts ----------------------------------------------------------------------------------------

std::string TEditor::DurationText() const
{
    return RecordingLoaded ? FormatTime(WS1.Wave().Duration()) : std::string();
}

std::string TEditor::FormatText() const
{
    if (!RecordingLoaded)
        return {};
    return std::to_string(m_loadedRate) + " Hz " + std::to_string(m_loadedBits) + " B";
}

std::uint32_t TEditor::SampleToMs(std::uint32_t index) const
{
    const TWaveFormatEx* format = WS1.Wave().WaveFormat();
    if (!format || format->nSamplesPerSec == 0)
        return 0;
    const long double ms = static_cast<long double>(index) / format->nSamplesPerSec * 1000;
    return static_cast<std::uint32_t>(RoundHalfEven(ms));
}

std::string TEditor::SelectionText() const
{
    if (!RecordingLoaded)
        return {};
    std::uint32_t a = SampleToMs(SelStart);
    std::uint32_t b = SampleToMs(SelEnd);
    if (a > b) {
        if (DragMode == 2)
            b = a;
        else if (DragMode == 1)
            a = b;
    }
    // An inverted selection left as it is has no length, rather than a wrapped-around one.
    const std::uint32_t length = b >= a ? b - a : 0;
    return "de " + FormatTime(a) + " à " + FormatTime(b) + " = " + FormatTime(length);
}

std::int16_t TEditor::SampleAt(std::uint32_t index) const
{
    const std::uint8_t* p = Samples + 2 * static_cast<std::size_t>(index);
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}

// ---- View -----------------------------------------------------------------------------------------

namespace {

std::int64_t stripWidth(std::uint32_t sampleCount, float scale)
{
    return RoundHalfEven(static_cast<long double>(sampleCount) * scale);
}

} // namespace

bool TEditor::setZoomScale(float scale)
{
    Scale = scale;
    SB.SetMin(0);
    SB.SetMax(static_cast<int>(stripWidth(SampleCount, Scale) - BoxWidth));
    // The trace follows the scroll position after every zoom, so that the trace, the selection band
    // and the mouse always agree.
    ScrollPositionChanged();
    return true;
}

bool TEditor::ZoomIn()
{
    if (!RecordingLoaded)
        return false;
    const float scale = Scale * 2;
    if (scale > MaxScale || stripWidth(SampleCount, scale) - BoxWidth > INT_MAX)
        return false;
    return setZoomScale(scale);
}

bool TEditor::ZoomOut()
{
    if (!RecordingLoaded || !(Scale / 2 >= FullViewScale))
        return false;
    return setZoomScale(Scale / 2);
}

bool TEditor::ZoomOnSelection()
{
    if (!RecordingLoaded || !(SelStart < SelEnd))
        return false;
    float scale = static_cast<float>(static_cast<long double>(BoxWidth) / (SelEnd - SelStart));
    // A short selection in a long recording would make the strip wider than a scroll bar can count:
    // zoom as far as it can instead.
    while (stripWidth(SampleCount, scale) - BoxWidth > INT_MAX)
        scale = std::nextafter(scale * 0.999F, 0.0F);
    Scale = scale;
    SB.SetMax(static_cast<int>(stripWidth(SampleCount, Scale) - BoxWidth));
    SB.SetPosition(static_cast<int>(RoundHalfEven(static_cast<long double>(SelStart) * Scale)));
    ScrollPositionChanged();
    return true;
}

bool TEditor::FullView()
{
    if (!RecordingLoaded)
        return false;
    Scale = FullViewScale;
    SB.SetMin(0);
    SB.SetMax(0);
    SB.SetPosition(0);
    FirstVisibleSample = 0;
    return true;
}

void TEditor::ScrollPositionChanged()
{
    if (RecordingLoaded)
        FirstVisibleSample =
            static_cast<std::int32_t>(RoundHalfEven(SB.Position / static_cast<long double>(Scale)));
}

void TEditor::ScrollTo(int position)
{
    SB.SetPosition(position);
    ScrollPositionChanged();
}

// ---- Mouse selection ------------------------------------------------------------------------------

std::uint32_t TEditor::ColumnToSample(std::int64_t x) const
{
    if (SampleCount == 0 || Scale <= 0)
        return 0;
    const std::int64_t sample = RoundHalfEven((x + SB.Position) / static_cast<long double>(Scale));
    // The last columns of a zoomed strip can round one past the last sample.
    return static_cast<std::uint32_t>(
        std::clamp<std::int64_t>(sample, 0, static_cast<std::int64_t>(SampleCount) - 1));
}

bool TEditor::MouseDown(int button, int x)
{
    if (!RecordingLoaded)
        return false;
    if (button == 1) {
        DragMode = 1;
        SelStart = ColumnToSample(x);
    } else if (button == 2) {
        DragMode = 2;
        SelEnd = ColumnToSample(x);
    }
    return true;
}

bool TEditor::MouseMove(int x)
{
    if (!RecordingLoaded || DragMode == 0)
        return false;
    DragX = std::clamp(x, 0, BoxWidth - 1);
    if (DragX < EdgeMargin && SB.Position > 0) {
        AutoScrollDir = -1;
        TdecalEnabled = true;
    }
    if (BoxWidth - EdgeMargin < DragX && SB.Position < SB.Max) {
        AutoScrollDir = 1;
        TdecalEnabled = true;
    }
    if (EdgeMargin < DragX && DragX < BoxWidth - EdgeMargin) {
        AutoScrollDir = 0;
        TdecalEnabled = false;
    }
    if (DragMode == 1)
        SelStart = ColumnToSample(DragX);
    else if (DragMode == 2)
        SelEnd = ColumnToSample(DragX);
    return true;
}

void TEditor::MouseUp(int x)
{
    DragX = std::clamp(x, 0, std::max(BoxWidth - 1, 0));
    if (RecordingLoaded) {
        if (DragMode == 1)
            SelStart = ColumnToSample(DragX);
        else if (DragMode == 2)
            SelEnd = ColumnToSample(DragX);
    }
    DragMode = 0;
    AutoScrollDir = 0;
    TdecalEnabled = false;
}

bool TEditor::AutoScrollTick()
{
    if (!RecordingLoaded || AutoScrollDir == 0)
        return false;
    if (AutoScrollDir < 0) {
        ScrollTo(std::max(SB.Position - TScrollBarState::LargeChange, 0));
        SelStart = ColumnToSample(0);
    } else {
        ScrollTo(std::min(SB.Position + TScrollBarState::LargeChange, SB.Max));
        SelEnd = ColumnToSample(BoxWidth);
    }
    return true;
}

std::pair<std::uint32_t, std::uint32_t> TEditor::SelectionMs() const
{
    const std::uint32_t a = SampleToMs(SelStart);
    std::uint32_t b = SampleToMs(SelEnd);
    if (b <= a)
        b = a + 1;
    return {a, b};
}

TWaveformPicture TEditor::Picture() const
{
    TWaveformPicture picture;
    if (!RecordingLoaded)
        return picture;
    picture.Loaded = true;
    picture.SelectionLeft = RoundHalfEven(static_cast<long double>(SelStart) * Scale) - SB.Position;
    picture.SelectionRight = RoundHalfEven(static_cast<long double>(SelEnd) * Scale) - SB.Position;
    picture.SelectionShown = SelEnd > SelStart;
    const auto k = static_cast<float>(static_cast<long double>(BoxHeight) / 32768 / 2);
    picture.Middle = BoxHeight / 2;
    picture.TraceY.resize(static_cast<std::size_t>(std::max(BoxWidth, 0)));
    const std::int64_t last = static_cast<std::int64_t>(SampleCount) - 1;
    for (int x = 0; x < BoxWidth; ++x) {
        const std::int64_t i = std::min<std::int64_t>(
            FirstVisibleSample + RoundHalfEven(x / static_cast<long double>(Scale)), last);
        const int v = SampleAt(static_cast<std::uint32_t>(std::max<std::int64_t>(i, 0)));
        picture.TraceY[static_cast<std::size_t>(x)] =
            picture.Middle + static_cast<int>(RoundHalfEven(static_cast<long double>(v) * k));
    }
    return picture;
}
