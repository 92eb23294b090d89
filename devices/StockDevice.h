// What the stock player and the stock recorder share over their device (output or input): the storage
// they name, the stream they play or record (owned or not) and its reader or writer, which they let go
// when the device closes, when it fails to open, or when an error leaves it closed.
#pragma once

#include "audio/WaveStorage.h"

#include <memory>

template <typename Device> class TStockAudioDevice : public Device
{
public:
    // Null again once the storage is destroyed.
    TCustomWaveStorage* Stock() const { return m_stock.Get(); }
    void SetStock(TCustomWaveStorage* stock) { m_stock.Set(stock); }

    void Stop() { this->InternalClose(); }
    // Lets the stream go (its reader or writer first).
    virtual void CloseStream() = 0;

protected:
    // Opens the device on stream, after prepare; the stream is let go again when that fails.
    template <typename Prepare> bool OpenOnStream(TStream* stream, bool ownsStream, Prepare prepare)
    {
        CloseStream();
        m_stream = stream;
        m_ownsStream = ownsStream;
        try {
            prepare();
            if (this->InternalOpen())
                return true;
        } catch (...) {
            CloseStream();
            throw;
        }
        CloseStream();
        return false;
    }

    void ReleaseStream()
    {
        if (m_ownsStream)
            delete m_stream;
        m_stream = nullptr;
        m_ownsStream = false;
    }

    // The device closes whatever letting the stream go does.
    void DeviceClosed() override
    {
        try {
            CloseStream();
        } catch (...) {
            Device::DeviceClosed();
            throw;
        }
        Device::DeviceClosed();
    }

    void DoError() override
    {
        if (!this->GetActive())
            CloseStream();
        Device::DoError();
    }

    TStorageLink m_stock;
    std::unique_ptr<RiffIO> m_io;
    TStream* m_stream = nullptr;
    bool m_ownsStream = false;
};
