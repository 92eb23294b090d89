#include "devices/WavePlayers.h"

#include <thread>

// ---- TAudioPlayer ---------------------------------------------------------------------------------

TAudioPlayer::TAudioPlayer() : m_wave(std::make_unique<TWave>())
{
    m_copyMode = false;
    // The device reads the wave's memory in place: any change to its bytes stops playback first.
    m_wave->OnChange = [this](TWave*) { SetActive(false); };
}

TAudioPlayer::~TAudioPlayer()
{
    Destroying();
    m_wave->OnChange = nullptr;
}

void TAudioPlayer::SetWave(const TWave* wave)
{
    if (wave == m_wave.get())
        return;
    SetActive(false);
    if (wave)
        m_wave->CopyContentFrom(*wave);
    else
        m_wave->Clear();
}

const TWaveFormatEx* TAudioPlayer::GetWaveFormat(WaveFormatBlock& /*storage*/)
{
    m_next = m_wave->DataOffset();
    m_end = m_next + m_wave->DataSize();
    return m_wave->WaveFormat();
}

std::uint32_t TAudioPlayer::GetDataPtr(std::uint8_t*& buffer, std::uint32_t& /*loops*/, bool& freeIt)
{
    freeIt = false;
    if (m_next >= m_end)
        return 0;
    buffer = m_wave->Memory() + m_next;
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(CalcBufferSize(), m_end - m_next));
    m_next += n;
    return n;
}

// ---- TStockAudioPlayer ----------------------------------------------------------------------------

TStockAudioPlayer::TStockAudioPlayer()
{
    m_copyMode = true;
}

TStockAudioPlayer::~TStockAudioPlayer()
{
    Destroying();
    TStockAudioPlayer::CloseStream(); // this class's own: no subclass is left by now
}

void TStockAudioPlayer::SetActive(bool value)
{
    if (value == GetActive())
        return;
    if (value)
        Play(0);
    else
        Stop();
}

void TStockAudioPlayer::Play(int index)
{
    if (!m_stock.Get())
        throw EWaveAudioInvalidOperation("Stock property is not assigned");
    PlayStream(m_stock.Get()->GetWaveStream(index), false);
}

bool TStockAudioPlayer::PlayStream(TStream* stream, bool freeStream)
{
    if (GetActive()) {
        TWaveAudioIO::SetActive(false);
        std::this_thread::yield();
    }
    return OpenOnStream(stream, freeStream, [this] {
        if (m_stream)
            m_io = OpenStreamIO(*m_stream);
    });
}

void TStockAudioPlayer::CloseStream()
{
    m_io.reset();
    ReleaseStream();
    m_remaining = 0;
}

const TWaveFormatEx* TStockAudioPlayer::GetWaveFormat(WaveFormatBlock& storage)
{
    if (!m_io || !ReadWaveHeader(*m_io, storage, m_remaining, m_dataOffset))
        return nullptr;
    m_io->Seek(m_dataOffset, SeekOrigin::Beginning);
    return AsWaveFormat(storage);
}

std::uint32_t TStockAudioPlayer::ReadData(std::uint8_t* buffer, std::uint32_t size, std::uint32_t& /*loops*/)
{
    if (m_remaining == 0 || !m_io)
        return 0;
    const std::uint32_t want = std::min(size, m_remaining);
    const std::int64_t got = m_io->Read(buffer, want);
    if (got <= 0) {
        m_remaining = 0;
        return 0;
    }
    m_remaining -= static_cast<std::uint32_t>(got);
    return static_cast<std::uint32_t>(got);
}
