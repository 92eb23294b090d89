// The two players: TAudioPlayer plays its own wave in place (buffers point into its memory);
// TStockAudioPlayer reads the wave of a storage it names into buffers of its own.
#pragma once

#include "audio/WaveStorage.h"
#include "devices/StockDevice.h"
#include "devices/WaveOut.h"

#include <memory>

class TAudioPlayer : public TWaveAudioOut
{
public:
    TAudioPlayer();
    ~TAudioPlayer() override;

    TWave& Wave() { return *m_wave; }
    // Stops playback, then copies the bytes of wave (empties for null).
    void SetWave(const TWave* wave);

    // The "Data" property: the whole image, stored only when not empty.
    bool HasData() const { return m_wave->Size() > 0; }
    void WriteData(TStream& stream) const { m_wave->SaveToStream(stream); }
    void ReadData(TStream& stream) { m_wave->LoadFromStream(stream); }

protected:
    const TWaveFormatEx* GetWaveFormat(WaveFormatBlock& storage) override;
    std::uint32_t GetDataPtr(std::uint8_t*& buffer, std::uint32_t& loops, bool& freeIt) override;

private:
    std::unique_ptr<TWave> m_wave;
    std::uint64_t m_next = 0;
    std::uint64_t m_end = 0;
};

class TStockAudioPlayer : public TStockAudioDevice<TWaveAudioOut>
{
public:
    TStockAudioPlayer();
    ~TStockAudioPlayer() override;

    void SetActive(bool value) override;
    // Plays the storage's wave for that index from its beginning (stopping a playback under way first).
    void Play(int index);
    virtual bool PlayStream(TStream* stream, bool freeStream);
    void CloseStream() override;

protected:
    const TWaveFormatEx* GetWaveFormat(WaveFormatBlock& storage) override;
    std::uint32_t ReadData(std::uint8_t* buffer, std::uint32_t size, std::uint32_t& loops) override;

private:
    std::uint32_t m_remaining = 0;
    std::uint32_t m_dataOffset = 0;
};
