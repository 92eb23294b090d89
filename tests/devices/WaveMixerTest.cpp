// The mixer component over the virtual mixer: its lines, the percent scale of the volume, the choice of
// the recording source, its result codes, MixerID and DestinationID, and the notifications it passes on
// as events on the GUI thread (from any thread, through a watched descriptor, or never once it is gone).
#include "devices/WaveMixer.h"

#include "platform/io/ExceptionHandler.h"
#include "platform/io/ListError.h"
#include "platform/sound/virtual/VirtualMixer.h"
#include "support/ProcessEvents.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Values = std::vector<std::uint32_t>;
using Card = VirtualMixerBackend::Device;

void processPending()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// A card with one destination whose sources lack some controls.
Card sparseCard()
{
    Card card;
    card.name = "Carte simple";
    VirtualMixerBackend::Destination recording;
    recording.line.name = "Entrées";
    VirtualMixerBackend::Line muteOnly;
    muteOnly.name = "Téléphone";
    muteOnly.controls = {{MIXERCONTROL_CONTROLTYPE_MUTE, 0, 1, {}, {0}}};
    VirtualMixerBackend::Line small;
    small.name = "Radio";
    small.controls = {{MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 255, {}, {51}}};
    recording.sources = {muteOnly, small};
    card.destinations = {recording};
    return card;
}

struct ControlEvent
{
    TAudioMixerLine* line;
    TMixerControlType kind;
    bool onGuiThread;
};

class AudioMixer : public testing::Test
{
protected:
    void SetUp() override
    {
        backend = std::make_shared<VirtualMixerBackend>(std::vector<Card>{
            VirtualMixerBackend::Card("Carte son", {"Micro", "Entrée ligne", "CD", "Mélangeur stéréo"}),
            sparseCard()});
        SetCurrentMixerBackend(backend);
    }
    void TearDown() override { SetCurrentMixerBackend(nullptr); }

    // A mixer whose events are recorded.
    std::unique_ptr<TAudioMixer> listenedMixer()
    {
        auto mixer = std::make_unique<TAudioMixer>();
        mixer->OnControlChange = [this](TAudioMixer*, TAudioMixerLine* line, TMixerControlType kind) {
            controls.push_back(
                {line, kind, QThread::currentThread() == QCoreApplication::instance()->thread()});
        };
        mixer->OnLineChange = [this](TAudioMixer*, TAudioMixerLine* line) { lines.push_back(line); };
        return mixer;
    }

    Values selector() const { return backend->Values(0, 1, -1, MIXERCONTROL_CONTROLTYPE_MUX); }

    std::shared_ptr<VirtualMixerBackend> backend;
    std::vector<ControlEvent> controls;
    std::vector<TAudioMixerLine*> lines;
};

TEST_F(AudioMixer, OpensTheFirstMixerOnItsPlaybackDestination)
{
    TAudioMixer mixer;
    EXPECT_EQ(mixer.OpenResult(), MMSYSERR_NOERROR);
    EXPECT_NE(mixer.Handle(), 0u);
    EXPECT_EQ(backend->OpenMixers(), 1);
    EXPECT_EQ(mixer.MixerID(), 0u);
    EXPECT_EQ(mixer.MixerName(), "Carte son");
    EXPECT_EQ(mixer.MixerCount(), 2u);
    EXPECT_EQ(mixer.DestinationCount(), 2u);
    EXPECT_EQ(mixer.DestinationID(), 0u);
    EXPECT_EQ(mixer.DestinationName(), "Haut-parleurs");
    EXPECT_EQ(mixer.LineCount(), 0u);
    TAudioMixerLine* destination = mixer.DestinationLine();
    EXPECT_EQ(destination->Index(), -1);
    EXPECT_EQ(destination->Mixer(), &mixer);
    EXPECT_TRUE(destination->HasControl(mcVolume));
    EXPECT_TRUE(destination->HasControl(mcMute));
    EXPECT_FALSE(destination->HasControl(mcSelect));
    EXPECT_EQ(destination->Volume(), 50);
}

TEST_F(AudioMixer, TheRecordingDestinationListsItsSourcesWithoutReopening)
{
    TAudioMixer mixer;
    const HMIXER handle = mixer.Handle();
    mixer.SetDestinationID(1);
    EXPECT_EQ(mixer.DestinationID(), 1u);
    EXPECT_EQ(mixer.Handle(), handle) << "changing the destination does not reopen the mixer";
    EXPECT_EQ(backend->OpenMixers(), 1);
    EXPECT_EQ(mixer.DestinationName(), "Enregistrement");
    ASSERT_EQ(mixer.LineCount(), 4u);
    const char* names[] = {"Micro", "Entrée ligne", "CD", "Mélangeur stéréo"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(mixer.Lines(i)->Name(), names[i]);
        EXPECT_EQ(mixer.Lines(i)->Index(), i);
        EXPECT_EQ(mixer.Lines(i)->LineInfo().dwSource, static_cast<std::uint32_t>(i));
        EXPECT_EQ(mixer.Lines(i)->LastError(), MMSYSERR_NOERROR);
    }
    EXPECT_TRUE(mixer.DestinationLine()->HasControl(mcSelect));
    EXPECT_EQ(mixer.DestinationLine()->Control(mcSelect).cMultipleItems, 4u);

    try {
        mixer.Lines(4);
        ADD_FAILURE() << "no line 4";
    } catch (const EListError& e) {
        EXPECT_STREQ(e.what(), "Indice de liste hors limites (4)");
    }
    EXPECT_THROW(mixer.Lines(-1), EListError);

    // Back to the playback destination: its lines go.
    mixer.SetDestinationID(0);
    EXPECT_EQ(mixer.LineCount(), 0u);
    EXPECT_THROW(mixer.Lines(0), EListError);
}

TEST_F(AudioMixer, SelectingASourceSetsItsItemCountedFromTheEnd)
{
    TAudioMixer mixer;
    mixer.SetDestinationID(1);
    TAudioMixerLine* destination = mixer.DestinationLine();

    destination->SelectSource(0);
    EXPECT_EQ(destination->LastError(), MMSYSERR_NOERROR);
    EXPECT_EQ(selector(), (Values{0, 0, 0, 1}));
    destination->SelectSource(3);
    EXPECT_EQ(selector(), (Values{1, 0, 0, 0}));
    destination->SelectSource(1);
    EXPECT_EQ(selector(), (Values{0, 0, 1, 0}));

    backend->ClearSetCalls();
    for (const int outside : {4, -1, 100}) {
        destination->SelectSource(outside);
        EXPECT_EQ(destination->LastError(), MMSYSERR_INVALPARAM) << outside;
    }
    EXPECT_EQ(selector(), (Values{0, 0, 1, 0}));
    EXPECT_TRUE(backend->SetCalls().empty()) << "an index out of range never reaches the mixer";

    // A source line has no selector.
    mixer.Lines(2)->SelectSource(0);
    EXPECT_EQ(mixer.Lines(2)->LastError(), MIXERR_INVALCONTROL);
    EXPECT_TRUE(backend->SetCalls().empty());

    // The mixer's own refusal lands in LastError.
    backend->FailNext("SetControlDetails", MMSYSERR_NOTSUPPORTED);
    destination->SelectSource(2);
    EXPECT_EQ(destination->LastError(), MMSYSERR_NOTSUPPORTED);
    EXPECT_EQ(selector(), (Values{0, 0, 1, 0}));
}

TEST_F(AudioMixer, VolumeIsAPercentOfTheMaximum)
{
    TAudioMixer mixer;
    mixer.SetDestinationID(1);
    TAudioMixerLine* micro = mixer.Lines(0);
    const auto value = [this] { return backend->Values(0, 1, 0, MIXERCONTROL_CONTROLTYPE_VOLUME); };

    EXPECT_EQ(micro->Volume(), 50) << "32768 of 65535";
    EXPECT_EQ(micro->LastError(), MMSYSERR_NOERROR);
    micro->SetVolume(50);
    EXPECT_EQ(value(), Values{32768});
    micro->SetVolume(25);
    EXPECT_EQ(value(), Values{16384}) << "16383.75 rounded";
    EXPECT_EQ(micro->Volume(), 25);
    micro->SetVolume(150);
    EXPECT_EQ(value(), Values{65535});
    EXPECT_EQ(micro->Volume(), 100);
    micro->SetVolume(-5);
    EXPECT_EQ(value(), Values{0});
    EXPECT_EQ(micro->Volume(), 0);
    EXPECT_EQ(micro->LastError(), MMSYSERR_NOERROR);

    // Another program's value, read on the same scale.
    backend->ChangeElsewhere(0, 1, 0, MIXERCONTROL_CONTROLTYPE_VOLUME, {49151});
    EXPECT_EQ(micro->Volume(), 75);

    // A failed read answers -1 and keeps the code.
    backend->FailNext("GetControlDetails", MMSYSERR_ERROR);
    EXPECT_EQ(micro->Volume(), -1);
    EXPECT_EQ(micro->LastError(), MMSYSERR_ERROR);
    EXPECT_EQ(micro->Volume(), 75);
    backend->FailNext("SetControlDetails", MMSYSERR_NODRIVER);
    micro->SetVolume(10);
    EXPECT_EQ(micro->LastError(), MMSYSERR_NODRIVER);
    EXPECT_EQ(micro->Volume(), 75);
}

TEST_F(AudioMixer, LinesWithoutAVolumeAnswerMinusOne)
{
    TAudioMixer mixer;
    mixer.SetMixerID(1);
    ASSERT_EQ(mixer.MixerID(), 1u);
    ASSERT_EQ(mixer.LineCount(), 2u);
    TAudioMixerLine* phone = mixer.Lines(0);
    EXPECT_FALSE(phone->HasControl(mcVolume));
    EXPECT_TRUE(phone->HasControl(mcMute));
    backend->ClearSetCalls();
    EXPECT_EQ(phone->Volume(), -1);
    EXPECT_EQ(phone->LastError(), MIXERR_INVALCONTROL);
    phone->SetVolume(30);
    EXPECT_EQ(phone->LastError(), MIXERR_INVALCONTROL);
    EXPECT_TRUE(backend->SetCalls().empty());
    mixer.DestinationLine()->SelectSource(0);
    EXPECT_EQ(mixer.DestinationLine()->LastError(), MIXERR_INVALCONTROL);

    // A maximum other than 65535: 51 of 255 is 20 %, and 20 % of it 51 again.
    TAudioMixerLine* radio = mixer.Lines(1);
    EXPECT_EQ(radio->Volume(), 20);
    radio->SetVolume(60);
    EXPECT_EQ(backend->Values(1, 0, 1, MIXERCONTROL_CONTROLTYPE_VOLUME), Values{153});
}

TEST_F(AudioMixer, MixerIdOutsideTheDevicesIsIgnored)
{
    TAudioMixer mixer;
    const HMIXER handle = mixer.Handle();
    mixer.SetMixerID(2);
    mixer.SetMixerID(1000);
    EXPECT_EQ(mixer.MixerID(), 0u);
    EXPECT_EQ(mixer.Handle(), handle);
    mixer.SetMixerID(0); // the same: nothing happens
    EXPECT_EQ(mixer.Handle(), handle);

    mixer.SetMixerID(1);
    EXPECT_EQ(mixer.MixerID(), 1u);
    EXPECT_NE(mixer.Handle(), handle) << "another device is another open";
    EXPECT_EQ(backend->OpenMixers(), 1) << "the first one was closed";
    EXPECT_EQ(mixer.MixerName(), "Carte simple");
}

TEST_F(AudioMixer, ADestinationOutsideTheMixerFallsBackToTheFirst)
{
    TAudioMixer mixer;
    mixer.SetDestinationID(5);
    EXPECT_EQ(mixer.DestinationID(), 0u);
    EXPECT_EQ(mixer.DestinationName(), "Haut-parleurs");

    // The recording destination of the first card does not exist on the second, which has one.
    mixer.SetDestinationID(1);
    ASSERT_EQ(mixer.LineCount(), 4u);
    mixer.SetMixerID(1);
    EXPECT_EQ(mixer.DestinationID(), 0u);
    EXPECT_EQ(mixer.DestinationName(), "Entrées");
    ASSERT_EQ(mixer.LineCount(), 2u);
    EXPECT_EQ(mixer.Lines(1)->Name(), "Radio");
}

TEST_F(AudioMixer, NamesFindTheirMixerAndDestination)
{
    TAudioMixer mixer;
    QStringList mixers;
    EXPECT_EQ(mixer.GetMixerNames(mixers), 2);
    EXPECT_EQ(mixers, (QStringList{"Carte son", "Carte simple"}));
    QStringList destinations;
    EXPECT_EQ(mixer.GetDestinationNames(destinations), 2);
    EXPECT_EQ(destinations, (QStringList{"Haut-parleurs", "Enregistrement"}));

    mixer.SetDestinationName("Enregistrement");
    EXPECT_EQ(mixer.DestinationID(), 1u);
    EXPECT_EQ(mixer.LineCount(), 4u);
    mixer.SetDestinationName("Casque");
    EXPECT_EQ(mixer.DestinationID(), 1u);

    mixer.SetMixerName("Carte inconnue");
    EXPECT_EQ(mixer.MixerID(), 0u);
    mixer.SetMixerName("Carte simple");
    EXPECT_EQ(mixer.MixerID(), 1u);
    EXPECT_EQ(mixer.MixerName(), "Carte simple");
    mixer.SetMixerName("Carte son");
    EXPECT_EQ(mixer.MixerID(), 0u);
}

TEST_F(AudioMixer, AMixerThatCannotOpenKeepsItsCodesAndDoesNothing)
{
    backend->FailNext("Open", MMSYSERR_ALLOCATED);
    TAudioMixer mixer;
    EXPECT_EQ(mixer.OpenResult(), MMSYSERR_ALLOCATED);
    EXPECT_EQ(mixer.Handle(), 0u);
    EXPECT_EQ(backend->OpenMixers(), 0);
    EXPECT_EQ(mixer.MixerName(), "Carte son") << "the capabilities were read before the open";
    mixer.SetDestinationID(1);
    EXPECT_EQ(mixer.LineCount(), 0u);
    TAudioMixerLine* destination = mixer.DestinationLine();
    EXPECT_EQ(destination->LastError(), MMSYSERR_INVALHANDLE);
    EXPECT_FALSE(destination->HasControl(mcVolume));
    EXPECT_FALSE(destination->HasControl(mcSelect));
    EXPECT_EQ(destination->Volume(), -1);
    EXPECT_EQ(destination->LastError(), MIXERR_INVALCONTROL);
    destination->SelectSource(0);
    EXPECT_EQ(destination->LastError(), MIXERR_INVALCONTROL);
    EXPECT_TRUE(backend->SetCalls().empty());
    QStringList names;
    EXPECT_EQ(mixer.GetDestinationNames(names), 2);
    EXPECT_EQ(names, (QStringList{"", ""})) << "no open mixer to ask";
}

TEST_F(AudioMixer, WithoutAnyMixerEverythingIsEmpty)
{
    SetCurrentMixerBackend(std::make_shared<VirtualMixerBackend>());
    TAudioMixer mixer;
    EXPECT_EQ(mixer.OpenResult(), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(mixer.MixerCount(), 0u);
    EXPECT_EQ(mixer.DestinationCount(), 0u);
    EXPECT_EQ(mixer.MixerName(), "");
    mixer.SetDestinationID(1);
    EXPECT_EQ(mixer.DestinationID(), 0u);
    EXPECT_EQ(mixer.LineCount(), 0u);
    EXPECT_EQ(mixer.DestinationLine()->Volume(), -1);
    QStringList names;
    EXPECT_EQ(mixer.GetMixerNames(names), 0);
    EXPECT_TRUE(names.isEmpty());
}

TEST_F(AudioMixer, ChangesArriveAsEventsOnTheRightLine)
{
    auto mixer = listenedMixer();
    mixer->SetDestinationID(1);
    backend->ChangeElsewhere(0, 1, 2, MIXERCONTROL_CONTROLTYPE_VOLUME, {1000});
    backend->ChangeElsewhere(0, 1, 3, MIXERCONTROL_CONTROLTYPE_MUTE, {1}, true);
    backend->ChangeElsewhere(0, 1, -1, MIXERCONTROL_CONTROLTYPE_MUX, {0, 1, 0, 0});
    EXPECT_TRUE(controls.empty()) << "events wait for the GUI thread's loop";

    ASSERT_TRUE(ProcessUntil([this] { return controls.size() == 3 && lines.size() == 1; }));
    EXPECT_EQ(controls[0].line, mixer->Lines(2));
    EXPECT_EQ(controls[0].kind, mcVolume);
    EXPECT_EQ(controls[1].line, mixer->Lines(3));
    EXPECT_EQ(controls[1].kind, mcMute);
    EXPECT_EQ(controls[2].line, mixer->DestinationLine());
    EXPECT_EQ(controls[2].kind, mcSelect);
    EXPECT_EQ(lines[0], mixer->Lines(3));
    // The lines were not read again: the volume is read when asked.
    EXPECT_EQ(mixer->Lines(2)->Volume(), 2);

    // The component's own change is news too.
    mixer->Lines(0)->SetVolume(80);
    ASSERT_TRUE(ProcessUntil([this] { return controls.size() == 4; }));
    EXPECT_EQ(controls[3].line, mixer->Lines(0));
    EXPECT_EQ(controls[3].kind, mcVolume);
}

TEST_F(AudioMixer, AChangeFromAnotherThreadIsDeliveredOnTheGuiThread)
{
    auto mixer = listenedMixer();
    mixer->SetDestinationID(1);
    std::thread elsewhere([this] { backend->ChangeElsewhere(0, 1, 1, MIXERCONTROL_CONTROLTYPE_MUTE, {1}); });
    elsewhere.join();
    ASSERT_TRUE(ProcessUntil([this] { return controls.size() == 1; }));
    EXPECT_EQ(controls[0].line, mixer->Lines(1));
    EXPECT_EQ(controls[0].kind, mcMute);
    EXPECT_TRUE(controls[0].onGuiThread);
}

TEST_F(AudioMixer, AWatchedDescriptorWakesTheMixer)
{
    backend->UsePollDescriptors(true);
    auto mixer = listenedMixer();
    ASSERT_EQ(mixerGetPollDescriptors(mixer->Handle()).size(), 1u);
    mixer->SetDestinationID(1);
    std::thread elsewhere(
        [this] { backend->ChangeElsewhere(0, 1, 0, MIXERCONTROL_CONTROLTYPE_VOLUME, {0}, true); });
    elsewhere.join();
    ASSERT_TRUE(ProcessUntil([this] { return controls.size() == 1 && lines.size() == 1; }))
        << "the descriptor became readable: the mixer must have read its events";
    EXPECT_EQ(controls[0].line, mixer->Lines(0));
    EXPECT_TRUE(controls[0].onGuiThread);
    EXPECT_EQ(lines[0], mixer->Lines(0));

    // Reopened on another device, it watches that one's descriptor.
    mixer->SetMixerID(1);
    ASSERT_EQ(mixer->LineCount(), 2u);
    backend->ChangeElsewhere(1, 0, 1, MIXERCONTROL_CONTROLTYPE_VOLUME, {0});
    ASSERT_TRUE(ProcessUntil([this] { return controls.size() == 2; }));
    EXPECT_EQ(controls[1].line, mixer->Lines(1));
    EXPECT_EQ(controls[1].kind, mcVolume);
}

TEST_F(AudioMixer, NotificationsOfAClosedHandleAreIgnored)
{
    auto mixer = listenedMixer();
    mixer->SetDestinationID(1);
    backend->ChangeElsewhere(0, 1, 0, MIXERCONTROL_CONTROLTYPE_VOLUME, {5}, true);
    mixer->SetMixerID(1); // the events above name the old handle
    processPending();
    EXPECT_TRUE(controls.empty());
    EXPECT_TRUE(lines.empty());

    // Straight to the receiver: another handle, an unknown identifier, another message.
    const std::uint32_t radio = backend->ControlId(1, 0, 1, MIXERCONTROL_CONTROLTYPE_VOLUME);
    EXPECT_EQ(mixer->MixerMessage(MM_MIXM_CONTROL_CHANGE, mixer->Handle() + 1, radio), 0);
    EXPECT_EQ(mixer->MixerMessage(MM_MIXM_CONTROL_CHANGE, mixer->Handle(), 123456), 0);
    EXPECT_EQ(mixer->MixerMessage(MM_MIXM_LINE_CHANGE, mixer->Handle(), 123456), 0);
    EXPECT_EQ(mixer->MixerMessage(MM_WIM_DATA, mixer->Handle(), radio), 0);
    EXPECT_TRUE(controls.empty());
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(mixer->MixerMessage(MM_MIXM_CONTROL_CHANGE, mixer->Handle(), radio), 0);
    ASSERT_EQ(controls.size(), 1u);
    EXPECT_EQ(controls[0].line, mixer->Lines(1));
}

TEST_F(AudioMixer, FindControlTellsTheKind)
{
    TAudioMixer mixer;
    mixer.SetDestinationID(1);
    TMixerControlType kind = mcSelect;
    EXPECT_TRUE(
        mixer.Lines(2)->FindControl(backend->ControlId(0, 1, 2, MIXERCONTROL_CONTROLTYPE_MUTE), kind));
    EXPECT_EQ(kind, mcMute);
    EXPECT_TRUE(
        mixer.Lines(2)->FindControl(backend->ControlId(0, 1, 2, MIXERCONTROL_CONTROLTYPE_VOLUME), kind));
    EXPECT_EQ(kind, mcVolume);
    EXPECT_FALSE(
        mixer.Lines(2)->FindControl(backend->ControlId(0, 1, 1, MIXERCONTROL_CONTROLTYPE_VOLUME), kind))
        << "another line's control";
    EXPECT_EQ(kind, mcVolume) << "left as it was";
    EXPECT_TRUE(mixer.DestinationLine()->FindControl(
        backend->ControlId(0, 1, -1, MIXERCONTROL_CONTROLTYPE_MUX), kind));
    EXPECT_EQ(kind, mcSelect);
}

TEST_F(AudioMixer, DestroyedWithNotificationsStillPosted)
{
    bool heard = false;
    {
        TAudioMixer mixer;
        mixer.SetDestinationID(1);
        mixer.OnControlChange = [&](TAudioMixer*, TAudioMixerLine*, TMixerControlType) { heard = true; };
        for (std::uint32_t v = 0; v < 10; ++v)
            backend->ChangeElsewhere(0, 1, 0, MIXERCONTROL_CONTROLTYPE_VOLUME, {v}, true);
        std::thread elsewhere(
            [this] { backend->ChangeElsewhere(0, 1, 1, MIXERCONTROL_CONTROLTYPE_MUTE, {1}); });
        elsewhere.join();
    }
    EXPECT_EQ(backend->OpenMixers(), 0);
    processPending(); // would reach a freed mixer if the events outlived their receiver
    EXPECT_FALSE(heard);
    // Later changes reach no one.
    backend->ChangeElsewhere(0, 1, 0, MIXERCONTROL_CONTROLTYPE_VOLUME, {1});
    processPending();
    EXPECT_FALSE(heard);
}

TEST_F(AudioMixer, AFailingHandlerGoesToTheApplication)
{
    std::string caught;
    SetApplicationExceptionHandler([&](const std::exception& e) { caught = e.what(); });
    auto mixer = listenedMixer();
    mixer->OnControlChange = [](TAudioMixer*, TAudioMixerLine*, TMixerControlType) {
        throw std::runtime_error("Le gestionnaire a échoué");
    };
    mixer->SetDestinationID(1);
    backend->ChangeElsewhere(0, 1, 0, MIXERCONTROL_CONTROLTYPE_VOLUME, {1}, true);
    const bool handled = ProcessUntil([&] { return !caught.empty() && lines.size() == 1; });
    SetApplicationExceptionHandler(nullptr);
    ASSERT_TRUE(handled);
    EXPECT_EQ(caught, "Le gestionnaire a échoué");
    EXPECT_EQ(lines[0], mixer->Lines(0)) << "the next notification still runs";
}

} // namespace
