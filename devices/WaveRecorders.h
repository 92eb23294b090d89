// The recorder: records from the input device straight into a WAV image in a stream (a file, for the
// recording window). The sizes in the image are brought up to date about once a second while recording,
// so that a recording cut short by a crash is still a WAV file holding nearly everything recorded.
#pragma once

#include "audio/WaveStorage.h"
#include "devices/StockDevice.h"
#include "devices/WaveIn.h"

#include <chrono>
#include <memory>

class TStockAudioRecorder : public TStockAudioDevice<TWaveAudioIn>
{
public:
    TStockAudioRecorder();
    ~TStockAudioRecorder() override;

    // Records into the stream (freed at the end when freeStream); returns once the device is opened.
    virtual bool RecordToStream(TStream* stream, bool freeStream);
    // Creates the file (replacing one) and records into it.
    bool RecordToFile(const std::string& fileName);
    // Finishes the image (final sizes) and lets the stream go.
    void CloseStream() override;

    // How often the sizes in the image are rewritten while recording.
    std::chrono::milliseconds SizeUpdateInterval{1000};

protected:
    const TWaveFormatEx* GetWaveFormat(WaveFormatBlock& storage) override;
    void ProcessData(const std::uint8_t* buffer, std::uint32_t size, bool& freeIt) override;

private:
    void updateSizes();

    RiffChunkInfo m_riff;
    RiffChunkInfo m_data;
    bool m_writeFailed = false;
    std::chrono::steady_clock::time_point m_lastUpdate;
};
