#include "devices/WaveRecorders.h"

#include "platform/io/ExceptionHandler.h"

namespace {

void putLE32(TStream& stream, std::uint64_t at, std::uint32_t value)
{
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                   static_cast<std::uint8_t>(value >> 16),
                                   static_cast<std::uint8_t>(value >> 24)};
    stream.Seek(static_cast<std::int64_t>(at), SeekOrigin::Beginning);
    stream.Write(bytes, 4);
}

} // namespace

TStockAudioRecorder::TStockAudioRecorder() = default;

TStockAudioRecorder::~TStockAudioRecorder()
{
    Destroying();
    TStockAudioRecorder::CloseStream(); // this class's own: no subclass is left by now
}

bool TStockAudioRecorder::RecordToStream(TStream* stream, bool freeStream)
{
    SetActive(false);
    return OpenOnStream(stream, freeStream, [this] { m_writeFailed = false; });
}

bool TStockAudioRecorder::RecordToFile(const std::string& fileName)
{
    auto* file = new TFileStream(fileName, TFileStream::Create); // raises "Impossible de créer le fichier …"
    return RecordToStream(file, true);
}

const TWaveFormatEx* TStockAudioRecorder::GetWaveFormat(WaveFormatBlock& storage)
{
    const TWaveFormatEx* format = TWaveAudioIn::GetWaveFormat(storage);
    if (format && m_stream) {
        m_io = BeginStreamWave(*m_stream, *format, m_riff, m_data);
        m_lastUpdate = std::chrono::steady_clock::now();
    }
    return format;
}

void TStockAudioRecorder::ProcessData(const std::uint8_t* buffer, std::uint32_t size, bool& /*freeIt*/)
{
    if (!m_io || m_writeFailed)
        return;
    if (m_io->Write(buffer, size) != static_cast<std::int64_t>(size)) {
        // A full disk: recording on would lose every buffer and report it ten times a second. Stop, keep
        // what was written with valid sizes, and say it once.
        m_writeFailed = true;
        m_closing = true;
        waveInStop(m_handle);
        if (ActiveBufferCount() > 0)
            waveInReset(m_handle);
        updateSizes();
        throw EWaveAudioSysError("Erreur d'écriture du fichier d'enregistrement (disque plein ?) : "
                                 "l'enregistrement a été arrêté.");
    }
    if (std::chrono::steady_clock::now() - m_lastUpdate >= SizeUpdateInterval)
        updateSizes();
}

void TStockAudioRecorder::updateSizes()
{
    if (!m_io || !m_stream)
        return;
    const std::uint64_t end = m_io->Offset();
    if (end < m_data.dataOffset || end - m_riff.dataOffset > UINT32_MAX)
        return;
    try {
        putLE32(*m_stream, m_data.dataOffset - 4, static_cast<std::uint32_t>(end - m_data.dataOffset));
        putLE32(*m_stream, m_riff.dataOffset - 4, static_cast<std::uint32_t>(end - m_riff.dataOffset));
    } catch (...) {
        // The next update, or the end of the recording, tries again.
    }
    m_lastUpdate = std::chrono::steady_clock::now();
}

void TStockAudioRecorder::CloseStream()
{
    if (m_io)
        EndWaveWriting(std::move(m_io), m_riff, m_data);
    m_io.reset();
    ReleaseStream();
}
