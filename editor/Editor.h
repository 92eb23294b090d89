// The editor's state and rules: the recording being edited, its selection, the zoom and the scroll
// position of the waveform view, and what the view draws. No widgets here: the main window shows
// what this computes and forwards the user's commands to it.
#pragma once

#include "audio/SoundDecoder.h"
#include "audio/WaveStorage.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// " mm-ss.fff ": minutes (two digits at least, no hour field), seconds, milliseconds.
std::string FormatTime(std::uint32_t ms);

// A horizontal scroll bar's values, in pixels of the view's strip. Setting the range clamps the
// position; the callers recompute what depends on the position afterwards.
struct TScrollBarState
{
    int Min = 0;
    int Max = 0;
    int Position = 0;
    static constexpr int LargeChange = 20;
    static constexpr int SmallChange = 1;

    void SetMin(int value);
    void SetMax(int value);
    void SetPosition(int value);
};

// What the waveform box shows: the blue and green bands and one trace point per column.
struct TWaveformPicture
{
    bool Loaded = false;
    std::int64_t SelectionLeft = 0;  // xs: may lie outside the box
    std::int64_t SelectionRight = 0; // xe
    bool SelectionShown = false;     // SelEnd > SelStart: green between the two
    int Middle = 0;
    std::vector<int> TraceY; // y of column x, for x = 0 .. width - 1
};

class TEditor
{
public:
    enum class LoadResult
    {
        Loaded,
        Refused,
        Cancelled // by the answer of OnDecodeProgress
    };

    // The waveform box's size, set by the window that shows it.
    int BoxWidth = 620;
    int BoxHeight = 145;

    TWaveStorage WS1;    // the recording being edited, always 16-bit mono once loaded
    TWaveStorage WStest; // staging storage, empty except during a load

    bool RecordingLoaded = false;
    std::string SourceFileName;
    const std::uint8_t* Samples = nullptr; // 16-bit little-endian samples of WS1
    std::uint32_t SampleCount = 0;
    float Scale = 0;
    float FullViewScale = 0;
    std::int32_t FirstVisibleSample = 0;
    std::uint32_t SelStart = 0;
    std::uint32_t SelEnd = 0;
    std::int32_t DragMode = 0; // 0 none, 1 moving SelStart (left button), 2 moving SelEnd (right button)
    std::int32_t DragX = 0;
    std::int32_t EdgeMargin = 10;
    std::int32_t AutoScrollDir = 0;
    TScrollBarState SB;

    // Reads the file into the staging storage (a wave of 8- or 16-bit PCM as it stands, any other sound
    // file decoded), folds it to 16-bit mono and, when it is one of the PCM formats, makes it the recording
    // shown whole and selected whole. A refused or cancelled file leaves the previous recording as it was;
    // an unreadable one raises the stream's error (a decode too long for a wave ESoundTooLongError), with
    // the same guarantee.
    LoadResult LoadRecording(const std::string& fileName);
    // Told during a decode; answering false cancels the load.
    TDecodeProgress OnDecodeProgress;
    // Called when an accepted file is about to replace the recording (players reading it stop here).
    std::function<void()> OnReplacingRecording;
    // Whether the staged wave is one of the PCM formats; folds stereo to mono whatever the answer.
    bool AcceptFormat();

    // The three label texts.
    std::string DurationText() const;  // Label1
    std::string SelectionText() const; // Label2
    std::string FormatText() const;    // Label11

    std::int16_t SampleAt(std::uint32_t index) const;
    // Milliseconds of a sample index, rounded (halves to even).
    std::uint32_t SampleToMs(std::uint32_t index) const;

    // View commands; each returns whether it did anything.
    bool ZoomIn();
    bool ZoomOut();
    bool ZoomOnSelection();
    bool FullView();
    // The scroll position changed (by the user or by a clamp): the trace follows it.
    void ScrollPositionChanged();
    void ScrollTo(int position);

    TWaveformPicture Picture() const;

    // Mouse selection in the waveform box. Each returns whether the box must be redrawn; the auto-scroll
    // timer's state is TdecalEnabled.
    bool MouseDown(int button, int x); // button 1 left, 2 right, anything else changes no bound
    bool MouseMove(int x);
    void MouseUp(int x);
    bool AutoScrollTick();
    // The sample under column x of the box: (x + scroll position) / Scale, rounded, within the recording.
    std::uint32_t ColumnToSample(std::int64_t x) const;
    // The selection in milliseconds as the label shows it, never empty: the end is at least start + 1.
    std::pair<std::uint32_t, std::uint32_t> SelectionMs() const;
    bool TdecalEnabled = false;

    // Zooming in stops here: beyond it a sample is wider than a finger-width on screen.
    static constexpr float MaxScale = 16.0F;

private:
    // Reads the file into WStest in the editor's mono 16-bit form; accepted tells whether it can be shown.
    TSoundLoad StageRecording(const std::string& fileName, bool& accepted);
    bool setZoomScale(float scale);
    std::uint32_t m_loadedRate = 0; // the file's rate and sample size, as shown in Label11
    std::uint16_t m_loadedBits = 0;
    std::uint32_t m_stagedRate = 0;
    std::uint16_t m_stagedBits = 0;
};
