// The mixer component: one mixer device, one destination of it (the recording window uses destination 1,
// the recording destination), that destination's source lines with their volume in percent, the choice of
// the recording source, and the mixer's change notifications as events on the GUI thread.
//
// It raises nothing of its own: each line keeps the result of its last call in LastError (MIXERR_INVALCONTROL
// when the control is missing, MMSYSERR_INVALPARAM for a source index out of range), Volume answers -1 on
// any failure, and the mixer keeps the result of its last open.
#pragma once

#include "platform/sound/MixerService.h"

#include <QObject>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;
class TAudioMixer;

enum TMixerControlType : std::uint8_t
{
    mcVolume,
    mcMute,
    mcSelect
};

class TAudioMixerLine
{
public:
    // Reads the line: index -1 is the destination line itself.
    TAudioMixerLine(TAudioMixer* mixer, int index);

    int Index() const { return m_index; }
    TAudioMixer* Mixer() const { return m_mixer; }
    std::string Name() const; // up to 64 characters
    const MIXERLINE& LineInfo() const { return m_lineInfo; }
    MMRESULT LastError() const { return m_lastError; }
    bool HasControl(TMixerControlType kind) const { return (m_availableControls & (1U << kind)) != 0; }
    const MIXERCONTROL& Control(TMixerControlType kind) const { return m_controls[kind]; }

    // 0 to 100, or -1.
    int Volume();
    void SetVolume(int percent);
    // On the destination line: records from the source line of that index.
    void SelectSource(int index);
    // The kind of this line's control with that identifier; false when it has none.
    bool FindControl(std::uint32_t controlId, TMixerControlType& kind) const;

    // Reads the line again (done at creation).
    void Read();

private:
    int m_index;
    TAudioMixer* m_mixer;
    MIXERLINE m_lineInfo;
    MMRESULT m_lastError = MMSYSERR_NOERROR;
    std::uint8_t m_availableControls = 0; // bit per TMixerControlType
    MIXERCONTROL m_controls[3];
};

using TMixerLineNotifyEvent = std::function<void(TAudioMixer* sender, TAudioMixerLine* mixerLine)>;
using TMixerControlNotifyEvent =
    std::function<void(TAudioMixer* sender, TAudioMixerLine* mixerLine, TMixerControlType controlType)>;

class TAudioMixer
{
public:
    TAudioMixer();
    ~TAudioMixer();
    TAudioMixer(const TAudioMixer&) = delete;
    TAudioMixer& operator=(const TAudioMixer&) = delete;

    unsigned MixerID() const { return m_mixerId; }
    // Ignored unless different and below MixerCount; reopens the mixer.
    void SetMixerID(unsigned value);
    unsigned DestinationID() const { return m_destinationId; }
    // When different: rebuilds the lines without reopening.
    void SetDestinationID(unsigned value);

    std::string MixerName() const; // up to 32 characters
    void SetMixerName(const std::string& value);
    std::string DestinationName() const;
    void SetDestinationName(const std::string& value);

    unsigned MixerCount() const;
    unsigned DestinationCount() const; // as an unsigned 16-bit value
    unsigned LineCount() const;        // the destination line's connections, unsigned 16-bit
    // Raises EListError "Indice de liste hors limites (%d)" for an index outside the list.
    TAudioMixerLine* Lines(int index) const;
    TAudioMixerLine* DestinationLine() const { return m_destinationLine.get(); }

    int GetMixerNames(QStringList& names) const;
    int GetDestinationNames(QStringList& names) const;

    HMIXER Handle() const { return m_handle; }
    MMRESULT OpenResult() const { return m_openResult; }

    TMixerLineNotifyEvent OnLineChange;
    TMixerControlNotifyEvent OnControlChange;

    // A notification as the hidden receiver hands it over (also called directly by tests). Answers 0.
    long MixerMessage(std::uint32_t message, HMIXER mixer, std::uint32_t id);

private:
    class Receiver;
    void reopen(bool linesOnly);
    void watchPollDescriptors();

    HMIXER m_handle = 0;
    unsigned m_mixerId = 0;
    MIXERCAPS m_caps;
    unsigned m_destinationId = 0;
    std::vector<std::unique_ptr<TAudioMixerLine>> m_lines;
    std::unique_ptr<TAudioMixerLine> m_destinationLine;
    MMRESULT m_openResult = MMSYSERR_NOERROR;
    std::unique_ptr<Receiver> m_window;
    std::vector<std::unique_ptr<QSocketNotifier>> m_notifiers;
};
